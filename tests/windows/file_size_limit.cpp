// Under Wine only: runs the command line it is given with each file that the command writes
// limited to 200 KiB, and ends with the command's exit status. A write past the limit fails, as on
// a full disk. Under Wine a program is a Linux process whose limits its children inherit, and it
// can ask Linux directly: prlimit64 for the limit, rt_sigaction to ignore SIGXFSZ, so that the
// write fails rather than the process.
#include <windows.h>

namespace {

long long LinuxCall(long long number, long long first, long long second, const void* third,
                    long long fourth) {
  long long result = 0;
  register long long tenth asm("r10") = fourth;
  asm volatile("syscall"
               : "=a"(result)
               : "a"(number), "D"(first), "S"(second), "d"(third), "r"(tenth)
               : "rcx", "r11", "memory");
  return result;
}

}  // namespace

int wmain() {
  constexpr long long kPrlimit64 = 302;
  constexpr long long kRtSigaction = 13;
  constexpr long long kFileSizeLimit = 1;    // RLIMIT_FSIZE
  constexpr long long kFileSizeSignal = 25;  // SIGXFSZ
  const unsigned long long limit[2] = {200 * 1024, 200 * 1024};
  const unsigned long long ignore[4] = {1, 0, 0, 0};  // SIG_IGN, no flags, restorer or mask
  if (LinuxCall(kPrlimit64, 0, kFileSizeLimit, limit, 0) != 0 ||
      LinuxCall(kRtSigaction, kFileSizeSignal, reinterpret_cast<long long>(ignore), nullptr,
                sizeof(unsigned long long)) != 0) {
    return 98;
  }
  // The command line after this program's own name, which is quoted.
  wchar_t* command = GetCommandLineW();
  command = wcschr(command + 1, L'"') + 1;
  while (*command == L' ') {
    ++command;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &startup, &process) == FALSE) {
    return 99;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 99;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
