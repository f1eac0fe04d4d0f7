// tavelune-update.exe [--silent] [--wait SECONDS] [--from SOURCE] [--log FILE] [FOLDER]
#include <stdio.h>
#include <wchar.h>

#include <atomic>

#include "platform/platform.h"
#include "update_engine/command_line.h"
#include "update_engine/update_files.h"

namespace {

// The absolute form of `path` without a trailing backslash; false when there is none that fits.
bool MakeAbsolute(const WCHAR* path, WCHAR* absolute) {
  DWORD length = GetFullPathNameW(path, kEnginePathCapacity, absolute, nullptr);
  if (length == 0 || length >= kEnginePathCapacity) {
    return false;
  }
  while (length > 3 && absolute[length - 1] == L'\\') {
    absolute[--length] = L'\0';
  }
  return true;
}

// The folder this program lies in.
bool OwnFolder(WCHAR* folder) {
  DWORD length = GetModuleFileNameW(nullptr, folder, kEnginePathCapacity);
  if (length == 0 || length >= kEnginePathCapacity) {
    return false;
  }
  WCHAR* lastSeparator = wcsrchr(folder, L'\\');
  if (lastSeparator == nullptr) {
    return false;
  }
  lastSeparator[0] = L'\0';
  return true;
}

// Appends `line` to the log file in UTF-8, after the time in UTC. Nothing can be done about a
// failed write: the exit status still says it all.
void AppendToLog(const WCHAR* logPath, const WCHAR* line, char* utf8, int utf8Size) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, utf8Size - 2, nullptr, nullptr);
  if (bytes <= 0) {
    return;
  }
  // The NUL that was counted makes room for the line's end.
  utf8[bytes - 1] = '\r';
  utf8[bytes] = '\n';
  HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD written = 0;
  static_cast<void>(WriteFile(log, utf8, static_cast<DWORD>(bytes) + 1, &written, nullptr));
  CloseHandle(log);
}

std::atomic<bool> runEnded = false;

// Ctrl+C, Ctrl+Break, a closed console, and for a run as SYSTEM a logoff or a shutdown: the run
// starts no new step and finishes or puts back a swap under way. After the last three Windows ends
// the process once this returns, or a few seconds after it was called: it waits for the run
// meanwhile, and the journal covers whatever is cut short.
BOOL WINAPI OnConsoleControl(DWORD event) {
  SetStopRequest(true);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    for (DWORD waited = 0; !runEnded && waited < 4500; waited += 50) {
      Sleep(50);
    }
  }
  return TRUE;
}

// Written to standard error for a command line that cannot be read.
constexpr const WCHAR* kUsage =
    L"usage: tavelune-update.exe [--silent] [--wait SECONDS] [--from SOURCE] [--log FILE] "
    L"[FOLDER]\n"
    L"Replaces the files of FOLDER (%ProgramW6432%\\Tavelune) with those of SOURCE (the folder\n"
    L"files beside this program), subfolders included, all or none, once tavelune-helper.exe\n"
    L"beside it answers that no Tavelune runs from FOLDER.\n"
    L"  --silent        no notice when Tavelune runs\n"
    L"  --wait SECONDS  while Tavelune runs, ask again every half second, up to SECONDS in all\n"
    L"  --from SOURCE   the folder of new files\n"
    L"  --log FILE      append the run's line to FILE too, in UTF-8, after the time\n"
    L"Exit status: 0 replaced; 10 Tavelune runs; 20 whether it runs cannot be told; 30 nothing\n"
    L"replaced (also for a command line it cannot read, a SOURCE that is missing or empty, and a\n"
    L"SOURCE and FOLDER inside one another); 40 an unfinished update could not be finished or\n"
    L"put back yet, or a journal or marker is not an update's own: run it again.\n";

