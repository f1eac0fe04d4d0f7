// The caller kit (integration/) against msvcrt's own splitting and the real helper: the C header,
// the NSIS include and its example updater, and the batch recipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <thread>

#include <shlobj.h>

#include "integration/c/tavelune_helper_client.h"
#include "process_harness.h"

namespace {

// Strings that naive quoting gets wrong, each with what makes it awkward.
struct AwkwardString {
  const char* situation;
  std::wstring text;
};

const AwkwardString kAwkwardStrings[] = {
    {"empty", L""},
    {"spaces and a tab", L"  two  words\tand a tab  "},
    {"a lone quote", L"\""},
    {"two quotes", L"\"\""},
    {"quoted word", L"say \"hi\" now"},
    {"lone backslash", L"\\"},
    {"folder with a trailing backslash", L"C:\\Pfad\\"},
    {"two trailing backslashes", L"C:\\Pfad\\\\"},
    {"backslash before a quote", L"a\\\"b"},
    {"two backslashes before a quote", L"a\\\\\"b"},
    {"three backslashes, quote, trailing backslash", L"\\\\\\\"x\\"},
    {"UNC path", L"\\\\server\\share\\Tavelune.exe"},
    {"percent signs", L"100% %PATH% %%"},
    {"cmd's special characters", L"^&|<>()!"},
    {"umlauts", L"Bitte schlie\u00DFen Sie \u00C4rger \u00FCber Gr\u00F6\u00DFe"},
    {"outside the BMP", L"\U0001F600 \U00010348"},
    {"line break", L"eins\nzwei"},
    {"the option itself", L"--error"},
};

std::wstring ReportPath() { return ExecutableDirectory() + L"\\report.bin"; }
std::wstring ReporterPath() { return ExecutableDirectory() + L"\\argument_reporter.exe"; }

std::string FileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The arguments the reporter last received; {"<none>"} when it was not started.
std::vector<std::wstring> ReportedArguments() {
  if (GetFileAttributesW(ReportPath().c_str()) == INVALID_FILE_ATTRIBUTES) {
    return {L"<none>"};
  }
  std::string bytes = FileBytes(ReportPath());
  std::wstring units(bytes.size() / sizeof(wchar_t), L'\0');
  memcpy(units.data(), bytes.data(), units.size() * sizeof(wchar_t));
  std::vector<std::wstring> arguments;
  for (size_t start = 0; start < units.size();) {
    size_t end = units.find(L'\0', start);
    arguments.push_back(units.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

// The notice's text, read before it is dismissed with OK as a user would.
std::wstring ReadAndDismiss(HWND notice) {
  wchar_t shown[512] = L"";
  GetDlgItemTextW(notice, 0xFFFF, shown, 512);
  PostMessageW(notice, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return shown;
}

// What a program started with `commandLine` ended with, and the text of the notice it (or a program
// it started) showed, if any.
struct ProgramRun {
  DWORD exitCode = 0;
  std::wstring notice;
};

// A recipe starts several programs in a row (cmd, chcp, the helper, xcopy), each taking up to a
// second or two under Wine on a busy machine.
constexpr int kRecipeDeadlineMilliseconds = 3 * kDeadlineMilliseconds;

// Runs the program in a job of its own, so that ending it ends everything it started. It is ended
// after `endAfterMilliseconds` by the clock, or as a failure at the deadline when that is 0. The
// program inherits the test's inheritable handles, as a caller of the kit may hand them on.
ProgramRun RunProgram(std::wstring commandLine, ULONGLONG endAfterMilliseconds = 0) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  ProgramRun run{99, L""};
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                     CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                     &process) == FALSE) {
    ADD_FAILURE() << "could not start the program";
    CloseHandle(job);
    return run;
  }
  AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  const ULONGLONG started = GetTickCount64();
  const ULONGLONG end =
      endAfterMilliseconds != 0 ? endAfterMilliseconds : kRecipeDeadlineMilliseconds;
  while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
    HWND window = FindNotice(0, 0);
    if (window != nullptr) {
      run.notice = ReadAndDismiss(window);
    }
    if (GetTickCount64() - started >= end) {
      if (endAfterMilliseconds == 0) {
        ADD_FAILURE() << "did not end within " << end
                      << " ms: " << testing::PrintToString(commandLine);
      }
      TerminateJobObject(job, 99);
      WaitForSingleObject(process.hProcess, kDeadlineMilliseconds);
    }
  }
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(job);
  return run;
}

std::wstring InBuild(const wchar_t* name) { return ExecutableDirectory() + L"\\" + name; }

// Wine sets WINELOADER in every program it starts; some rows check what only one side can show.
bool UnderWine() { return GetEnvironmentVariableW(L"WINELOADER", nullptr, 0) != 0; }

bool Built(const wchar_t* name) {
  return GetFileAttributesW(InBuild(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A caller of the helper: runs the check (or the notice) with `text` and returns its answer.
using Caller = int (*)(const std::wstring& helper, bool notice, const std::wstring& text);

int ThroughHeader(const std::wstring& helper, bool notice, const std::wstring& text) {
  return notice ? TaveluneHelperNotice(helper.c_str(), text.c_str())
                : TaveluneHelperCheck(helper.c_str(), text.c_str());
}

// Through the NSIS include, driven by the probe installer.
int ThroughNsis(const std::wstring& helper, bool notice, const std::wstring& text) {
  SetEnvironmentVariableW(L"PROBE_MODE", notice ? L"notice" : L"check");
  SetEnvironmentVariableW(L"PROBE_HELPER", helper.c_str());
  SetEnvironmentVariableW(L"PROBE_TEXT", text.c_str());
  return static_cast<int>(RunProgram(QuoteArgument(InBuild(L"nsis_probe.exe"))).exitCode);
}

// The header always; the NSIS include where makensis built its probe.
std::vector<std::pair<const char*, Caller>> Callers() {
  std::vector<std::pair<const char*, Caller>> callers = {{"header", ThroughHeader}};
  if (Built(L"nsis_probe.exe")) {
    callers.emplace_back("NSIS include", ThroughNsis);
  }
  return callers;
}

class CallerKit : public testing::Test {
 protected:
  void SetUp() override {
    // A relative helper path would find the reporter here, were it not refused.
    SetCurrentDirectoryW(ExecutableDirectory().c_str());
    SetEnvironmentVariableW(L"TAVELUNE_REPORT", ReportPath().c_str());
    ReporterEndsWith(0);
  }
  static void ReporterEndsWith(DWORD status) {
    DeleteFileW(ReportPath().c_str());
    DeleteFileW((ReportPath() + L".calls").c_str());
    SetEnvironmentVariableW(L"TAVELUNE_REPORT_STATUS", std::to_wstring(status).c_str());
  }
};

TEST_F(CallerKit, QuotingSurvivesMsvcrtSplitting) {
  for (const auto& [name, call] : Callers()) {
    for (const AwkwardString& row : kAwkwardStrings) {
      SCOPED_TRACE(testing::Message() << name << ": " << row.situation);
      ReporterEndsWith(0);
      const std::wstring target = row.text + L"\\Tavelune.exe";
      EXPECT_EQ(call(ReporterPath(), false, target), 0);
      EXPECT_EQ(ReportedArguments(), std::vector<std::wstring>{target});
      ReporterEndsWith(0);
      EXPECT_EQ(call(ReporterPath(), true, row.text), 0);
      EXPECT_EQ(ReportedArguments(), (std::vector<std::wstring>{L"--error", row.text}));
    }
  }
}

// NSIS cuts its strings at 1,023 units: a command line that long is refused, not cut.
TEST_F(CallerKit, NsisRefusesCommandLinesItWouldCut) {
  if (!Built(L"nsis_probe.exe")) {
    GTEST_SKIP() << "makensis was not found when this was built";
  }
  const std::wstring fits = std::wstring(900, L'x') + L"\\Tavelune.exe";
  EXPECT_EQ(ThroughNsis(ReporterPath(), false, fits), 0);
  EXPECT_TRUE(ReportedArguments() == std::vector<std::wstring>{fits});
  ReporterEndsWith(0);
  EXPECT_EQ(ThroughNsis(ReporterPath(), false, std::wstring(1100, L'x') + L"\\Tavelune.exe"), 20);
  EXPECT_EQ(ReportedArguments(), std::vector<std::wstring>{L"<none>"});
}

// The longest command line CreateProcessW takes is 32,767 units with its NUL: the longest text
// that fits is passed whole, one unit more is refused without starting anything.
TEST_F(CallerKit, HeaderRefusesCommandLinesOverThePlatformLimit) {
  const size_t fixed = (ReporterPath().size() + 2) + std::wstring(L" --error ").size() + 2 + 1;
  const std::wstring longest(32767 - fixed, L'x');
  EXPECT_EQ(TaveluneHelperNotice(ReporterPath().c_str(), longest.c_str()), 0);
  EXPECT_TRUE(ReportedArguments() == (std::vector<std::wstring>{L"--error", longest}));
  ReporterEndsWith(0);
  EXPECT_EQ(TaveluneHelperNotice(ReporterPath().c_str(), (longest + L"x").c_str()), 20);
  EXPECT_EQ(ReportedArguments(), std::vector<std::wstring>{L"<none>"});
}

struct OutcomeCase {
  const char* situation;
  // Empty: the reporter. Otherwise as it is, except that a leading "*" becomes the tests' folder,
  // a leading "C:" that folder's drive, and a leading "\\" that folder's path without its drive.
  std::wstring helper;
  DWORD helperStatus;
  int expectedCheck;
  int expectedNotice;
  const wchar_t* target = L"C:\\Tavelune\\Tavelune.exe";
};

// The tests run in their own folder, so each relative spelling below would find the reporter.
const OutcomeCase kOutcomeCases[] = {
    {"helper missing", L"*\\missing\\tavelune-helper.exe", 0, 20, 20},
    {"relative helper path", L"argument_reporter.exe", 0, 20, 20},
    {"drive-relative helper path", L"C:argument_reporter.exe", 0, 20, 20},
    {"helper path rooted on the current drive", L"\\argument_reporter.exe", 0, 20, 20},
    {"helper path without .exe", L"*\\argument_reporter", 0, 20, 20},
    {"a folder as the target", L"", 0, 20, 0, L"C:\\Tavelune"},
    {"a folder with a trailing backslash", L"", 0, 20, 0, L"C:\\Tavelune\\"},
    {"another program as the target", L"", 0, 20, 0, L"C:\\Tavelune\\Tavelune.exe.bak"},
    {"the name in other ASCII case", L"", 0, 0, 0, L"C:\\Tavelune\\tAVELUNE.EXE"},
    {"forward slashes", L"", 0, 0, 0, L"C:/Tavelune/Tavelune.exe"},
    {"no process runs from the path", L"", 0, 0, 0},
    {"one runs from the path", L"", 10, 10, 20},
    {"cannot be told", L"", 20, 20, 20},
    {"another status", L"", 1, 20, 20},
    {"a crash", L"", 0xC0000005, 20, 20},
    {"the status that means still active", L"", STILL_ACTIVE, 20, 20},
};

TEST_F(CallerKit, OnlyTheHelpersOwnAnswersPassThrough) {
  for (const auto& [name, call] : Callers()) {
    for (const OutcomeCase& row : kOutcomeCases) {
      SCOPED_TRACE(testing::Message() << name << ": " << row.situation);
      const std::wstring folder = ExecutableDirectory();
      std::wstring helper = row.helper;
      if (helper.empty()) {
        helper = ReporterPath();
      } else if (helper[0] == L'*') {
        helper = folder + helper.substr(1);
      } else if (helper.rfind(L"C:", 0) == 0) {
        helper = folder.substr(0, 2) + helper.substr(2);
      } else if (helper[0] == L'\\') {
        helper = folder.substr(2) + helper;
      }
      ReporterEndsWith(row.helperStatus);
      EXPECT_EQ(call(helper, false, row.target), row.expectedCheck);
      EXPECT_EQ(call(helper, true, L"Text"), row.expectedNotice);
    }
  }
}

// The helper gets a console, so that a batch updater's chcp works, but no console window, and none
// of the caller's inheritable handles: the reporter writes to one if it has it.
TEST_F(CallerKit, HelperGetsAConsoleButNoWindowAndNoHandles) {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  ASSERT_NE(CreatePipe(&read, &write, &inheritable, 0), FALSE);
  SetEnvironmentVariableW(L"TAVELUNE_REPORT_HANDLE",
                          std::to_wstring(reinterpret_cast<ULONG_PTR>(write)).c_str());
  for (const auto& [name, call] : Callers()) {
    SCOPED_TRACE(name);
    EXPECT_EQ(call(ReporterPath(), false, L"C:\\Tavelune\\Tavelune.exe"), 0);
    DWORD leaked = 0;
    EXPECT_NE(PeekNamedPipe(read, nullptr, 0, nullptr, &leaked, nullptr), FALSE);
    EXPECT_EQ(leaked, 0u);
    EXPECT_EQ(FileBytes(ReportPath() + L".console"), "a console, no window");
  }
  SetEnvironmentVariableW(L"TAVELUNE_REPORT_HANDLE", nullptr);
  CloseHandle(read);
  CloseHandle(write);
}

// The notice shows the text exactly as passed; read back from the screen, then dismissed.
TEST_F(CallerKit, HeaderNoticeShowsTheTextAsPassed) {
  if (!HasVisibleWindowStation()) {
    GTEST_SKIP() << kNoVisibleWindowStation;
  }
  for (const wchar_t* text : {L"Bitte schlie\u00DFen Sie \"Tavelune\" (C:\\Programme\\Tavelune\\)",
                              L"100% ^& \\\"\\", L"\U0001F600 \u00C4rger"}) {
    int status = -1;
    std::thread notice([&] { status = TaveluneHelperNotice(HelperPath().c_str(), text); });
    HWND window = FindNotice(0, kDeadlineMilliseconds);
    if (window == nullptr) {
      ADD_FAILURE() << "no visible window of class #32770 captioned "
                    << testing::PrintToString(std::wstring(kNoticeCaption)) << " appeared within "
                    << kDeadlineMilliseconds << " ms; the texts after this one are not tried";
      EndChildProcesses();  // the header waits for the helper, and the thread for the header
      notice.join();
      break;
    }
    EXPECT_EQ(ReadAndDismiss(window), text);
    notice.join();
    EXPECT_EQ(status, 0);
  }
}

// Stand-ins run from folders whose names need quoting; the helper finds each from its path.
TEST_F(CallerKit, HeaderCheckFindsAStandInByAnAwkwardPath) {
  std::wstring sandbox = ExecutableDirectory() + L"\\caller-kit sandbox";
  CreateDirectoryW(sandbox.c_str(), nullptr);
  for (const wchar_t* folder : {L"two  spaces", L"100% ^&", L"\u00C4rger", L"\U0001F600"}) {
    SCOPED_TRACE(testing::Message() << folder);
    std::wstring target = sandbox + L"\\" + folder + L"\\Tavelune.exe";
    CreateDirectoryW((sandbox + L"\\" + folder).c_str(), nullptr);
    ASSERT_NE(CopyFileW(StandInPath().c_str(), target.c_str(), FALSE), FALSE);
    EXPECT_EQ(TaveluneHelperCheck(HelperPath().c_str(), target.c_str()), 0);
    StandIn standIn = StartStandIn(target, false);
    EXPECT_EQ(TaveluneHelperCheck(HelperPath().c_str(), target.c_str()), 10);
    StopStandIn(standIn);
  }
}

// The two whole recipes, run for real on a folder that holds an old set of files, a stand-in as
// Tavelune.exe among them: the example NSIS updater and the batch file. Whatever happens, the
// folder must then hold exactly the old set or exactly the new one (update-set), byte for byte.
using Folder = std::map<std::wstring, std::string>;  // each entry's bytes; "<folder>" for a folder

// Its subfolders' entries too, named by their paths below `folder`.
Folder ReadFolder(const std::filesystem::path& folder) {
  Folder contents;
  std::error_code missing;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, missing)) {
    contents[entry.path().lexically_relative(folder)] =
        entry.is_directory() ? "<folder>" : FileBytes(entry.path().wstring());
  }
  return contents;
}

// Replaces whatever a run left in `folder` with `contents`.
void WriteFolder(const std::filesystem::path& folder, const Folder& contents) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::create_directories(folder, ignored);
  for (const auto& [name, bytes] : contents) {
    if (bytes == "<folder>" ? !std::filesystem::create_directory(folder / name, ignored)
                            : !(std::ofstream(folder / name, std::ios::binary) << bytes)) {
      ADD_FAILURE() << "could not write " << testing::PrintToString(name);
    }
  }
}

// What the folder holds before an update: the helper the updater carries (the example NSIS
// updater writes it there on every run), an older file for three names of the new set (the first,
// a middle and the last), and a file the update does not carry.
Folder OldSet(bool scripted) {
  return {{L"Tavelune.exe", FileBytes(StandInPath())},
          {L"tavelune-helper.exe", FileBytes(scripted ? ReporterPath() : HelperPath())},
          {L"keep.txt", "not the update's\n"},
          {L"lib100.dll", "old lib100\n"},
          {L"lib200.dll", "old lib200\n"},
          {L"lib299.dll", "old lib299\n"}};
}

enum class StandInState { None, Runs, Refuses };

// Where a file is held open or a stand-in runs, the row is run twice while it does, then once
// more after it has let go or ended, when the update must replace as usual.
struct UpdateCase {
  const char* situation;
  DWORD expectedExit;  // and the new set on 0, the old one otherwise
  StandInState standIn = StandInState::None;
  Folder planted = {};                // in the folder beside the old set
  const wchar_t* heldOpen = nullptr;  // a file held open without sharing by another program
  const wchar_t* answers = nullptr;   // the reporter, in the helper's place, answers these in turn
  bool fileSizeLimit = false;         // a write fails part way (under Wine; passed over on Windows)
  const wchar_t* standInFile = L"Tavelune.exe";
};

const Folder kLeftInOld = {{L"tavelune-update.old", "<folder>"},
                           {L"tavelune-update.old\\lib100.dll", "stale lib100\n"}};
const Folder kLeftInNew = {{L"tavelune-update.new", "<folder>"},
                           {L"tavelune-update.new\\lib100.dll", "stale lib100\n"}};

const UpdateCase kUpdateCases[] = {
    {"nothing runs: replaced", 0},
    {"Tavelune runs: the notice, unless silent", 10, StandInState::Runs},
    {"cannot be told", 20, StandInState::Refuses},
    {"the first file held open", 30, StandInState::None, {}, L"lib100.dll"},
    {"a middle file held open", 30, StandInState::None, {}, L"lib200.dll"},
    {"the last file held open", 30, StandInState::None, {}, L"lib299.dll"},
    {"a write fails part way", 30, StandInState::None, {}, nullptr, nullptr, true},
    {"Tavelune started after the first check", 10, StandInState::None, {}, nullptr, L"0,10"},
    {"cannot be told at the second check", 20, StandInState::None, {}, nullptr, L"0,20"},
    {"a folder where a file must go", 30, StandInState::None, {{L"lib150.dll", "<folder>"}}},
    {"a marker naming a path",
     40,
     StandInState::None,
     {{L"tavelune-update.marker", "Tavelune.exe\r\n..\\keep.txt\r\n"}}},
    {"another program holds the lock",
     30,
     {},
     {{L"tavelune-update.lock", ""}},
     L"tavelune-update.lock"},
    {"a stale file in tavelune-update.old: cleared", 0, {}, kLeftInOld},
    {"a stale file held open in tavelune-update.old",
     30,
     {},
     kLeftInOld,
     L"tavelune-update.old\\lib100.dll"},
    {"a stale file held open in tavelune-update.new",
     30,
     {},
     kLeftInNew,
     L"tavelune-update.new\\lib100.dll"},
    {.situation = "Tavelune runs on from tavelune-update.old: the notice, unless silent",
     .expectedExit = 10,
     .standIn = StandInState::Runs,
     .planted = {{L"tavelune-update.old", "<folder>"},
                 {L"tavelune-update.old\\Tavelune.exe", FileBytes(StandInPath())}},
     .standInFile = L"tavelune-update.old\\Tavelune.exe"},
};

const std::wstring kRunningNotice =
    L"Tavelune l\u00E4uft noch. Bitte schlie\u00DFen Sie Tavelune und starten Sie die "
    L"Aktualisierung erneut.";

struct Recipe {
  std::wstring folder;               // the one it updates
  std::wstring commandLine;          // started silently, or with a console but no window
  std::wstring scriptedCommandLine;  // the same with the reporter in the helper's place
  bool silent;
  Folder carriedBeyondTheSet = {};  // new files it carries beside update-set
};

// A name outside every ANSI code page but Unicode's; the example NSIS updater carries it.
const Folder kWideName = {{L"g\u0151.dll", "new g\xC5\x91.dll\n"}};

void ExpectUpdates(const Recipe& recipe) {
  Folder newSet = OldSet(false);
  for (const auto& [name, bytes] : ReadFolder(InBuild(L"update-set"))) {
    newSet[name] = bytes;
  }
  newSet.insert(recipe.carriedBeyondTheSet.begin(), recipe.carriedBeyondTheSet.end());
  ULONGLONG wholeRun = 0;
  for (const UpdateCase& row : kUpdateCases) {
    SCOPED_TRACE(row.situation);
    if (row.fileSizeLimit && !UnderWine()) {
      std::printf("unchecked: %s (a file-size limit needs Wine's Linux side)\n", row.situation);
      continue;
    }
    Folder old = OldSet(row.answers != nullptr);
    old.insert(row.planted.begin(), row.planted.end());
    WriteFolder(recipe.folder, old);
    StandIn standIn;
    if (row.standIn != StandInState::None) {
      standIn = StartStandIn(recipe.folder + L"\\" + row.standInFile,
                             row.standIn == StandInState::Refuses);
    }
    HANDLE held = row.heldOpen == nullptr
                      ? INVALID_HANDLE_VALUE
                      : CreateFileW((recipe.folder + L"\\" + row.heldOpen).c_str(), GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    SetEnvironmentVariableW(L"TAVELUNE_REPORT_STATUS", row.answers);
    DeleteFileW((ReportPath() + L".calls").c_str());
    const ULONGLONG started = GetTickCount64();
    ProgramRun run = RunProgram(row.fileSizeLimit ? QuoteArgument(InBuild(L"file_size_limit.exe")) +
                                                        L" " + recipe.commandLine
                                : row.answers ? recipe.scriptedCommandLine
                                              : recipe.commandLine);
    wholeRun = wholeRun != 0 ? wholeRun : GetTickCount64() - started;
    const bool causeEnds = held != INVALID_HANDLE_VALUE || row.standIn != StandInState::None;
    const DWORD again = causeEnds ? RunProgram(recipe.commandLine).exitCode : row.expectedExit;
    CloseHandle(held);
    if (row.standIn != StandInState::None) {
      StopStandIn(standIn);
    }
    EXPECT_EQ(run.exitCode, row.expectedExit);
    EXPECT_EQ(again, row.expectedExit);
    const bool noticed = row.standIn == StandInState::Runs && !recipe.silent;
    EXPECT_EQ(run.notice, noticed ? kRunningNotice : L"");
    EXPECT_TRUE(ReadFolder(recipe.folder) == (row.expectedExit == 0 ? newSet : old));
    const std::string calls = FileBytes(ReportPath() + L".calls");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), 'c'), row.answers ? 2 : 0) << calls;
    if (causeEnds) {
      EXPECT_EQ(RunProgram(recipe.commandLine).exitCode, 0u);
      EXPECT_TRUE(ReadFolder(recipe.folder) == newSet);
    }
  }
  SetEnvironmentVariableW(L"TAVELUNE_REPORT_STATUS", L"0");

  // Ended, with everything it started, at points spread over a whole run, then run again.
  int midSwap = 0;
  for (ULONGLONG point = 1; point <= 11; ++point) {
    SCOPED_TRACE(testing::Message() << "ended after " << point << "/12 of a run");
    WriteFolder(recipe.folder, OldSet(false));
    RunProgram(recipe.commandLine, wholeRun * point / 12);
    midSwap += ReadFolder(recipe.folder).count(L"tavelune-update.journal");
    EXPECT_EQ(RunProgram(recipe.commandLine).exitCode, 0u);
    EXPECT_TRUE(ReadFolder(recipe.folder) == newSet);
  }
  std::printf("ended part way: 11 times, %d of them mid-swap (a whole run: %llu ms)\n", midSwap,
              wholeRun);

  // Two at once: one replaces, the other finds the folder locked.
  WriteFolder(recipe.folder, OldSet(false));
  ProgramRun first;
  std::thread other([&] { first = RunProgram(recipe.commandLine); });
  ProgramRun second = RunProgram(recipe.commandLine);
  other.join();
  EXPECT_EQ((std::multiset<DWORD>{first.exitCode, second.exitCode}), (std::multiset<DWORD>{0, 30}));
  EXPECT_TRUE(ReadFolder(recipe.folder) == newSet);
}

