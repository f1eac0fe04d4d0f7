#include "update_engine/update_files.h"

#include <wchar.h>

#include <atomic>

#include "integration/c/tavelune_helper_client.h"
#include "update_engine/file_list.h"
#include "update_engine/journal.h"
#include "update_engine/legacy_marker.h"
#include "update_engine/swap.h"

namespace {

constexpr const WCHAR* kNotice =
    L"Tavelune l\u00e4uft noch. Bitte schlie\u00dfen Sie Tavelune und starten Sie die "
    L"Aktualisierung erneut.";
constexpr DWORD kCopyBufferSize = 64 * 1024;
constexpr DWORD kAskAgainMilliseconds = 500;

struct Workspace {
  // FOLDER and SOURCE in \\?\ form, for every file-system call; the request's forms are for the
  // helper's questions and the report.
  WCHAR folder[kEnginePathCapacity];
  WCHAR source[kEnginePathCapacity];
  WCHAR stage[kEnginePathCapacity];
  WCHAR backup[kEnginePathCapacity];
  WCHAR journal[kEnginePathCapacity];
  WCHAR lock[kEnginePathCapacity];
  WCHAR marker[kEnginePathCapacity];
  WCHAR tavelune[kEnginePathCapacity];
  WCHAR backupTavelune[kEnginePathCapacity];  // as the helper is asked about it
  WCHAR inFolder[kEnginePathCapacity];
  WCHAR inStage[kEnginePathCapacity];
  WCHAR inBackup[kEnginePathCapacity];
  WCHAR inSource[kEnginePathCapacity];
  WCHAR scratch[kEnginePathCapacity];
  unsigned char copyBuffer[kCopyBufferSize];
  unsigned char compareBuffer[kCopyBufferSize];
  FileList files;       // what SOURCE holds
  FileList unfinished;  // what the journal of an interrupted swap lists
  FileList legacy;      // what a recipe's marker lists
  ULONGLONG askUntil;   // when --wait's time is up, for all questions together
};

// Set from the console's control handler: no new step starts, a swap under way is finished.
std::atomic<bool> stopRequested = false;

int Report(UpdateReport& report, int status, const WCHAR* reason, const WCHAR* file) {
  report.reason = reason;
  if (file != nullptr) {
    wcscpy(report.file, file);
  }
  return status;
}

WCHAR FoldAscii(WCHAR unit) {
  return unit >= L'A' && unit <= L'Z' ? static_cast<WCHAR>(unit - L'A' + L'a') : unit;
}

// True when `inner` is `outer` or lies inside it, comparing as NTFS does for the letters A to Z.
bool IsWithin(const WCHAR* inner, const WCHAR* outer) {
  size_t at = 0;
  for (; outer[at] != L'\0'; ++at) {
    if (FoldAscii(inner[at]) != FoldAscii(outer[at])) {
      return false;
    }
  }
  return inner[at] == L'\0' || inner[at] == L'\\';
}

// Asks the helper about `target`, again every half second while the answer is 10, until the
// run's time to wait is up.
int AskHelper(const UpdateRequest& request, const Workspace& work, const WCHAR* target) {
  for (;;) {
    int answer = TaveluneHelperCheck(request.helper, target);
    if (answer != kTaveluneRuns || stopRequested ||
        GetTickCount64() + kAskAgainMilliseconds > work.askUntil) {
      return answer;
    }
    Sleep(kAskAgainMilliseconds);
  }
}

// The first question: about Tavelune.exe, and about the one that an earlier swap moved into the
// backup, where a Tavelune started right before it runs on.
int AskBeforeAnyChange(const UpdateRequest& request, Workspace& work) {
  int answer = AskHelper(request, work, work.tavelune);
  if (answer == kReplaced && JoinPath(work.scratch, work.backup, L"Tavelune.exe") &&
      PathExists(work.scratch)) {
    answer = AskHelper(request, work, work.backupTavelune);
  }
  return answer;
}

int ReportAnswer(UpdateReport& report, int answer, bool unfinished) {
  if (answer == kTaveluneRuns) {
    return Report(
        report, answer,
        unfinished ? L"Tavelune runs; the folder holds an unfinished update" : L"Tavelune runs",
        L"Tavelune.exe");
  }
  return Report(report, answer,
                unfinished ? L"whether Tavelune runs cannot be told; the folder holds an "
                             L"unfinished update"
                           : L"whether Tavelune runs cannot be told",
                L"Tavelune.exe");
}

SwapPlaces PlacesOf(Workspace& work) {
  return SwapPlaces{work.folder,  work.stage,    work.backup, work.inFolder,
                    work.inStage, work.inBackup, work.scratch};
}

// Deletes the file `name` of the folder where it is there. False with `report` naming it.
bool DeleteLeftover(Workspace& work, const WCHAR* name, UpdateReport& report) {
  if (JoinPath(work.scratch, work.folder, name) && PathExists(work.scratch) &&
      DeleteWithRetries(work.scratch) != 0) {
    wcscpy(report.file, name);
    return false;
  }
  return true;
}

// Removes what only a run under way needs, the recipes' lists of names included. False with
// `report` naming what remains.
bool ClearLeftovers(Workspace& work, UpdateReport& report) {
  return DeleteLeftover(work, L"tavelune-update.names", report) &&
         DeleteLeftover(work, L"tavelune-update.codepage", report) &&
         RemoveTree(work.stage, report.file) && RemoveTree(work.backup, report.file);
}

// Puts back what a recipe's interrupted swap moved, as the recipe itself would have: every new
// file into the stage, every old one into place, then the marker goes.
int RecoverLegacySwap(Workspace& work, UpdateReport& report) {
  SwapPlaces places = PlacesOf(work);
  if (!IsBackWhole(places, work.legacy, report.file)) {
    return Report(report, kNotPutBack, L"an unfinished update misses an old file", nullptr);
  }
  if (PutBack(places, work.legacy, report.file) != 0) {
    return Report(report, kNotPutBack, L"an unfinished update could not be put back yet", nullptr);
  }
  if (DeleteWithRetries(work.marker) != 0) {
    return Report(report, kNotPutBack, L"the marker could not be removed",
                  L"tavelune-update.marker");
  }
  return kReplaced;
}

int ReportStop(UpdateReport& report) {
  return Report(report, kNothingReplaced, L"stopped by Ctrl+C or a closed console", nullptr);
}

// Finishes or undoes the swap that the journal lists, whichever way finds every copy it needs.
int RecoverSwap(Workspace& work, UpdateReport& report) {
  SwapPlaces places = PlacesOf(work);
  if (IsForwardWhole(places, work.unfinished, report.file)) {
    // A file that another program holds stops the recovery until it lets go (40). One that cannot
    // go forward for good (a path, a file where a folder must be) would fail the same way on every
    // run: going back ends that.
    const DWORD error = SwapForward(places, work.unfinished, report.file);
    if (error != 0 &&
        (IsWorthRetrying(error) || !IsBackWhole(places, work.unfinished, work.inSource) ||
         PutBack(places, work.unfinished, work.inSource) != 0)) {
      return Report(report, kNotPutBack, L"an unfinished update could not be completed yet",
                    nullptr);
    }
  } else if (!IsBackWhole(places, work.unfinished, report.file)) {
    return Report(report, kNotPutBack,
                  L"an unfinished update misses both the old and the new copy of a file", nullptr);
  } else if (PutBack(places, work.unfinished, report.file) != 0) {
    return Report(report, kNotPutBack, L"an unfinished update could not be put back yet", nullptr);
  }
  // Every file is whole in one version: the journal is no longer needed.
  if (DeleteWithRetries(work.journal) != 0) {
    return Report(report, kNotPutBack, L"the journal could not be removed",
                  L"tavelune-update.journal");
  }
  return kReplaced;
}

// Marks each source file that has an old one in the folder. 30 where a folder stands in the way.
int MarkOldFiles(Workspace& work, UpdateReport& report) {
  for (DWORD at = 0; at < work.files.length; at = NextEntry(work.files, at)) {
    const WCHAR* name = work.files.units + at + 1;
    if (!JoinPath(work.inFolder, work.folder, name)) {
      return Report(report, kNothingReplaced, L"a path is too long", name);
    }
    // One look at each name: whether it is there, and whether as a folder.
    DWORD attributes = GetFileAttributesW(work.inFolder);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return Report(report, kNothingReplaced, L"a folder stands where a file must go", name);
    }
    work.files.units[at] = attributes != INVALID_FILE_ATTRIBUTES ? kHadOldFile : kAddedFile;
  }
  return kReplaced;
}

