// flushing_copy.exe [--no-flush] [--ask HELPER] SOURCE FOLDER
// Copies every file of SOURCE (not its subfolders) into FOLDER, replacing one of the same name, and
// flushes each copy to disk before closing it: the least an update that must survive a power cut
// does, which scripts/bench-recipes measures the update engine against. --no-flush leaves the
// flush out. --ask asks the helper HELPER about FOLDER\Tavelune.exe before the copy and again after
// it, through the caller kit's header as the engine asks: the least the engine itself can do.
// Exit status: 0 when every file was copied, 1 when one was not or the helper did not answer 0, 2
// for a wrong command.
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

#include "../integration/c/tavelune_helper_client.h"

namespace {

constexpr size_t kPathCapacity = 32768;

WCHAR sourcePath[kPathCapacity];
WCHAR destinationPath[kPathCapacity];
WCHAR tavelunePath[kPathCapacity];
char buffer[1 << 16];

// `folder`\`name` into `path`; false when it does not fit.
bool Join(const WCHAR* folder, const WCHAR* name, WCHAR* path) {
  size_t folderLength = wcslen(folder);
  size_t nameLength = wcslen(name);
  if (folderLength + 1 + nameLength >= kPathCapacity) {
    return false;
  }
  wmemcpy(path, folder, folderLength);
  path[folderLength] = L'\\';
  wmemcpy(path + folderLength + 1, name, nameLength + 1);
  return true;
}

bool CopyOne(const WCHAR* from, const WCHAR* to, bool flush) {
  HANDLE source = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (source == INVALID_HANDLE_VALUE) {
    return false;
  }
  HANDLE destination =
      CreateFileW(to, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (destination == INVALID_HANDLE_VALUE) {
    CloseHandle(source);
    return false;
  }
  bool copied = true;
  for (;;) {
    DWORD read = 0;
    if (ReadFile(source, buffer, sizeof(buffer), &read, nullptr) == FALSE) {
      copied = false;
      break;
    }
    if (read == 0) {
      break;
    }
    DWORD written = 0;
    if (WriteFile(destination, buffer, read, &written, nullptr) == FALSE || written != read) {
      copied = false;
      break;
    }
  }
  if (copied && flush && FlushFileBuffers(destination) == FALSE) {
    copied = false;
  }
  if (CloseHandle(destination) == FALSE) {
    copied = false;
  }
  CloseHandle(source);
  return copied;
}

}  // namespace

int wmain(int argc, WCHAR** argv) {
  bool flush = true;
  const WCHAR* helper = nullptr;
  int first = 1;
  if (argc > first && wcscmp(argv[first], L"--no-flush") == 0) {
    flush = false;
    ++first;
  }
  if (argc > first + 1 && wcscmp(argv[first], L"--ask") == 0) {
    helper = argv[first + 1];
    first += 2;
  }
  if (argc - first != 2) {
    fputws(L"usage: flushing_copy.exe [--no-flush] [--ask HELPER] SOURCE FOLDER\n", stderr);
    return 2;
  }
  const WCHAR* sourceFolder = argv[first];
  const WCHAR* destinationFolder = argv[first + 1];
  if (helper != nullptr && (!Join(destinationFolder, L"Tavelune.exe", tavelunePath) ||
                            TaveluneHelperCheck(helper, tavelunePath) != 0)) {
    return 1;
  }

  if (!Join(sourceFolder, L"*", sourcePath)) {
    return 1;
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(sourcePath, &found);
  if (search == INVALID_HANDLE_VALUE) {
    return 1;
  }
  bool copied = true;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      continue;
    }
    if (!Join(sourceFolder, found.cFileName, sourcePath) ||
        !Join(destinationFolder, found.cFileName, destinationPath) ||
        !CopyOne(sourcePath, destinationPath, flush)) {
      copied = false;
      break;
    }
  } while (FindNextFileW(search, &found) != FALSE);
  if (copied && GetLastError() != ERROR_NO_MORE_FILES) {
    copied = false;
  }
  FindClose(search);
  if (copied && helper != nullptr && TaveluneHelperCheck(helper, tavelunePath) != 0) {
    copied = false;
  }
  return copied ? 0 : 1;
}