// What CreateProcessW answers for a program that asks for more rights than the caller has; MinGW's
// headers lack the name.
constexpr DWORD kElevationRequired = 740;

// Starts `commandLine` suspended and ends it at once: 0 when it could be started, else the error.
DWORD StartError(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                     nullptr, nullptr, &startup, &process) == FALSE) {
    return GetLastError();
  }
  TerminateProcess(process.hProcess, 99);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

// Whether 32-bit x86 programs run here. Where Windows cannot say so directly, a 64-bit Windows
// that runs them keeps their ntdll.dll in its SysWOW64 folder. (A 64-bit-only Wine starts such a
// program and lets it crash with the exit status 0.)
bool RunsX86Programs() {
  using GuestSupported = HRESULT(WINAPI*)(USHORT, BOOL*);
  auto guestSupported = reinterpret_cast<GuestSupported>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64GuestMachineSupported"));
  BOOL supported = FALSE;
  if (guestSupported != nullptr) {
    return SUCCEEDED(guestSupported(IMAGE_FILE_MACHINE_I386, &supported)) && supported != FALSE;
  }
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
  return length > 0 && length < MAX_PATH &&
         GetFileAttributesW((std::wstring(folder) + L"\\ntdll.dll").c_str()) !=
             INVALID_FILE_ATTRIBUTES;
}

