#include <wchar.h>

#include "instance_check/instance_status.h"
#include "instance_check/scan_instances.h"
#include "notice/show_notice.h"

// Arguments are counted after the program name. The count is tested before the option, so
// "--error" alone is a path like any other.
int wmain(int argc, wchar_t* argv[]) {
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
