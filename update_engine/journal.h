// tavelune-update.journal: the files a swap moves, written and flushed before its first rename.
//
// Its bytes, all little-endian: the magic "TAVELUNE-UPDATE-JOURNAL-1\n" in UTF-16, the number of
// UTF-16 units of the list that follows (32 bits), the list as the FileList holds it (each entry a
// mark, the relative name, a NUL; names as NTFS gives them, unpaired surrogates included), and an
// FNV-1a sum (32 bits) of every byte before it. A journal whose sum or length does not match was
// cut short before its flush: no rename had happened.
#pragma once

#include "update_engine/file_list.h"

enum class JournalState {
  Absent,
  Uncommitted,  // empty, zeros, or ours but cut short: no rename happened
  Committed,    // whole: the list is read into the FileList
  Foreign,      // not a journal this engine wrote
  Unreadable,   // there, but it cannot be read
};

// Creates the journal (which must not exist), writes the list, flushes it and closes it.
bool WriteJournal(const WCHAR* path, const FileList& list);
JournalState ReadJournal(const WCHAR* path, FileList& list);