// The example updater as makensis built it for one target, run silently on its own folder. Skipped
// where it cannot start for a reason of this system's or this user's, said in the message.
void ExpectExampleUpdater(const wchar_t* name, bool x86) {
  if (!Built(name)) {
    GTEST_SKIP() << "makensis was not found when this was built";
  }
  if (x86 && !RunsX86Programs()) {
    GTEST_SKIP() << "this Windows runs no 32-bit x86 programs";
  }
  const std::wstring folder = InBuild(x86 ? L"nsis-updated-x86" : L"nsis-updated");
  const std::wstring options = L" /S /D=" + folder;
  const std::wstring commandLine = QuoteArgument(InBuild(name)) + options;
  DWORD error = StartError(commandLine);
  if (error == kElevationRequired) {
    GTEST_SKIP() << "the example updater asks for administrator rights: run the tests elevated";
  }
  ASSERT_EQ(error, 0u);
  ExpectUpdates({folder, commandLine,
                 QuoteArgument(InBuild(L"example-updater-scripted.exe")) + options, true,
                 kWideName});
}

TEST_F(CallerKit, NsisExampleUpdater64ReplacesOnlyOnZero) {
  ExpectExampleUpdater(L"example-updater.exe", false);
}

TEST_F(CallerKit, NsisExampleUpdater32ReplacesOnlyOnZero) {
  ExpectExampleUpdater(L"example-updater-x86.exe", true);
}

