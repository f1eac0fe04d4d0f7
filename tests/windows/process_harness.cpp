#include "process_harness.h"

#include <sddl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>

#include "integration/c/tavelune_helper_client.h"

namespace {

// A pipe whose parent end is not inherited, so that only the one child started next holds the
// other end and end of file arrives when that child exits.
bool CreateChildPipe(HANDLE* read, HANDLE* write, bool childReads) {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  if (CreatePipe(read, write, &inheritable, 0) == FALSE) {
    return false;
  }
  SetHandleInformation(childReads ? *write : *read, HANDLE_FLAG_INHERIT, 0);
  return true;
}

std::string ReadAll(HANDLE pipe) {
  std::string text;
  char buffer[4096];
  DWORD count = 0;
  while (ReadFile(pipe, buffer, sizeof(buffer), &count, nullptr) != FALSE && count > 0) {
    text.append(buffer, count);
  }
  return text;
}

HANDLE OpenNulInput() {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  return CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                     OPEN_EXISTING, 0, nullptr);
}

// Says in the test's log what could not be done, naming the file, so that the failing case that
// follows explains itself.
void Complain(const char* what, const std::wstring& path) {
  DWORD error = GetLastError();
  fprintf(stderr, "test harness: %s %ls failed, error %lu\n", what, path.c_str(), error);
}

// Where a process or pipe could not be made, only a system short of resources is to blame: the
// run cannot go on.
[[noreturn]] void Abandon(const char* what) {
  fprintf(stderr, "test harness: %s failed, error %lu\n", what, GetLastError());
  std::exit(1);
}

// Starts `program` with these standard handles, which it inherits; returns its process handle, or
// nullptr when it could not be started (a missing file, say).
HANDLE StartWithStandardHandles(const std::wstring& program, std::wstring commandLine, HANDLE input,
                                HANDLE output, HANDLE error, SECURITY_ATTRIBUTES* processSecurity,
                                const wchar_t* workingDirectory, wchar_t* desktop = nullptr) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktop;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(program.c_str(), commandLine.data(), processSecurity, nullptr, TRUE, 0,
                     nullptr, workingDirectory, &startup, &info) == FALSE) {
    Complain("starting", program);
    return nullptr;
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}

}  // namespace

std::wstring ExecutableDirectory() {
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring HelperPath() {
  wchar_t chosen[32768];
  DWORD length = GetEnvironmentVariableW(L"TAVELUNE_HELPER", chosen, 32768);
  if (length > 0 && length < 32768) {
    return chosen;
  }
  return ExecutableDirectory() + L"\\tavelune-helper.exe";
}

std::wstring StandInPath() { return ExecutableDirectory() + L"\\stand_in.exe"; }

std::wstring QuoteArgument(const std::wstring& argument) {
  std::wstring quoted(TaveluneHelper_Quote(argument.c_str(), nullptr), L'\0');
  TaveluneHelper_Quote(argument.c_str(), quoted.data());
  return quoted;
}

StartedHelper StartHelper(const std::vector<std::wstring>& arguments,
                          const std::wstring& workingDirectory, const std::wstring& desktop) {
  std::wstring commandLine = QuoteArgument(HelperPath());
  for (const std::wstring& argument : arguments) {
    commandLine += L' ' + QuoteArgument(argument);
  }

  StartedHelper started;
  HANDLE outputWrite = nullptr;
  HANDLE errorWrite = nullptr;
  if (!CreateChildPipe(&started.outputRead, &outputWrite, false) ||
      !CreateChildPipe(&started.errorRead, &errorWrite, false)) {
    Abandon("CreatePipe");
  }
  HANDLE input = OpenNulInput();
  std::wstring desktopName = desktop;
  started.process =
      StartWithStandardHandles(HelperPath(), commandLine, input, outputWrite, errorWrite, nullptr,
                               workingDirectory.empty() ? nullptr : workingDirectory.c_str(),
                               desktop.empty() ? nullptr : desktopName.data());
  CloseHandle(input);
  CloseHandle(outputWrite);
  CloseHandle(errorWrite);
  return started;
}

HelperRun FinishHelper(StartedHelper started, DWORD timeoutMilliseconds) {
  HelperRun run;
  if (started.process == nullptr) {
    run.exitCode = 99;
    run.problem = "the helper could not be started (see the harness's line above)";
    CloseHandle(started.outputRead);
    CloseHandle(started.errorRead);
    return run;
  }
  run.finished = WaitForSingleObject(started.process, timeoutMilliseconds) == WAIT_OBJECT_0;
  if (!run.finished) {
    run.problem = "the helper did not end within " + std::to_string(timeoutMilliseconds) + " ms";
    TerminateProcess(started.process, 99);
    WaitForSingleObject(started.process, kDeadlineMilliseconds);
  }
  GetExitCodeProcess(started.process, &run.exitCode);
  run.standardOutput = ReadAll(started.outputRead);
  run.standardError = ReadAll(started.errorRead);
  CloseHandle(started.outputRead);
  CloseHandle(started.errorRead);
  CloseHandle(started.process);
  return run;
}

HelperRun RunHelper(const std::vector<std::wstring>& arguments,
                    const std::wstring& workingDirectory) {
  return FinishHelper(StartHelper(arguments, workingDirectory));
}

HWND FindNotice(DWORD processId, DWORD timeoutMilliseconds) {
  for (DWORD waited = 0;; waited += 100) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32770", kNoticeCaption)) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if ((processId == 0 || owner == processId) && IsWindowVisible(window) != FALSE) {
        return window;
      }
    }
    if (waited >= timeoutMilliseconds) {
      return nullptr;
    }
    Sleep(100);
  }
}

