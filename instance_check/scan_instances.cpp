#include "instance_check/scan_instances.h"

#include <stdio.h>
#include <wchar.h>

#include "instance_check/path_spelling.h"
#include "platform/platform.h"

namespace {

constexpr const WCHAR* kImageName = L"Tavelune.exe";

#ifdef _WIN32
static_assert(sizeof(PROCESSENTRY32W) == 568, "x64 layout of the process entry");
#endif

bool ReadImagePath(HANDLE process, WCHAR* imagePath) {
  DWORD length = kPathCapacity;
  return QueryFullProcessImageNameW(process, 0, imagePath, &length) != FALSE;
}

// Compares an opened candidate's image path with the target. Short names are looked up only where
// they can change the answer: a path as reported that equals the target needs none, and one on
// another drive or share cannot be the target's file whatever its names.
InstanceStatus CompareImagePath(HANDLE process, WCHAR* target, TargetLookUp& lookUp,
                                WCHAR* imagePath) {
  if (!ReadImagePath(process, imagePath)) {
    return InstanceStatus::Undetermined;
  }
  if (_wcsicmp(target, imagePath) == 0) {
    return InstanceStatus::Running;
  }
  if (IsOnAnotherVolume(target, imagePath)) {
    return InstanceStatus::NotRunning;
  }
  if (lookUp == TargetLookUp::NotYet) {
    // The image path is the scratch of the target's look-up, and is read again after it.
    lookUp = ExpandTarget(target, imagePath);
    if (!ReadImagePath(process, imagePath)) {
      return InstanceStatus::Undetermined;
    }
    if (_wcsicmp(target, imagePath) == 0) {
      return InstanceStatus::Running;
    }
  }
  if (!ExpandImagePath(imagePath)) {
    return InstanceStatus::Undetermined;
  }
  if (_wcsicmp(target, imagePath) == 0) {
    return InstanceStatus::Running;
  }
  // Without the target's long form, another spelling may still name its file.
  return lookUp == TargetLookUp::Failed ? InstanceStatus::Undetermined : InstanceStatus::NotRunning;
}

// Opens one candidate and compares its image path with the target. NotRunning means the candidate
// changes nothing: it runs from elsewhere, or it ended after the snapshot was taken.
InstanceStatus InspectCandidate(DWORD processId, WCHAR* target, TargetLookUp& lookUp,
                                WCHAR* imagePath) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) {
    // Yes, this is how OpenProcess reports a process id that names no process any more.
    if (GetLastError() == ERROR_INVALID_PARAMETER) {
      return InstanceStatus::NotRunning;
    }
    return InstanceStatus::Undetermined;
  }
  InstanceStatus status = CompareImagePath(process, target, lookUp, imagePath);
  CloseHandle(process);
  return status;
}

}  // namespace

InstanceStatus ScanInstances(const wchar_t* path) {
  WCHAR target[kPathCapacity];
  WCHAR imagePath[kPathCapacity];

  if (!MakeComparableTarget(path, target)) {
    return InstanceStatus::Undetermined;
  }

  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return InstanceStatus::Undetermined;
  }

  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (Process32FirstW(snapshot, &entry) == FALSE) {
    CloseHandle(snapshot);
    return InstanceStatus::Undetermined;
  }

  InstanceStatus status = InstanceStatus::NotRunning;
  TargetLookUp lookUp = TargetLookUp::NotYet;
  for (;;) {
    if (_wcsicmp(entry.szExeFile, kImageName) == 0) {
      InstanceStatus candidate = InspectCandidate(entry.th32ProcessID, target, lookUp, imagePath);
      if (candidate == InstanceStatus::Running) {
        status = InstanceStatus::Running;
        break;
      }
      if (candidate == InstanceStatus::Undetermined) {
        status = InstanceStatus::Undetermined;
      }
    }

    // FALSE means the end of the list only with ERROR_NO_MORE_FILES. Any other error leaves part
    // of the list unread, and a candidate there could be running from the target.
    if (Process32NextW(snapshot, &entry) == FALSE) {
      if (GetLastError() != ERROR_NO_MORE_FILES) {
        status = InstanceStatus::Undetermined;
      }
      break;
    }
  }
  CloseHandle(snapshot);

  // Nothing could be done about a failed write: the status still says it all.
  if (status == InstanceStatus::Undetermined) {
    static_cast<void>(
        fwprintf(stderr, L"Der Status laufender Tavelune-Prozesse ist nicht sicher bestimmbar.\n"));
  }
  return status;
}
