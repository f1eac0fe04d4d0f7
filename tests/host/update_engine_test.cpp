// The update engine against the fake disk: a run stopped after each change it makes, by a kill or
// a power cut, and the situations a real folder meets.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_file_system.h"
#include "update_engine/command_line.h"
#include "update_engine/update_files.h"

namespace {

// Both longer than MAX_PATH with the names in them, the source on a share.
const std::wstring kFolder = L"C:\\" + std::wstring(240, L'A') + L"\\App";
const std::wstring kSource = L"\\\\server\\share\\" + std::wstring(250, L'S') + L"\\files";
const std::wstring kTavelune = kFolder + L"\\Tavelune.exe";
// Each file of the update: its name, its old bytes ("" for none) and its new ones, and the
// attributes of each. NTFS names may hold an unpaired surrogate, and the journal must carry it.
struct UpdatedFile {
  std::wstring name;
  std::string oldBytes;
  std::string newBytes;
  DWORD oldAttributes = 0;
  DWORD newAttributes = 0;
};
const std::vector<UpdatedFile> kFiles = {
    {L"Tavelune.exe", "old exe", "new exe, longer"},
    {L"a.dll", "old a", "new a", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM,
     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
    {L"sub\\b\xD800.dat", "old b", "new b"},
    {L"sub\\deep\\c.txt", "", "new c"},
    {L"n.txt", "", "new n"},
};

void PlantFolders() {
  std::map<std::wstring, std::string> files = {{kFolder + L"\\keep.txt", "kept"}};
  for (const auto& [name, oldBytes, newBytes, _, __] : kFiles) {
    files[kSource + L"\\" + name] = newBytes;
    if (!oldBytes.empty()) {
      files[kFolder + L"\\" + name] = oldBytes;
    }
  }
  ResetDisk(files);
  for (const UpdatedFile& file : kFiles) {
    Disk().nodes[kSource + L"\\" + file.name].attributes = file.newAttributes;
    if (!file.oldBytes.empty()) {
      Disk().nodes[kFolder + L"\\" + file.name].attributes = file.oldAttributes;
    }
  }
}

// "old" or "new" when every file of the folder is wholly that version, its attributes included
// (a new copy is marked for backup, as Windows marks every file written); "mixed" otherwise.
std::string Version() {
  bool allOld = true;
  bool allNew = true;
  for (const auto& [name, oldBytes, newBytes, oldAttributes, newAttributes] : kFiles) {
    auto found = Disk().nodes.find(kFolder + L"\\" + name);
    bool there = found != Disk().nodes.end();
    std::string bytes = there ? found->second.bytes : "";
    DWORD attributes = there ? found->second.attributes : 0;
    allOld =
        allOld && (there ? bytes == oldBytes && attributes == oldAttributes : oldBytes.empty());
    allNew = allNew && there && bytes == newBytes &&
             attributes == (newAttributes | FILE_ATTRIBUTE_ARCHIVE);
  }
  return allNew ? "new" : allOld ? "old" : "mixed";
}

// True when nothing of the update's own is in the folder and keep.txt is as it was.
bool OnlyTaveluneLeft() {
  for (const auto& [path, _] : Disk().nodes) {
    if (path.rfind(kFolder + L"\\tavelune-update", 0) == 0) {
      return false;
    }
  }
  return Disk().nodes[kFolder + L"\\keep.txt"].bytes == "kept";
}

// An old version has no trace of the new one's folders.
bool NoNewFolderLeft() {
  const auto deep = Disk().nodes.find(kFolder + L"\\sub\\deep");
  return Version() != "old" || deep == Disk().nodes.end() || !deep->second.folder;
}

UpdateReport report;

int Update(DWORD waitSeconds = 0, bool silent = false, const std::wstring& source = kSource) {
  return UpdateFiles(UpdateRequest{kFolder.c_str(), source.c_str(), L"C:\\Bin\\tavelune-helper.exe",
                                   silent, waitSeconds},
                     report);
}

long ChangesOfAWholeRun() {
  PlantFolders();
  EXPECT_EQ(Update(), kReplaced);
  return Disk().changes;
}

// What a stopped run leaves, seen by the next ones: the first, told that Tavelune runs when it asks
// right before the swap, shows what recovery alone makes of it (all old or all new, each file
// whole); the one after it updates, and leaves nothing of its own.
void ExpectRecovery() {
  Disk().answers[kTavelune] = {0, kTaveluneRuns};
  EXPECT_EQ(Update(0, true), kTaveluneRuns);
  EXPECT_NE(Version(), "mixed");
  EXPECT_TRUE(NoNewFolderLeft());
  Disk().answers.clear();
  EXPECT_EQ(Update(), kReplaced);
  EXPECT_EQ(Version(), "new");
  EXPECT_TRUE(OnlyTaveluneLeft());
  EXPECT_EQ(OpenFileHandles(), 0);
  EXPECT_TRUE(Disk().misuses.empty());
}

int UpdateStoppedAfter(long stop, bool powerCut) {
  Disk().stopAfter = Disk().changes + stop;
  int status = Update();
  EndProcess(powerCut);
  return status;
}

// Every change of a run in turn is its last: the process is killed, or the power fails, right
// after it. A run that had ended 0 left every file new.
TEST(UpdateEngine, EveryStopLeavesOneWholeVersion) {
  const long changes = ChangesOfAWholeRun();
  ASSERT_GT(changes, 20);
  for (bool powerCut : {false, true}) {
    for (long stop = 1; stop <= changes; ++stop) {
      SCOPED_TRACE((powerCut ? "power cut after change " : "kill after change ") +
                   std::to_string(stop));
      PlantFolders();
      if (UpdateStoppedAfter(stop, powerCut) == kReplaced) {
        EXPECT_EQ(Version(), "new");
      }
      ExpectRecovery();
    }
  }
}

// A swap stopped half way, then its recovery stopped after each change it makes in turn.
TEST(UpdateEngine, EveryStopOfARecoveryLeavesOneWholeVersion) {
  ChangesOfAWholeRun();
  const long halfWay = Disk().firstRename + 2;
  PlantFolders();
  UpdateStoppedAfter(halfWay, false);
  const long changes = Disk().changes;
  ASSERT_EQ(Update(), kReplaced);
  const long recoveryChanges = Disk().changes - changes;
  for (bool powerCut : {false, true}) {
    for (long stop = 1; stop <= recoveryChanges; ++stop) {
      SCOPED_TRACE((powerCut ? "power cut after change " : "kill after change ") +
                   std::to_string(stop) + " of the recovery");
      PlantFolders();
      UpdateStoppedAfter(halfWay, powerCut);
      UpdateStoppedAfter(stop, powerCut);
      ExpectRecovery();
    }
  }
}

struct Situation {
  const char* name;
  std::function<void()> arrange;  // after the folders are planted
  int status;
  std::string version;
  std::wstring file;  // the file the run's report names
  std::size_t questions;
  std::size_t notices = 0;
  bool untouched = false;  // no name in the folder changes
  DWORD waitSeconds = 0;
  bool silent = false;
  std::wstring source = kSource;
  std::wstring mustExist = kFolder + L"\\keep.txt";  // a file the run must leave in place
  std::wstring reasonPart = L"";                     // what the run's reason must say
};

std::vector<std::wstring> Paths() {
  std::vector<std::wstring> paths;
  for (const auto& [path, _] : Disk().nodes) {
    paths.push_back(path);
  }
  return paths;
}

void StopAfterFirstRename() {
  ChangesOfAWholeRun();
  long firstRename = Disk().firstRename;
  PlantFolders();
  Disk().stopAfter = firstRename;
  Update();
  EndProcess(false);
  Disk().asked.clear();
}

const std::wstring kJournal = kFolder + L"\\tavelune-update.journal";

// What a recipe's swap leaves when ended half way: Tavelune.exe swapped, a.dll in the backup, its
// new copy still staged, the added n.txt already in place, and their marker.
void PlantRecipeSwap(const std::string& marker) {
  std::map<std::wstring, FakeNode>& nodes = Disk().nodes;
  nodes[kFolder + L"\\tavelune-update.old"] = {true, "", ""};
  nodes[kFolder + L"\\tavelune-update.new"] = {true, "", ""};
  nodes[kFolder + L"\\tavelune-update.old\\Tavelune.exe"] = nodes[kTavelune];
  nodes[kTavelune] = {false, kFiles[0].newBytes, kFiles[0].newBytes};
  nodes[kFolder + L"\\tavelune-update.old\\a.dll"] = nodes[kFolder + L"\\a.dll"];
  nodes.erase(kFolder + L"\\a.dll");
  nodes[kFolder + L"\\tavelune-update.new\\a.dll"] = {false, kFiles[1].newBytes,
                                                      kFiles[1].newBytes};
  nodes[kFolder + L"\\n.txt"] = {false, kFiles[4].newBytes, kFiles[4].newBytes};
  nodes[kFolder + L"\\tavelune-update.old\\B\u00fccher.txt"] = {false, "old", "old"};
  nodes[kFolder + L"\\tavelune-update.marker"] = {false, marker, marker};
}

const std::string kBatchMarker =
    "Tavelune.exe\r\na.dll\r\nn.txt\r\nB\x81"
    "cher.txt\r\n";
const std::string kNsisMarker =
    std::string("\xFF\xFE", 2) + std::string("T\0a\0v\0e\0l\0u\0n\0e\0.\0e\0x\0e\0\r\0\n\0", 28) +
    std::string("a\0.\0d\0l\0l\0\r\0\n\0", 14) + std::string("n\0.\0t\0x\0t\0\r\0\n\0", 14) +
    std::string("B\0\xFC\0c\0h\0e\0r\0.\0t\0x\0t\0", 20);
const std::wstring kBucher = kFolder + L"\\B\u00fccher.txt";

const Situation kSituations[] = {
    {"a plain update", [] {}, kReplaced, "new", L"", 2},
    // Longer than the copy's buffer, a staged copy is checked against the sum taken as it was made.
    {"a new file longer than the copy's buffer",
     [] {
       std::string bytes(200000, 'x');
       for (std::size_t i = 0; i < bytes.size(); i += 7) {
         bytes[i] = static_cast<char>(i % 251);
       }
       Disk().nodes[kSource + L"\\big.bin"] = {false, bytes, bytes};
     },
     kReplaced, "new", L"", 2, 0, false, 0, false, kSource, kFolder + L"\\big.bin"},
    {"Tavelune runs", [] { Disk().answers[kTavelune] = {kTaveluneRuns}; }, kTaveluneRuns, "old",
     L"Tavelune.exe", 1, 1, true},
    {"Tavelune runs, silently", [] { Disk().answers[kTavelune] = {kTaveluneRuns}; }, kTaveluneRuns,
     "old", L"Tavelune.exe", 1, 0, true, 0, true},
    {"Tavelune starts while files are staged",
     [] {
       Disk().answers[kTavelune] = {0, kTaveluneRuns};
     },
     kTaveluneRuns, "old", L"Tavelune.exe", 2, 1},
    {"it cannot be told", [] { Disk().answers[kTavelune] = {7}; }, kCannotBeTold, "old",
     L"Tavelune.exe", 1, 0, true},
    {"Tavelune ends within the wait",
     [] {
       Disk().answers[kTavelune] = {kTaveluneRuns, kTaveluneRuns, 0};
     },
     kReplaced, "new", L"", 4, 0, false, 5},
    {"Tavelune runs throughout the wait", [] { Disk().answers[kTavelune] = {kTaveluneRuns}; },
     kTaveluneRuns, "old", L"Tavelune.exe", 5, 1, true, 2},
    {"a staged copy vanishes before the swap",
     [] {
       Disk().onQuestion = [](const std::wstring&) {
         if (Disk().asked.size() == 2) {
           Disk().nodes.erase(kFolder + L"\\tavelune-update.new\\a.dll");
         }
       };
     },
     kNothingReplaced, "old", L"a.dll", 2},
    {"an old file held for a moment", [] { Disk().held[kFolder + L"\\a.dll"] = 5; }, kReplaced,
     "new", L"", 2},
    {"an old file held throughout", [] { Disk().held[kFolder + L"\\a.dll"] = -1; },
     kNothingReplaced, "old", L"a.dll", 2},
    // Held through the 51 attempts of five seconds of retries, let go before the stage is cleared.
    {"a staged file held at the swap",
     [] { Disk().held[kFolder + L"\\tavelune-update.new\\sub\\deep\\c.txt"] = 51; },
     kNothingReplaced, "old", L"sub\\deep\\c.txt", 2},
    {"Tavelune runs after a kill between two renames",
     [] {
       StopAfterFirstRename();
       Disk().answers[kTavelune] = {kTaveluneRuns};
     },
     kTaveluneRuns, "mixed", L"Tavelune.exe", 1, 1, true, 0, false, kSource,
     kFolder + L"\\keep.txt", L"unfinished update"},
    // The wait is for all questions together: after 2.5 s of the first, the last is asked at 2.5 s
    // and 3 s only.
    {"Tavelune starts and ends, then runs at the last question",
     [] {
       Disk().answers[kTavelune] = {kTaveluneRuns, kTaveluneRuns, kTaveluneRuns,
                                    kTaveluneRuns, kTaveluneRuns, 0,
                                    kTaveluneRuns};
     },
     kTaveluneRuns, "old", L"Tavelune.exe", 8, 1, false, 3},
    // The first rename moved Tavelune.exe into the backup, which is asked about too.
    {"a file held while a kill between two renames is recovered",
     [] {
       StopAfterFirstRename();
       Disk().held[kFolder + L"\\a.dll"] = -1;
     },
     kNotPutBack, "mixed", L"a.dll", 2},
    {"a kill between two renames, then a run", StopAfterFirstRename, kReplaced, "new", L"", 3},
    // Going forward fails the same way on every run; going back does not.
    {"a file where a folder of an unfinished update must go",
     [] {
       StopAfterFirstRename();
       Disk().nodes[kFolder + L"\\sub\\deep"] = {false, "in the way", "in the way"};
     },
     kNothingReplaced, "old", L"sub\\deep\\c.txt", 3, 0, false, 0, false, kSource,
     kFolder + L"\\sub\\deep"},
    {"a journal this engine did not write",
     [] {
       Disk().nodes[kJournal] = {false, "hello", "hello"};
     },
     kNotPutBack, "old", L"tavelune-update.journal", 0, 0, true},
    // Every file is new, but the journal stays: not 0, and the backups stay for the next run.
    {"a journal held after the swap", [] { Disk().held[kJournal] = -1; }, kNotPutBack, "new",
     L"tavelune-update.journal", 2, 0, false, 0, false, kSource,
     kFolder + L"\\tavelune-update.old\\a.dll", L"replaced"},
    // Before, a marker whose rename failed ended the run with 0 and nothing replaced.
    {"the journal cannot be written", [] { Disk().uncreatable[kJournal] = ERROR_ACCESS_DENIED; },
     kNothingReplaced, "old", L"tavelune-update.journal", 2},
    // Before, a copy staged by an earlier run passed the check of the staged set unreplaced.
    {"a stale staged copy from an earlier run",
     [] {
       Disk().nodes[kFolder + L"\\tavelune-update.new"] = {true, "", ""};
       Disk().nodes[kFolder + L"\\tavelune-update.new\\a.dll"] = {false, "stale", "stale"};
     },
     kReplaced, "new", L"", 2},
    {"a journal that a power cut left empty", [] { Disk().nodes[kJournal] = {}; }, kReplaced, "new",
     L"", 2},
    {"a folder where a new file must go",
     [] {
       Disk().nodes[kFolder + L"\\sub\\deep\\c.txt"] = {true, "", ""};
     },
     kNothingReplaced, "old", L"sub\\deep\\c.txt", 1},
    {"a batch recipe's swap ended half way, and Tavelune runs before the swap",
     [] {
       PlantRecipeSwap(kBatchMarker);
       Disk().answers[kTavelune] = {0, kTaveluneRuns};
     },
     kTaveluneRuns, "old", L"Tavelune.exe", 3, 1, false, 0, false, kSource, kBucher},
    {"the NSIS example's swap ended half way, and Tavelune runs before the swap",
     [] {
       PlantRecipeSwap(kNsisMarker);
       Disk().answers[kTavelune] = {0, kTaveluneRuns};
     },
     kTaveluneRuns, "old", L"Tavelune.exe", 3, 1, false, 0, false, kSource, kBucher},
    {"a batch recipe's swap ended half way", [] { PlantRecipeSwap(kBatchMarker); }, kReplaced,
     "new", L"", 3, 0, false, 0, false, kSource, kBucher},
    {"Tavelune runs from the backup of a recipe's swap",
     [] {
       PlantRecipeSwap(kBatchMarker);
       Disk().answers[kFolder + L"\\tavelune-update.old\\Tavelune.exe"] = {kTaveluneRuns};
     },
     kTaveluneRuns, "mixed", L"Tavelune.exe", 2, 1, true},
    {"a batch marker naming a file found nowhere",
     [] {
       PlantRecipeSwap(
           "Tavelune.exe\r\nB\x84"
           "cher.txt\r\n");
     },
     kNotPutBack, "mixed", L"tavelune-update.marker", 0, 0, true},
    {"a marker holding a path", [] { PlantRecipeSwap("..\\Tavelune.exe\r\n"); }, kNotPutBack,
     "mixed", L"tavelune-update.marker", 0, 0, true},
    {"Ctrl+C while the helper is first asked",
     [] { Disk().onQuestion = [](const std::wstring&) { SetStopRequest(true); }; },
     kNothingReplaced, "old", L"", 1, 0, true},
    // The wait ends at once: one question, not one every half second for five seconds.
    {"Ctrl+C while waiting for Tavelune to end",
     [] {
       Disk().answers[kTavelune] = {kTaveluneRuns};
       Disk().onQuestion = [](const std::wstring&) { SetStopRequest(true); };
     },
     kTaveluneRuns, "old", L"Tavelune.exe", 1, 1, true, 5},
    {"Ctrl+C while the helper is asked before the swap",
     [] {
       Disk().onQuestion = [](const std::wstring&) { SetStopRequest(Disk().asked.size() == 2); };
     },
     kNothingReplaced, "old", L"", 2},
    {"no source", [] {}, kNothingReplaced, "old", L"C:\\Nowhere", 0, 0, true, 0, false,
     L"C:\\Nowhere"},
    {"an empty source",
     [] {
       Disk().nodes[L"C:\\Empty"] = {true, "", ""};
     },
     kNothingReplaced, "old", L"C:\\Empty", 0, 0, true, 0, false, L"C:\\Empty"},
    {"a source inside the folder", [] {}, kNothingReplaced, "old", kFolder + L"\\sub", 0, 0, true,
     0, false, kFolder + L"\\sub"},
};

TEST(UpdateEngine, Situations) {
  for (const Situation& situation : kSituations) {
    SCOPED_TRACE(situation.name);
    SetStopRequest(false);
    PlantFolders();
    situation.arrange();
    std::vector<std::wstring> before = Paths();
    int status = Update(situation.waitSeconds, situation.silent, situation.source);
    EXPECT_EQ(status, situation.status);
    EXPECT_EQ(Version(), situation.version);
    EXPECT_EQ(report.file, situation.file);
    EXPECT_EQ(Disk().asked.size(), situation.questions);
    EXPECT_EQ(Disk().notices.size(), situation.notices);
    EXPECT_EQ(OpenFileHandles(), 0);
    EXPECT_TRUE(Disk().misuses.empty());
    EXPECT_EQ(Disk().nodes.count(situation.mustExist), 1u);
    EXPECT_NE(
        std::wstring(report.reason != nullptr ? report.reason : L"").find(situation.reasonPart),
        std::wstring::npos);
    if (situation.untouched) {
      EXPECT_EQ(Paths(), before);
    }
    if (status == kReplaced || status == kNothingReplaced) {
      EXPECT_TRUE(OnlyTaveluneLeft());
      EXPECT_TRUE(NoNewFolderLeft());
    }
  }
}

struct CommandLineCase {
  std::vector<const wchar_t*> arguments;  // after the program's name
  bool readable;
  bool silent = false;
  DWORD waitSeconds = 0;
  std::wstring source = L"";  // "" for none given; likewise below
  std::wstring log = L"";
  std::wstring folder = L"";
};

const CommandLineCase kCommandLines[] = {
    {{}, true},
    {{L"D:\\Apps\\Tavelune"}, true, false, 0, L"", L"", L"D:\\Apps\\Tavelune"},
    {{L"--silent", L"--wait", L"30", L"--from", L"S", L"--log", L"L", L"F"},
     true,
     true,
     30,
     L"S",
     L"L",
     L"F"},
    {{L"--wait", L"86400"}, true, false, 86400},
    {{L"--wait", L"86401"}, false},
    {{L"--wait", L"99999999999"}, false},
    {{L"--wait", L"-1"}, false},
    {{L"--wait", L""}, false},
    {{L"--wait"}, false},
    {{L"--from"}, false},
    {{L"--silent", L"--silent"}, false},
    {{L"--log", L"a", L"--log", L"b"}, false},
    {{L"F", L"G"}, false},
    {{L"--force"}, false},
    {{L""}, false},
};

TEST(UpdateEngine, CommandLines) {
  for (const CommandLineCase& row : kCommandLines) {
    std::vector<const wchar_t*> argv = {L"tavelune-update.exe"};
    argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
    SCOPED_TRACE(testing::PrintToString(row.arguments.size()) + " arguments, the first " +
                 (row.arguments.empty() ? "none" : testing::PrintToString(row.arguments[0])));
    CommandLine line;
    ASSERT_EQ(ReadCommandLine(static_cast<int>(argv.size()), argv.data(), line), row.readable);
    if (row.readable) {
      EXPECT_EQ(line.silent, row.silent);
      EXPECT_EQ(line.waitSeconds, row.waitSeconds);
      EXPECT_EQ(std::wstring(line.source != nullptr ? line.source : L""), row.source);
      EXPECT_EQ(std::wstring(line.log != nullptr ? line.log : L""), row.log);
      EXPECT_EQ(std::wstring(line.folder != nullptr ? line.folder : L""), row.folder);
    }
  }
}

}  // namespace
