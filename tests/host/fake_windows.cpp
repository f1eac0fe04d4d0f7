#include "fake_windows.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <map>
#include <set>
#include <string_view>
#include <utility>

namespace {

enum class HandleKind { Snapshot, Process, Thread };

struct OpenHandle {
  HandleKind kind;
  DWORD processId;
};

FakeSystem fake;
std::map<DWORD, std::size_t> processIndex;  // process id to its place in fake.processes
std::map<HANDLE, OpenHandle> openHandles;
std::size_t nextHandle = 0x100;
std::size_t cursor = 0;
DWORD lastError = 0;
int windowStation;  // the one there is; only its flags can be asked for
std::map<MSIHANDLE, std::vector<std::wstring>> records;  // each open record's fields
// Each open view: its query, and once executed, the rows it selects and how many were fetched.
struct View {
  std::wstring query;
  std::vector<std::vector<std::wstring>> rows;
  std::size_t fetched = 0;
};
std::map<MSIHANDLE, View> views;
std::set<MSIHANDLE> databases;  // each open database
MSIHANDLE nextRecord = 0x100;
int heapBlocks = 0;
int heap;  // the one there is

HANDLE NewHandle(HandleKind kind, DWORD processId) {
  auto* handle = reinterpret_cast<HANDLE>(nextHandle += 8);
  openHandles[handle] = {kind, processId};
  int processHandles = 0;
  for (const auto& [_, open] : openHandles) {
    processHandles += open.kind == HandleKind::Process ? 1 : 0;
  }
  if (processHandles > fake.mostProcessHandlesOpen) {
    fake.mostProcessHandlesOpen = processHandles;
  }
  return handle;
}

bool IsOpen(HANDLE handle, HandleKind kind) {
  auto found = openHandles.find(handle);
  return found != openHandles.end() && found->second.kind == kind;
}

void Misuse(const std::string& what) { fake.misuses.push_back(what); }

void Called(const char* function) {
  if (fake.logCalls) {
    fake.calls.emplace_back(function);
  }
}

BOOL Deliver(PROCESSENTRY32W* entry) {
  const FakeProcess& process = fake.processes[cursor];
  entry->th32ProcessID = process.processId;
  std::size_t length = std::min<std::size_t>(process.exeFile.size(), MAX_PATH - 1);
  std::wmemcpy(entry->szExeFile, process.exeFile.data(), length);
  entry->szExeFile[length] = L'\0';
  ++fake.entriesDelivered;
  return TRUE;
}

}  // namespace

FakeSystem& Fake() { return fake; }

void ResetFake(FakeSystem script) {
  fake = std::move(script);
  processIndex.clear();
  for (std::size_t i = 0; i < fake.processes.size(); ++i) {
    processIndex.emplace(fake.processes[i].processId, i);
  }
  RewindFake();
}

namespace {

const FakeProcess* FindProcess(DWORD processId) {
  auto found = processIndex.find(processId);
  return found == processIndex.end() ? nullptr : &fake.processes[found->second];
}

}  // namespace

void RewindFake() {
  openHandles.clear();
  cursor = 0;
  lastError = 0;
  fake.snapshotTaken = false;
  fake.entriesDelivered = 0;
  fake.openedProcessIds.clear();
  fake.standardError.clear();
  fake.snapshotOpenWhenWritten = false;
  fake.mostProcessHandlesOpen = 0;
  fake.misuses.clear();
  fake.calls.clear();
  fake.messages.clear();
  fake.threadStack = 0;
  records.clear();
  views.clear();
  databases.clear();
  heapBlocks = 0;
}

int OpenHandleCount() {
  return static_cast<int>(openHandles.size() + records.size() + views.size() + databases.size()) +
         heapBlocks;
}

namespace {

// As GetFullPathNameW leaves a path: without "." and with each ".." taking the part before it,
// never the root ("C:", "\\server\share", or a device's "\\.\C:").
std::wstring Normalised(const std::wstring& path) {
  std::size_t rootParts = 1;
  if (path.rfind(L"\\\\", 0) == 0) {
    rootParts = 4;  // the two empty parts before the server or the ".", and the next two
  }
  std::vector<std::wstring> parts;
  for (std::size_t at = 0;;) {
    const std::size_t end = path.find(L'\\', at);
    const std::wstring part = path.substr(at, end - at);
    if (parts.size() >= rootParts && part == L"..") {
      if (parts.size() > rootParts) {
        parts.pop_back();
      }
    } else if (parts.size() < rootParts || part != L".") {
      parts.push_back(part);
    }
    if (end == std::wstring::npos) {
      break;
    }
    at = end + 1;
  }
  std::wstring joined;
  for (const std::wstring& part : parts) {
    joined += (joined.empty() && &part == &parts[0] ? L"" : L"\\") + part;
  }
  return joined;
}

}  // namespace

