#include "update_engine/legacy_marker.h"

#include <wchar.h>

#include "update_engine/file_steps.h"

namespace {

// A marker lists the few files of one folder.
constexpr DWORD kLongestMarker = 1024 * 1024;

// Decodes the marker's bytes into `text` (room for kLongestMarker units and a NUL).
bool DecodeMarker(const unsigned char* bytes, DWORD size, WCHAR* text) {
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    if (size % 2 != 0) {
      return false;
    }
    DWORD units = (size - 2) / 2;
    for (DWORD i = 0; i < units; ++i) {
      text[i] = static_cast<WCHAR>(bytes[2 + 2 * i] | bytes[3 + 2 * i] << 8);
    }
    text[units] = L'\0';
    return true;
  }
  int units = size == 0 ? 0
                        : MultiByteToWideChar(
                              CP_OEMCP, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes),
                              static_cast<int>(size), text, static_cast<int>(kLongestMarker));
  if (size != 0 && units == 0) {
    return false;
  }
  text[units] = L'\0';
  return true;
}

// Appends each line of `text` as a name, checked against where its copies lie.
bool ListMarkedNames(WCHAR* text, const WCHAR* folder, const WCHAR* stage, const WCHAR* backup,
                     WCHAR* scratch, FileList& list) {
  WCHAR* line = text;
  for (WCHAR* at = text;; ++at) {
    if (*at != L'\r' && *at != L'\n' && *at != L'\0') {
      continue;
    }
    bool last = *at == L'\0';
    *at = L'\0';
    // Empty lines are skipped, as the recipes' loops skip them.
    if (*line != L'\0') {
      if (!IsPlainRelativeName(line) || wcschr(line, L'\\') != nullptr) {
        return false;
      }
      bool inBackup = JoinPath(scratch, backup, line) && PathExists(scratch);
      bool inStage = JoinPath(scratch, stage, line) && PathExists(scratch);
      bool inFolder = JoinPath(scratch, folder, line) && PathExists(scratch);
      // A name only in the folder is a new file that their swap had moved in: their put-back moves
      // it into the stage. A name found nowhere (read in the wrong code page, say) is refused.
      if (!inBackup && !inStage && !inFolder) {
        return false;
      }
      WCHAR mark = inBackup || (inStage && inFolder) ? kHadOldFile : kAddedFile;
      if (!AppendEntry(list, mark, line)) {
        return false;
      }
    }
    if (last) {
      return list.count > 0;
    }
    line = at + 1;
  }
}

}  // namespace

JournalState ReadLegacyMarker(const WCHAR* path, const WCHAR* folder, const WCHAR* stage,
                              const WCHAR* backup, WCHAR* scratch, FileList& list) {
  DWORD size = 0;
  bool absent = false;
  unsigned char* bytes = ReadWholeFile(path, kLongestMarker, &size, &absent);
  if (bytes == nullptr) {
    return absent ? JournalState::Absent : JournalState::Unreadable;
  }
  auto* text =
      static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, (kLongestMarker + 1) * sizeof(WCHAR)));
  JournalState state = text == nullptr ? JournalState::Unreadable
                       : size <= kLongestMarker && DecodeMarker(bytes, size, text) &&
                               ListMarkedNames(text, folder, stage, backup, scratch, list)
                           ? JournalState::Committed
                           : JournalState::Foreign;
  HeapFree(GetProcessHeap(), 0, bytes);
  if (text != nullptr) {
    HeapFree(GetProcessHeap(), 0, text);
  }
  return state;
}
