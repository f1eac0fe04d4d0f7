// A scripted stand-in for the Windows functions the tool calls. A test loads a script with
// ResetFake(), runs the tool's code, and reads back from Fake() what it did.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

// A row of InstallExecuteSequence; kNull as its sequence stands for Null.
constexpr int kNull = -2147483647 - 1;
struct FakeSequenceRow {
  std::wstring action;
  int sequence = kNull;
  std::wstring condition;
};

struct FakeProcess {
  DWORD processId = 0;
  std::wstring exeFile;
  std::wstring imagePath;
  DWORD openError = 0;      // not 0: OpenProcess fails and leaves this as the last error
  bool queryFails = false;  // QueryFullProcessImageNameW fails
};

constexpr std::size_t kWalkNeverFails = static_cast<std::size_t>(-1);

struct FakeSystem {
  // The script.
  std::wstring currentDirectory = L"C:\\Work";
  bool fullPathFails = false;
  bool fullPathTooLong = false;  // the absolute form needs more than the buffer holds
  // GetLongPathNameW: a path that begins with a short spelling here gets the long one instead; a
  // path listed with an error fails with it, as an empty one does; any other path exists as it is
  // written.
  std::vector<std::pair<std::wstring, std::wstring>> shortNames;
  std::vector<std::pair<std::wstring, DWORD>> longPathErrors;
  bool snapshotFails = false;
  bool firstEntryFails = false;
  std::vector<FakeProcess> processes;  // in snapshot order
  // Process32NextW fails with walkError instead of delivering the entry at this index.
  std::size_t walkFailsAt = kWalkNeverFails;
  DWORD walkError = ERROR_INVALID_HANDLE;
  bool logCalls = false;  // keep `calls`; off where the fake is timed or fuzzed
  // The window station's flags: visible, as on a user's desktop, or not, as in session 0.
  bool windowStationVisible = true;
  bool windowStationQueryFails = false;
  DWORD session = 1;  // 0: session 0, where services run
  bool sessionQueryFails = false;
  bool threadFails = false;  // CreateThread fails, as when the process is out of memory
  // Windows Installer's properties, as an action reads them and formats with them, and the
  // package's tables: Property and InstallExecuteSequence.
  std::vector<std::pair<std::wstring, std::wstring>> properties;
  std::vector<std::pair<std::wstring, std::wstring>> propertyTable;
  std::vector<FakeSequenceRow> executeSequence;
  bool databaseFails = false;  // MsiGetActiveDatabase has no database to give

  // What the scan did.
  bool snapshotTaken = false;
  std::size_t entriesDelivered = 0;
  std::vector<DWORD> openedProcessIds;
  std::wstring standardError;
  bool snapshotOpenWhenWritten = false;
  int mostProcessHandlesOpen = 0;
  std::vector<std::string> misuses;  // calls the scan must never make, in words
  std::vector<std::string> calls;    // every Windows function called, in order, when logCalls
  // Each message sent to Windows Installer: its kind, and its text as formatted.
  std::vector<std::pair<int, std::wstring>> messages;
  std::size_t threadStack = 0;  // the stack reserved for the last thread started
};

// Starts the fake afresh on `script`, with no handle open.
void ResetFake(FakeSystem script);

// Forgets what the scan did and closes every handle, keeping the script.
void RewindFake();

// The script and what the scan did since the last reset.
FakeSystem& Fake();

// Handles that are open now, Windows Installer's records, views and databases included, and blocks
// taken from the heap and not given back.
int OpenHandleCount();
