// The entry point against the fake: the library search is restricted before anything else, and
// each command-line shape then makes exactly the calls of its mode.
#include <gtest/gtest.h>

#include "fake_windows.h"

int wmain(int argc, wchar_t* argv[]);

namespace {

using Calls = std::vector<std::string>;

const std::string kRestrict = "SetDefaultDllDirectories(System32)";
// The scan over the one process below, which runs from another drive: nothing is looked up.
const Calls kScanCalls = {kRestrict,         "GetFullPathNameW", "CreateToolhelp32Snapshot",
                          "Process32FirstW", "OpenProcess",      "QueryFullProcessImageNameW",
                          "CloseHandle",     "Process32NextW",   "CloseHandle"};

// No owner, the caption, and exactly an error icon, one OK button and a place in the foreground.
const std::string kNotice =
    "MessageBoxW(no owner, Text, KTQ - Aktualisierung angehalten, 0x00010010)";

// Before the notice: is there anybody who could see it? First the session, then the window station.
const std::string kProcessId = "GetCurrentProcessId";
const std::string kSession = "ProcessIdToSessionId";
const std::string kStation = "GetProcessWindowStation";
const std::string kStationFlags = "GetUserObjectInformationW";

struct DispatchCase {
  const char* situation;
  std::vector<std::wstring> arguments;
  int expectedStatus;
  Calls expectedCalls;
  bool windowStationVisible = true;
  bool windowStationQueryFails = false;
  DWORD session = 1;
  bool sessionQueryFails = false;
};

const DispatchCase kDispatchCases[] = {
    {"no argument", {}, 20, {kRestrict}},
    {"one path", {L"C:\\Apps\\Tavelune.exe"}, 0, kScanCalls},
    {"option alone is a path", {L"--error"}, 0, kScanCalls},
    {"option and text",
     {L"--error", L"Text"},
     0,
     {kRestrict, kProcessId, kSession, kStation, kStationFlags, kNotice}},
    {"option in capitals", {L"--ERROR", L"Text"}, 20, {kRestrict}},
    {"option and two texts", {L"--error", L"a", L"b"}, 20, {kRestrict}},
    {"notice where nobody can see it: none, at once",
     {L"--error", L"Text"},
     0,
     {kRestrict, kProcessId, kSession, kStation, kStationFlags},
     false},
    {"notice where the window station cannot be asked: shown",
     {L"--error", L"Text"},
     0,
     {kRestrict, kProcessId, kSession, kStation, kStationFlags, kNotice},
     false,
     true},
    {"notice in session 0, whose station says it is visible: none, at once",
     {L"--error", L"Text"},
     0,
     {kRestrict, kProcessId, kSession},
     true,
     false,
     0},
    {"session cannot be asked: the window station decides",
     {L"--error", L"Text"},
     0,
     {kRestrict, kProcessId, kSession, kStation, kStationFlags, kNotice},
     true,
     false,
     0,
     true},
};

TEST(Dispatch, RestrictsTheLibrarySearchFirstThenCallsOneMode) {
  for (const DispatchCase& row : kDispatchCases) {
    SCOPED_TRACE(row.situation);
    ResetFake({.processes = {{10, L"Tavelune.exe", L"D:\\Old\\Tavelune.exe"}},
               .logCalls = true,
               .windowStationVisible = row.windowStationVisible,
               .windowStationQueryFails = row.windowStationQueryFails,
               .session = row.session,
               .sessionQueryFails = row.sessionQueryFails});
    std::vector<std::wstring> arguments = {L"tavelune-helper.exe"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    EXPECT_EQ(wmain(static_cast<int>(arguments.size()), argv.data()), row.expectedStatus);
    EXPECT_EQ(Fake().calls, row.expectedCalls);
    EXPECT_EQ(OpenHandleCount(), 0);
    EXPECT_EQ(Fake().misuses, std::vector<std::string>{});
  }
}

}  // namespace
