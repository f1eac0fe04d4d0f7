// Copied into test folders as "Tavelune.exe". Tells its starter it is up by writing one byte to
// standard output, then lives until its standard input reaches end of file.
#include <windows.h>

int wmain() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD count = 0;
  const char ready = 'R';
  WriteFile(output, &ready, 1, &count, nullptr);
  char sink[64];
  while (ReadFile(input, sink, sizeof(sink), &count, nullptr) != FALSE && count > 0) {
  }
  return 0;
}
