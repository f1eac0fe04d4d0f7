#include "instance_check/path_spelling.h"

#include <wchar.h>

namespace {

// Folds 'A' to 'Z' only, as the comparison of paths does.
WCHAR LowerAscii(WCHAR unit) {
  return unit >= L'A' && unit <= L'Z' ? static_cast<WCHAR>(unit - L'A' + L'a') : unit;
}

bool IsDriveRoot(const WCHAR* path) {
  return LowerAscii(path[0]) >= L'a' && LowerAscii(path[0]) <= L'z' && path[1] == L':' &&
         path[2] == L'\\';
}

// "\\?\..." and "\??\..." reach the file system exactly as written: CreateFileW and CopyFileW
// complete and normalise neither, while GetFullPathNameW would ("\\?\C:\App.\x" would lose the
// dot that names another folder). Only these two prefixes, spelled with backslashes, are exempt;
// "//?/..." is normalised by the file functions like any other path.
bool IsVerbatim(const wchar_t* path) {
  return path[0] == L'\\' && (path[1] == L'\\' || path[1] == L'?') && path[2] == L'?' &&
         path[3] == L'\\';
}

// "\\server\share\...": a server name follows, not the "?" or "." of a namespace.
bool IsUnc(const WCHAR* path) {
  return path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\0' && path[2] != L'\\' &&
         !((path[2] == L'?' || path[2] == L'.') && path[3] == L'\\');
}

// The path that the file functions act on for `path`: a verbatim path as it stands, any other as
// GetFullPathNameW makes it absolute. False when there is none, or it does not fit the buffer.
bool MakeAbsolute(const wchar_t* path, WCHAR* target) {
  if (IsVerbatim(path)) {
    for (DWORD i = 0; i < kPathCapacity; ++i) {
      target[i] = path[i];
      if (path[i] == L'\0') {
        return true;
      }
    }
    return false;
  }
  // A result of kPathCapacity or more is the size the path would need: it did not fit, and the
  // buffer holds nothing usable.
  DWORD length = GetFullPathNameW(path, kPathCapacity, target, nullptr);
  return length != 0 && length < kPathCapacity;
}

// The file functions turn "\\?\", "\??\" and "\\.\" alike into the object manager's "\??\". Once a
// device path has been normalised by GetFullPathNameW, and a verbatim one is taken as written, the
// three name the same file.
void UseOneNamespacePrefix(WCHAR* target) {
  const bool devicePath =
      target[0] == L'\\' && target[1] == L'\\' && target[2] == L'.' && target[3] == L'\\';
  if (IsVerbatim(target) || devicePath) {
    target[1] = L'\\';
    target[2] = L'?';
  }
}

// Windows reports an image path in its plain Win32 form ("C:\...", "\\server\share\..."), but a
// caller may name the same file through the verbatim, NT or device namespace, as long-path code,
// canonicalising libraries and the targets of links do. Returns the plain form of such a path,
// made in place, or the path itself when it has no prefix. Returns nullptr for any other path in
// those namespaces (a volume GUID, GLOBALROOT, a device): no image path is reported in a form that
// could equal it.
const WCHAR* PlainWin32Form(WCHAR* target) {
  if (!IsVerbatim(target)) {
    return target;
  }
  WCHAR* rest = target + 4;
  if (IsDriveRoot(rest)) {
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
  return wcschr(unit, L':') != nullptr;
}

// No file's name holds one of these, and FindFirstFileW, which the expansion may use, reads all
// but "|" as wildcards: a target with one names no file.
bool NamesNoFile(const WCHAR* path) { return wcspbrk(path, L"*?<>\"|") != nullptr; }

// How many units of `path` name its drive ("C:") or share ("\\server\share"); 0 for neither.
size_t VolumeLength(const WCHAR* path) {
  if (IsDriveRoot(path)) {
    return 2;
  }
  if (!IsUnc(path)) {
    return 0;
  }
  const WCHAR* share = wcschr(path + 2, L'\\');
  if (share == nullptr || share[1] == L'\0' || share[1] == L'\\') {
    return 0;
  }
  const WCHAR* end = wcschr(share + 1, L'\\');
  return end != nullptr ? static_cast<size_t>(end - path) : wcslen(path);
}

// Moves the rest of `path` from `from` to `to`, its NUL included.
void ShiftTail(WCHAR* path, size_t from, size_t to) {
  wmemmove(path + to, path + from, wcslen(path + from) + 1);
}

// Looks the plain path in `path` up in its long form, in place, through its "\\?\" spelling:
// without it, a path of MAX_PATH units or more is no file to GetLongPathNameW. Returns 0, or why
// it failed.
DWORD LookUpLongForm(WCHAR* path) {
  const bool unc = IsUnc(path);
  if (!unc && !IsDriveRoot(path)) {
    return ERROR_INVALID_NAME;
  }
  // "C:\..." becomes "\\?\C:\..."; "\\server\..." becomes "\\?\UNC\server\...", its first
  // backslash giving way to the prefix.
  const WCHAR* prefix = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
  const size_t prefixLength = wcslen(prefix);
  const size_t dropped = unc ? 1 : 0;
  if (wcslen(path) - dropped + prefixLength >= kPathCapacity) {
    return ERROR_FILENAME_EXCED_RANGE;
  }
  ShiftTail(path, dropped, prefixLength);
  for (size_t i = 0; i < prefixLength; ++i) {
    path[i] = prefix[i];
  }

  DWORD length = GetLongPathNameW(path, path, kPathCapacity);
  if (length == 0) {
    return GetLastError();
  }
  if (length >= kPathCapacity) {
    return ERROR_FILENAME_EXCED_RANGE;
  }
  // Back to the plain form, which is what an image path is compared in.
  const WCHAR* plain = PlainWin32Form(path);
  if (plain == nullptr) {
    return ERROR_INVALID_NAME;
  }
  ShiftTail(path, static_cast<size_t>(plain - path), 0);
  return 0;
}

}  // namespace

bool MakeComparableTarget(const wchar_t* path, WCHAR* target) {
  if (!MakeAbsolute(path, target)) {
    return false;
  }
  UseOneNamespacePrefix(target);
  if (HasColonPastTheDrive(IsVerbatim(target) ? target + 4 : target)) {
    return false;
  }
  const WCHAR* plain = PlainWin32Form(target);
  if (plain == nullptr) {
    return false;
  }
  // At the start of the buffer, where its expansion is made in place.
  ShiftTail(target, static_cast<size_t>(plain - target), 0);
  return true;
}

bool IsOnAnotherVolume(const WCHAR* target, const WCHAR* imagePath) {
  const size_t length = VolumeLength(target);
  const size_t imageLength = VolumeLength(imagePath);
  if (length == 0 || imageLength == 0) {
    return false;
  }
  if (length != imageLength) {
    return true;
  }
  for (size_t i = 0; i < length; ++i) {
    if (LowerAscii(target[i]) != LowerAscii(imagePath[i])) {
      return true;
    }
  }
  return false;
}

TargetLookUp ExpandTarget(WCHAR* target, WCHAR* scratch) {
  if (NamesNoFile(target)) {
    return TargetLookUp::Done;
  }
  const size_t length = wcslen(target);
  wmemcpy(scratch, target, length + 1);
  const DWORD error = LookUpLongForm(scratch);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return TargetLookUp::Done;
  }
  if (error != 0) {
    return TargetLookUp::Failed;
  }
  wmemcpy(target, scratch, wcslen(scratch) + 1);
  return TargetLookUp::Done;
}

bool ExpandImagePath(WCHAR* imagePath) { return LookUpLongForm(imagePath) == 0; }
