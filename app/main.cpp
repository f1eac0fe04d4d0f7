#include <wchar.h>

#include "instance_check/instance_status.h"
#include "instance_check/scan_instances.h"
#include "notice/show_notice.h"
#include "platform/platform.h"

// Arguments are counted after the program name. The count is tested before the option, so
// "--error" alone is a path like any other.
int wmain(int argc, wchar_t* argv[]) {
  // Updaters often run elevated and start the helper from a folder that others can write. From
  // here on, a DLL that the system loads by name (USER32 does so while it shows the notice) comes
  // from System32 only, never from the helper's folder or the current one. Where the call fails
  // there is nothing better to do than go on as before.
  static_cast<void>(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));

  if (argc == 3) {
    if (wcscmp(argv[1], L"--error") != 0) {
      return static_cast<int>(InstanceStatus::Undetermined);
    }
    ShowNotice(argv[2]);
    return 0;
  }
  if (argc == 2) {
    return static_cast<int>(ScanInstances(argv[1]));
  }
  return static_cast<int>(InstanceStatus::Undetermined);
}
