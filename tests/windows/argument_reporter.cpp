// Started in the helper's place by the caller-kit tests. Writes the arguments it received, as
// msvcrt split them, to the file that TAVELUNE_REPORT names (UTF-16, each one followed by a NUL),
// then ends with the status that TAVELUNE_REPORT_STATUS gives (0 when it is unset).
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t* argv[]) {
  wchar_t path[MAX_PATH];
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
  wchar_t status[16] = L"0";
  GetEnvironmentVariableW(L"TAVELUNE_REPORT_STATUS", status, 16);
  return static_cast<int>(wcstoul(status, nullptr, 10));
}