bool HasVisibleWindowStation(HWINSTA station) {
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  return GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed) != FALSE &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

HelperRun RunHelperDismissingNotice(const std::vector<std::wstring>& arguments) {
  StartedHelper started = StartHelper(arguments);
  if (WaitForSingleObject(started.process, 2000) == WAIT_TIMEOUT) {
    HWND notice = FindNotice(GetProcessId(started.process), kDeadlineMilliseconds);
    if (notice != nullptr) {
      PostMessageW(notice, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
  }
  return FinishHelper(started);
}

StandIn StartStandIn(const std::wstring& imagePath, bool denyAll) {
  StandIn standIn;
  HANDLE inputRead = nullptr;
  HANDLE outputRead = nullptr;
  HANDLE outputWrite = nullptr;
  if (!CreateChildPipe(&inputRead, &standIn.inputWrite, true) ||
      !CreateChildPipe(&outputRead, &outputWrite, false)) {
    Abandon("CreatePipe");
  }

  SECURITY_ATTRIBUTES processSecurity{sizeof(processSecurity), nullptr, FALSE};
  if (denyAll &&
      ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:", SDDL_REVISION_1, &processSecurity.lpSecurityDescriptor, nullptr) == FALSE) {
    Abandon("ConvertStringSecurityDescriptorToSecurityDescriptorW");
  }

  standIn.process =
      StartWithStandardHandles(imagePath, QuoteArgument(imagePath), inputRead, outputWrite,
                               outputWrite, denyAll ? &processSecurity : nullptr, nullptr);
  LocalFree(processSecurity.lpSecurityDescriptor);
  CloseHandle(inputRead);
  CloseHandle(outputWrite);

  // Its one byte, or the end of the pipe when it died first, within the deadline.
  DWORD available = 0;
  for (DWORD waited = 0; standIn.process != nullptr && waited < kDeadlineMilliseconds;
       waited += 10) {
    if (PeekNamedPipe(outputRead, nullptr, 0, nullptr, &available, nullptr) == FALSE ||
        available > 0) {
      break;
    }
    Sleep(10);
  }
  if (standIn.process != nullptr && available == 0) {
    Complain("waiting for the stand-in", imagePath);
  }
  CloseHandle(outputRead);
  return standIn;
}

void StopStandIn(StandIn& standIn) {
  CloseHandle(standIn.inputWrite);
  if (standIn.process != nullptr &&
      WaitForSingleObject(standIn.process, kDeadlineMilliseconds) != WAIT_OBJECT_0) {
    TerminateProcess(standIn.process, 99);
    WaitForSingleObject(standIn.process, kDeadlineMilliseconds);
  }
  CloseHandle(standIn.process);
  standIn = {};
}

void EndChildProcesses() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more != FALSE;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID != GetCurrentProcessId()) {
      continue;
    }
    HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (child != nullptr) {
      TerminateProcess(child, 99);
      WaitForSingleObject(child, kDeadlineMilliseconds);
      CloseHandle(child);
    }
  }
  CloseHandle(snapshot);
}
