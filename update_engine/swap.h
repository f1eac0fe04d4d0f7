// The swap of a journal's files, and its undoing. Each step looks at where a file lies before it
// moves it, so the same code finishes or undoes a swap that a killed run left half way.
//
// Where each copy lies follows from the renames' order: an old file leaves the folder for the
// backup before the new one comes in, and no rename lands on a file that exists. So, for a file
// that had an old one, the file in the folder is the new one exactly when the backup holds the old.
#pragma once

#include "update_engine/file_list.h"

struct SwapPlaces {
  const WCHAR* folder;
  const WCHAR* stage;
  const WCHAR* backup;
  WCHAR* inFolder;  // scratch, each of kEnginePathCapacity units
  WCHAR* inStage;
  WCHAR* inBackup;
  WCHAR* scratch;
};

// True when every new file is in place or staged; otherwise `missing` names one that is not.
bool IsForwardWhole(const SwapPlaces& places, const FileList& list, WCHAR* missing);
// True when every old file is in place or in the backup; otherwise `missing` names one that is not.
bool IsBackWhole(const SwapPlaces& places, const FileList& list, WCHAR* missing);

// Both return 0, or the error of the rename that failed with `failed` naming its file.
DWORD SwapForward(const SwapPlaces& places, const FileList& list, WCHAR* failed);
DWORD PutBack(const SwapPlaces& places, const FileList& list, WCHAR* failed);
