// Under Wine only: runs the command line after its own name with every file that the command
// writes limited to 200 KiB, and ends with the command's status. A program under Wine is a Linux
// process whose children inherit its limits, and it can ask Linux directly: prlimit64 sets the
// limit, rt_sigaction ignores SIGXFSZ, so that a write past it fails, as on a full disk.
#include <windows.h>

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

int wmain() {
  const unsigned long long limit[2] = {200 * 1024, 200 * 1024};
  const unsigned long long ignore[4] = {1, 0, 0, 0};  // SIG_IGN, no flags, restorer or mask
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION process{};
  wchar_t* command = wcschr(GetCommandLineW() + 1, L'"') + 2;  // past its own quoted name
  if (LinuxCall(302, 0, 1, limit, 0) != 0 ||                   // prlimit64 of RLIMIT_FSIZE
      LinuxCall(13, 25, reinterpret_cast<long long>(ignore), nullptr, 8) != 0 ||  // SIGXFSZ
      CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &startup, &process) == FALSE) {
    return 99;
  }
  DWORD status = 99;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
