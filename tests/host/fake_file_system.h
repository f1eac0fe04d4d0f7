// A fake of the Windows file functions, the helper's process and the heap, for the update
// engine's tests: an in-memory tree in which a file's bytes reach the disk only when flushed, and
// which can stop the process after any change it makes.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

struct FakeNode {
  bool folder = false;
  std::string bytes;     // what the file holds now
  std::string durable;   // what a power cut leaves: the bytes as of the last flush
  DWORD attributes = 0;  // read-only, hidden, system, archive; 0 for none
};

struct FakeDisk {
  std::map<std::wstring, FakeNode> nodes;  // full paths, as the engine spells them
  // The helper's answers per asked path, in turn, the last repeated; a path not listed gets 0.
  std::map<std::wstring, std::vector<DWORD>> answers;
  std::function<void(const std::wstring&)> onQuestion;  // runs as the helper is asked
  std::vector<std::wstring> asked;
  std::vector<std::wstring> notices;
  // Another program holds the file without FILE_SHARE_DELETE: that many more attempts to rename
  // or delete it fail (-1: all of them).
  std::map<std::wstring, int> held;
  std::map<std::wstring, DWORD> uncreatable;  // making the file fails with this error (disk full)
  long stopAfter = -1;    // the process is gone after this many changes; -1: never
  long changes = 0;       // creates, writes, flushes, renames, deletes and folder changes made
  long firstRename = 0;   // the change that was the first rename, 0 before one
  long lastQuestion = 0;  // the change count when the helper was last asked
  bool stopped = false;
  ULONGLONG clock = 0;
  std::vector<std::string> misuses;
};

FakeDisk& Disk();
// An empty disk, holding the folders C:\ and those of `files`, with each of `files` flushed.
void ResetDisk(const std::map<std::wstring, std::string>& files);
// What the end of the stopped process leaves: its handles closed by the system (a lock opened
// with FILE_FLAG_DELETE_ON_CLOSE goes), or after a power cut every file as of its last flush and
// no close at all.
void EndProcess(bool powerCut);
int OpenFileHandles();
