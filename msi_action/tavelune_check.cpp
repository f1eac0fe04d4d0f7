// Windows Installer's way to ask whether Tavelune runs: two custom action entry points over the
// same scan the helper makes. Each reads the path, scans, writes one line to the installation log
// that says what was checked and what was found, and lets the installation go on only when no
// Tavelune process runs from that path.
#include "instance_check/path_spelling.h"
#include "instance_check/scan_instances.h"
#include "platform/platform.h"

#ifdef _WIN32
#define TAVELUNE_ACTION extern "C" __declspec(dllexport) UINT WINAPI
#else
#define TAVELUNE_ACTION extern "C" UINT
#endif

namespace {

// Checked when the package leaves TAVELUNEPATH empty.
constexpr const WCHAR* kDefaultPath = L"[INSTALLDIR]Tavelune.exe";

constexpr const WCHAR* kRunningText =
    L"Tavelune l\u00E4uft noch. Bitte schlie\u00DFen Sie Tavelune und starten Sie die Installation "
    L"erneut.";

// The scan keeps two paths of 64 KiB each on its stack. Windows Installer calls an action on a
// thread of its own, whose reservation is the host's choice; the scan gets one that is known.
constexpr SIZE_T kScanStack = SIZE_T{512} * 1024;

struct Scan {
  const WCHAR* path;
  InstanceStatus status;
};

DWORD WINAPI ScanOnItsOwnStack(void* parameter) {
  Scan* scan = static_cast<Scan*>(parameter);
  scan->status = ScanInstances(scan->path);
  return 0;
}

InstanceStatus ScanWithKnownStack(const WCHAR* path) {
  Scan scan{path, InstanceStatus::Undetermined};
  HANDLE thread = CreateThread(nullptr, kScanStack, ScanOnItsOwnStack, &scan,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    return InstanceStatus::Undetermined;
  }
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return scan.status;
}

// Writes one line to the log: the action, the path it checked, and what it found. The three go
// in as the record's fields, which are not formatted again, so brackets in a path stay as they are.
void Log(MSIHANDLE install, const WCHAR* action, const WCHAR* path, const WCHAR* found) {
  MSIHANDLE record = MsiCreateRecord(3);
  if (record == 0) {
    return;
  }
  MsiRecordSetStringW(record, 0, L"[1]: [2]: [3]");
  MsiRecordSetStringW(record, 1, action);
  MsiRecordSetStringW(record, 2, path);
  MsiRecordSetStringW(record, 3, found);
  // What the action returns stops the installation; the message's own answer changes nothing.
  static_cast<void>(MsiProcessMessage(install, INSTALLMESSAGE_INFO, record));
  MsiCloseHandle(record);
}

// Windows Installer shows the error where the user interface allows, and only logs it otherwise.
// The text has no brackets, so it can be the template itself.
void TellTheUser(MSIHANDLE install) {
  MSIHANDLE record = MsiCreateRecord(0);
  if (record == 0) {
    return;
  }
  MsiRecordSetStringW(record, 0, kRunningText);
  // An OK button (MB_OK is 0) and the error icon.
  static_cast<void>(MsiProcessMessage(
      install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_ICONERROR), record));
  MsiCloseHandle(record);
}

UINT CheckPath(MSIHANDLE install, const WCHAR* action, const WCHAR* path) {
  switch (ScanWithKnownStack(path)) {
    case InstanceStatus::NotRunning:
      Log(install, action, path, L"0, no Tavelune process runs from it");
      return ERROR_SUCCESS;
    case InstanceStatus::Running:
      Log(install, action, path, L"10, a Tavelune process runs from it");
      TellTheUser(install);
      return ERROR_INSTALL_FAILURE;
    case InstanceStatus::Undetermined:
      break;
  }
  Log(install, action, path,
      L"20, Der Status laufender Tavelune-Prozesse ist nicht sicher bestimmbar.");
  return ERROR_INSTALL_FAILURE;
}

}  // namespace

// Immediate: before anything is changed. The path is TAVELUNEPATH, or the default when that is
// empty, formatted with the installation's properties. A path that cannot be read is none, which
// the scan answers with 20.
TAVELUNE_ACTION TaveluneCheck(MSIHANDLE install) {
  WCHAR path[kPathCapacity];
  DWORD length = kPathCapacity;
  bool read = false;
  MSIHANDLE record = MsiCreateRecord(0);
  if (record != 0 && MsiGetPropertyW(install, L"TAVELUNEPATH", path, &length) == ERROR_SUCCESS &&
      MsiRecordSetStringW(record, 0, length == 0 ? kDefaultPath : path) == ERROR_SUCCESS) {
    // The record holds its own copy of the template, so the path is formatted in its place.
    length = kPathCapacity;
    read = MsiFormatRecordW(install, record, path, &length) == ERROR_SUCCESS;
  }
  if (record != 0) {
    MsiCloseHandle(record);
  }
  return CheckPath(install, L"TaveluneCheck", read ? path : L"");
}

// Deferred, in the installation script: a deferred action reads nothing but CustomActionData,
// which the package sets to the formatted path.
TAVELUNE_ACTION TaveluneCheckInScript(MSIHANDLE install) {
  WCHAR path[kPathCapacity];
  DWORD length = kPathCapacity;
  const bool read = MsiGetPropertyW(install, L"CustomActionData", path, &length) == ERROR_SUCCESS;
  return CheckPath(install, L"TaveluneCheckInScript", read ? path : L"");
}
