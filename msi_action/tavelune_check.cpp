// Windows Installer's way to ask whether Tavelune runs: two custom action entry points over the
// same scan the helper makes. Each reads the path, refuses a path or a package under which the
// answer could not keep Tavelune's files unchanged, scans, writes one line to the installation log
// that says what was checked and what was found, and lets the installation go on only when no
// Tavelune process runs from that path.
#include "instance_check/path_spelling.h"
#include "instance_check/scan_instances.h"
#include "integration/c/tavelune_helper_client.h"
#include "platform/platform.h"

#include <wchar.h>

#ifdef _WIN32
#define TAVELUNE_ACTION extern "C" __declspec(dllexport) UINT WINAPI
#else
#define TAVELUNE_ACTION extern "C" UINT
#endif

namespace {

constexpr const WCHAR* kImmediate = L"TaveluneCheck";
constexpr const WCHAR* kInScript = L"TaveluneCheckInScript";

// What the user is told where the user interface allows: the helper's own words.
constexpr const WCHAR* kRunningText =
    L"Tavelune l\u00E4uft noch. Bitte schlie\u00DFen Sie Tavelune und starten Sie die Installation "
    L"erneut.";
constexpr const WCHAR* kUndeterminedText =
    L"Der Status laufender Tavelune-Prozesse ist nicht sicher bestimmbar.";

// What the log says after the path.
constexpr const WCHAR* kFoundNone = L"0, no Tavelune process runs from it";
constexpr const WCHAR* kFoundRunning = L"10, a Tavelune process runs from it";
constexpr const WCHAR* kFoundUndetermined =
    L"20, Der Status laufender Tavelune-Prozesse ist nicht sicher bestimmbar.";
constexpr const WCHAR* kNotTaveluneProperty =
    L"20, not the full path of Tavelune.exe: set TAVELUNEPATH to it in the action TavelunePath, as "
    L"[YOURFOLDER]Tavelune.exe with your package's folder property";
constexpr const WCHAR* kNotTaveluneData =
    L"20, not the full path of Tavelune.exe: TaveluneCheckInScript.Path must set this action's "
    L"data to [TAVELUNEPATH] before the script runs";
constexpr const WCHAR* kClosesTavelune =
    L"20, MSIRESTARTMANAGERCONTROL is neither DisableShutdown nor Disable, so Restart Manager "
    L"could close Tavelune: set it to DisableShutdown";
constexpr const WCHAR* kNoScriptCheck =
    L"20, TaveluneCheckInScript is not in InstallExecuteSequence: a Tavelune started after this "
    L"check would go unseen; sequence it right after InstallInitialize";
constexpr const WCHAR* kRemovedUnchecked =
    L"20, RemoveExistingProducts comes before TaveluneCheckInScript, so the older version would be "
    L"removed unchecked: sequence it after InstallFinalize";
constexpr const WCHAR* kSequenceUnread = L"20, InstallExecuteSequence could not be read";

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

// Windows Installer puts a record's fields into its template and then formats the whole, so a
// bracket anywhere in the line would be read as a property's name. "[\[]" and "[\]]" stand for
// the brackets themselves.
SIZE_T EscapedLength(const WCHAR* text) {
  SIZE_T length = 0;
  for (; *text != L'\0'; ++text) {
    length += *text == L'[' || *text == L']' ? 4 : 1;
  }
  return length;
}

WCHAR* AppendEscaped(WCHAR* out, const WCHAR* text) {
  for (; *text != L'\0'; ++text) {
    if (*text == L'[' || *text == L']') {
      *out++ = L'[';
      *out++ = L'\\';
      *out++ = *text;
      *out++ = L']';
    } else {
      *out++ = *text;
    }
  }
  return out;
}

// Writes "ACTION: PATH: FOUND" to the log, every character as it stands.
void Log(MSIHANDLE install, const WCHAR* action, const WCHAR* path, const WCHAR* found) {
  const SIZE_T length = EscapedLength(action) + EscapedLength(path) + EscapedLength(found) + 5;
  HANDLE heap = GetProcessHeap();
  auto* line = static_cast<WCHAR*>(HeapAlloc(heap, 0, length * sizeof(WCHAR)));
  if (line == nullptr) {
    return;
  }
  WCHAR* end = AppendEscaped(line, action);
  end = AppendEscaped(end, L": ");
  end = AppendEscaped(end, path);
  end = AppendEscaped(end, L": ");
  end = AppendEscaped(end, found);
  *end = L'\0';
  MSIHANDLE record = MsiCreateRecord(0);
  if (record != 0) {
    MsiRecordSetStringW(record, 0, line);
    // What the action returns stops the installation; the message's own answer changes nothing.
    static_cast<void>(MsiProcessMessage(install, INSTALLMESSAGE_INFO, record));
    MsiCloseHandle(record);
  }
  HeapFree(heap, 0, line);
}

// Windows Installer shows the error where the user interface allows, and only logs it otherwise.
// Neither text has brackets, so each can be the template itself.
void TellTheUser(MSIHANDLE install, const WCHAR* text) {
  MSIHANDLE record = MsiCreateRecord(0);
  if (record == 0) {
    return;
  }
  MsiRecordSetStringW(record, 0, text);
  // An OK button (MB_OK is 0) and the error icon.
  static_cast<void>(MsiProcessMessage(
      install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_ICONERROR), record));
  MsiCloseHandle(record);
}