struct Buffers {
  WCHAR folder[kEnginePathCapacity];
  WCHAR source[kEnginePathCapacity];
  WCHAR helper[kEnginePathCapacity];
  WCHAR scratch[kEnginePathCapacity];
  WCHAR given[kEnginePathCapacity];
  WCHAR logLine[kEnginePathCapacity * 2 + 512];
  char utf8[(kEnginePathCapacity * 2 + 512) * 3];
  UpdateReport report;
};

int Run(int argc, wchar_t* argv[], Buffers& buffers, const WCHAR** logPath) {
  UpdateReport& report = buffers.report;
  CommandLine line;
  bool readable = ReadCommandLine(argc, argv, line);
  *logPath = readable ? line.log : nullptr;
  wcscpy(buffers.folder, readable && line.folder != nullptr ? line.folder : L"-");
  if (!readable) {
    report.reason = L"the command line cannot be read";
    static_cast<void>(fputws(kUsage, stderr));
    return kNothingReplaced;
  }
  if (line.folder != nullptr) {
    wcscpy(buffers.given, line.folder);
  } else {
    DWORD length = GetEnvironmentVariableW(L"ProgramW6432", buffers.scratch, kEnginePathCapacity);
    if (length == 0 || length >= kEnginePathCapacity ||
        !JoinPath(buffers.given, buffers.scratch, L"Tavelune")) {
      report.reason = L"%ProgramW6432% is not set";
      return kNothingReplaced;
    }
  }
  if (!MakeAbsolute(buffers.given, buffers.folder) || !OwnFolder(buffers.scratch) ||
      !JoinPath(buffers.helper, buffers.scratch, L"tavelune-helper.exe")) {
    report.reason = L"a path cannot be made absolute";
    return kNothingReplaced;
  }
  // The default source lies beside this program, as the helper does.
  if (line.source != nullptr) {
    wcscpy(buffers.given, line.source);
  } else if (!JoinPath(buffers.given, buffers.scratch, L"files")) {
    report.reason = L"the source's path is too long";
    return kNothingReplaced;
  }
  if (!MakeAbsolute(buffers.given, buffers.source)) {
    report.reason = L"the source's path cannot be made absolute";
    return kNothingReplaced;
  }
  return UpdateFiles(
      UpdateRequest{buffers.folder, buffers.source, buffers.helper, line.silent, line.waitSeconds},
      report);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  // Run elevated from a folder others can write, it loads system DLLs from System32 only.
  static_cast<void>(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
  auto* buffers =
      static_cast<Buffers*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Buffers)));
  if (buffers == nullptr) {
    return kNothingReplaced;
  }
  static_cast<void>(SetConsoleCtrlHandler(OnConsoleControl, TRUE));
  const WCHAR* logPath = nullptr;
  int status = Run(argc, argv, *buffers, &logPath);
  const UpdateReport& report = buffers->report;
  SYSTEMTIME now;
  GetSystemTime(&now);
  // The time leads only the log file's copy of the line.
  const size_t timeLength = 21;
  int lineLength = swprintf(buffers->logLine, sizeof(buffers->logLine) / sizeof(WCHAR),
                            L"%04u-%02u-%02uT%02u:%02u:%02uZ %ls: %d%ls%ls%ls%ls", now.wYear,
                            now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                            buffers->folder, status, report.reason != nullptr ? L" " : L"",
                            report.reason != nullptr ? report.reason : L"",
                            report.file[0] != L'\0' ? L": " : L"", report.file);
  // The buffer has room for the longest line. One that fails all the same is left out rather than
  // shown cut short: the exit status still says it all.
  if (lineLength >= static_cast<int>(timeLength)) {
    static_cast<void>(fwprintf(stdout, L"%ls\n", buffers->logLine + timeLength));
    if (logPath != nullptr) {
      AppendToLog(logPath, buffers->logLine, buffers->utf8,
                  static_cast<int>(sizeof(buffers->utf8)));
    }
  }
  HeapFree(GetProcessHeap(), 0, buffers);
  runEnded = true;
  return status;
}
