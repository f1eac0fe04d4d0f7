#include "update_engine/command_line.h"

#include <wchar.h>

namespace {

// Seconds as plain decimal digits, at most a day: anything else is a command line it cannot read.
bool ReadSeconds(const WCHAR* text, DWORD* seconds) {
  *seconds = 0;
  if (*text == L'\0') {
    return false;
  }
  for (; *text != L'\0'; ++text) {
    if (*text < L'0' || *text > L'9' || *seconds > 86400) {
      return false;
    }
    *seconds = *seconds * 10 + static_cast<DWORD>(*text - L'0');
  }
  return *seconds <= 86400;
}

}  // namespace

bool ReadCommandLine(int argc, const wchar_t* const argv[], CommandLine& line) {
  line = CommandLine{false, 0, nullptr, nullptr, nullptr};
  bool waitGiven = false;
  for (int i = 1; i < argc; ++i) {
    bool hasValue = i + 1 < argc;
    if (wcscmp(argv[i], L"--silent") == 0 && !line.silent) {
      line.silent = true;
    } else if (wcscmp(argv[i], L"--wait") == 0 && hasValue && !waitGiven) {
      waitGiven = true;
      if (!ReadSeconds(argv[++i], &line.waitSeconds)) {
        return false;
      }
    } else if (wcscmp(argv[i], L"--from") == 0 && hasValue && line.source == nullptr) {
      line.source = argv[++i];
    } else if (wcscmp(argv[i], L"--log") == 0 && hasValue && line.log == nullptr) {
      line.log = argv[++i];
    } else if (wcsncmp(argv[i], L"--", 2) != 0 && line.folder == nullptr && argv[i][0] != L'\0') {
      line.folder = argv[i];
    } else {
      return false;
    }
  }
  return true;
}