UINT Refuse(MSIHANDLE install, const WCHAR* action, const WCHAR* path, const WCHAR* why) {
  Log(install, action, path, why);
  TellTheUser(install, kUndeterminedText);
  return ERROR_INSTALL_FAILURE;
}

UINT CheckPath(MSIHANDLE install, const WCHAR* action, const WCHAR* path) {
  switch (ScanWithKnownStack(path)) {
    case InstanceStatus::NotRunning:
      Log(install, action, path, kFoundNone);
      return ERROR_SUCCESS;
    case InstanceStatus::Running:
      Log(install, action, path, kFoundRunning);
      TellTheUser(install, kRunningText);
      return ERROR_INSTALL_FAILURE;
    case InstanceStatus::Undetermined:
      break;
  }
  return Refuse(install, action, path, kFoundUndetermined);
}

// A property's value as it stands, or an empty one when it cannot be read whole.
void ReadProperty(MSIHANDLE install, const WCHAR* name, WCHAR* value, DWORD capacity) {
  DWORD length = capacity;
  if (MsiGetPropertyW(install, name, value, &length) != ERROR_SUCCESS) {
    value[0] = L'\0';
  }
}

// Only the full path of Tavelune.exe can name the file that runs. A bare name or any other
// relative path would be completed from msiexec's current folder, and a folder or another file
// names no process's image: either would answer 0 while Tavelune runs.
bool IsFullPathOfTavelune(const WCHAR* path) {
  return TaveluneHelper_IsAbsolute(path) != FALSE && TaveluneHelper_NamesTavelune(path) != FALSE;
}

// The sequence number of the action that `query` selects, and whether the package has it.
bool ReadSequence(MSIHANDLE database, const WCHAR* query, bool* found, int* sequence) {
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewW(database, query, &view) != ERROR_SUCCESS) {
    return false;
  }
  MSIHANDLE record = 0;
  UINT fetched = ERROR_FUNCTION_FAILED;
  if (MsiViewExecute(view, 0) == ERROR_SUCCESS) {
    fetched = MsiViewFetch(view, &record);
  }
  MsiCloseHandle(view);
  if (fetched == ERROR_NO_MORE_ITEMS) {
    *found = false;
    return true;
  }
  if (fetched != ERROR_SUCCESS) {
    return false;
  }
  *found = true;
  *sequence = MsiRecordGetInteger(record, 1);
  MsiCloseHandle(record);
  return true;
}

// Why this package could change Tavelune's files although the checks answer 0, or nullptr.
const WCHAR* PackageFault(MSIHANDLE install) {
  // Restart Manager, when it may, closes the programs that hold the files at InstallValidate,
  // after this check and before the one in the script.
  WCHAR control[32];
  ReadProperty(install, L"MSIRESTARTMANAGERCONTROL", control, 32);
  if (wcscmp(control, L"DisableShutdown") != 0 && wcscmp(control, L"Disable") != 0) {
    return kClosesTavelune;
  }
  // The older version's removal is not checked: it must come after the newer version's check in
  // the script, not before it.
  MSIHANDLE database = MsiGetActiveDatabase(install);
  if (database == 0) {
    return kSequenceUnread;
  }
  bool hasCheck = false;
  bool hasRemoval = false;
  int check = 0;
  int removal = 0;
  const bool read = ReadSequence(database,
                                 L"SELECT `Sequence` FROM `InstallExecuteSequence` WHERE "
                                 L"`Action` = 'TaveluneCheckInScript'",
                                 &hasCheck, &check) &&
                    ReadSequence(database,
                                 L"SELECT `Sequence` FROM `InstallExecuteSequence` WHERE "
                                 L"`Action` = 'RemoveExistingProducts'",
                                 &hasRemoval, &removal);
  MsiCloseHandle(database);
  if (!read) {
    return kSequenceUnread;
  }
  if (!hasCheck) {
    return kNoScriptCheck;
  }
  if (hasRemoval && removal <= check) {
    return kRemovedUnchecked;
  }
  return nullptr;
}

}  // namespace

// Immediate, before anything is changed: TAVELUNEPATH as the package's action TavelunePath has
// formatted it, in a package that lets nothing else change the files under a running Tavelune.
TAVELUNE_ACTION TaveluneCheck(MSIHANDLE install) {
  WCHAR path[kPathCapacity];
  ReadProperty(install, L"TAVELUNEPATH", path, kPathCapacity);
  const WCHAR* fault = PackageFault(install);
  if (fault != nullptr) {
    return Refuse(install, kImmediate, path, fault);
  }
  if (!IsFullPathOfTavelune(path)) {
    return Refuse(install, kImmediate, path, kNotTaveluneProperty);
  }
  return CheckPath(install, kImmediate, path);
}

// Deferred, in the installation script: a deferred action reads nothing but CustomActionData,
// which the package sets to TAVELUNEPATH's value.
TAVELUNE_ACTION TaveluneCheckInScript(MSIHANDLE install) {
  WCHAR path[kPathCapacity];
  ReadProperty(install, L"CustomActionData", path, kPathCapacity);
  if (!IsFullPathOfTavelune(path)) {
    return Refuse(install, kInScript, path, kNotTaveluneData);
  }
  return CheckPath(install, kInScript, path);
}
