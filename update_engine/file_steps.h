// The single file operations of an update, each retried where another program holds the file for
// a moment.
#pragma once

#include "platform/platform.h"

// The longest path Windows hands out, 32,767 units and the NUL.
constexpr DWORD kEnginePathCapacity = 32768;

// How long a rename, copy or delete that meets a sharing violation or access denied is tried
// again. Virus scanners and the search indexer open a file that was just written, often without
// FILE_SHARE_DELETE, and let go within a second or two; a program that holds the file for longer
// means that the run gives up and puts back.
constexpr ULONGLONG kRetryMilliseconds = 5000;
constexpr DWORD kRetryPauseMilliseconds = 100;

// Writes the \\?\ form of the absolute `path` into `out`: C:\x as \\?\C:\x, \\server\share\x as
// \\?\UNC\server\share\x, a path in that form (or in \\.\ form) as it is; without a trailing
// backslash, so that names join to it. Windows passes such a path to the file system unparsed and
// without the MAX_PATH limit. False for a path that is not absolute, or does not fit.
bool MakeLongPath(WCHAR* out, const WCHAR* path);
// True when `path`, in \\?\ form, is a folder; \\?\C: names the volume, \\?\C:\ its root.
bool IsFolderOrRoot(WCHAR* scratch, const WCHAR* path);
// Writes folder + '\' + name into `out`; false when it does not fit.
bool JoinPath(WCHAR* out, const WCHAR* folder, const WCHAR* name);
bool PathExists(const WCHAR* path);
bool IsFolder(const WCHAR* path);

// A sharing violation or access denied: another program holds the file, most likely for a moment.
bool IsWorthRetrying(DWORD error);

// Each returns 0 or the last error of its final attempt. A rename keeps a file's attributes, and
// works on a read-only file; a delete clears the read-only attribute first where it must.
DWORD RenameDurably(const WCHAR* from, const WCHAR* to);
DWORD DeleteWithRetries(const WCHAR* path);
enum class StageResult {
  Staged,     // on the disk, and read back as the source's bytes
  NotCopied,  // the source could not be read, or the copy not made
  Differs,    // the copy could not be flushed or read back, or it reads back otherwise
};

// The whole of `path` in a heap block of `longest` + 1 bytes, so that a longer file reads as
// longer than `longest`; free it with HeapFree. nullptr where it cannot be read, with `absent`
// saying whether it is simply not there.
unsigned char* ReadWholeFile(const WCHAR* path, DWORD longest, DWORD* size, bool* absent);
// Copies `source` into a file `target` that must not exist yet, flushes the copy to the disk and
// reads it back through the same handle. A copy that fits `buffer` is compared byte for byte with
// the source's bytes still held there; a longer one with a 64-bit sum of the source's bytes taken
// as they were copied. Either way the source is read once.
StageResult StageCopy(const WCHAR* source, const WCHAR* target, unsigned char* buffer,
                      unsigned char* readBack, DWORD bufferSize);

// Gives `staged` the read-only, hidden and system attributes of `source`, as the batch recipe's
// xcopy /h /k /r carried them, keeping the archive attribute that Windows set as it was written.
// False when either cannot be read, or `staged` cannot be changed.
bool CarryAttributes(const WCHAR* staged, const WCHAR* source);

// Creates, under `root`, the folders that the relative `name` lies in. False when one cannot be.
bool CreateParentFolders(WCHAR* scratch, const WCHAR* root, const WCHAR* name);

// Removes the folder `path` (a buffer of kEnginePathCapacity units, given back unchanged) with all
// it holds. False when something remains; `remaining` then names it.
bool RemoveTree(WCHAR* path, WCHAR* remaining);
