// Replaces the files of a folder with those of a source folder, all of them or none, only while
// no Tavelune process runs from the folder, and so that a kill or a power cut at any point leaves
// what the next run finishes or undoes.
#pragma once

#include "platform/platform.h"
#include "update_engine/file_steps.h"

// The statuses of the recipes, unchanged.
constexpr int kReplaced = 0;
constexpr int kTaveluneRuns = 10;
constexpr int kCannotBeTold = 20;
constexpr int kNothingReplaced = 30;
// An update of ours remains unfinished, its journal included: the next run finishes it first.
constexpr int kNotPutBack = 40;

struct UpdateRequest {
  const WCHAR* folder;  // absolute, without a trailing backslash
  const WCHAR* source;  // likewise
  const WCHAR* helper;  // tavelune-helper.exe's absolute path
  bool silent;          // no notice when Tavelune runs
  DWORD waitSeconds;    // how long to ask again while Tavelune runs
};

struct UpdateReport {
  const WCHAR* reason;              // nullptr for a replacement that left nothing behind
  WCHAR file[kEnginePathCapacity];  // the file the reason concerns, or empty
};

// Called from the console's control handler (Ctrl+C, a closed console): from then on the run
// starts no new step, and finishes or puts back a swap under way.
void SetStopRequest(bool requested);

int UpdateFiles(const UpdateRequest& request, UpdateReport& report);
