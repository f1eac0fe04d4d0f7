// The Windows Installer action against the fake: what each answer of the scan, each path and each
// shape of package makes of the installation, and what the log and the user are told.
#include <gtest/gtest.h>

#include <tuple>

#include "fake_windows.h"

extern "C" UINT TaveluneCheck(MSIHANDLE install);
extern "C" UINT TaveluneCheckInScript(MSIHANDLE install);

namespace {

using Properties = std::vector<std::pair<std::wstring, std::wstring>>;
using Sequence = std::vector<FakeSequenceRow>;

constexpr MSIHANDLE kInstall = 42;
constexpr int kError = INSTALLMESSAGE_ERROR | 0x10;  // OK only, with the error icon
const std::wstring kRunning =
    L"Tavelune l\u00E4uft noch. Bitte schlie\u00DFen Sie Tavelune und starten Sie die Installation "
    L"erneut.";
const std::wstring kUndetermined =
    L"Der Status laufender Tavelune-Prozesse ist nicht sicher bestimmbar.";
const std::wstring kPath = L"C:\\Apps\\Tavelune\\Tavelune.exe";
const FakeProcess kElsewhere = {10, L"Tavelune.exe", L"D:\\Old\\Tavelune.exe"};

// As the block sets things up: Restart Manager closes nothing, the script's check opens the
// script, and the older version goes last.
const Properties kBlock = {{L"MSIRESTARTMANAGERCONTROL", L"DisableShutdown"},
                           {L"TAVELUNEPATH", kPath}};
const Properties kBlockTable = {{L"MSIRESTARTMANAGERCONTROL", L"DisableShutdown"}};
const Sequence kBlockSequence = {
    {L"CostFinalize", 1000},          {L"TaveluneCheck", 1003, L"NOT UPGRADINGPRODUCTCODE"},
    {L"InstallInitialize", 1500},     {L"TaveluneCheckInScript", 1501, L"NOT UPGRADINGPRODUCTCODE"},
    {L"RemoveFiles", 3500},           {L"InstallFinalize", 6600},
    {L"RemoveExistingProducts", 6601}};

Properties With(Properties properties, const std::wstring& name, const std::wstring& value) {
  properties.insert(properties.begin(), {name, value});  // the fake reads the first it finds
  return properties;
}

// The block's sequence with `action` at `sequence` (kNull: Null; 0: left out) and `condition`.
Sequence Moved(const std::wstring& action, int sequence,
               const std::wstring& condition = L"NOT UPGRADINGPRODUCTCODE") {
  Sequence moved;
  for (const FakeSequenceRow& row : kBlockSequence) {
    if (row.action != action) {
      moved.push_back(row);
    } else if (sequence != 0) {
      moved.push_back({action, sequence, condition});
    }
  }
  return moved;
}

const std::wstring kNoneRuns = L"0, no Tavelune process runs from it";
const std::wstring kOneRuns = L"10, a Tavelune process runs from it";
const std::wstring kCannotTell = L"20, " + kUndetermined;
const std::wstring kNotTavelune =
    L"20, not the full path of Tavelune.exe: set TAVELUNEPATH to it in the action TavelunePath, as "
    L"[YOURFOLDER]Tavelune.exe with your package's folder property";
const std::wstring kRestartManager =
    L"20, MSIRESTARTMANAGERCONTROL is not DisableShutdown or Disable in the property and in the "
    L"Property table, so Restart Manager could close Tavelune: set it to DisableShutdown";
const std::wstring kMisplaced =
    L"20, TaveluneCheckInScript does not run right after InstallInitialize, before every other "
    L"action of the script: sequence it as the block does";
const std::wstring kRemovedFirst =
    L"20, RemoveExistingProducts comes before InstallFinalize, so the older version could be "
    L"removed unchecked: sequence it after InstallFinalize";

struct ActionCase {
  const char* situation;
  UINT (*action)(MSIHANDLE);
  Properties properties;
  std::vector<FakeProcess> processes;
  std::wstring found;         // the log's line after "ACTION: PATH: "
  const std::wstring* told;   // the error message the user sees, and then the action fails
  std::wstring path = kPath;  // as the log names it
  Sequence executeSequence = kBlockSequence;
  Properties propertyTable = kBlockTable;
  bool threadFails = false;
  bool databaseFails = false;
};

const ActionCase kActionCases[] = {
    {"nothing runs from the path", TaveluneCheck, kBlock, {kElsewhere}, kNoneRuns, nullptr},
    {"Tavelune runs from a folder with brackets and braces: the log names it exactly",
     TaveluneCheck,
     With(With(kBlock, L"TAVELUNEPATH", L"C:\\Tave [x] {1} {[x]}\\Tavelune.exe"), L"x", L"X"),
     {{10, L"Tavelune.exe", L"C:\\Tave [x] {1} {[x]}\\Tavelune.exe"}},
     kOneRuns,
     &kRunning,
     L"C:\\Tave [x] {1} {[x]}\\Tavelune.exe"},
    {"in the script, Tavelune runs from the path in its data, whatever TAVELUNEPATH says",
     TaveluneCheckInScript,
     {{L"CustomActionData", L"C:\\Apps\\[b]\\Tavelune.exe"}, {L"TAVELUNEPATH", kPath}},
     {{10, L"Tavelune.exe", L"C:\\Apps\\[b]\\Tavelune.exe"}},
     kOneRuns,
     &kRunning,
     L"C:\\Apps\\[b]\\Tavelune.exe"},
    {"in the script, a Tavelune that refuses inspection: the user is told too",
     TaveluneCheckInScript,
     {{L"CustomActionData", kPath}},
     {{10, L"Tavelune.exe", kPath, ERROR_ACCESS_DENIED}},
     kCannotTell,
     &kUndetermined},
    {"in the script without its data: nothing to check is no answer",
     TaveluneCheckInScript,
     {},
     {},
     L"20, not the full path of Tavelune.exe: TaveluneCheckInScript.Path must set this action's "
     L"data to [TAVELUNEPATH] before the script runs",
     &kUndetermined,
     L""},
    {"a path too long to read is not cut",
     TaveluneCheck,
     With(kBlock, L"TAVELUNEPATH", L"C:\\" + std::wstring(32770, L'x') + L"\\Tavelune.exe"),
     {},
     kNotTavelune,
     &kUndetermined,
     L""},
    {.situation = "the scan's thread cannot be started: no answer, never a 0",
     .action = TaveluneCheck,
     .properties = kBlock,
     .found = kCannotTell,
     .told = &kUndetermined,
     .threadFails = true},
    {"Restart Manager may close programs (a command line's 0)",
     TaveluneCheck,
     With(kBlock, L"MSIRESTARTMANAGERCONTROL", L"0"),
     {},
     kRestartManager,
     &kUndetermined},
    {"Restart Manager left at its default",
     TaveluneCheck,
     {{L"TAVELUNEPATH", kPath}},
     {},
     kRestartManager,
     &kUndetermined,
     kPath,
     kBlockSequence,
     {}},
    {"Restart Manager's setting in the property alone, as a custom action sets it",
     TaveluneCheck,
     kBlock,
     {},
     kRestartManager,
     &kUndetermined,
     kPath,
     kBlockSequence,
     {{L"MSIRESTARTMANAGERCONTROL", L"0"}}},
    {"Restart Manager switched off altogether, nothing runs",
     TaveluneCheck,
     With(kBlock, L"MSIRESTARTMANAGERCONTROL", L"Disable"),
     {kElsewhere},
     kNoneRuns,
     nullptr,
     kPath,
     kBlockSequence,
     {{L"MSIRESTARTMANAGERCONTROL", L"Disable"}}},
    {"the older version removed right after InstallValidate",
     TaveluneCheck,
     kBlock,
     {},
     kRemovedFirst,
     &kUndetermined,
     kPath,
     Moved(L"RemoveExistingProducts", 1401)},
    {"the older version removed before InstallFinalize",
     TaveluneCheck,
     kBlock,
     {},
     kRemovedFirst,
     &kUndetermined,
     kPath,
     Moved(L"RemoveExistingProducts", 6500)},
    {"the older version's removal sequenced at Null, which never runs",
     TaveluneCheck,
     kBlock,
     {kElsewhere},
     kNoneRuns,
     nullptr,
     kPath,
     Moved(L"RemoveExistingProducts", kNull)},
    {"no major upgrade at all, nothing runs",
     TaveluneCheck,
     kBlock,
     {kElsewhere},
     kNoneRuns,
     nullptr,
     kPath,
     Moved(L"RemoveExistingProducts", 0)},
    {"no check in the script",
     TaveluneCheck,
     kBlock,
     {},
     kMisplaced,
     &kUndetermined,
     kPath,
     Moved(L"TaveluneCheckInScript", 0)},
    {"the script's check after RemoveFiles",
     TaveluneCheck,
     kBlock,
     {},
     kMisplaced,
     &kUndetermined,
     kPath,
     Moved(L"TaveluneCheckInScript", 3501)},
    {"the script's check beside another action",
     TaveluneCheck,
     kBlock,
     {},
     kMisplaced,
     &kUndetermined,
     kPath,
     Moved(L"InstallFinalize", 1501)},
    {"the script's check before InstallInitialize",
     TaveluneCheck,
     kBlock,
     {},
     kMisplaced,
     &kUndetermined,
     kPath,
     Moved(L"TaveluneCheckInScript", 1499)},
    {"the script's check sequenced at Null",
     TaveluneCheck,
     kBlock,
     {},
     kMisplaced,
     &kUndetermined,
     kPath,
     Moved(L"TaveluneCheckInScript", kNull)},
    {"the script's check under a condition of its own",
     TaveluneCheck,
     kBlock,
     {},
     kMisplaced,
     &kUndetermined,
     kPath,
     Moved(L"TaveluneCheckInScript", 1501, L"NOT Installed")},
    {.situation = "the package's tables cannot be read",
     .action = TaveluneCheck,
     .properties = kBlock,
     .found = L"20, InstallExecuteSequence could not be read",
     .told = &kUndetermined,
     .databaseFails = true},
};

void ExpectNothingLeftOpen() {
  EXPECT_EQ(OpenHandleCount(), 0);
  EXPECT_EQ(Fake().misuses, std::vector<std::string>{});
}

TEST(MsiAction, OnlyNoTaveluneLetsTheInstallationGoOn) {
  for (const ActionCase& row : kActionCases) {
    SCOPED_TRACE(row.situation);
    ResetFake({.processes = row.processes,
               .threadFails = row.threadFails,
               .properties = row.properties,
               .propertyTable = row.propertyTable,
               .executeSequence = row.executeSequence,
               .databaseFails = row.databaseFails});
    EXPECT_EQ(row.action(kInstall), row.told != nullptr ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS);
    const std::wstring action =
        row.action == TaveluneCheck ? L"TaveluneCheck" : L"TaveluneCheckInScript";
    std::vector<std::pair<int, std::wstring>> messages = {
        {INSTALLMESSAGE_INFO, action + L": " + row.path + L": " + row.found}};
    if (row.told != nullptr) {
      messages.emplace_back(kError, *row.told);
    }
    EXPECT_EQ(Fake().messages, messages);
    if (Fake().threadStack != 0) {
      EXPECT_GE(Fake().threadStack, 256u * 1024) << "the scan's two paths need 128 KiB";
    }
    ExpectNothingLeftOpen();
  }
}

// Paths that name no file Tavelune could run from: a bare name would be completed from msiexec's
// own folder. Both checks refuse each before anything is scanned, while Tavelune runs.
const wchar_t* const kNotTaveluneItself[] = {
    L"",
    L"Tavelune.exe",
    L"bin\\Tavelune.exe",
    L"C:Tavelune.exe",
    L"\\Tavelune\\Tavelune.exe",
    L"C:\\Work\\",
    L"C:\\Work",
    L"C:\\Work\\Tavelune.dat",
    L"C:\\Work\\Tavelune.exe.",
};

TEST(MsiAction, RefusesWhatIsNotTheFullPathOfTavelune) {
  for (const wchar_t* path : kNotTaveluneItself) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(path)));
    for (const auto& [action, name, property] :
         {std::tuple{&TaveluneCheck, L"TaveluneCheck", L"TAVELUNEPATH"},
          {&TaveluneCheckInScript, L"TaveluneCheckInScript", L"CustomActionData"}}) {
      ResetFake({.processes = {{10, L"Tavelune.exe", L"C:\\Work\\Tavelune.exe"}},
                 .properties = With(kBlock, property, path),
                 .propertyTable = kBlockTable,
                 .executeSequence = kBlockSequence});
      EXPECT_EQ(action(kInstall), ERROR_INSTALL_FAILURE);
      ASSERT_EQ(Fake().messages.size(), 2u);
      EXPECT_EQ(
          Fake().messages[0].second.rfind(std::wstring(name) + L": " + path + L": 20, not", 0), 0u)
          << testing::PrintToString(Fake().messages[0].second);
      EXPECT_FALSE(Fake().snapshotTaken);
      ExpectNothingLeftOpen();
    }
  }
}

}  // namespace
