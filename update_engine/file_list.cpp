#include "update_engine/file_list.h"

#include <wchar.h>

#include "update_engine/file_steps.h"

bool AppendEntry(FileList& list, WCHAR mark, const WCHAR* name) {
  size_t nameLength = wcslen(name);
  if (nameLength + 2 > 0x10000000u - list.length) {
    return false;
  }
  DWORD needed = list.length + static_cast<DWORD>(nameLength) + 2;
  if (needed > list.capacity) {
    DWORD capacity = needed > list.capacity * 2 ? needed : list.capacity * 2;
    auto* units = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(WCHAR)));
    if (units == nullptr) {
      return false;
    }
    if (list.units != nullptr) {
      wmemcpy(units, list.units, list.length);
      HeapFree(GetProcessHeap(), 0, list.units);
    }
    list.units = units;
    list.capacity = capacity;
  }
  list.units[list.length] = mark;
  wmemcpy(list.units + list.length + 1, name, nameLength + 1);
  list.length = needed;
  ++list.count;
  return true;
}

void FreeFileList(FileList& list) {
  if (list.units != nullptr) {
    HeapFree(GetProcessHeap(), 0, list.units);
  }
  list = FileList{};
}

DWORD NextEntry(const FileList& list, DWORD at) {
  return at + 1 + static_cast<DWORD>(wcslen(list.units + at + 1)) + 1;
}

bool IsPlainRelativeName(const WCHAR* name) {
  size_t partStart = 0;
  size_t at = 0;
  for (;; ++at) {
    WCHAR unit = name[at];
    if (unit == L'\\' || unit == L'\0') {
      size_t partLength = at - partStart;
      if (partLength == 0 || (partLength == 1 && name[partStart] == L'.') ||
          (partLength == 2 && name[partStart] == L'.' && name[partStart + 1] == L'.')) {
        return false;
      }
      if (unit == L'\0') {
        return true;
      }
      partStart = at + 1;
      continue;
    }
    if (unit < 0x20 || wcschr(L"/:*?\"<>|", unit) != nullptr) {
      return false;
    }
  }
}

bool ListFiles(WCHAR* path, size_t rootLength, FileList& list) {
  size_t length = wcslen(path);
  if (length + 3 >= kEnginePathCapacity) {
    return false;
  }
  wcscpy(path + length, L"\\*");
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(path, &found);
  path[length] = L'\0';
  if (find == INVALID_HANDLE_VALUE) {
    return false;
  }
  bool listed = true;
  do {
    size_t nameLength = wcslen(found.cFileName);
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) {
      continue;
    }
    if (length + 1 + nameLength >= kEnginePathCapacity) {
      listed = false;
      break;
    }
    path[length] = L'\\';
    wmemcpy(path + length + 1, found.cFileName, nameLength + 1);
    // A linked folder is not followed: what it points to is not in the update.
    bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (isFolder ? !isLink && !ListFiles(path, rootLength, list)
                 : !AppendEntry(list, kAddedFile, path + rootLength + 1)) {
      listed = false;
    }
    path[length] = L'\0';
  } while (listed && FindNextFileW(find, &found) != FALSE);
  DWORD error = GetLastError();
  FindClose(find);
  return listed && error == ERROR_NO_MORE_FILES;
}
