#include "update_engine/file_steps.h"

#include <string.h>
#include <wchar.h>

bool IsWorthRetrying(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

namespace {

// Waits one pause and says whether the time for retries is left.
bool PauseBeforeRetry(ULONGLONG started) {
  if (GetTickCount64() - started >= kRetryMilliseconds) {
    return false;
  }
  Sleep(kRetryPauseMilliseconds);
  return true;
}

HANDLE OpenWithRetries(const WCHAR* path, DWORD access, DWORD share, DWORD disposition) {
  ULONGLONG started = GetTickCount64();
  for (;;) {
    HANDLE file =
        CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || !IsWorthRetrying(GetLastError()) ||
        !PauseBeforeRetry(started)) {
      return file;
    }
  }
}

bool WriteAll(HANDLE file, const unsigned char* bytes, DWORD length) {
  while (length > 0) {
    DWORD written = 0;
    if (WriteFile(file, bytes, length, &written, nullptr) == FALSE || written == 0) {
      return false;
    }
    bytes += written;
    length -= written;
  }
  return true;
}

// Reads until `buffer` is full or the file ends, as a short read alone does not say.
bool ReadFull(HANDLE file, unsigned char* buffer, DWORD bufferSize, DWORD* length) {
  *length = 0;
  while (*length < bufferSize) {
    DWORD read = 0;
    if (ReadFile(file, buffer + *length, bufferSize - *length, &read, nullptr) == FALSE) {
      return false;
    }
    if (read == 0) {
      return true;
    }
    *length += read;
  }
  return true;
}

// A 64-bit sum of a file's bytes, and their count. Each whole 8-byte word goes through xxHash64's
// round, each byte after the last word through FNV-1a's step: both change the sum for every change
// of one word or byte, and a copy that differs in more keeps it by a chance of about 2^-64.
struct FileSum {
  ULONGLONG sum;
  ULONGLONG length;
};
constexpr ULONGLONG kSumStart = 0xCBF29CE484222325ull;

ULONGLONG RotateLeft(ULONGLONG value, int bits) { return value << bits | value >> (64 - bits); }

// Adds `bytes` to the sum. The copy and its reading back pass the same pieces (whole buffers,
// then the rest), so both sums see the same words.
void AddToSum(FileSum& file, const unsigned char* bytes, DWORD length) {
  DWORD at = 0;
  for (; at + 8 <= length; at += 8) {
    ULONGLONG word = 0;
    for (int i = 7; i >= 0; --i) {
      word = word << 8 | bytes[at + static_cast<DWORD>(i)];
    }
    file.sum = RotateLeft(file.sum + word * 0xC2B2AE3D27D4EB4Full, 31) * 0x9E3779B185EBCA87ull;
  }
  for (; at < length; ++at) {
    file.sum = (file.sum ^ bytes[at]) * 0x100000001B3ull;
  }
  file.length += length;
}

// Reads `file` from its start: true when it holds what `copied` sums, and where that fitted
// `copiedBytes` (the buffer the copy went through), exactly those bytes.
bool ReadsBackAs(HANDLE file, const FileSum& copied, const unsigned char* copiedBytes,
                 unsigned char* readBack, DWORD bufferSize) {
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0) {
    return false;
  }
  FileSum read{kSumStart, 0};
  for (;;) {
    DWORD length = 0;
    if (!ReadFull(file, readBack, bufferSize, &length)) {
      return false;
    }
    AddToSum(read, readBack, length);
    if (length < bufferSize) {
      break;
    }
  }
  if (read.length != copied.length) {
    return false;
  }
  // Shorter than the buffer, the copy was one read, and so is what came back.
  return copied.length < bufferSize
             ? memcmp(readBack, copiedBytes, static_cast<size_t>(copied.length)) == 0
             : read.sum == copied.sum;
}

}  // namespace

