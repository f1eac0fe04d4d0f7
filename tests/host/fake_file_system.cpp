#include "fake_file_system.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

struct FakeHandle {
  enum Kind { File, Find, Process, Thread } kind;
  std::wstring path;
  DWORD access = 0;
  DWORD share = 0;
  bool deleteOnClose = false;
  std::size_t position = 0;  // in the file's bytes, or the next name of a listing
  std::vector<std::wstring> names;
  DWORD exitCode = 0;
};

FakeDisk disk;
std::map<HANDLE, FakeHandle> handles;
std::size_t nextHandle = 0x1000;
DWORD lastError = 0;

BOOL Fail(DWORD error) {
  lastError = error;
  return FALSE;
}

HANDLE NewHandle(FakeHandle handle) {
  auto* key = reinterpret_cast<HANDLE>(nextHandle += 8);
  handles[key] = std::move(handle);
  return key;
}

// False once the process is gone: this change and every later one are not made.
bool Change() {
  if (disk.stopped || (disk.stopAfter >= 0 && disk.changes >= disk.stopAfter)) {
    disk.stopped = true;
    return false;
  }
  ++disk.changes;
  return true;
}

std::wstring ParentOf(const std::wstring& path) {
  std::size_t last = path.rfind(L'\\');
  return last == std::wstring::npos ? L"" : path.substr(0, last);
}

bool Exists(const std::wstring& path) { return disk.nodes.count(path) != 0; }

bool ParentExists(const std::wstring& path) {
  auto found = disk.nodes.find(ParentOf(path));
  return found != disk.nodes.end() && found->second.folder;
}

// One more attempt on a held file fails.
bool IsHeld(const std::wstring& path) {
  auto found = disk.held.find(path);
  if (found == disk.held.end() || found->second == 0) {
    return false;
  }
  if (found->second > 0) {
    --found->second;
  }
  return true;
}

bool OpenWithoutShareDelete(const std::wstring& path) {
  for (const auto& [_, handle] : handles) {
    if (handle.kind == FakeHandle::File && handle.path == path &&
        (handle.share & FILE_SHARE_DELETE) == 0) {
      return true;
    }
  }
  return false;
}

// The disk's key for a path the engine names. It names every one in the \\?\ form, which passes
// MAX_PATH; a path without it is a misuse, and from MAX_PATH units on fails as on Windows.
std::wstring Plain(const WCHAR* given) {
  std::wstring path = given;
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    return L"\\\\" + path.substr(8);
  }
  if (path.rfind(L"\\\\?\\", 0) == 0) {
    return path.substr(4);
  }
  disk.misuses.push_back("a path without \\\\?\\");
  return path.size() >= MAX_PATH ? L"" : path;
}

DWORD AttributesOf(const FakeNode& node) {
  return node.folder       ? FILE_ATTRIBUTE_DIRECTORY
         : node.attributes ? node.attributes
                           : FILE_ATTRIBUTE_NORMAL;
}

FakeHandle* FileHandle(HANDLE file) {
  auto found = handles.find(file);
  return found == handles.end() || found->second.kind != FakeHandle::File ? nullptr
                                                                          : &found->second;
}

}  // namespace

FakeDisk& Disk() { return disk; }

void ResetDisk(const std::map<std::wstring, std::string>& files) {
  disk = FakeDisk{};
  handles.clear();
  disk.nodes[L"C:"] = FakeNode{true, "", ""};
  for (const auto& [path, bytes] : files) {
    for (std::wstring folder = ParentOf(path); folder.size() > 2; folder = ParentOf(folder)) {
      disk.nodes[folder] = FakeNode{true, "", ""};
    }
    disk.nodes[path] = FakeNode{false, bytes, bytes};
  }
}

void EndProcess(bool powerCut) {
  for (const auto& [_, handle] : handles) {
    if (!powerCut && handle.kind == FakeHandle::File && handle.deleteOnClose) {
      disk.nodes.erase(handle.path);
    }
  }
  handles.clear();
  for (auto& [_, node] : disk.nodes) {
    node.bytes = powerCut ? node.durable : node.bytes;
  }
  disk.stopped = false;
  disk.stopAfter = -1;
}

