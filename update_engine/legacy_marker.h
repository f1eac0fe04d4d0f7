// tavelune-update.marker: what today's batch recipe and NSIS example leave when a swap of theirs
// was ended half way. Both list plain file names, one a line: the NSIS example in UTF-16 after a
// byte-order mark, the batch recipe as `dir /b` wrote them, in the console's OEM code page.
#pragma once

#include "update_engine/file_list.h"
#include "update_engine/journal.h"

// Reads the marker into `list`, each name marked as their put-back would treat it: kHadOldFile
// where the old file is in the backup, or still in place beside a staged new one; kAddedFile for
// the rest, a new file staged or already in place. Foreign where a line is not a plain name, or
// names a file that is in none of the folder, the stage and the backup.
JournalState ReadLegacyMarker(const WCHAR* path, const WCHAR* folder, const WCHAR* stage,
                              const WCHAR* backup, WCHAR* scratch, FileList& list);
