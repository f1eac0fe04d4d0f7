// The scan against real processes: copies of a stand-in named "Tavelune.exe" run from folders of
// a sandbox, some of them started so that nobody may open them.
#include <gtest/gtest.h>

#include <cstdio>

#include "process_harness.h"

namespace {

// Folders of the sandbox that hold a "Tavelune.exe".
constexpr const wchar_t* kApp = L"App";
constexpr const wchar_t* kOther = L"Other";
constexpr const wchar_t* kUmlaut = L"\u00C4rger";  // capital A with diaeresis
constexpr const wchar_t* kLongName = L"LongFolderName";

struct Candidate {
  const wchar_t* folder;
  bool denied;
};

struct ScanCase {
  const char* situation;
  std::vector<Candidate> running;  // started in this order, so listed in this order
  const wchar_t* argument;         // below the sandbox, or relative when workingFolder is set
  const wchar_t* workingFolder;    // nullptr: the argument is made absolute by the test
  DWORD expectedStatus;
  bool expectDiagnostic;
  const wchar_t* namespacePrefix = L"";  // put before the absolute argument
  // The expansion of short names looks the path up, and a file system may then spell it as it is
  // stored: where it does, the answer is 10, not expectedStatus.
  bool tenWhereLookedUpAsStored = false;
  // The first candidate's file is renamed once it runs: Windows then reports the new name, Wine
  // the old one, which no longer names a file.
  bool renamedAway = false;
};

const ScanCase kScanCases[] = {
    {"nothing running", {}, L"App\\Tavelune.exe", nullptr, 0, false},
    {"running from the path", {{kApp, false}}, L"App\\Tavelune.exe", nullptr, 10, false},
    {"running only from another folder",
     {{kOther, false}},
     L"App\\Tavelune.exe",
     nullptr,
     0,
     false},
    {"path differs in ASCII case", {{kApp, false}}, L"APP\\tAVELUNE.EXE", nullptr, 10, false},
    {"path differs in the case of a non-ASCII letter",
     {{kUmlaut, false}},
     L"\u00E4rger\\Tavelune.exe",
     nullptr,
     0,
     false,
     L"",
     true},
    {"non-ASCII path in the same case",
     {{kUmlaut, false}},
     L"\u00C4rger\\Tavelune.exe",
     nullptr,
     10,
     false},
    {"bare file name in the running folder", {{kApp, false}}, L"Tavelune.exe", kApp, 10, false},
    {"relative path through the parent",
     {{kApp, false}},
     L"..\\App\\Tavelune.exe",
     kOther,
     10,
     false},
    {"two candidates from the path",
     {{kApp, false}, {kApp, false}},
     L"App\\Tavelune.exe",
     nullptr,
     10,
     false},
    {"a file that does not exist",
     {{kApp, false}},
     L"App\\Missing\\Tavelune.exe",
     nullptr,
     0,
     false},
    {"the path of another program", {{kApp, false}}, L"App\\Other.exe", nullptr, 0, false},
    {"wildcards are not expanded", {{kApp, false}}, L"App\\*.exe", nullptr, 0, false},
    {"question mark is not expanded", {{kApp, false}}, L"App\\Tavel?ne.exe", nullptr, 0, false},
    {"only candidate refuses inspection", {{kApp, true}}, L"App\\Tavelune.exe", nullptr, 20, true},
    {"refused candidate and another folder",
     {{kOther, true}, {kOther, false}},
     L"App\\Tavelune.exe",
     nullptr,
     20,
     true},
    {"refused first, match later",
     {{kOther, true}, {kApp, false}},
     L"App\\Tavelune.exe",
     nullptr,
     10,
     false},
    {"match first, refused later",
     {{kApp, false}, {kOther, true}},
     L"App\\Tavelune.exe",
     nullptr,
     10,
     false},
    {"another program's path with a refused candidate",
     {{kApp, true}},
     L"App\\Other.exe",
     nullptr,
     20,
     true},
    {"option alone as a path, all inspectable", {{kApp, false}}, L"--error", kApp, 0, false},
    {"option alone as a path, one refused", {{kApp, true}}, L"--error", kApp, 20, true},
    {"verbatim spelling of the running file",
     {{kApp, false}},
     L"App\\Tavelune.exe",
     nullptr,
     10,
     false,
     L"\\\\?\\"},
    {"device spelling of the running file",
     {{kApp, false}},
     L"App\\Tavelune.exe",
     nullptr,
     10,
     false,
     L"\\\\.\\"},
    {"verbatim spelling of another folder",
     {{kOther, false}},
     L"App\\Tavelune.exe",
     nullptr,
     0,
     false,
     L"\\\\?\\"},
    {"NT spelling of the running file",
     {{kApp, false}},
     L"App\\Tavelune.exe",
     nullptr,
     10,
     false,
     L"\\??\\"},
    {"NT spelling of another folder",
     {{kOther, false}},
     L"App\\Tavelune.exe",
     nullptr,
     0,
     false,
     L"\\??\\"},
    {"verbatim path is taken as written: the folder \"App.\" is another one",
     {{kApp, false}},
     L"App.\\Tavelune.exe",
     nullptr,
     0,
     false,
     L"\\\\?\\"},
    {"the file's unnamed stream", {{kApp, false}}, L"App\\Tavelune.exe::$DATA", nullptr, 20, false},
    {"a named stream of the file", {{kApp, false}}, L"App\\Tavelune.exe:name", nullptr, 20, false},
    {"a path in no drive's namespace",
     {{kApp, false}},
     L"\\\\?\\GLOBALROOT\\Device\\Tavelune.exe",
     kApp,
     20,
     false},
    {"a candidate renamed away, the path on a share: nothing to look up",
     {{kApp, false}},
     L"\\\\tavelune-test\\share\\Tavelune.exe",
     kApp,
     0,
     false,
     L"",
     false,
     true},
};

class Scan : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    sandbox_ = std::wstring(current) + L"\\scan-sandbox";
    CreateDirectoryW(sandbox_.c_str(), nullptr);
    for (const wchar_t* folder : {kApp, kOther, kUmlaut, kLongName}) {
      std::wstring path = sandbox_ + L"\\" + folder;
      CreateDirectoryW(path.c_str(), nullptr);
      ASSERT_NE(CopyFileW(StandInPath().c_str(), (path + L"\\Tavelune.exe").c_str(), FALSE), FALSE);
    }
  }

  static std::wstring InSandbox(const std::wstring& relative) {
    return sandbox_ + L"\\" + relative;
  }

  static HelperRun RunWith(const std::vector<Candidate>& running, const std::wstring& argument,
                           const std::wstring& workingDirectory = L"", bool renamedAway = false) {
    std::vector<StandIn> standIns;
    for (const Candidate& candidate : running) {
      standIns.push_back(StartStandIn(InSandbox(std::wstring(candidate.folder) + L"\\Tavelune.exe"),
                                      candidate.denied));
    }
    const std::wstring first = running.empty() ? L"" : InSandbox(running[0].folder);
    if (renamedAway) {
      EXPECT_NE(MoveFileW((first + L"\\Tavelune.exe").c_str(), (first + L"\\Renamed.exe").c_str()),
                FALSE);
    }
    HelperRun run = RunHelper({argument}, workingDirectory);
    for (StandIn& standIn : standIns) {
      StopStandIn(standIn);
    }
    if (renamedAway) {
      MoveFileW((first + L"\\Renamed.exe").c_str(), (first + L"\\Tavelune.exe").c_str());
    }
    return run;
  }

  static std::wstring sandbox_;
};