// Every staged copy reaches the disk, and is what its source holds, before the journal can point
// at it: each is copied, flushed and read back in one go, while the source's bytes are at hand.
// Then it takes its source's attributes, as a read-only copy cannot be flushed.
int StageFiles(Workspace& work, UpdateReport& report) {
  if (CreateDirectoryW(work.stage, nullptr) == FALSE) {
    return Report(report, kNothingReplaced, L"the staging folder could not be created",
                  L"tavelune-update.new");
  }
  for (DWORD at = 0; at < work.files.length; at = NextEntry(work.files, at)) {
    const WCHAR* name = work.files.units + at + 1;
    if (stopRequested) {
      return ReportStop(report);
    }
    if (!JoinPath(work.inSource, work.source, name) || !JoinPath(work.inStage, work.stage, name) ||
        !CreateParentFolders(work.scratch, work.stage, name)) {
      return Report(report, kNothingReplaced, L"a new file could not be staged", name);
    }
    StageResult staged = StageCopy(work.inSource, work.inStage, work.copyBuffer, work.compareBuffer,
                                   kCopyBufferSize);
    if (staged == StageResult::NotCopied) {
      return Report(report, kNothingReplaced, L"a new file could not be staged", name);
    }
    if (staged == StageResult::Differs) {
      return Report(report, kNothingReplaced, L"a staged file is gone or differs from its source",
                    name);
    }
    if (!CarryAttributes(work.inStage, work.inSource)) {
      return Report(report, kNothingReplaced, L"a staged file's attributes could not be set", name);
    }
  }
  return kReplaced;
}

