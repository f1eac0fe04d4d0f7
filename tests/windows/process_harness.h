// Starting the helper and the stand-in application from the Windows tests, with their standard
// streams captured through pipes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// How long a test waits for a process to end, a window to appear or a stand-in to come up before
// it fails the case. Under Wine on a busy two-core machine a process takes up to a second or two to
// start; a healthy helper ends well within this.
constexpr DWORD kDeadlineMilliseconds = 10000;

// What one run of the helper left behind.
struct HelperRun {
  DWORD exitCode = 0;
  std::string standardOutput;
  std::string standardError;
  bool finished = false;  // false: it could not be started, or did not end in time and was ended
  std::string problem;    // why it did not finish
};

// A helper started but not yet waited for, for tests that look at its window while it runs.
struct StartedHelper {
  HANDLE process = nullptr;
  HANDLE outputRead = nullptr;
  HANDLE errorRead = nullptr;
};

// A running stand-in; closing `inputWrite` ends it.
struct StandIn {
  HANDLE process = nullptr;
  HANDLE inputWrite = nullptr;
};

std::wstring ExecutableDirectory();
// The helper beside the test program, or the one that TAVELUNE_HELPER names (a signed copy, say).
std::wstring HelperPath();
std::wstring StandInPath();

// Quotes one argument so that msvcrt's splitting gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);

// `workingDirectory` empty: the test's own. `desktop` empty: the test's own, else
// "WINDOWSTATION\\DESKTOP". Where the helper cannot be started, `process` is nullptr and the log
// says why.
StartedHelper StartHelper(const std::vector<std::wstring>& arguments,
                          const std::wstring& workingDirectory = L"",
                          const std::wstring& desktop = L"");
HelperRun FinishHelper(StartedHelper started, DWORD timeoutMilliseconds = kDeadlineMilliseconds);
HelperRun RunHelper(const std::vector<std::wstring>& arguments,
                    const std::wstring& workingDirectory = L"");

// The notice that `processId` (0: any process) shows, once it is visible; nullptr if none appears
// in time.
HWND FindNotice(DWORD processId, DWORD timeoutMilliseconds);

// Whether a window station (this process's unless named) is visible, so that a notice on it can be
// seen and answered. A service, session 0 and a machine without a desktop have none.
bool HasVisibleWindowStation(HWINSTA station = GetProcessWindowStation());
constexpr const char* kNoVisibleWindowStation =
    "no visible window station (a service, session 0, no desktop): a notice cannot be seen here";

// Runs the helper to its end. Where it shows a notice (a display is there), the notice is
// dismissed with OK, as a user would.
HelperRun RunHelperDismissingNotice(const std::vector<std::wstring>& arguments);

// `denyAll`: the process is created with a DACL that grants nobody any access, so OpenProcess on
// it fails with ERROR_ACCESS_DENIED. Returns once the stand-in runs its own code, or after the
// deadline with the log saying why it does not.
StandIn StartStandIn(const std::wstring& imagePath, bool denyAll);
void StopStandIn(StandIn& standIn);

// Ends every process this test started that still runs: a case that gives up on one must not leave
// it waiting, or the next case's wait on it, behind.
void EndChildProcesses();

constexpr const wchar_t* kNoticeCaption = L"KTQ - Aktualisierung angehalten";

// The diagnostic line exactly as it must reach standard error.
inline const std::string kDiagnosticBytes =
    "Der Status laufender Tavelune-Prozesse ist nicht sicher bestimmbar.\r\n";