DWORD GetFullPathNameW(const WCHAR* fileName, DWORD bufferLength, WCHAR* buffer, WCHAR** filePart) {
  Called("GetFullPathNameW");
  if (bufferLength != 32768 || filePart != nullptr) {
    Misuse("GetFullPathNameW with another buffer length or a file-part pointer");
  }
  // The file functions take a verbatim path as written, and so must the scan.
  const std::wstring_view prefix(fileName, std::min<std::size_t>(std::wcslen(fileName), 4));
  if (prefix == L"\\\\?\\" || prefix == L"\\??\\") {
    Misuse("GetFullPathNameW on a verbatim path, which would normalise it");
  }
  if (fake.fullPathFails) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  std::wstring path = fileName;
  bool absolute =
      (path.size() > 2 && path[1] == L':' && path[2] == L'\\') || path.rfind(L"\\\\", 0) == 0;
  std::wstring full = Normalised(absolute ? path : fake.currentDirectory + L"\\" + path);
  if (fake.fullPathTooLong || full.size() >= bufferLength) {
    // As Windows does, leave no terminated path and return the size that would be needed.
    std::wmemset(buffer, L'x', bufferLength);
    return bufferLength + 100;
  }
  std::wmemcpy(buffer, full.c_str(), full.size() + 1);
  return static_cast<DWORD>(full.size());
}

DWORD GetLongPathNameW(const WCHAR* shortPath, WCHAR* longPath, DWORD bufferLength) {
  Called("GetLongPathNameW");
  if (bufferLength != 32768) {
    Misuse("GetLongPathNameW with another buffer length");
  }
  // The script speaks of plain paths; a look-up must be made in the verbatim form, which alone
  // reaches past MAX_PATH.
  std::wstring path = shortPath;
  const bool unc = path.rfind(L"\\\\?\\UNC\\", 0) == 0;
  std::wstring prefix = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
  if (path.rfind(L"\\\\?\\", 0) != 0) {
    Misuse("GetLongPathNameW on a path without \\\\?\\, which stops at MAX_PATH");
    prefix.clear();
  }
  // "\\?\UNC\server\..." is "\\server\..." to the script: the prefix's last backslash stays.
  path = (unc ? L"\\" : L"") + path.substr(prefix.size());
  if (path.empty()) {
    lastError = ERROR_PATH_NOT_FOUND;
    return 0;
  }
  for (const auto& [failing, error] : fake.longPathErrors) {
    if (path == failing) {
      lastError = error;
      return 0;
    }
  }
  for (const auto& [shortForm, longForm] : fake.shortNames) {
    if (path.rfind(shortForm, 0) == 0) {
      path = longForm + path.substr(shortForm.size());
    }
  }
  path = prefix + path.substr(unc ? 1 : 0);
  if (path.size() >= bufferLength) {
    return static_cast<DWORD>(path.size() + 1);
  }
  std::wmemcpy(longPath, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  Called("CreateToolhelp32Snapshot");
  if (flags != TH32CS_SNAPPROCESS || processId != 0) {
    Misuse("CreateToolhelp32Snapshot for anything but all processes");
  }
  fake.snapshotTaken = true;
  if (fake.snapshotFails) {
    lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  return NewHandle(HandleKind::Snapshot, 0);
}

BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) {
  Called("Process32FirstW");
  if (!IsOpen(snapshot, HandleKind::Snapshot)) {
    Misuse("Process32FirstW on a handle that is no open snapshot");
  }
  if (entry->dwSize != sizeof(PROCESSENTRY32W)) {
    Misuse("Process32FirstW with dwSize not set to the entry's size");
  }
  cursor = 0;
  if (fake.firstEntryFails || fake.processes.empty()) {
    lastError = fake.firstEntryFails ? ERROR_INVALID_HANDLE : ERROR_NO_MORE_FILES;
    return FALSE;
  }
  return Deliver(entry);
}

BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) {
  Called("Process32NextW");
  if (!IsOpen(snapshot, HandleKind::Snapshot)) {
    Misuse("Process32NextW on a handle that is no open snapshot");
  }
  if (cursor + 1 == fake.walkFailsAt) {
    lastError = fake.walkError;
    return FALSE;
  }
  if (cursor + 1 >= fake.processes.size()) {
    lastError = ERROR_NO_MORE_FILES;
    return FALSE;
  }
  ++cursor;
  return Deliver(entry);
}

HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId) {
  Called("OpenProcess");
  if (desiredAccess != PROCESS_QUERY_LIMITED_INFORMATION || inheritHandle != FALSE) {
    Misuse("OpenProcess with more than the right to query the image path, or inheritable");
  }
  fake.openedProcessIds.push_back(processId);
  const FakeProcess* process = FindProcess(processId);
  if (process == nullptr || process->openError != 0) {
    lastError = process == nullptr ? ERROR_INVALID_PARAMETER : process->openError;
    return nullptr;
  }
  return NewHandle(HandleKind::Process, processId);
}

BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, WCHAR* exeName, DWORD* size) {
  Called("QueryFullProcessImageNameW");
  if (!IsOpen(process, HandleKind::Process)) {
    Misuse("QueryFullProcessImageNameW on a handle that is no open process");
    return FALSE;
  }
  if (flags != 0 || *size != 32768) {
    Misuse("QueryFullProcessImageNameW asking for the native form or with another length");
  }
  const FakeProcess* candidate = FindProcess(openHandles[process].processId);
  if (candidate->queryFails) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  std::wmemcpy(exeName, candidate->imagePath.c_str(), candidate->imagePath.size() + 1);
  *size = static_cast<DWORD>(candidate->imagePath.size());
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  Called("CloseHandle");
  if (openHandles.erase(object) == 0) {
    Misuse("CloseHandle on a handle that is not open");
    return FALSE;
  }
  return TRUE;
}

DWORD GetLastError() { return lastError; }

DWORD GetCurrentProcessId() {
  Called("GetCurrentProcessId");
  return 4242;
}

BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
  Called("ProcessIdToSessionId");
  if (processId != 4242) {
    Misuse("ProcessIdToSessionId for another process than the helper's own");
  }
  if (fake.sessionQueryFails) {
    lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  *sessionId = fake.session;
  return TRUE;
}

BOOL SetDefaultDllDirectories(DWORD directoryFlags) {
  Called(directoryFlags == LOAD_LIBRARY_SEARCH_SYSTEM32 ? "SetDefaultDllDirectories(System32)"
                                                        : "SetDefaultDllDirectories(other)");
  return TRUE;
}

HWINSTA GetProcessWindowStation() {
  Called("GetProcessWindowStation");
  return reinterpret_cast<HWINSTA>(&windowStation);
}

