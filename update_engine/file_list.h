// The relative names of the files an update carries, with whether each had an old file: the
// journal's content, in memory as on disk.
#pragma once

#include "platform/platform.h"

// Each entry is a mark, the name relative to the folder ("sub\x.dll") and a NUL.
constexpr WCHAR kHadOldFile = L'O';
constexpr WCHAR kAddedFile = L'N';

struct FileList {
  WCHAR* units;
  DWORD length;
  DWORD capacity;
  DWORD count;
};

bool AppendEntry(FileList& list, WCHAR mark, const WCHAR* name);
void FreeFileList(FileList& list);
// The entry after the one at `at`; list.length after the last.
DWORD NextEntry(const FileList& list, DWORD at);
// True for a name a journal may hold: relative, no "." or ".." component, no drive, stream or
// wildcard.
bool IsPlainRelativeName(const WCHAR* name);

// Appends every file under the folder `path` (a buffer of kEnginePathCapacity units, given back
// unchanged), subfolders included, each marked kAddedFile. `rootLength` is the length of the
// source folder's path, which the names are relative to.
bool ListFiles(WCHAR* path, size_t rootLength, FileList& list);
