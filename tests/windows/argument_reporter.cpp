// Started in the helper's place by the caller-kit tests. Writes the arguments it received, as
// msvcrt split them, to the file that TAVELUNE_REPORT names (UTF-16, each one followed by a NUL),
// writes what TAVELUNE_REPORT_OUTPUT holds to standard output, then ends with the status that
// TAVELUNE_REPORT_STATUS gives (0 when it is unset). A list there, "0,10", answers run by run, the
// last one repeating; TAVELUNE_REPORT.calls gets a letter a run: c for a check, n for the rest.
// Where TAVELUNE_REPORT_HANDLE names a handle value of its starter's, it writes to that handle,
// which reaches the starter only if the handle was inherited; and it says in
// TAVELUNE_REPORT.console whether it has a console, and whether that console has a window.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t* argv[]) {
  wchar_t path[MAX_PATH] = L"";
  DWORD length = GetEnvironmentVariableW(L"TAVELUNE_REPORT", path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    for (int i = 1; i < argc; ++i) {
      DWORD written = 0;
      WriteFile(file, argv[i], static_cast<DWORD>((wcslen(argv[i]) + 1) * sizeof(wchar_t)),
                &written, nullptr);
    }
    CloseHandle(file);
  }
  wchar_t handle[32];
  length = GetEnvironmentVariableW(L"TAVELUNE_REPORT_HANDLE", handle, 32);
  if (length > 0 && length < 32) {
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(wcstoull(handle, nullptr, 10))),
              "inherited", 9, &written, nullptr);
    const char* console = GetConsoleCP() == 0             ? "no console"
                          : GetConsoleWindow() != nullptr ? "a console window"
                                                          : "a console, no window";
    const std::wstring consoleReport = std::wstring(path) + L".console";
    HANDLE file =
        CreateFileW(consoleReport.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    WriteFile(file, console, static_cast<DWORD>(strlen(console)), &written, nullptr);
    CloseHandle(file);
  }
  // As a test program would, it can print: what TAVELUNE_REPORT_OUTPUT holds.
  char output[4096];
  length = GetEnvironmentVariableA("TAVELUNE_REPORT_OUTPUT", output, sizeof(output));
  if (length > 0 && length < sizeof(output)) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), output, length, &written, nullptr);
  }
  HANDLE calls = CreateFileW((std::wstring(path) + L".calls").c_str(), FILE_APPEND_DATA, 0, nullptr,
                             OPEN_ALWAYS, 0, nullptr);
  DWORD runsBefore = GetFileSize(calls, nullptr);
  DWORD written = 0;
  WriteFile(calls, argc == 2 ? "c" : "n", 1, &written, nullptr);
  CloseHandle(calls);
  wchar_t status[64] = L"0";
  GetEnvironmentVariableW(L"TAVELUNE_REPORT_STATUS", status, 64);
  const wchar_t* answer = status;
  for (; runsBefore > 0 && wcschr(answer, L',') != nullptr; --runsBefore) {
    answer = wcschr(answer, L',') + 1;
  }
  return static_cast<int>(wcstoul(answer, nullptr, 10));
}