BOOL GetUserObjectInformationW(HANDLE object, int index, void* info, DWORD length, DWORD* needed) {
  Called("GetUserObjectInformationW");
  if (object != &windowStation || index != UOI_FLAGS || length != sizeof(USEROBJECTFLAGS) ||
      needed == nullptr) {
    Misuse("GetUserObjectInformationW for anything but the flags of the process's window station");
  }
  if (fake.windowStationQueryFails) {
    lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  *static_cast<USEROBJECTFLAGS*>(info) = {TRUE, FALSE, fake.windowStationVisible ? WSF_VISIBLE : 0};
  *needed = sizeof(USEROBJECTFLAGS);
  return TRUE;
}

// What the notice looks like is checked on a real display; here, what it is asked for. The texts
// the tests pass are ASCII.
int MessageBoxW(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type) {
  char style[16];
  std::snprintf(style, sizeof(style), "0x%08X", type);
  Called(("MessageBoxW(" + std::string(owner == nullptr ? "no owner" : "an owner") + ", " +
          std::string(text, text + std::wcslen(text)) + ", " +
          std::string(caption, caption + std::wcslen(caption)) + ", " + style + ")")
             .c_str());
  return 1;
}

int _wcsicmp(const WCHAR* left, const WCHAR* right) {  // NOLINT: msvcrt's name
  auto fold = [](WCHAR c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
  for (;; ++left, ++right) {
    WCHAR l = fold(*left);
    WCHAR r = fold(*right);
    if (l != r || l == 0) {
      return l < r ? -1 : (l > r ? 1 : 0);
    }
  }
}

// Takes the place of the C library's fwprintf for the scan, which writes its one line with it.
extern "C" int fwprintf(FILE* stream, const wchar_t* format, ...) {
  if (stream != stderr) {
    Misuse("fwprintf to a stream other than standard error");
  }
  for (const auto& [_, open] : openHandles) {
    fake.snapshotOpenWhenWritten |= open.kind == HandleKind::Snapshot;
  }
  fake.standardError += format;
  return static_cast<int>(std::wcslen(format));
}

HANDLE CreateThread(void* attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD flags, DWORD* threadId) {
  if (attributes != nullptr || flags != STACK_SIZE_PARAM_IS_A_RESERVATION || threadId != nullptr) {
    Misuse("CreateThread with attributes, flags other than a stack reservation, or an id");
  }
  fake.threadStack = stackSize;
  if (fake.threadFails) {
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  start(parameter);  // done before anyone can wait for it
  return NewHandle(HandleKind::Thread, 0);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  if (!IsOpen(object, HandleKind::Thread) || milliseconds != INFINITE) {
    Misuse("WaitForSingleObject on anything but an open thread, or not until it ends");
  }
  return 0;
}

namespace {

// A property's value, empty when the script does not set it.
std::wstring Property(const std::wstring& name) {
  for (const auto& [property, value] : fake.properties) {
    if (property == name) {
      return value;
    }
  }
  return L"";
}

// Formats `text` once, as Windows Installer formats after putting a record's fields in: "[\c]" is
// the character c, "[NAME]" the property NAME (empty when unset), and a group in braces that holds
// brackets is its formatted text, or nothing when a property it names is unset; a group without
// brackets stays as it is, braces and all. Says whether it met brackets, and whether every
// property it named was set.
std::wstring FormatProperties(const std::wstring& text, bool* named, bool* allSet) {
  std::wstring formatted;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const std::size_t end = text.find(text[at] == L'{' ? L'}' : L']', at + 1);
    if (text[at] == L'[' && at + 3 < text.size() && text[at + 1] == L'\\' && text[at + 3] == L']') {
      formatted += text[at + 2];
      *named = true;
      at += 3;
    } else if (text[at] == L'[' && end != std::wstring::npos) {
      const std::wstring name = text.substr(at + 1, end - at - 1);
      *named = true;
      *allSet = *allSet && std::any_of(fake.properties.begin(), fake.properties.end(),
                                       [&](const auto& set) { return set.first == name; });
      formatted += Property(name);
      at = end;
    } else if (text[at] == L'{' && end != std::wstring::npos) {
      bool groupNamed = false;
      bool groupSet = true;
      const std::wstring group =
          FormatProperties(text.substr(at + 1, end - at - 1), &groupNamed, &groupSet);
      formatted += !groupNamed ? L"{" + group + L"}" : groupSet ? group : L"";
      at = end;
    } else {
      formatted += text[at];
    }
  }
  return formatted;
}

// A record as Windows Installer formats it: first each "[n]" of field 0 becomes field n, then the
// whole is formatted.
std::wstring Format(const std::vector<std::wstring>& fields) {
  std::wstring withFields;
  const std::wstring& format = fields[0];
  for (std::size_t at = 0; at < format.size(); ++at) {
    const std::size_t end = format.find(L']', at + 1);
    const std::wstring key = end == std::wstring::npos ? L"" : format.substr(at + 1, end - at - 1);
    if (format[at] != L'[' || key.empty() || key.find_first_not_of(L"0123456789") != key.npos) {
      withFields += format[at];
      continue;
    }
    const std::size_t field = std::stoul(key);
    withFields += field < fields.size() ? fields[field] : std::wstring();
    at = end;
  }
  bool named = false;
  bool allSet = true;
  return FormatProperties(withFields, &named, &allSet);
}

// As Windows Installer hands a string out: ERROR_MORE_DATA and the length needed when it does not
// fit with its NUL.
UINT HandOut(const std::wstring& text, WCHAR* buffer, DWORD* length) {
  if (text.size() >= *length) {
    *length = static_cast<DWORD>(text.size());
    return ERROR_MORE_DATA;
  }
  std::wmemcpy(buffer, text.c_str(), text.size() + 1);
  *length = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

}  // namespace

MSIHANDLE MsiCreateRecord(UINT fields) {
  records[++nextRecord] = std::vector<std::wstring>(fields + 1);
  return nextRecord;
}

UINT MsiRecordSetStringW(MSIHANDLE record, UINT field, const WCHAR* value) {
  auto found = records.find(record);
  if (found == records.end() || field >= found->second.size()) {
    Misuse("MsiRecordSetStringW on no open record, or past its fields");
    return ERROR_INVALID_HANDLE;
  }
  found->second[field] = value == nullptr ? L"" : value;
  return ERROR_SUCCESS;
}

UINT MsiGetPropertyW(MSIHANDLE install, const WCHAR* name, WCHAR* value, DWORD* length) {
  static_cast<void>(install);
  return HandOut(Property(name), value, length);
}

int MsiRecordGetInteger(MSIHANDLE record, UINT field) {
  auto found = records.find(record);
  if (found == records.end() || field >= found->second.size()) {
    Misuse("MsiRecordGetInteger on no open record, or past its fields");
    return 0;
  }
  return found->second[field].empty() ? kNull : std::stoi(found->second[field]);
}

UINT MsiRecordGetStringW(MSIHANDLE record, UINT field, WCHAR* value, DWORD* length) {
  auto found = records.find(record);
  if (found == records.end() || field >= found->second.size()) {
    Misuse("MsiRecordGetStringW on no open record, or past its fields");
    return ERROR_INVALID_HANDLE;
  }
  return HandOut(found->second[field], value, length);
}

MSIHANDLE MsiGetActiveDatabase(MSIHANDLE install) {
  static_cast<void>(install);
  if (fake.databaseFails) {
    return 0;
  }
  databases.insert(++nextRecord);
  return nextRecord;
}

namespace {

// The two queries an action makes, and what each selects from the script's tables; a record's
// field 0 is its template, left empty.
constexpr std::wstring_view kPropertyQuery = L"SELECT `Value` FROM `Property` WHERE `Property` = '";
constexpr std::wstring_view kSequenceQuery =
    L"SELECT `Action`, `Sequence`, `Condition` FROM `InstallExecuteSequence`";

std::vector<std::vector<std::wstring>> Select(std::wstring_view query) {
  std::vector<std::vector<std::wstring>> rows;
  if (query == kSequenceQuery) {
    for (const FakeSequenceRow& row : fake.executeSequence) {
      rows.push_back({L"", row.action, row.sequence == kNull ? L"" : std::to_wstring(row.sequence),
                      row.condition});
    }
    return rows;
  }
  const std::wstring_view name =
      query.substr(kPropertyQuery.size(), query.size() - kPropertyQuery.size() - 1);
  for (const auto& [property, value] : fake.propertyTable) {
    if (property == name) {
      rows.push_back({L"", value});
    }
  }
  return rows;
}

}  // namespace

UINT MsiDatabaseOpenViewW(MSIHANDLE database, const WCHAR* query, MSIHANDLE* view) {
  const std::wstring_view asked(query);
  const bool known =
      asked == kSequenceQuery ||
      (asked.substr(0, kPropertyQuery.size()) == kPropertyQuery && asked.back() == L'\'');
  if (databases.count(database) == 0 || !known) {
    Misuse("MsiDatabaseOpenViewW on no open database, or with another query");
    return ERROR_INVALID_PARAMETER;
  }
  views[++nextRecord] = {std::wstring(asked), {}, 0};
  *view = nextRecord;
  return ERROR_SUCCESS;
}

UINT MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters) {
  if (views.count(view) == 0 || parameters != 0) {
    Misuse("MsiViewExecute on no open view, or with parameters");
    return ERROR_INVALID_HANDLE;
  }
  views[view].rows = Select(views[view].query);
  views[view].fetched = 0;
  return ERROR_SUCCESS;
}

UINT MsiViewFetch(MSIHANDLE view, MSIHANDLE* record) {
  if (views.count(view) == 0) {
    Misuse("MsiViewFetch on no open view");
    return ERROR_INVALID_HANDLE;
  }
  View& open = views[view];
  if (open.fetched == open.rows.size()) {
    return ERROR_NO_MORE_ITEMS;
  }
  records[++nextRecord] = open.rows[open.fetched++];
  *record = nextRecord;
  return ERROR_SUCCESS;
}

int MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE kind, MSIHANDLE record) {
  static_cast<void>(install);
  if (records.count(record) == 0) {
    Misuse("MsiProcessMessage on no open record");
    return -1;
  }
  fake.messages.emplace_back(kind, Format(records[record]));
  return 1;
}

UINT MsiCloseHandle(MSIHANDLE handle) {
  if (records.erase(handle) + views.erase(handle) + databases.erase(handle) == 0) {
    Misuse("MsiCloseHandle on a handle that is not open");
  }
  return ERROR_SUCCESS;
}

HANDLE GetProcessHeap() { return &heap; }

void* HeapAlloc(HANDLE heapHandle, DWORD flags, SIZE_T bytes) {
  if (heapHandle != &heap || flags != 0) {
    Misuse("HeapAlloc on another heap, or with flags");
  }
  ++heapBlocks;
  return ::operator new(bytes);
}

BOOL HeapFree(HANDLE heapHandle, DWORD flags, void* memory) {
  if (heapHandle != &heap || flags != 0) {
    Misuse("HeapFree on another heap, or with flags");
  }
  --heapBlocks;
  ::operator delete(memory);
  return TRUE;
}