// The update engine started directly, and through the batch file: its status, the folder, the
// notice, and the line it appends to its log (in UTF-8, after the time). In `options`, SOURCE
// stands for the set of new files and LOG for the log.
struct EngineCase {
  const char* situation;
  std::wstring options;
  StandInState standIn;
  DWORD expectedExit;
  const char*
      logged;  // after "FOLDER: "; nullptr: the line names no folder ("-"), or there is no log
  bool noticed = false;
  bool throughBatch = false;
  const wchar_t* folderName = L"engine-updated %PATH% ^&! g\u0151";
};

const EngineCase kEngineCases[] = {
    {"a folder whose name needs quoting and UTF-8", L"--from SOURCE --log LOG", StandInState::None,
     0, "0"},
    {"silent while Tavelune runs", L"--silent --from SOURCE --log LOG", StandInState::Runs, 10,
     "10 Tavelune runs: Tavelune.exe"},
    {"waiting a second while Tavelune runs: one notice, at the end",
     L"--wait 1 --from SOURCE --log LOG", StandInState::Runs, 10, "10 Tavelune runs: Tavelune.exe",
     true},
    {"a command line it cannot read", L"--wait soon --from SOURCE --log LOG", StandInState::None,
     30, nullptr},
    {"no source", L"--from SOURCE\\missing --log LOG", StandInState::None, 30,
     "30 the source folder does not exist: "},
    {"the source inside the folder", L"--from INSIDE --log LOG", StandInState::None, 30,
     "30 the source and the folder lie inside one another"},
    // cmd expands "%PATH%" on its own command line, before the batch file sees it.
    {"the batch file passes --silent and --wait on", L"--silent --wait 1", StandInState::Runs, 10,
     nullptr, false, true, L"engine-batch ^&! g\u0151"},
};