// After the last question, the journal may point only at staged copies that are still there; one
// taken away meanwhile (a virus scanner's quarantine, say) stops the run before any rename.
int CheckStillStaged(Workspace& work, UpdateReport& report) {
  for (DWORD at = 0; at < work.files.length; at = NextEntry(work.files, at)) {
    const WCHAR* name = work.files.units + at + 1;
    if (!JoinPath(work.inStage, work.stage, name) || !PathExists(work.inStage)) {
      return Report(report, kNothingReplaced, L"a staged file is gone or differs from its source",
                    name);
    }
  }
  return kReplaced;
}

// Removes what a run that replaces nothing staged, and ends with its status.
int Abandon(Workspace& work, int status) {
  static_cast<void>(RemoveTree(work.stage, work.scratch));
  static_cast<void>(RemoveTree(work.backup, work.scratch));
  return status;
}

// Asks first, then finishes or undoes what an interrupted run left, then clears the rest.
int AskAndRecover(const UpdateRequest& request, Workspace& work, UpdateReport& report) {
  // Reading changes nothing: a journal or marker that is not an update's stops the run here.
  JournalState journal = ReadJournal(work.journal, work.unfinished);
  if (journal == JournalState::Foreign || journal == JournalState::Unreadable) {
    return Report(report, kNotPutBack, L"the journal is not one this update wrote",
                  L"tavelune-update.journal");
  }
  JournalState marker = ReadLegacyMarker(work.marker, work.folder, work.stage, work.backup,
                                         work.scratch, work.legacy);
  if (marker == JournalState::Foreign || marker == JournalState::Unreadable) {
    return Report(report, kNotPutBack, L"the marker names what is no file of an update",
                  L"tavelune-update.marker");
  }
  // Nothing of the folder moves before the helper has answered 0.
  int answer = AskBeforeAnyChange(request, work);
  if (answer != kReplaced) {
    return ReportAnswer(report, answer,
                        journal == JournalState::Committed || marker == JournalState::Committed);
  }
  if (stopRequested) {
    return ReportStop(report);
  }
  // A kill during recovery leaves the journal or the marker, and the next run recovers again.
  if (journal == JournalState::Committed) {
    int recovered = RecoverSwap(work, report);
    if (recovered != kReplaced) {
      return recovered;
    }
  } else if (journal == JournalState::Uncommitted && DeleteWithRetries(work.journal) != 0) {
    // Cut short before its flush: no rename had happened, and the files are the old ones.
    return Report(report, kNotPutBack, L"the journal could not be removed",
                  L"tavelune-update.journal");
  }
  if (marker == JournalState::Committed) {
    int recovered = RecoverLegacySwap(work, report);
    if (recovered != kReplaced) {
      return recovered;
    }
  }
  // Without a journal or a marker, stage and backup hold nothing that is needed.
  if (!ClearLeftovers(work, report)) {
    return Report(report, kNothingReplaced, L"what an earlier update left cannot be removed yet",
                  nullptr);
  }
  return kReplaced;
}