bool JoinPath(WCHAR* out, const WCHAR* folder, const WCHAR* name) {
  size_t folderLength = wcslen(folder);
  size_t nameLength = wcslen(name);
  if (folderLength + 1 + nameLength >= kEnginePathCapacity) {
    return false;
  }
  // Each copy takes its NUL along; the folder's then makes way for the separator.
  wmemcpy(out, folder, folderLength + 1);
  out[folderLength] = L'\\';
  wmemcpy(out + folderLength + 1, name, nameLength + 1);
  return true;
}

bool MakeLongPath(WCHAR* out, const WCHAR* path) {
  const WCHAR* prefix = L"";
  const WCHAR* rest = path;
  if (wcsncmp(path, L"\\\\?\\", 4) == 0 || wcsncmp(path, L"\\\\.\\", 4) == 0) {
    // Already past Win32's parsing, or a device path: as it is.
  } else if (path[0] == L'\\' && path[1] == L'\\') {
    prefix = L"\\\\?\\UNC\\";
    rest = path + 2;
  } else if (path[0] != L'\0' && path[1] == L':' && path[2] == L'\\') {
    prefix = L"\\\\?\\";
  } else {
    return false;
  }
  size_t prefixLength = wcslen(prefix);
  size_t restLength = wcslen(rest);
  while (restLength > 0 && rest[restLength - 1] == L'\\') {
    --restLength;
  }
  if (prefixLength + restLength >= kEnginePathCapacity) {
    return false;
  }
  wmemcpy(out, prefix, prefixLength);
  wmemcpy(out + prefixLength, rest, restLength);
  out[prefixLength + restLength] = L'\0';
  return true;
}

bool IsFolderOrRoot(WCHAR* scratch, const WCHAR* path) {
  bool isVolume = wcslen(path) == 6 && path[5] == L':';
  return isVolume ? JoinPath(scratch, path, L"") && IsFolder(scratch) : IsFolder(path);
}

bool PathExists(const WCHAR* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const WCHAR* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Without MOVEFILE_REPLACE_EXISTING a rename never lands on a file that is there.
DWORD RenameDurably(const WCHAR* from, const WCHAR* to) {
  ULONGLONG started = GetTickCount64();
  for (;;) {
    if (MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH) != FALSE) {
      return 0;
    }
    DWORD error = GetLastError();
    if (!IsWorthRetrying(error) || !PauseBeforeRetry(started)) {
      return error;
    }
  }
}

DWORD DeleteWithRetries(const WCHAR* path) {
  ULONGLONG started = GetTickCount64();
  for (;;) {
    if (DeleteFileW(path) != FALSE) {
      return 0;
    }
    DWORD error = GetLastError();
    // DeleteFileW refuses a read-only file with access denied: the attribute goes, and the delete
    // is tried again at once. Only copies of our own are ever deleted.
    DWORD attributes = GetFileAttributesW(path);
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      DWORD cleared = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      if (SetFileAttributesW(path, cleared == 0 ? FILE_ATTRIBUTE_NORMAL : cleared) != FALSE) {
        continue;
      }
      error = GetLastError();
    }
    if (!IsWorthRetrying(error) || !PauseBeforeRetry(started)) {
      return error;
    }
  }
}

