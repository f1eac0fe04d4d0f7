#include "update_engine/journal.h"

#include <wchar.h>

#include "update_engine/file_steps.h"

namespace {

constexpr const WCHAR* kMagic = L"TAVELUNE-UPDATE-JOURNAL-1\n";
constexpr DWORD kMagicUnits = 26;
constexpr DWORD kMagicBytes = kMagicUnits * 2;
constexpr DWORD kHeaderBytes = kMagicBytes + 4;
// Far more than the names of any set of files; a longer file is no journal of ours.
constexpr DWORD kLongestJournal = 16u * 1024 * 1024;

DWORD Fnv1a(const unsigned char* bytes, DWORD length) {
  DWORD sum = 2166136261u;
  for (DWORD i = 0; i < length; ++i) {
    sum = (sum ^ bytes[i]) * 16777619u;
  }
  return sum;
}

// The offsets are counted in size_t: a count of units times two does not wrap in a DWORD first.
void PutUnit(unsigned char* bytes, size_t index, DWORD unit) {
  unsigned char* at = bytes + index * 2;
  at[0] = static_cast<unsigned char>(unit & 0xFF);
  at[1] = static_cast<unsigned char>((unit >> 8) & 0xFF);
}

WCHAR UnitAt(const unsigned char* bytes, size_t index) {
  const unsigned char* at = bytes + index * 2;
  return static_cast<WCHAR>(at[0] | at[1] << 8);
}

void PutNumber(unsigned char* at, DWORD number) {
  PutUnit(at, 0, number & 0xFFFF);
  PutUnit(at, 1, number >> 16);
}

DWORD GetNumber(const unsigned char* at) {
  return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 |
         static_cast<DWORD>(at[2]) << 16 | static_cast<DWORD>(at[3]) << 24;
}

bool HasMagic(const unsigned char* bytes, DWORD length) {
  if (length < kMagicBytes) {
    return false;
  }
  for (DWORD i = 0; i < kMagicUnits; ++i) {
    if (UnitAt(bytes, i) != kMagic[i]) {
      return false;
    }
  }
  return true;
}

bool AllZero(const unsigned char* bytes, DWORD length) {
  for (DWORD i = 0; i < length; ++i) {
    if (bytes[i] != 0) {
      return false;
    }
  }
  return true;
}

// Reads the list's units into `list`; false where an entry is not one this engine writes.
bool ParseList(const unsigned char* bytes, DWORD units, FileList& list) {
  WCHAR* name = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, (units + 1) * sizeof(WCHAR)));
  if (name == nullptr) {
    return false;
  }
  DWORD at = 0;
  bool parsed = units > 0;
  while (parsed && at < units) {
    WCHAR mark = UnitAt(bytes, at);
    DWORD length = 0;
    for (++at; at < units; ++at) {
      WCHAR unit = UnitAt(bytes, at);
      if (unit == L'\0') {
        break;
      }
      name[length++] = unit;
    }
    name[length] = L'\0';
    parsed = at < units && (mark == kHadOldFile || mark == kAddedFile) &&
             IsPlainRelativeName(name) && AppendEntry(list, mark, name);
    ++at;
  }
  HeapFree(GetProcessHeap(), 0, name);
  return parsed;
}

}  // namespace

bool WriteJournal(const WCHAR* path, const FileList& list) {
  DWORD size = kHeaderBytes + list.length * 2 + 4;
  auto* bytes = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, size));
  if (bytes == nullptr) {
    return false;
  }
  for (DWORD i = 0; i < kMagicUnits; ++i) {
    PutUnit(bytes, i, static_cast<DWORD>(kMagic[i]));
  }
  PutNumber(bytes + kMagicBytes, list.length);
  for (DWORD i = 0; i < list.length; ++i) {
    PutUnit(bytes + kHeaderBytes, i, static_cast<DWORD>(list.units[i]));
  }
  PutNumber(bytes + size - 4, Fnv1a(bytes, size - 4));

  HANDLE journal =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (journal == INVALID_HANDLE_VALUE) {
    HeapFree(GetProcessHeap(), 0, bytes);
    return false;
  }
  DWORD written = 0;
  bool kept = WriteFile(journal, bytes, size, &written, nullptr) != FALSE && written == size &&
              FlushFileBuffers(journal) != FALSE;
  CloseHandle(journal);
  HeapFree(GetProcessHeap(), 0, bytes);
  return kept;
}

JournalState ReadJournal(const WCHAR* path, FileList& list) {
  DWORD size = 0;
  bool absent = false;
  unsigned char* bytes = ReadWholeFile(path, kLongestJournal, &size, &absent);
  if (bytes == nullptr) {
    return absent ? JournalState::Absent : JournalState::Unreadable;
  }
  JournalState state = JournalState::Foreign;
  if (AllZero(bytes, size)) {
    // A file whose bytes never reached the disk reads empty, or as zeros where NTFS had already
    // given it room.
    state = JournalState::Uncommitted;
  } else if (HasMagic(bytes, size)) {
    DWORD units = size >= kHeaderBytes ? GetNumber(bytes + kMagicBytes) : 0;
    bool whole = size >= kHeaderBytes && units <= (kLongestJournal - kHeaderBytes - 4) / 2 &&
                 size == kHeaderBytes + units * 2 + 4 &&
                 GetNumber(bytes + size - 4) == Fnv1a(bytes, size - 4);
    state = !whole                                         ? JournalState::Uncommitted
            : ParseList(bytes + kHeaderBytes, units, list) ? JournalState::Committed
                                                           : JournalState::Foreign;
  }
  HeapFree(GetProcessHeap(), 0, bytes);
  return state;
}
