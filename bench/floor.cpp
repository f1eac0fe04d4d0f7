// Does nothing, but is bound at load to the same DLLs as the helper: the cost of starting a
// program like it, which no helper can go below.
#include <windows.h>

int wmain() {
  // Referenced through a volatile pointer so that USER32.dll is bound at load; never called.
  static auto* volatile keepUser32 = &MessageBoxW;
  static_cast<void>(keepUser32);
  return 0;
}