std::string Utf8(const std::wstring& text) {
  std::string bytes(text.size() * 3, '\0');
  bytes.resize(static_cast<size_t>(
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          static_cast<int>(bytes.size()), nullptr, nullptr)));
  return bytes;
}

std::wstring Replaced(std::wstring text, const std::wstring& word, const std::wstring& by) {
  for (size_t at = text.find(word); at != std::wstring::npos;
       at = text.find(word, at + by.size())) {
    text.replace(at, word.size(), by);
  }
  return text;
}

TEST_F(CallerKit, UpdateEngineEndsWithItsStatusAndSaysWhy) {
  Folder newSet = OldSet(false);
  for (const auto& [name, bytes] : ReadFolder(InBuild(L"update-set"))) {
    newSet[name] = bytes;
  }
  const std::wstring log = InBuild(L"engine.log");
  const std::wstring kit = InBuild(L"engine-kit");
  WriteFolder(kit + L"\\files", ReadFolder(InBuild(L"update-set")));
  for (const wchar_t* name : {L"update-tavelune.cmd", L"tavelune-update.exe"}) {
    CopyFileW(InBuild(name).c_str(), (kit + L"\\" + name).c_str(), FALSE);
  }
  CopyFileW(HelperPath().c_str(), (kit + L"\\tavelune-helper.exe").c_str(), FALSE);
  for (const EngineCase& row : kEngineCases) {
    SCOPED_TRACE(row.situation);
    const std::wstring folder = InBuild(row.folderName);
    WriteFolder(folder, OldSet(false));
    DeleteFileW(log.c_str());
    StandIn standIn;
    if (row.standIn != StandInState::None) {
      standIn = StartStandIn(folder + L"\\Tavelune.exe", false);
    }
    std::wstring options = Replaced(row.options, L"SOURCE", QuoteArgument(InBuild(L"update-set")));
    options =
        Replaced(Replaced(options, L"LOG", QuoteArgument(log)), L"INSIDE", QuoteArgument(folder));
    const ULONGLONG started = GetTickCount64();
    const ProgramRun run =
        row.throughBatch ? RunProgram(L"cmd.exe /d /s /c \"\"" + kit + L"\\update-tavelune.cmd\" " +
                                      options + L" \"" + folder + L"\"\"")
                         : RunProgram(QuoteArgument(InBuild(L"tavelune-update.exe")) + L" " +
                                      options + L" " + QuoteArgument(folder));
    const ULONGLONG took = GetTickCount64() - started;
    if (row.standIn != StandInState::None) {
      StopStandIn(standIn);
    }
    EXPECT_EQ(run.exitCode, row.expectedExit);
    EXPECT_TRUE(ReadFolder(folder) == (row.expectedExit == 0 ? newSet : OldSet(false)));
    EXPECT_EQ(run.notice, row.noticed ? kRunningNotice : L"");
    if (row.options.find(L"--wait 1") != std::wstring::npos) {
      EXPECT_GE(took, 500u) << "asked again half a second later, within the second";
    }
    const std::string line = FileBytes(log);
    if (row.logged == nullptr) {
      EXPECT_EQ(line.find(Utf8(folder)), std::string::npos) << line;
    } else {
      // The time, then the line: the folder, the status, and why, up to the file it names.
      const std::string expected = Utf8(folder) + ": " + row.logged;
      EXPECT_EQ(line.substr(std::min<size_t>(line.size(), 21), expected.size()), expected);
      EXPECT_EQ(line.substr(std::max<size_t>(line.size(), 2) - 2), "\r\n");
    }
  }
  // Without the engine beside it, the batch file replaces nothing.
  DeleteFileW((kit + L"\\tavelune-update.exe").c_str());
  const std::wstring folder = InBuild(kEngineCases[0].folderName);
  WriteFolder(folder, OldSet(false));
  EXPECT_EQ(
      RunProgram(L"cmd.exe /d /s /c \"\"" + kit + L"\\update-tavelune.cmd\" \"" + folder + L"\"\"")
          .exitCode,
      30u);
  EXPECT_TRUE(ReadFolder(folder) == OldSet(false));
}