std::wstring Scan::sandbox_;

TEST_F(Scan, AnswersFromTheRunningProcesses) {
  for (const ScanCase& row : kScanCases) {
    SCOPED_TRACE(row.situation);
    std::wstring argument =
        row.workingFolder ? row.argument : row.namespacePrefix + InSandbox(row.argument);
    std::wstring workingDirectory = row.workingFolder ? InSandbox(row.workingFolder) : L"";
    DWORD expectedStatus = row.expectedStatus;
    if (row.tenWhereLookedUpAsStored) {
      // Looked up as the helper looks it up, in its verbatim form.
      std::wstring stored(32768, L'\0');
      stored.resize(GetLongPathNameW((L"\\\\?\\" + argument).c_str(), stored.data(), 32768));
      expectedStatus =
          stored == L"\\\\?\\" + InSandbox(row.running[0].folder) + L"\\Tavelune.exe" ? 10 : 0;
    }
    HelperRun run = RunWith(row.running, argument, workingDirectory, row.renamedAway);
    ASSERT_TRUE(run.finished) << run.problem;
    EXPECT_EQ(run.exitCode, expectedStatus);
    EXPECT_EQ(run.standardError, row.expectDiagnostic ? kDiagnosticBytes : "");
    EXPECT_EQ(run.standardOutput, "");
  }
}

// Windows reports the image path in the spelling the process was started with, an 8.3 short
// name included, and the caller may pass either spelling: both are expanded before they are
// compared. (Wine reports the long form whatever a process was started with, and returns a
// verbatim path from GetLongPathNameW unchanged, so it can show neither expansion.)
TEST_F(Scan, ShortAndLongFormsOfTheRunningPathAreOnePath) {
  std::wstring longPath = InSandbox(std::wstring(kLongName) + L"\\Tavelune.exe");
  std::wstring shortPath(32768, L'\0');
  shortPath.resize(GetShortPathNameW(longPath.c_str(), shortPath.data(), 32768));
  ASSERT_FALSE(shortPath.empty());
  if (_wcsicmp(shortPath.c_str(), longPath.c_str()) == 0) {
    GTEST_SKIP() << "this volume gives the folder no short name";
  }
  // The helper looks paths up in their verbatim form.
  std::wstring expanded(32768, L'\0');
  expanded.resize(GetLongPathNameW((L"\\\\?\\" + shortPath).c_str(), expanded.data(), 32768));
  const bool expandsVerbatim = _wcsicmp(expanded.c_str(), (L"\\\\?\\" + longPath).c_str()) == 0;
  for (const auto& [started, asked] : {std::pair{longPath, shortPath}, {shortPath, longPath}}) {
    SCOPED_TRACE(testing::Message() << "started as " << testing::PrintToString(started));
    if (asked == shortPath && !expandsVerbatim) {
      std::printf(
          "unchecked: asked by the short name (this system does not expand it in a \\\\?\\ "
          "path)\n");
      continue;
    }
    StandIn standIn = StartStandIn(started, false);
    HelperRun run = RunHelper({asked});
    StopStandIn(standIn);
    EXPECT_EQ(run.exitCode, 10u);
    EXPECT_EQ(run.standardError, "");
  }
}

}  // namespace