// Stages the new files, asks for the last time, and writes the journal. Until the journal is
// flushed, whatever ends the run leaves the old files in place and only leftovers beside them.
int PrepareSwap(const UpdateRequest& request, Workspace& work, UpdateReport& report) {
  int status = MarkOldFiles(work, report);
  if (status != kReplaced) {
    return status;
  }
  // A kill while staging leaves some of the stage, which the next run clears; a power cut from here
  // on finds every staged copy whole, or no journal that points at it.
  status = StageFiles(work, report);
  if (status != kReplaced) {
    return Abandon(work, status);
  }
  if (stopRequested) {
    return Abandon(work, ReportStop(report));
  }
  // The last question, right before the swap: a Tavelune started meanwhile stops it.
  int answer = AskHelper(request, work, work.tavelune);
  if (answer != kReplaced) {
    return Abandon(work, ReportAnswer(report, answer, false));
  }
  status = CheckStillStaged(work, report);
  if (status != kReplaced) {
    return Abandon(work, status);
  }
  if (CreateDirectoryW(work.backup, nullptr) == FALSE) {
    return Abandon(work, Report(report, kNothingReplaced, L"the backup folder could not be created",
                                L"tavelune-update.old"));
  }
  if (stopRequested) {
    return Abandon(work, ReportStop(report));
  }
  // A journal cut short by a power cut reads as never written; once flushed, it holds the swap.
  if (!WriteJournal(work.journal, work.files)) {
    static_cast<void>(DeleteWithRetries(work.journal));
    return Abandon(work, Report(report, kNothingReplaced, L"the journal could not be written",
                                L"tavelune-update.journal"));
  }
  return kReplaced;
}

// Swaps the files the journal lists, or puts them back where one cannot be moved, then commits by
// deleting the journal. A kill anywhere here leaves the journal, and each file whole in one place
// at least.
int SwapAndCommit(Workspace& work, UpdateReport& report) {
  SwapPlaces places = PlacesOf(work);
  int status = kReplaced;
  if (SwapForward(places, work.files, report.file) != 0) {
    WCHAR* failed = work.inSource;
    if (PutBack(places, work.files, failed) != 0) {
      return Report(report, kNotPutBack, L"the old files could not all be put back yet", failed);
    }
    status = Report(report, kNothingReplaced, L"a file could not be swapped; all were put back",
                    nullptr);
  }
  // Deleting the journal commits either way; a kill before it repeats the recovery. A journal that
  // stays after its retries ends the run with 40, not 0, even where every file is new: the next
  // run does not take it for done, but asks (and reports an unfinished update while Tavelune
  // runs), checks the files and then removes it. The stage and the backups stay beside it, so that
  // the next run finds every file whole in the new version, or staged to become so.
  if (DeleteWithRetries(work.journal) != 0) {
    return Report(report, kNotPutBack,
                  status == kReplaced ? L"the files are replaced, but the journal could not be "
                                        L"removed; the next run removes it"
                                      : L"the old files are back, but the journal could not be "
                                        L"removed; the next run removes it",
                  L"tavelune-update.journal");
  }
  // A kill while clearing leaves leftovers without a journal, which the next run clears.
  if (!ClearLeftovers(work, report)) {
    return Report(report, status, L"the update's own files could not all be removed", nullptr);
  }
  return status;
}