TEST_F(CallerKit, BatchRecipeReplacesOnlyOnZero) {
  // The recipe's folder as it is shipped: the script, the helper (or the reporter in its place),
  // the new files, one of them hidden. Its folders hold a "!", which delayed expansion would drop;
  // it runs with delayed expansion on, a variable named ERRORLEVEL that would stand in for the
  // helper's answer, and COPYCMD and DIRCMD, which would make move ask and dir list subfolders.
  std::wstring commandLines[2];
  for (const bool scripted : {false, true}) {
    const std::wstring recipe = InBuild(scripted ? L"batch-recipe-scripted!" : L"batch-recipe!");
    WriteFolder(recipe + L"\\files", ReadFolder(InBuild(L"update-set")));
    SetFileAttributesW((recipe + L"\\files\\lib100.dll").c_str(), FILE_ATTRIBUTE_HIDDEN);
    for (const auto& [from, to] :
         {std::pair{InBuild(L"update-tavelune.cmd"), L"update-tavelune.cmd"},
          {InBuild(L"tavelune-update.exe"), L"tavelune-update.exe"},
          {scripted ? ReporterPath() : HelperPath(), L"tavelune-helper.exe"}}) {
      ASSERT_NE(CopyFileW(from.c_str(), (recipe + L"\\" + to).c_str(), FALSE), FALSE)
          << testing::PrintToString(from);
    }
    // cmd takes quotes as they are, without msvcrt's escapes; the folder ends in a backslash.
    commandLines[scripted ? 1 : 0] = L"cmd.exe /d /v:on /s /c \"\"" + recipe +
                                     L"\\update-tavelune.cmd\" \"" + InBuild(L"batch-updated!") +
                                     L"\\\"\"";
  }
  SetEnvironmentVariableW(L"ERRORLEVEL", L"0");
  SetEnvironmentVariableW(L"COPYCMD", L"/-Y");
  SetEnvironmentVariableW(L"DIRCMD", L"/s");
  ExpectUpdates({InBuild(L"batch-updated!"), commandLines[0], commandLines[1], false});
  // Started exactly as the README writes it, with a name the console's code page cannot hold
  // among the new files: the engine carries it.
  wchar_t systemRoot[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"SystemRoot", systemRoot, MAX_PATH);
  WriteFolder(InBuild(L"batch-updated!"), OldSet(false));
  std::ofstream(std::filesystem::path(InBuild(L"batch-recipe!\\files\\g\u0151.dll"))) << "new";
  EXPECT_EQ(RunProgram(L"\"" + std::wstring(systemRoot) + L"\\System32\\cmd.exe\" /d /s /c \"\"" +
                       InBuild(L"batch-recipe!") + L"\\update-tavelune.cmd\" \"" +
                       InBuild(L"batch-updated!") + L"\"\"")
                .exitCode,
            0u);
  Folder withWideName = ReadFolder(InBuild(L"update-set"));
  withWideName.insert({L"g\u0151.dll", "new"});
  withWideName.merge(OldSet(false));
  EXPECT_TRUE(ReadFolder(InBuild(L"batch-updated!")) == withWideName);
  DeleteFileW(InBuild(L"batch-recipe!\\files\\g\u0151.dll").c_str());
  // With nothing to copy, nothing was replaced: no success.
  WriteFolder(InBuild(L"batch-updated!"), OldSet(false));
  WriteFolder(InBuild(L"batch-recipe!\\files"), {});
  EXPECT_EQ(RunProgram(commandLines[0]).exitCode, 30u);
  EXPECT_TRUE(ReadFolder(InBuild(L"batch-updated!")) == OldSet(false));
  for (const wchar_t* name : {L"ERRORLEVEL", L"COPYCMD", L"DIRCMD"}) {
    SetEnvironmentVariableW(name, nullptr);
  }
}

// The Windows Installer action in the example product's packages and in a product of another
// shape that has the block pasted in (integration/msi), each run by msiexec silently on a folder of
// the test's own: how msiexec ends, the folder byte for byte, and the line the action writes to
// the log. Which package is installed first, if any, and where the stand-in runs, differ by row.
struct MsiCase {
  const char* situation;
  const wchar_t* command;    // msiexec's action and the package, and properties after it
  const wchar_t* installed;  // the package installed into the folder before, or nullptr
  StandInState standIn;
  DWORD expectedExit;
  int expectedFolder;       // an index into the row's folders below
  const wchar_t* expected;  // the log's line, after the action's name and the path
  const wchar_t* action = L"TaveluneCheck";
  // The folder is as it was only after Windows Installer rolls the script back. Wine's msi changes
  // files as the actions come, not in the script, and rolls none back: passed over there.
  bool rolledBack = false;
  const wchar_t* folderProperty = L"INSTALLDIR";  // nullptr: the command line names no folder
  const wchar_t* tavelune = L"Tavelune.exe";      // where Tavelune.exe lies in the folder
  const wchar_t* subfolder = L"";                 // the folder below the test's own
  const wchar_t* checkedPath = nullptr;           // as logged; nullptr: the folder's Tavelune.exe
};

// The folders a row can leave: nothing, the first or the second version, or the stand-in alone, as
// a folder that the other drop-ins filled holds it.
enum MsiFolder { kNothing, kFirst, kSecond, kStandInAlone };

constexpr const wchar_t* kNoneRuns = L"0, no Tavelune process runs from it";
constexpr const wchar_t* kOneRuns = L"10, a Tavelune process runs from it";