StageResult StageCopy(const WCHAR* source, const WCHAR* target, unsigned char* buffer,
                      unsigned char* readBack, DWORD bufferSize) {
  HANDLE from = OpenWithRetries(source, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  if (from == INVALID_HANDLE_VALUE) {
    return StageResult::NotCopied;
  }
  // Read access too, to read the copy back without opening it again; no sharing, so that what is
  // read back is what this handle wrote.
  HANDLE to = OpenWithRetries(target, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  if (to == INVALID_HANDLE_VALUE) {
    CloseHandle(from);
    return StageResult::NotCopied;
  }
  FileSum copied{kSumStart, 0};
  StageResult result = StageResult::Staged;
  for (;;) {
    DWORD length = 0;
    if (!ReadFull(from, buffer, bufferSize, &length) || !WriteAll(to, buffer, length)) {
      result = StageResult::NotCopied;
      break;
    }
    AddToSum(copied, buffer, length);
    if (length < bufferSize) {
      break;
    }
  }
  if (result == StageResult::Staged &&
      (FlushFileBuffers(to) == FALSE || !ReadsBackAs(to, copied, buffer, readBack, bufferSize))) {
    result = StageResult::Differs;
  }
  CloseHandle(to);
  CloseHandle(from);
  return result;
}

bool CarryAttributes(const WCHAR* staged, const WCHAR* source) {
  constexpr DWORD kCarried =
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  DWORD from = GetFileAttributesW(source);
  if (from == INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  // Most sources carry none of them: then the copy keeps what it has, and is not asked.
  if ((from & kCarried) == 0) {
    return true;
  }
  DWORD to = GetFileAttributesW(staged);
  if (to == INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  // FILE_ATTRIBUTE_NORMAL stands for none, and only alone.
  DWORD wanted = (to & FILE_ATTRIBUTE_ARCHIVE) | (from & kCarried);
  return SetFileAttributesW(staged, wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted) != FALSE;
}

bool CreateParentFolders(WCHAR* scratch, const WCHAR* root, const WCHAR* name) {
  if (!JoinPath(scratch, root, name)) {
    return false;
  }
  size_t rootLength = wcslen(root);
  for (size_t at = rootLength + 1; scratch[at] != L'\0'; ++at) {
    if (scratch[at] != L'\\') {
      continue;
    }
    scratch[at] = L'\0';
    bool made = CreateDirectoryW(scratch, nullptr) != FALSE ||
                (GetLastError() == ERROR_ALREADY_EXISTS && IsFolder(scratch));
    scratch[at] = L'\\';
    if (!made) {
      return false;
    }
  }
  return true;
}

bool RemoveTree(WCHAR* path, WCHAR* remaining) {
  size_t length = wcslen(path);
  if (!PathExists(path)) {
    return true;
  }
  if (length + 3 >= kEnginePathCapacity) {
    wcscpy(remaining, path);
    return false;
  }
  wcscpy(path + length, L"\\*");
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(path, &found);
  bool removed = true;
  if (find != INVALID_HANDLE_VALUE) {
    do {
      size_t nameLength = wcslen(found.cFileName);
      if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) {
        continue;
      }
      if (length + 1 + nameLength >= kEnginePathCapacity) {
        path[length] = L'\0';
        wcscpy(remaining, path);
        removed = false;
        continue;
      }
      path[length] = L'\\';
      wmemcpy(path + length + 1, found.cFileName, nameLength + 1);
      // A link to a folder is removed as the link; what it points to is not ours.
      bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (isFolder && !isLink) {
        removed = RemoveTree(path, remaining) && removed;
        continue;
      }
      if (isFolder ? RemoveDirectoryW(path) == FALSE : DeleteWithRetries(path) != 0) {
        wcscpy(remaining, path);
        removed = false;
      }
    } while (FindNextFileW(find, &found) != FALSE);
    FindClose(find);
  }
  path[length] = L'\0';
  if (removed && RemoveDirectoryW(path) == FALSE) {
    wcscpy(remaining, path);
    removed = false;
  }
  return removed;
}

unsigned char* ReadWholeFile(const WCHAR* path, DWORD longest, DWORD* size, bool* absent) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    *absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  *absent = false;
  auto* bytes = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, longest + 1));
  bool read = bytes != nullptr;
  *size = 0;
  while (read && *size <= longest) {
    DWORD got = 0;
    read = ReadFile(file, bytes + *size, longest + 1 - *size, &got, nullptr) != FALSE;
    if (got == 0) {
      break;
    }
    *size += got;
  }
  CloseHandle(file);
  if (!read && bytes != nullptr) {
    HeapFree(GetProcessHeap(), 0, bytes);
    bytes = nullptr;
  }
  return bytes;
}
