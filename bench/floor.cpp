// Does nothing, but is bound at load to the same DLLs as the helper: the cost of starting a
// program like it, which no helper can go below.
#include <windows.h>

int wmain() {
  // Referenced through volatile pointers so that they are bound at load, as the helper's imports
  // are; never called.
  static auto* volatile keepUser32 = &MessageBoxW;
  static auto* volatile keepLongPath = &GetLongPathNameW;
  static auto* volatile keepSession = &ProcessIdToSessionId;
  static_cast<void>(keepUser32);
  static_cast<void>(keepLongPath);
  static_cast<void>(keepSession);
  return 0;
}