const MsiCase kMsiCases[] = {
    {"first installation", L"/i tavelune-1.msi", nullptr, StandInState::None, 0, kFirst, kNoneRuns},
    {"first installation into a folder where Tavelune runs", L"/i tavelune-1.msi", nullptr,
     StandInState::Runs, 1603, kStandInAlone, kOneRuns},
    {"upgrade, nothing runs", L"/i tavelune-2.msi", L"tavelune-1.msi", StandInState::None, 0,
     kSecond, kNoneRuns},
    {"upgrade while Tavelune runs", L"/i tavelune-2.msi", L"tavelune-1.msi", StandInState::Runs,
     1603, kFirst, kOneRuns},
    {"upgrade without the folder goes to the remembered one", L"/i tavelune-2.msi",
     L"tavelune-1.msi", StandInState::None, 0, kSecond, kNoneRuns, L"TaveluneCheck", false,
     nullptr},
    {"upgrade without the folder while Tavelune runs in the remembered one", L"/i tavelune-2.msi",
     L"tavelune-1.msi", StandInState::Runs, 1603, kFirst, kOneRuns, L"TaveluneCheck", false,
     nullptr},
    {"rebuild of the same version while Tavelune runs", L"/i tavelune-1-rebuilt.msi",
     L"tavelune-1.msi", StandInState::Runs, 1603, kFirst, kOneRuns},
    {"removal while Tavelune runs", L"/x tavelune-1.msi", L"tavelune-1.msi", StandInState::Runs,
     1603, kFirst, kOneRuns},
    {"repair while Tavelune runs", L"/i tavelune-1.msi REINSTALL=ALL REINSTALLMODE=amus",
     L"tavelune-1.msi", StandInState::Runs, 1603, kFirst, kOneRuns},
    {"upgrade while a Tavelune refuses inspection", L"/i tavelune-2.msi", L"tavelune-1.msi",
     StandInState::Refuses, 1603, kFirst,
     L"20, Der Status laufender Tavelune-Prozesse ist nicht sicher bestimmbar."},
    {"Restart Manager allowed to close programs", L"/i tavelune-2.msi MSIRESTARTMANAGERCONTROL=0",
     L"tavelune-1.msi", StandInState::None, 1603, kFirst,
     L"20, MSIRESTARTMANAGERCONTROL is not DisableShutdown or Disable in the property and in the "
     L"Property table, so Restart Manager could close Tavelune: set it to DisableShutdown"},
    {"the older version removed right after InstallValidate", L"/i tavelune-2-early-removal.msi",
     L"tavelune-1.msi", StandInState::None, 1603, kFirst,
     L"20, RemoveExistingProducts comes before InstallFinalize, so the older version could be "
     L"removed unchecked: sequence it after InstallFinalize"},
    {"a folder with brackets and braces while Tavelune runs", L"/i tavelune-2.msi",
     L"tavelune-1.msi", StandInState::Runs, 1603, kFirst, kOneRuns, L"TaveluneCheck", false,
     L"INSTALLDIR", L"Tavelune.exe", L"\\Tave [x] {1}"},
    {"the check in the script alone, Tavelune runs: rolled back", L"/i tavelune-2-script-only.msi",
     L"tavelune-1.msi", StandInState::Runs, 1603, kFirst, kOneRuns, L"TaveluneCheckInScript", true},
    {"the check in the script alone, brackets and braces", L"/i tavelune-2-script-only.msi",
     L"tavelune-1.msi", StandInState::Runs, 1603, kFirst, kOneRuns, L"TaveluneCheckInScript", true,
     L"INSTALLDIR", L"Tavelune.exe", L"\\Tave [x] {1}"},
    {"another shape, the block as pasted, Tavelune runs", L"/i another-shape-as-pasted.msi",
     nullptr, StandInState::Runs, 1603, kStandInAlone,
     L"20, not the full path of Tavelune.exe: set TAVELUNEPATH to it in the action TavelunePath, "
     L"as [YOURFOLDER]Tavelune.exe with your package's folder property",
     L"TaveluneCheck", false, L"INSTALLFOLDER", L"bin\\Tavelune.exe", L"", L"Tavelune.exe"},
    {"another shape, Tavelune in bin, the check in the script alone",
     L"/i another-shape-in-bin.msi", nullptr, StandInState::Runs, 1603, kStandInAlone, kOneRuns,
     L"TaveluneCheckInScript", true, L"INSTALLFOLDER", L"bin\\Tavelune.exe"},
};

// The log as text, whether msiexec wrote it in UTF-16 or in bytes.
std::wstring LogText(const std::wstring& path) {
  const std::string bytes = FileBytes(path);
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(wchar_t));
    return text;
  }
  return {bytes.begin(), bytes.end()};
}