// The steps once the lock is held.
int UpdateLocked(const UpdateRequest& request, Workspace& work, UpdateReport& report) {
  int status = AskAndRecover(request, work, report);
  if (status != kReplaced) {
    return status;
  }
  status = PrepareSwap(request, work, report);
  if (status != kReplaced) {
    return status;
  }
  return SwapAndCommit(work, report);
}

bool MakePaths(const UpdateRequest& request, Workspace& work) {
  return MakeLongPath(work.folder, request.folder) && MakeLongPath(work.source, request.source) &&
         JoinPath(work.stage, work.folder, L"tavelune-update.new") &&
         JoinPath(work.backup, work.folder, L"tavelune-update.old") &&
         JoinPath(work.journal, work.folder, L"tavelune-update.journal") &&
         JoinPath(work.lock, work.folder, L"tavelune-update.lock") &&
         JoinPath(work.marker, work.folder, L"tavelune-update.marker") &&
         JoinPath(work.tavelune, request.folder, L"Tavelune.exe") &&
         JoinPath(work.backupTavelune, request.folder, L"tavelune-update.old\\Tavelune.exe");
}

int UpdateWithWorkspace(const UpdateRequest& request, Workspace& work, UpdateReport& report) {
  if (!MakePaths(request, work)) {
    return Report(report, kNothingReplaced,
                  L"the folder's or the source's path is not absolute or too long", nullptr);
  }
  if (!IsFolderOrRoot(work.scratch, work.folder)) {
    return Report(report, kNothingReplaced, L"the folder does not exist", nullptr);
  }
  if (!IsFolderOrRoot(work.scratch, work.source)) {
    return Report(report, kNothingReplaced, L"the source folder does not exist", request.source);
  }
  if (IsWithin(work.source, work.folder) || IsWithin(work.folder, work.source)) {
    return Report(report, kNothingReplaced, L"the source and the folder lie inside one another",
                  request.source);
  }
  wcscpy(work.inSource, work.source);
  if (!ListFiles(work.inSource, wcslen(work.source), work.files)) {
    return Report(report, kNothingReplaced, L"the source folder cannot be read", request.source);
  }
  if (work.files.count == 0) {
    return Report(report, kNothingReplaced, L"the source folder is empty", request.source);
  }

  // One update of a folder at a time, the recipes' included: held without sharing for the run,
  // not inherited, and gone with the process however it ends.
  HANDLE lock = CreateFileW(work.lock, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (lock == INVALID_HANDLE_VALUE) {
    return Report(report, kNothingReplaced, L"another update of the folder is under way",
                  L"tavelune-update.lock");
  }
  int status = UpdateLocked(request, work, report);
  CloseHandle(lock);
  return status;
}

}  // namespace

void SetStopRequest(bool requested) { stopRequested = requested; }

int UpdateFiles(const UpdateRequest& request, UpdateReport& report) {
  report.reason = nullptr;
  report.file[0] = L'\0';
  auto* work = static_cast<Workspace*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Workspace)));
  if (work == nullptr) {
    return Report(report, kNothingReplaced, L"not enough memory", nullptr);
  }
  work->files = FileList{};
  work->unfinished = FileList{};
  work->legacy = FileList{};
  work->askUntil = GetTickCount64() + request.waitSeconds * 1000ull;
  int status = UpdateWithWorkspace(request, *work, report);
  FreeFileList(work->legacy);
  FreeFileList(work->unfinished);
  FreeFileList(work->files);
  HeapFree(GetProcessHeap(), 0, work);

  // The notice once, at the end, and only where someone may see it.
  if (status == kTaveluneRuns && !request.silent) {
    static_cast<void>(TaveluneHelperNotice(request.helper, kNotice));
  }
  return status;
}
