// Times the helper against the floor program, run after run in alternation, in four situations
// of the process list. Prints one Markdown table row per situation.
//   bench_driver.exe [PAIRS]
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "process_harness.h"

namespace {

struct Sample {
  double milliseconds = 0;
  DWORD exitCode = 0;
};

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

struct Listing {
  double milliseconds = 0;
  size_t entries = 0;
};

// What the platform's process list costs on its own: one snapshot, walked to its end. The helper
// cannot go below this and the floor.
Listing SnapshotAndWalk() {
  Listing listing;
  LARGE_INTEGER start;
  LARGE_INTEGER end;
  QueryPerformanceCounter(&start);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more != FALSE;
       more = Process32NextW(snapshot, &entry)) {
    ++listing.entries;
  }
  CloseHandle(snapshot);
  QueryPerformanceCounter(&end);
  listing.milliseconds = Milliseconds(start, end);
  return listing;
}

Sample RunOnce(const std::wstring& program, const std::wstring& argument) {
  std::wstring commandLine = QuoteArgument(program) + L" " + QuoteArgument(argument);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  LARGE_INTEGER start;
  LARGE_INTEGER end;
  QueryPerformanceCounter(&start);
  if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &info) == FALSE) {
    std::fprintf(stderr, "cannot start %ls\n", program.c_str());
    std::exit(1);
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  QueryPerformanceCounter(&end);

  Sample sample;
  sample.milliseconds = Milliseconds(start, end);
  GetExitCodeProcess(info.hProcess, &sample.exitCode);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return sample;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Scenario {
  const char* name;
  int fillers;               // processes with another image name, started first
  const wchar_t* candidate;  // folder of the one running "Tavelune.exe", or nullptr
  DWORD expectedStatus;
};

const Scenario kScenarios[] = {
    {"no candidate running", 0, nullptr, 0},
    {"one candidate from another path", 0, L"Other", 0},
    {"one candidate from the asked path", 0, L"App", 10},
    {"50 other processes and one candidate from the asked path", 50, L"App", 10},
};

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  int pairs = argc > 1 ? _wtoi(argv[1]) : 60;
  std::wstring directory = ExecutableDirectory();
  std::wstring sandbox = directory + L"\\bench-sandbox";
  std::wstring floor = directory + L"\\floor.exe";
  CreateDirectoryW(sandbox.c_str(), nullptr);
  for (const wchar_t* folder : {L"App", L"Other"}) {
    std::wstring path = sandbox + L"\\" + folder;
    CreateDirectoryW(path.c_str(), nullptr);
    CopyFileW(StandInPath().c_str(), (path + L"\\Tavelune.exe").c_str(), FALSE);
  }
  std::wstring target = sandbox + L"\\App\\Tavelune.exe";

  // Warm the file cache and the server before anything is measured.
  RunOnce(floor, target);
  RunOnce(HelperPath(), target);

  std::printf(
      "| situation | processes listed | floor median ms | helper median ms | "
      "median of helper/floor | snapshot and walk alone, median ms |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const Scenario& scenario : kScenarios) {
    std::vector<StandIn> running;
    for (int i = 0; i < scenario.fillers; ++i) {
      running.push_back(StartStandIn(StandInPath(), false));
    }
    if (scenario.candidate != nullptr) {
      running.push_back(
          StartStandIn(sandbox + L"\\" + scenario.candidate + L"\\Tavelune.exe", false));
    }

    std::vector<double> floorTimes;
    std::vector<double> helperTimes;
    std::vector<double> ratios;
    std::vector<double> listingTimes;
    size_t listed = 0;
    for (int pair = 0; pair < pairs; ++pair) {
      // Alternate which of the two goes first, so neither always finds the other's leftovers.
      Sample floorRun;
      Sample helperRun;
      if (pair % 2 == 0) {
        floorRun = RunOnce(floor, target);
        helperRun = RunOnce(HelperPath(), target);
      } else {
        helperRun = RunOnce(HelperPath(), target);
        floorRun = RunOnce(floor, target);
      }
      if (helperRun.exitCode != scenario.expectedStatus) {
        std::fprintf(stderr, "%s: the helper answered %lu\n", scenario.name, helperRun.exitCode);
        return 1;
      }
      floorTimes.push_back(floorRun.milliseconds);
      helperTimes.push_back(helperRun.milliseconds);
      ratios.push_back(helperRun.milliseconds / floorRun.milliseconds);
      Listing listing = SnapshotAndWalk();
      listingTimes.push_back(listing.milliseconds);
      listed = listing.entries;
    }
    for (StandIn& standIn : running) {
      StopStandIn(standIn);
    }
    // The helper sees the same list as the driver, and itself.
    std::printf("| %s | %zu | %.2f | %.2f | %.3f | %.2f |\n", scenario.name, listed + 1,
                Median(floorTimes), Median(helperTimes), Median(ratios), Median(listingTimes));
  }
  return 0;
}
