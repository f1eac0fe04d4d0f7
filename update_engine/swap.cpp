#include "update_engine/swap.h"

#include <wchar.h>

#include "update_engine/file_steps.h"

namespace {

bool Locate(const SwapPlaces& places, const WCHAR* name) {
  return JoinPath(places.inFolder, places.folder, name) &&
         JoinPath(places.inStage, places.stage, name) &&
         JoinPath(places.inBackup, places.backup, name);
}

bool IsNewInPlace(const SwapPlaces& places, WCHAR mark) {
  return PathExists(places.inFolder) && (mark == kAddedFile || PathExists(places.inBackup));
}

bool IsOldInPlace(const SwapPlaces& places, WCHAR mark) {
  return mark == kHadOldFile && PathExists(places.inFolder) && !PathExists(places.inBackup);
}

DWORD Failed(WCHAR* failed, const WCHAR* name, DWORD error) {
  wcscpy(failed, name);
  return error == 0 ? ERROR_PATH_NOT_FOUND : error;
}

// Renames `from` to `to` after creating the folders `to` lies in under `root`.
DWORD MoveInto(const SwapPlaces& places, const WCHAR* root, const WCHAR* name, const WCHAR* from,
               const WCHAR* to) {
  if (!CreateParentFolders(places.scratch, root, name)) {
    return GetLastError();
  }
  return RenameDurably(from, to);
}

// Removes the folders that `name` lies in under `root`, deepest first, while they are empty: those
// the swap made for an added file. A folder that holds anything stays.
void RemoveEmptyFolders(WCHAR* scratch, const WCHAR* root, const WCHAR* name) {
  if (!JoinPath(scratch, root, name)) {
    return;
  }
  WCHAR* rootEnd = scratch + wcslen(root);
  for (WCHAR* last = wcsrchr(scratch, L'\\'); last > rootEnd; last = wcsrchr(scratch, L'\\')) {
    *last = L'\0';
    if (RemoveDirectoryW(scratch) == FALSE) {
      return;
    }
  }
}

}  // namespace

bool IsForwardWhole(const SwapPlaces& places, const FileList& list, WCHAR* missing) {
  for (DWORD at = 0; at < list.length; at = NextEntry(list, at)) {
    const WCHAR* name = list.units + at + 1;
    if (!Locate(places, name) ||
        (!IsNewInPlace(places, list.units[at]) && !PathExists(places.inStage))) {
      wcscpy(missing, name);
      return false;
    }
  }
  return true;
}

bool IsBackWhole(const SwapPlaces& places, const FileList& list, WCHAR* missing) {
  for (DWORD at = 0; at < list.length; at = NextEntry(list, at)) {
    const WCHAR* name = list.units + at + 1;
    if (!Locate(places, name) || (list.units[at] == kHadOldFile && !PathExists(places.inFolder) &&
                                  !PathExists(places.inBackup))) {
      wcscpy(missing, name);
      return false;
    }
  }
  return true;
}

DWORD SwapForward(const SwapPlaces& places, const FileList& list, WCHAR* failed) {
  // Every old file into the backup first: a kill in this loop leaves each old file in one of the
  // two places, and no new one in the folder.
  for (DWORD at = 0; at < list.length; at = NextEntry(list, at)) {
    const WCHAR* name = list.units + at + 1;
    if (!Locate(places, name)) {
      return Failed(failed, name, ERROR_FILENAME_EXCED_RANGE);
    }
    if (IsOldInPlace(places, list.units[at])) {
      DWORD error = MoveInto(places, places.backup, name, places.inFolder, places.inBackup);
      if (error != 0) {
        return Failed(failed, name, error);
      }
    }
  }
  // Then every new one in: a kill here leaves each new file staged or in place. A rename leaves
  // no copy behind, so a staged file is not in place yet (and a name taken in the folder fails its
  // rename): only a file that is not staged is looked for in the folder.
  for (DWORD at = 0; at < list.length; at = NextEntry(list, at)) {
    const WCHAR* name = list.units + at + 1;
    if (!Locate(places, name)) {
      return Failed(failed, name, ERROR_FILENAME_EXCED_RANGE);
    }
    if (PathExists(places.inStage)) {
      DWORD error = MoveInto(places, places.folder, name, places.inStage, places.inFolder);
      if (error != 0) {
        return Failed(failed, name, error);
      }
    } else if (!IsNewInPlace(places, list.units[at])) {
      return Failed(failed, name, ERROR_FILE_NOT_FOUND);
    }
  }
  return 0;
}

DWORD PutBack(const SwapPlaces& places, const FileList& list, WCHAR* failed) {
  // Every new file back into the stage first, so that the folder is free for the old ones; a kill
  // here leaves each new file staged or in place, each old one in place or in the backup.
  for (DWORD at = 0; at < list.length; at = NextEntry(list, at)) {
    const WCHAR* name = list.units + at + 1;
    if (!Locate(places, name)) {
      return Failed(failed, name, ERROR_FILENAME_EXCED_RANGE);
    }
    if (IsNewInPlace(places, list.units[at]) && !PathExists(places.inStage)) {
      DWORD error = MoveInto(places, places.stage, name, places.inFolder, places.inStage);
      if (error != 0) {
        return Failed(failed, name, error);
      }
    }
  }
  // Then every old file back into place.
  for (DWORD at = 0; at < list.length; at = NextEntry(list, at)) {
    const WCHAR* name = list.units + at + 1;
    if (!Locate(places, name)) {
      return Failed(failed, name, ERROR_FILENAME_EXCED_RANGE);
    }
    if (list.units[at] == kHadOldFile && PathExists(places.inBackup)) {
      DWORD error = PathExists(places.inFolder) ? ERROR_FILE_EXISTS
                                                : RenameDurably(places.inBackup, places.inFolder);
      if (error != 0) {
        return Failed(failed, name, error);
      }
    } else if (list.units[at] == kAddedFile && PathExists(places.inFolder)) {
      return Failed(failed, name, ERROR_FILE_EXISTS);
    } else if (list.units[at] == kAddedFile) {
      RemoveEmptyFolders(places.scratch, places.folder, name);
    }
  }
  return 0;
}