TEST_F(CallerKit, MsiPackageChangesNothingWhileTaveluneRuns) {
  if (!Built(L"tavelune-1.msi")) {
    GTEST_SKIP() << "wixl was not found when this was built";
  }
  if (IsUserAnAdmin() == FALSE) {
    GTEST_SKIP() << "a package for all users asks for administrator rights: run the tests elevated";
  }
  // A folder whose path is ASCII, wherever the tests run: Wine's msi ends a log line at the first
  // letter outside ASCII.
  wchar_t programData[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"ProgramData", programData, MAX_PATH);
  const std::wstring testFolder = std::wstring(programData) + L"\\tavelune-msi-test";
  const std::wstring log = InBuild(L"msiexec.log");
  const auto msiexec = [&](const std::wstring& command) {
    DeleteFileW(log.c_str());
    return RunProgram(L"msiexec.exe /qn /l*v \"" + log + L"\" " + command).exitCode;
  };
  // "/i NAME REST" runs as "/i "FOLDER\NAME" REST".
  const auto withPackage = [](const std::wstring& command) {
    const std::wstring words = command + L" ";
    const size_t package = words.find(L' ') + 1;
    const size_t rest = words.find(L' ', package);
    return words.substr(0, package) +
           QuoteArgument(InBuild(words.substr(package, rest - package).c_str())) +
           words.substr(rest, words.size() - rest - 1);
  };
  for (const MsiCase& row : kMsiCases) {
    SCOPED_TRACE(row.situation);
    const std::wstring folder = testFolder + row.subfolder;
    const std::wstring tavelune = folder + L"\\" + row.tavelune;
    const std::wstring named = L" INSTALLDIR=\"" + folder + L"\\\"";
    std::error_code ignored;
    std::filesystem::remove_all(testFolder, ignored);
    if (row.installed != nullptr) {
      ASSERT_EQ(msiexec(withPackage(std::wstring(L"/i ") + row.installed) + named), 0u);
    } else if (row.standIn != StandInState::None) {
      std::filesystem::create_directories(std::filesystem::path(tavelune).parent_path());
      ASSERT_NE(CopyFileW(StandInPath().c_str(), tavelune.c_str(), FALSE), FALSE);
    }
    const Folder folders[] = {
        {},
        {{L"Tavelune.exe", FileBytes(StandInPath())}, {L"Tavelune.dat", "old\n"}},
        {{L"Tavelune.exe", FileBytes(ReporterPath())}, {L"Tavelune.dat", "new\n"}},
        ReadFolder(folder)};
    StandIn standIn;
    if (row.standIn != StandInState::None) {
      standIn = StartStandIn(tavelune, row.standIn == StandInState::Refuses);
    }
    const std::wstring property =
        row.folderProperty == nullptr
            ? L""
            : L" " + std::wstring(row.folderProperty) + L"=\"" + folder + L"\\\"";
    const DWORD exitCode = msiexec(withPackage(row.command) + property);
    if (row.standIn != StandInState::None) {
      StopStandIn(standIn);
    }
    EXPECT_EQ(exitCode, row.expectedExit);
    const std::wstring text = LogText(log);
    if (row.rolledBack && UnderWine()) {
      std::printf("unchecked: %s: the folder after the rollback (Wine's msi rolls no file back)\n",
                  row.situation);
    } else {
      EXPECT_TRUE(ReadFolder(folder) == folders[row.expectedFolder]);
    }
    const std::wstring line = std::wstring(row.action) + L": " +
                              (row.checkedPath != nullptr ? row.checkedPath : tavelune) + L": " +
                              row.expected;
    EXPECT_NE(text.find(line), std::wstring::npos) << testing::PrintToString(line);
    // Nothing of the example product stays installed, whatever the row left.
    for (const wchar_t* package : {row.command + 3, row.installed}) {
      if (package != nullptr) {
        const std::wstring name(package);
        msiexec(withPackage(L"/x " + name.substr(0, name.find(L' '))) + named);
      }
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(testFolder, ignored);
}

// The test bundle's runner, against one stand-in test program per row (the reporter, printing what
// a GoogleTest program prints): what it says in logs\\summary.txt and how it ends. It is the
// verdict a user on Windows reads.
struct RunnerCase {
  const char* situation;
  std::string output;  // what the test program prints
  DWORD programStatus;
  std::string expectedSummary;
  DWORD expectedExit;
  // Set: a second program, two_test, runs after one_test, and the two end with these in turn.
  const wchar_t* statusesInTurn = nullptr;
};

const RunnerCase kRunnerCases[] = {
    {"all pass", "[==========] 2 tests from 1 test suite ran.\n[  PASSED  ] 2 tests.\n", 0,
     "one_test: 2 passed, 0 failed, 0 skipped\r\n2 passed, 0 failed, 0 skipped\r\n", 0},
    {"cases fail",
     "[ RUN      ] S.A\n[  FAILED  ] S.A (1 ms)\n[  PASSED  ] 1 test.\n"
     "[  FAILED  ] 2 tests, listed below:\n[  FAILED  ] S.A\n[  FAILED  ] S.B\n\n 2 FAILED TESTS\n",
     1,
     "one_test: 1 passed, 2 failed, 0 skipped\r\n  failed: S.A\r\n  failed: S.B\r\n"
     "1 passed, 2 failed, 0 skipped\r\n",
     1},
    {"a case skipped",
     "[  PASSED  ] 1 test.\n[  SKIPPED ] 1 test, listed below:\n[  SKIPPED ] S.C\n", 0,
     "one_test: 1 passed, 0 failed, 1 skipped\r\n  skipped: S.C\r\n1 passed, 0 failed, 1 "
     "skipped\r\n",
     0},
    {"ends with 0 but without its summary", "[ RUN      ] S.A\n", 0,
     "one_test: 0 passed, 1 failed, 0 skipped\r\n0 passed, 1 failed, 0 skipped\r\n", 1},
    {"ends with a status but nothing failed", "[  PASSED  ] 3 tests.\n", 5,
     "one_test: 3 passed, 1 failed, 0 skipped\r\n3 passed, 1 failed, 0 skipped\r\n", 1},
    {"the first of two fails, the last passes", "[  PASSED  ] 1 test.\n", 0,
     "one_test: 1 passed, 1 failed, 0 skipped\r\ntwo_test: 1 passed, 0 failed, 0 skipped\r\n"
     "2 passed, 1 failed, 0 skipped\r\n",
     1, L"5,0"},
};

TEST_F(CallerKit, TestRunnerCountsEveryOutcome) {
  // Beside the build's programs, or one folder up in the unzipped test bundle.
  std::wstring runner = InBuild(L"run-tests.cmd");
  if (GetFileAttributesW(runner.c_str()) == INVALID_FILE_ATTRIBUTES) {
    runner = ExecutableDirectory() + L"\\..\\run-tests.cmd";
  }
  int number = 0;
  for (const RunnerCase& row : kRunnerCases) {
    SCOPED_TRACE(row.situation);
    const std::wstring folder = InBuild(L"runner-") + std::to_wstring(++number);
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\programs").c_str(), nullptr);
    ASSERT_NE(CopyFileW(runner.c_str(), (folder + L"\\run-tests.cmd").c_str(), FALSE), FALSE)
        << testing::PrintToString(runner);
    for (const wchar_t* name : {L"one_test.exe", L"tavelune-helper.exe",
                                row.statusesInTurn ? L"two_test.exe" : nullptr}) {
      ASSERT_TRUE(name == nullptr || CopyFileW(ReporterPath().c_str(),
                                               (folder + L"\\programs\\" + name).c_str(), FALSE));
    }
    SetEnvironmentVariableA("TAVELUNE_REPORT_OUTPUT", row.output.c_str());
    ReporterEndsWith(row.programStatus);
    if (row.statusesInTurn != nullptr) {
      SetEnvironmentVariableW(L"TAVELUNE_REPORT_STATUS", row.statusesInTurn);
    }
    ProgramRun run = RunProgram(L"cmd.exe /d /c \"\"" + folder + L"\\run-tests.cmd\"\"");
    SetEnvironmentVariableA("TAVELUNE_REPORT_OUTPUT", nullptr);
    EXPECT_EQ(FileBytes(folder + L"\\logs\\summary.txt"), row.expectedSummary);
    EXPECT_EQ(run.exitCode, row.expectedExit);
  }
}

}  // namespace
