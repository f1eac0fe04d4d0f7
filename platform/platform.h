// The few Windows types, constants and functions the tool and its Windows Installer action call. A
// Windows build takes them from the system headers. A Linux host build gets the same names declared
// here, with the meaning the tool relies on; the host tests link a scripted fake that defines the
// functions.
#pragma once

#ifdef _WIN32

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>

#else

#include <cstddef>
#include <cstdint>

#define WINAPI

using BOOL = int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using MSIHANDLE = unsigned long;
using WCHAR = wchar_t;
using HANDLE = void*;
using HWND = struct HWND__*;        // NOLINT: the reserved name is Windows' own
using HWINSTA = struct HWINSTA__*;  // NOLINT: likewise

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
// NOLINTNEXTLINE(performance-no-int-to-ptr): Windows defines it as the handle with all bits set.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

constexpr DWORD MAX_PATH = 260;
constexpr DWORD TH32CS_SNAPPROCESS = 0x00000002;
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_BAD_NETPATH = 53;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr UINT ERROR_SUCCESS = 0;
constexpr UINT ERROR_INSTALL_FAILURE = 1603;
constexpr UINT ERROR_FUNCTION_FAILED = 1627;
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
constexpr DWORD STACK_SIZE_PARAM_IS_A_RESERVATION = 0x00010000;
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD CREATE_NO_WINDOW = 0x08000000;
constexpr int UOI_FLAGS = 1;
constexpr DWORD WSF_VISIBLE = 0x0001;
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_SETFOREGROUND = 0x00010000;

// NOLINTBEGIN(readability-identifier-naming): Windows Installer's own names
enum INSTALLMESSAGE : int {
  INSTALLMESSAGE_ERROR = 0x01000000,
  INSTALLMESSAGE_INFO = 0x04000000,
};
// NOLINTEND(readability-identifier-naming)

struct PROCESSENTRY32W {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  ULONG_PTR th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  WCHAR szExeFile[MAX_PATH];
};

struct STARTUPINFOW {
  DWORD cb;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

struct USEROBJECTFLAGS {
  BOOL fInherit;
  BOOL fReserved;
  DWORD dwFlags;
};

BOOL SetDefaultDllDirectories(DWORD directoryFlags);
DWORD GetFullPathNameW(const WCHAR* fileName, DWORD bufferLength, WCHAR* buffer, WCHAR** filePart);
DWORD GetLongPathNameW(const WCHAR* shortPath, WCHAR* longPath, DWORD bufferLength);
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry);
BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry);
HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, WCHAR* exeName, DWORD* size);
BOOL CloseHandle(HANDLE object);
DWORD GetLastError();
DWORD GetCurrentProcessId();
BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId);
HWINSTA GetProcessWindowStation();
BOOL GetUserObjectInformationW(HANDLE object, int index, void* info, DWORD length, DWORD* needed);
int MessageBoxW(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type);
using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);
HANDLE CreateThread(void* attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD flags, DWORD* threadId);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

// What the caller kit's header calls to start the helper.
HANDLE GetProcessHeap();
void* HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, void* memory);
inline void ZeroMemory(void* memory, SIZE_T bytes) {  // NOLINT: Windows' name
  auto* byte = static_cast<unsigned char*>(memory);
  for (SIZE_T i = 0; i < bytes; ++i) {
    byte[i] = 0;
  }
}
BOOL CreateProcessW(const WCHAR* applicationName, WCHAR* commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, const WCHAR* currentDirectory, STARTUPINFOW* startupInfo,
                    PROCESS_INFORMATION* processInformation);
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);

// Windows Installer (msi.dll), as a custom action sees it.
MSIHANDLE MsiCreateRecord(UINT fields);
UINT MsiRecordSetStringW(MSIHANDLE record, UINT field, const WCHAR* value);
UINT MsiGetPropertyW(MSIHANDLE install, const WCHAR* name, WCHAR* value, DWORD* length);
int MsiRecordGetInteger(MSIHANDLE record, UINT field);
UINT MsiRecordGetStringW(MSIHANDLE record, UINT field, WCHAR* value, DWORD* length);
int MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE kind, MSIHANDLE record);
MSIHANDLE MsiGetActiveDatabase(MSIHANDLE install);
UINT MsiDatabaseOpenViewW(MSIHANDLE database, const WCHAR* query, MSIHANDLE* view);
UINT MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters);
UINT MsiViewFetch(MSIHANDLE view, MSIHANDLE* record);
UINT MsiCloseHandle(MSIHANDLE handle);

// msvcrt's comparison that folds only 'A' to 'Z'; glibc has no such function.
int _wcsicmp(const WCHAR* left, const WCHAR* right);  // NOLINT: msvcrt's name

// What the update engine calls on the files of a folder, with Windows' signatures and values.
using ULONGLONG = std::uint64_t;

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD FILE_SHARE_DELETE = 0x00000004;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x00000400;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x00000008;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};

HANDLE CreateFileW(const WCHAR* fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* overlapped);
BOOL FlushFileBuffers(HANDLE file);
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod);
BOOL MoveFileExW(const WCHAR* existingFileName, const WCHAR* newFileName, DWORD flags);
BOOL DeleteFileW(const WCHAR* fileName);
BOOL CreateDirectoryW(const WCHAR* pathName, SECURITY_ATTRIBUTES* securityAttributes);
BOOL RemoveDirectoryW(const WCHAR* pathName);
HANDLE FindFirstFileW(const WCHAR* fileName, WIN32_FIND_DATAW* findData);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* findData);
BOOL FindClose(HANDLE find);
DWORD GetFileAttributesW(const WCHAR* fileName);
BOOL SetFileAttributesW(const WCHAR* fileName, DWORD fileAttributes);
void Sleep(DWORD milliseconds);
ULONGLONG GetTickCount64();

// What reads the batch recipe's marker, written in the console's (OEM) code page.
constexpr UINT CP_OEMCP = 1;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByteStr, int multiByteLength,
                        WCHAR* wideCharStr, int wideCharLength);

// What the update engine's entry point calls: its own folder, the environment, the console's
// control events, the time and the log file's UTF-8.
using WORD = std::uint16_t;
using HMODULE = struct HINSTANCE__*;  // NOLINT: the reserved name is Windows' own

constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;
constexpr DWORD FILE_APPEND_DATA = 0x00000004;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD CTRL_CLOSE_EVENT = 2;
constexpr DWORD CTRL_LOGOFF_EVENT = 5;
constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

DWORD GetModuleFileNameW(HMODULE module, WCHAR* fileName, DWORD size);
DWORD GetEnvironmentVariableW(const WCHAR* name, WCHAR* buffer, DWORD size);
using PHANDLER_ROUTINE = BOOL(WINAPI*)(DWORD ctrlType);
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
void GetSystemTime(SYSTEMTIME* systemTime);
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wideCharStr, int wideCharLength,
                        char* multiByteStr, int multiByteLength, const char* defaultChar,
                        BOOL* usedDefaultChar);

#endif