int OpenFileHandles() { return static_cast<int>(handles.size()); }

DWORD GetLastError() { return lastError; }

HANDLE CreateFileW(const WCHAR* fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE) {
  std::wstring path = Plain(fileName);
  if (securityAttributes != nullptr && securityAttributes->bInheritHandle != FALSE) {
    disk.misuses.push_back("an inheritable handle");
  }
  if (disk.stopped || !ParentExists(path)) {
    return Fail(disk.stopped ? ERROR_INVALID_HANDLE : ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
  }
  auto found = disk.nodes.find(path);
  if (found != disk.nodes.end() && found->second.folder) {
    return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
  }
  bool exists = found != disk.nodes.end();
  if ((creationDisposition == CREATE_NEW && exists)) {
    return Fail(ERROR_FILE_EXISTS), INVALID_HANDLE_VALUE;
  }
  if (creationDisposition == OPEN_EXISTING && !exists) {
    return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
  }
  if (!exists && disk.uncreatable.count(path) != 0) {
    return Fail(disk.uncreatable[path]), INVALID_HANDLE_VALUE;
  }
  if (!exists || creationDisposition == CREATE_ALWAYS) {
    if (!Change()) {
      return Fail(ERROR_INVALID_HANDLE), INVALID_HANDLE_VALUE;
    }
    // Created and never flushed, a file is empty after a power cut. Windows marks it for backup.
    disk.nodes[path] =
        FakeNode{false, "", exists ? disk.nodes[path].durable : "", FILE_ATTRIBUTE_ARCHIVE};
  } else if ((desiredAccess & GENERIC_WRITE) != 0 &&
             (found->second.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
  }
  return NewHandle(FakeHandle{FakeHandle::File, path, desiredAccess, shareMode,
                              (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0});
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void*) {
  FakeHandle* handle = FileHandle(file);
  if (disk.stopped || handle == nullptr || !(handle->access & GENERIC_READ)) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  const std::string& bytes = disk.nodes[handle->path].bytes;
  std::size_t count =
      std::min<std::size_t>(bytesToRead, bytes.size() - std::min(handle->position, bytes.size()));
  std::memcpy(buffer, bytes.data() + handle->position, count);
  handle->position += count;
  *bytesRead = static_cast<DWORD>(count);
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void*) {
  FakeHandle* handle = FileHandle(file);
  if (disk.stopped || handle == nullptr || !(handle->access & GENERIC_WRITE)) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (!Change()) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  std::string& bytes = disk.nodes[handle->path].bytes;
  bytes.resize(std::max(bytes.size(), handle->position + bytesToWrite));
  std::memcpy(bytes.data() + handle->position, buffer, bytesToWrite);
  handle->position += bytesToWrite;
  *bytesWritten = bytesToWrite;
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  FakeHandle* handle = FileHandle(file);
  // As on Windows, a flush needs a handle with write access.
  if (disk.stopped || handle == nullptr || !(handle->access & GENERIC_WRITE)) {
    return Fail(disk.stopped || handle == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
  }
  if (!Change()) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  FakeNode& node = disk.nodes[handle->path];
  node.durable = node.bytes;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod) {
  FakeHandle* handle = FileHandle(file);
  // The engine only goes back to a file's start.
  if (disk.stopped || handle == nullptr || moveMethod != FILE_BEGIN || distanceToMove < 0 ||
      (distanceToMoveHigh != nullptr && *distanceToMoveHigh != 0)) {
    return Fail(ERROR_INVALID_PARAMETER), INVALID_SET_FILE_POINTER;
  }
  handle->position = static_cast<std::size_t>(distanceToMove);
  return static_cast<DWORD>(distanceToMove);
}

BOOL MoveFileExW(const WCHAR* existingFileName, const WCHAR* newFileName, DWORD flags) {
  std::wstring from = Plain(existingFileName);
  std::wstring to = Plain(newFileName);
  if ((flags & MOVEFILE_WRITE_THROUGH) == 0) {
    disk.misuses.push_back("a rename without MOVEFILE_WRITE_THROUGH");
  }
  if (!Exists(from)) {
    return Fail(ParentExists(from) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  }
  if (!ParentExists(to)) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  if (Exists(to)) {
    return Fail(ERROR_ALREADY_EXISTS);
  }
  if (OpenWithoutShareDelete(from) || IsHeld(from)) {
    return Fail(ERROR_SHARING_VIOLATION);
  }
  if (!Change()) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  disk.firstRename = disk.firstRename == 0 ? disk.changes : disk.firstRename;
  // The engine renames files only.
  disk.nodes[to] = disk.nodes[from];
  disk.nodes.erase(from);
  return TRUE;
}

BOOL DeleteFileW(const WCHAR* fileName) {
  std::wstring path = Plain(fileName);
  auto found = disk.nodes.find(path);
  if (found == disk.nodes.end()) {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  // As documented for DeleteFileW: a read-only file is refused with access denied.
  if (found->second.folder || (found->second.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (OpenWithoutShareDelete(path) || IsHeld(path)) {
    return Fail(ERROR_SHARING_VIOLATION);
  }
  if (!Change()) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  disk.nodes.erase(path);
  return TRUE;
}

BOOL CreateDirectoryW(const WCHAR* pathName, SECURITY_ATTRIBUTES*) {
  std::wstring path = Plain(pathName);
  if (Exists(path)) {
    return Fail(ERROR_ALREADY_EXISTS);
  }
  if (!ParentExists(path)) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  if (!Change()) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  disk.nodes[path] = FakeNode{true, "", ""};
  return TRUE;
}

BOOL RemoveDirectoryW(const WCHAR* pathName) {
  std::wstring path = Plain(pathName);
  auto found = disk.nodes.find(path);
  if (found == disk.nodes.end() || !found->second.folder) {
    return Fail(found == disk.nodes.end() ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
  }
  auto next = std::next(found);
  if (next != disk.nodes.end() && next->first.rfind(path + L"\\", 0) == 0) {
    return Fail(ERROR_DIR_NOT_EMPTY);
  }
  if (!Change()) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  disk.nodes.erase(found);
  return TRUE;
}

namespace {

BOOL NextName(FakeHandle& listing, WIN32_FIND_DATAW* findData) {
  if (listing.position >= listing.names.size()) {
    return Fail(ERROR_NO_MORE_FILES);
  }
  const std::wstring& name = listing.names[listing.position++];
  std::wstring path = listing.path + L"\\" + name;
  *findData = WIN32_FIND_DATAW{};
  findData->dwFileAttributes =
      name == L"." || name == L".." ? FILE_ATTRIBUTE_DIRECTORY : AttributesOf(disk.nodes[path]);
  std::wcsncpy(findData->cFileName, name.c_str(), MAX_PATH - 1);
  return TRUE;
}

}  // namespace

HANDLE FindFirstFileW(const WCHAR* fileName, WIN32_FIND_DATAW* findData) {
  std::wstring pattern = Plain(fileName);
  if (pattern.size() < 2 || pattern.substr(pattern.size() - 2) != L"\\*") {
    disk.misuses.push_back("a listing by another pattern than \\*");
  }
  std::wstring folder = ParentOf(pattern);
  auto found = disk.nodes.find(folder);
  if (disk.stopped || found == disk.nodes.end() || !found->second.folder) {
    return Fail(disk.stopped ? ERROR_INVALID_HANDLE : ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
  }
  FakeHandle listing{FakeHandle::Find, folder};
  listing.names = {L".", L".."};
  for (auto it = std::next(found);
       it != disk.nodes.end() && it->first.rfind(folder + L"\\", 0) == 0; ++it) {
    std::wstring rest = it->first.substr(folder.size() + 1);
    if (rest.find(L'\\') == std::wstring::npos) {
      listing.names.push_back(rest);
    }
  }
  HANDLE find = NewHandle(listing);
  NextName(handles[find], findData);
  return find;
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* findData) {
  auto found = handles.find(find);
  if (disk.stopped || found == handles.end() || found->second.kind != FakeHandle::Find) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  return NextName(found->second, findData);
}

BOOL FindClose(HANDLE find) { return handles.erase(find) == 1 ? TRUE : Fail(ERROR_INVALID_HANDLE); }

DWORD GetFileAttributesW(const WCHAR* fileName) {
  auto found = disk.nodes.find(Plain(fileName));
  if (disk.stopped || found == disk.nodes.end()) {
    lastError = disk.stopped ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(found->second);
}

BOOL SetFileAttributesW(const WCHAR* fileName, DWORD fileAttributes) {
  auto found = disk.nodes.find(Plain(fileName));
  if (found == disk.nodes.end() || found->second.folder) {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  if (!Change()) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  found->second.attributes = fileAttributes == FILE_ATTRIBUTE_NORMAL ? 0 : fileAttributes;
  return TRUE;
}

void Sleep(DWORD milliseconds) { disk.clock += milliseconds; }
ULONGLONG GetTickCount64() { return disk.clock; }

BOOL CloseHandle(HANDLE object) {
  auto found = handles.find(object);
  if (found == handles.end()) {
    disk.misuses.push_back("a close of a handle that is not open");
    return Fail(ERROR_INVALID_HANDLE);
  }
  // A gone process closes nothing; its handles end with it.
  if (disk.stopped) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (found->second.kind == FakeHandle::File && found->second.deleteOnClose) {
    disk.nodes.erase(found->second.path);
  }
  handles.erase(found);
  return TRUE;
}

// The helper, as the caller kit's header starts it: `"helper" "target"` asks, `"helper" --error
// "text"` shows the notice.
BOOL CreateProcessW(const WCHAR*, WCHAR* commandLine, void*, void*, BOOL inheritHandles, DWORD,
                    void*, const WCHAR*, STARTUPINFOW*, PROCESS_INFORMATION* processInformation) {
  if (inheritHandles != FALSE) {
    disk.misuses.push_back("a helper that inherits handles");
  }
  if (disk.stopped) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  std::wstring line = commandLine;
  std::size_t close = line.rfind(L'"');
  std::size_t open = line.rfind(L'"', close - 1);
  std::wstring argument = line.substr(open + 1, close - open - 1);
  DWORD exitCode = 0;
  if (line.find(L"\" --error \"") != std::wstring::npos) {
    disk.notices.push_back(argument);
  } else {
    disk.asked.push_back(argument);
    disk.lastQuestion = disk.changes;
    std::vector<DWORD>& answers = disk.answers[argument];
    if (!answers.empty()) {
      exitCode = answers.front();
      if (answers.size() > 1) {
        answers.erase(answers.begin());
      }
    }
    if (disk.onQuestion) {
      disk.onQuestion(argument);
    }
  }
  processInformation->hProcess =
      NewHandle(FakeHandle{FakeHandle::Process, L"", 0, 0, false, 0, {}, exitCode});
  processInformation->hThread = NewHandle(FakeHandle{FakeHandle::Thread, L""});
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE, DWORD) { return WAIT_OBJECT_0; }

BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  *exitCode = handles[process].exitCode;
  return TRUE;
}

HANDLE GetProcessHeap() { return &handles; }
void* HeapAlloc(HANDLE, DWORD, SIZE_T bytes) { return std::calloc(1, bytes); }
BOOL HeapFree(HANDLE, DWORD, void* memory) {
  std::free(memory);
  return TRUE;
}

// Code page 850 as far as the tests need it: ASCII and the German letters.
int MultiByteToWideChar(UINT codePage, DWORD, const char* multiByteStr, int multiByteLength,
                        WCHAR* wideCharStr, int wideCharLength) {
  const std::map<unsigned char, WCHAR> german = {
      {0x81, L'\u00fc'}, {0x84, L'\u00e4'}, {0x94, L'\u00f6'}, {0xE1, L'\u00df'}};
  if (codePage != CP_OEMCP || multiByteLength > wideCharLength) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  for (int i = 0; i < multiByteLength; ++i) {
    auto byte = static_cast<unsigned char>(multiByteStr[i]);
    if (byte >= 0x80 && german.count(byte) == 0) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    wideCharStr[i] = byte < 0x80 ? static_cast<WCHAR>(byte) : german.at(byte);
  }
  return multiByteLength;
}
