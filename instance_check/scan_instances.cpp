#include "instance_check/scan_instances.h"

#include <stdio.h>
#include <wchar.h>

#include "platform/platform.h"

namespace {

// Both path buffers hold the longest path Windows can hand out, 32,767 units and the NUL.
constexpr DWORD kPathCapacity = 32768;

constexpr const WCHAR* kImageName = L"Tavelune.exe";

#ifdef _WIN32
static_assert(sizeof(PROCESSENTRY32W) == 568, "x64 layout of the process entry");
#endif

// Folds 'A' to 'Z' only, as the comparison of paths does.
WCHAR LowerAscii(WCHAR unit) {
  return unit >= L'A' && unit <= L'Z' ? static_cast<WCHAR>(unit - L'A' + L'a') : unit;
}

// "\\?\..." and "\??\..." reach the file system exactly as written: CreateFileW and CopyFileW
// complete and normalise neither, while GetFullPathNameW would ("\\?\C:\App.\x" would lose the
// dot that names another folder). Only these two prefixes, spelled with backslashes, are exempt;
// "//?/..." is normalised by the file functions like any other path.
bool IsVerbatim(const wchar_t* path) {
  return path[0] == L'\\' && (path[1] == L'\\' || path[1] == L'?') && path[2] == L'?' &&
         path[3] == L'\\';
}

// Fills `canonicalTarget` with the path that the file functions act on for `path`: a verbatim
// path as it stands, any other as GetFullPathNameW makes it absolute. False when there is none, or
// it does not fit the buffer.
bool MakeAbsolute(const wchar_t* path, WCHAR* canonicalTarget) {
  if (IsVerbatim(path)) {
    for (DWORD i = 0; i < kPathCapacity; ++i) {
      canonicalTarget[i] = path[i];
      if (path[i] == L'\0') {
        return true;
      }
    }
    return false;
  }
  // A result of kPathCapacity or more is the size the path would need: it did not fit, and the
  // buffer holds nothing usable.
  DWORD length = GetFullPathNameW(path, kPathCapacity, canonicalTarget, nullptr);
  return length != 0 && length < kPathCapacity;
}

// The file functions turn "\\?\", "\??\" and "\\.\" alike into the object manager's "\??\". Once a
// device path has been normalised by GetFullPathNameW, and a verbatim one is taken as written, the
// three name the same file; from here on the path is spelled with "\\?\", which GetLongPathNameW
// reads to its full length.
void UseOneNamespacePrefix(WCHAR* canonicalTarget) {
  const bool devicePath = canonicalTarget[0] == L'\\' && canonicalTarget[1] == L'\\' &&
                          canonicalTarget[2] == L'.' && canonicalTarget[3] == L'\\';
  if (IsVerbatim(canonicalTarget) || devicePath) {
    canonicalTarget[1] = L'\\';
    canonicalTarget[2] = L'?';
  }
}

// The part of a path after its "\\?\", if it has one.
WCHAR* WithoutVerbatimPrefix(WCHAR* path) { return IsVerbatim(path) ? path + 4 : path; }

// Windows reports an image path in its plain Win32 form ("C:\...", "\\server\share\..."), but a
// caller may name the same file through the verbatim, NT or device namespace, as long-path code,
// canonicalising libraries and the targets of links do. Returns the plain form of such a path,
// made in place in `canonicalTarget`, or the path itself when it has no prefix. Returns nullptr for
// any other path in those namespaces (a volume GUID, GLOBALROOT, a device): no image path is
// reported in a form that could equal it.
const WCHAR* PlainWin32Form(WCHAR* canonicalTarget) {
  WCHAR* rest = WithoutVerbatimPrefix(canonicalTarget);
  if (rest == canonicalTarget) {
    return canonicalTarget;
  }
  if (LowerAscii(rest[0]) >= L'a' && LowerAscii(rest[0]) <= L'z' && rest[1] == L':' &&
      rest[2] == L'\\') {
    return rest;
  }
  // "UNC\server\share\..." becomes "\\server\share\...": a backslash takes the place of the "C".
  if (LowerAscii(rest[0]) == L'u' && LowerAscii(rest[1]) == L'n' && LowerAscii(rest[2]) == L'c' &&
      rest[3] == L'\\' && rest[4] != L'\0' && rest[4] != L'\\') {
    rest[2] = L'\\';
    return rest + 2;
  }
  return nullptr;
}

// "C:\App\Tavelune.exe::$DATA" names the file itself and "...:name" one of its streams, and the
// file functions accept both; no image path holds a ':' past the drive's. Such a target cannot be
// compared, nor can a ':' elsewhere name a file.
bool HasColonPastTheDrive(const WCHAR* target) {
  const WCHAR* unit = target[0] != L'\0' && target[1] == L':' ? target + 2 : target;
  for (; *unit != L'\0'; ++unit) {
    if (*unit == L':') {
      return true;
    }
  }
  return false;
}

// Windows reports an image path in the spelling the process was started with, 8.3 short names
// included ("C:\PROGRA~1\..."), and a caller may pass either spelling. Both sides are compared in
// their long form. Expands `path` in place; false when that failed or would not fit.
bool ExpandShortNames(WCHAR* path) {
  DWORD length = GetLongPathNameW(path, path, kPathCapacity);
  return length != 0 && length < kPathCapacity;
}

// No file's name holds one of these, and FindFirstFileW, which the expansion may use, reads all
// but "|" as wildcards: a target with one names no file.
bool NamesNoFile(const WCHAR* path) {
  for (const WCHAR* unit = IsVerbatim(path) ? path + 4 : path; *unit != L'\0'; ++unit) {
    if (wcschr(L"*?<>\"|", *unit) != nullptr) {
      return true;
    }
  }
  return false;
}

// Expands the target's short names through `scratch`, so that a failure leaves it as it was. A
// target that names no file, or no file that exists, keeps its spelling: no process can run from
// it. False for any other failure, which leaves the spelling of a running file in doubt.
bool ExpandTarget(WCHAR* canonicalTarget, WCHAR* scratch) {
  if (NamesNoFile(canonicalTarget)) {
    return true;
  }
  DWORD length = GetLongPathNameW(canonicalTarget, scratch, kPathCapacity);
  if (length == 0) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  if (length >= kPathCapacity) {
    return false;
  }
  wmemcpy(canonicalTarget, scratch, length + 1);
  return true;
}

// Opens one candidate and compares its image path with the target. NotRunning means the candidate
// changes nothing: it runs from elsewhere, or it ended after the snapshot was taken.
InstanceStatus InspectCandidate(DWORD processId, const WCHAR* target, WCHAR* imagePath) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) {
    // Yes, this is how OpenProcess reports a process id that names no process any more.
    if (GetLastError() == ERROR_INVALID_PARAMETER) {
      return InstanceStatus::NotRunning;
    }
    return InstanceStatus::Undetermined;
  }

  DWORD length = kPathCapacity;
  if (QueryFullProcessImageNameW(process, 0, imagePath, &length) == FALSE) {
    CloseHandle(process);
    return InstanceStatus::Undetermined;
  }
  CloseHandle(process);

  // As reported first: a match there needs no look-up in the file system.
  if (_wcsicmp(target, imagePath) == 0) {
    return InstanceStatus::Running;
  }
  if (!ExpandShortNames(imagePath)) {
    return InstanceStatus::Undetermined;
  }
  if (_wcsicmp(target, imagePath) == 0) {
    return InstanceStatus::Running;
  }
  return InstanceStatus::NotRunning;
}

}  // namespace

InstanceStatus ScanInstances(const wchar_t* path) {
  WCHAR canonicalTarget[kPathCapacity];
  WCHAR imagePath[kPathCapacity];

  if (!MakeAbsolute(path, canonicalTarget)) {
    return InstanceStatus::Undetermined;
  }
  UseOneNamespacePrefix(canonicalTarget);
  // Before the expansion, which reads the file system: a stream is no file to look up.
  if (HasColonPastTheDrive(WithoutVerbatimPrefix(canonicalTarget)) ||
      !ExpandTarget(canonicalTarget, imagePath)) {
    return InstanceStatus::Undetermined;
  }
  const WCHAR* target = PlainWin32Form(canonicalTarget);
  if (target == nullptr) {
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
  for (;;) {
    if (_wcsicmp(entry.szExeFile, kImageName) == 0) {
      InstanceStatus candidate = InspectCandidate(entry.th32ProcessID, target, imagePath);
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
