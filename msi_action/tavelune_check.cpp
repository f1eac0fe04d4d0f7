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
    L"20, MSIRESTARTMANAGERCONTROL is not DisableShutdown or Disable in the property and in the "
    L"Property table, so Restart Manager could close Tavelune: set it to DisableShutdown";
constexpr const WCHAR* kScriptCheckMisplaced =
    L"20, TaveluneCheckInScript does not run right after InstallInitialize, before every other "
    L"action of the script: sequence it as the block does";
constexpr const WCHAR* kRemovedUnchecked =
    L"20, RemoveExistingProducts comes before InstallFinalize, so the older version could be "
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
// bracket anywhere in the line would be read as a property's name, and braces around one as a
// group that vanishes when a property in it is unset. "[\x]" stands for the character x itself.
bool FormattingReads(WCHAR unit) {
  return unit == L'[' || unit == L']' || unit == L'{' || unit == L'}';
}

SIZE_T EscapedLength(const WCHAR* text) {
  SIZE_T length = 0;
  for (; *text != L'\0'; ++text) {
    length += FormattingReads(*text) ? 4 : 1;
  }
  return length;
}

WCHAR* AppendEscaped(WCHAR* out, const WCHAR* text) {
  for (; *text != L'\0'; ++text) {
    if (FormattingReads(*text)) {
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

// Restart Manager closes nothing under these two. Its setting is the Property table's, changed
// only by a transform or the command line: a custom action that sets the property changes what an
// action reads, not what Restart Manager does, so both must say so.
bool ClosesNothing(const WCHAR* control) {
  return wcscmp(control, L"DisableShutdown") == 0 || wcscmp(control, L"Disable") == 0;
}

bool TableClosesNothing(MSIHANDLE database) {
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewW(database,
                           L"SELECT `Value` FROM `Property` WHERE `Property` = "
                           L"'MSIRESTARTMANAGERCONTROL'",
                           &view) != ERROR_SUCCESS) {
    return false;
  }
  MSIHANDLE record = 0;
  bool closesNothing = false;
  if (MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
    WCHAR control[32];
    DWORD length = 32;
    closesNothing =
        MsiRecordGetStringW(record, 1, control, &length) == ERROR_SUCCESS && ClosesNothing(control);
    MsiCloseHandle(record);
  }
  MsiCloseHandle(view);
  return closesNothing;
}

// Where the script's check and the actions it must keep its place among run; 0 for one that never
// runs (not sequenced, or at 0, below it or Null).
struct ScriptOrder {
  int initialize;
  int finalize;
  int check;
  int removal;
  bool checkAlwaysRuns;    // the check's condition is none, or the block's
  bool actionBeforeCheck;  // another action runs after InstallInitialize, no later than the check
};

// One pass over InstallExecuteSequence. The first notes where the four actions run; the second,
// `between`, which needs their places, whether any other action runs between the first two.
bool ReadScriptOrder(MSIHANDLE database, bool between, ScriptOrder* order) {
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewW(
          database, L"SELECT `Action`, `Sequence`, `Condition` FROM `InstallExecuteSequence`",
          &view) != ERROR_SUCCESS) {
    return false;
  }
  UINT fetched = MsiViewExecute(view, 0);
  while (fetched == ERROR_SUCCESS) {
    MSIHANDLE record = 0;
    fetched = MsiViewFetch(view, &record);
    if (fetched != ERROR_SUCCESS) {
      break;
    }
    // An action's name has at most 72 characters; one that cannot be read is none of the four.
    WCHAR action[80];
    DWORD length = 80;
    if (MsiRecordGetStringW(record, 1, action, &length) != ERROR_SUCCESS) {
      action[0] = L'\0';
    }
    const int sequence = MsiRecordGetInteger(record, 2);  // MSI_NULL_INTEGER, negative, for Null
    const int runsAt = sequence > 0 ? sequence : 0;
    WCHAR condition[32];
    length = 32;
    const bool unconditioned =
        MsiRecordGetStringW(record, 3, condition, &length) == ERROR_SUCCESS &&
        (condition[0] == L'\0' || wcscmp(condition, L"NOT UPGRADINGPRODUCTCODE") == 0);
    MsiCloseHandle(record);
    const bool isCheck = wcscmp(action, L"TaveluneCheckInScript") == 0;
    if (between) {
      order->actionBeforeCheck |= !isCheck && runsAt > order->initialize && runsAt <= order->check;
    } else if (isCheck) {
      order->check = runsAt;
      order->checkAlwaysRuns = unconditioned;
    } else if (wcscmp(action, L"InstallInitialize") == 0) {
      order->initialize = runsAt;
    } else if (wcscmp(action, L"InstallFinalize") == 0) {
      order->finalize = runsAt;
    } else if (wcscmp(action, L"RemoveExistingProducts") == 0) {
      order->removal = runsAt;
    }
  }
  MsiCloseHandle(view);
  return fetched == ERROR_NO_MORE_ITEMS;
}

const WCHAR* FaultInTables(MSIHANDLE database) {
  if (!TableClosesNothing(database)) {
    return kClosesTavelune;
  }
  // The check in the script must come before anything that changes the machine: right after
  // InstallInitialize, with no other action before or beside it.
  ScriptOrder order{};
  if (!ReadScriptOrder(database, false, &order)) {
    return kSequenceUnread;
  }
  if (order.check <= order.initialize || order.initialize == 0 || !order.checkAlwaysRuns) {
    return kScriptCheckMisplaced;
  }
  if (!ReadScriptOrder(database, true, &order)) {
    return kSequenceUnread;
  }
  if (order.actionBeforeCheck) {
    return kScriptCheckMisplaced;
  }
  // The older version's own removal is not checked: it must come after the newer version's
  // script, which the check opens.
  if (order.removal != 0 && (order.finalize == 0 || order.removal <= order.finalize)) {
    return kRemovedUnchecked;
  }
  return nullptr;
}

// Why this package could change Tavelune's files although the checks answer 0, or nullptr.
const WCHAR* PackageFault(MSIHANDLE install) {
  // Restart Manager, when it may, closes the programs that hold the files at InstallValidate,
  // after this check and before the one in the script.
  WCHAR control[32];
  ReadProperty(install, L"MSIRESTARTMANAGERCONTROL", control, 32);
  if (!ClosesNothing(control)) {
    return kClosesTavelune;
  }
  MSIHANDLE database = MsiGetActiveDatabase(install);
  if (database == 0) {
    return kSequenceUnread;
  }
  const WCHAR* fault = FaultInTables(database);
  MsiCloseHandle(database);
  return fault;
}

// Each entry point: where it reads its path from, and whether it also checks the package.
struct Check {
  const WCHAR* action;
  const WCHAR* property;
  const WCHAR* notTavelune;  // what the log says of a path that is not Tavelune.exe's
  bool checksPackage;
};

// The path may need 64 KiB, taken from the heap: the stack of the thread that Windows Installer
// calls an action on is not ours to size.
UINT CheckFromProperty(MSIHANDLE install, const Check& check) {
  HANDLE heap = GetProcessHeap();
  auto* path = static_cast<WCHAR*>(HeapAlloc(heap, 0, kPathCapacity * sizeof(WCHAR)));
  if (path == nullptr) {
    return Refuse(install, check.action, L"", kFoundUndetermined);
  }
  ReadProperty(install, check.property, path, kPathCapacity);
  const WCHAR* fault = check.checksPackage ? PackageFault(install) : nullptr;
  if (fault == nullptr && !IsFullPathOfTavelune(path)) {
    fault = check.notTavelune;
  }
  const UINT result = fault != nullptr ? Refuse(install, check.action, path, fault)
                                       : CheckPath(install, check.action, path);
  HeapFree(heap, 0, path);
  return result;
}

}  // namespace

// Immediate, before anything is changed: TAVELUNEPATH as the package's action TavelunePath has
// formatted it, in a package that lets nothing else change the files under a running Tavelune.
TAVELUNE_ACTION TaveluneCheck(MSIHANDLE install) {
  return CheckFromProperty(install,
                           {L"TaveluneCheck", L"TAVELUNEPATH", kNotTaveluneProperty, true});
}

// Deferred, in the installation script, which shows an action no property of the installation but
// CustomActionData, ProductCode and UserSID: the package sets CustomActionData to TAVELUNEPATH's
// value.
TAVELUNE_ACTION TaveluneCheckInScript(MSIHANDLE install) {
  return CheckFromProperty(
      install, {L"TaveluneCheckInScript", L"CustomActionData", kNotTaveluneData, false});
}
