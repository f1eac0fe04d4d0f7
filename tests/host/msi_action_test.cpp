// The Windows Installer action against the fake: what each answer of the scan, each path and each
// shape of package makes of the installation, and what the log and the user are told.
#include <gtest/gtest.h>

#include <tuple>

#include "fake_windows.h"

extern "C" UINT TaveluneCheck(MSIHANDLE install);
extern "C" UINT TaveluneCheckInScript(MSIHANDLE install);

namespace {

using Messages = std::vector<std::pair<int, std::wstring>>;
using Properties = std::vector<std::pair<std::wstring, std::wstring>>;
using Sequence = std::vector<std::pair<std::wstring, int>>;

constexpr MSIHANDLE kInstall = 42;
constexpr int kError = INSTALLMESSAGE_ERROR | 0x10;  // OK only, with the error icon
const std::wstring kRunning =
    L"Tavelune l\u00E4uft noch. Bitte schlie\u00DFen Sie Tavelune und starten Sie die Installation "
    L"erneut.";
const std::wstring kUndetermined =
    L"Der Status laufender Tavelune-Prozesse ist nicht sicher bestimmbar.";
const std::wstring kPath = L"C:\\Apps\\Tavelune\\Tavelune.exe";
// As the block sets them: Restart Manager closes nothing, and the older version goes last.
const Properties kBlock = {{L"MSIRESTARTMANAGERCONTROL", L"DisableShutdown"},
                           {L"TAVELUNEPATH", kPath}};
const Sequence kBlockSequence = {
    {L"TaveluneCheck", 1003}, {L"TaveluneCheckInScript", 1501}, {L"RemoveExistingProducts", 6601}};

const FakeProcess kElsewhere = {10, L"Tavelune.exe", L"D:\\Old\\Tavelune.exe"};

std::wstring Line(const std::wstring& action, const std::wstring& path, const std::wstring& found) {
  return action + L": " + path + L": " + found;
}

Properties With(Properties properties, const std::wstring& name, const std::wstring& value) {
  properties.insert(properties.begin(), {name, value});  // the fake reads the first it finds
  return properties;
}

struct ActionCase {
  const char* situation;
  UINT (*action)(MSIHANDLE);
  Properties properties;
  std::vector<FakeProcess> processes;
  Messages expectedMessages;  // the action's result follows: 1603 after an error, 0 otherwise
  Sequence executeSequence = kBlockSequence;
  bool threadFails = false;
  bool databaseFails = false;
};

const std::wstring kNotTavelune =
    L"20, not the full path of Tavelune.exe: set TAVELUNEPATH to it in the action TavelunePath, as "
    L"[YOURFOLDER]Tavelune.exe with your package's folder property";
const std::wstring kRestartManager =
    L"20, MSIRESTARTMANAGERCONTROL is neither DisableShutdown nor Disable, so Restart Manager "
    L"could "
    L"close Tavelune: set it to DisableShutdown";
const std::wstring kRemovedFirst =
    L"20, RemoveExistingProducts comes before TaveluneCheckInScript, so the older version would be "
    L"removed unchecked: sequence it after InstallFinalize";

const ActionCase kActionCases[] = {
    {"nothing runs from the path",
     TaveluneCheck,
     kBlock,
     {kElsewhere},
     {{INSTALLMESSAGE_INFO,
       Line(L"TaveluneCheck", kPath, L"0, no Tavelune process runs from it")}}},
    {"Tavelune runs from a folder with brackets and braces: the log names it exactly",
     TaveluneCheck,
     With(With(kBlock, L"TAVELUNEPATH", L"C:\\Tave [x] {1}\\bin\\Tavelune.exe"), L"x", L"X"),
     {{10, L"Tavelune.exe", L"C:\\Tave [x] {1}\\bin\\Tavelune.exe"}},
     {{INSTALLMESSAGE_INFO, Line(L"TaveluneCheck", L"C:\\Tave [x] {1}\\bin\\Tavelune.exe",
                                 L"10, a Tavelune process runs from it")},
      {kError, kRunning}}},
    {"in the script, Tavelune runs from the path in its data, whatever TAVELUNEPATH says",
     TaveluneCheckInScript,
     {{L"CustomActionData", L"C:\\Apps\\[b]\\Tavelune.exe"}, {L"TAVELUNEPATH", kPath}},
     {{10, L"Tavelune.exe", L"C:\\Apps\\[b]\\Tavelune.exe"}},
     {{INSTALLMESSAGE_INFO, Line(L"TaveluneCheckInScript", L"C:\\Apps\\[b]\\Tavelune.exe",
                                 L"10, a Tavelune process runs from it")},
      {kError, kRunning}}},
    {"in the script, a Tavelune that refuses inspection: the user is told too",
     TaveluneCheckInScript,
     {{L"CustomActionData", kPath}},
     {{10, L"Tavelune.exe", kPath, ERROR_ACCESS_DENIED}},
     {{INSTALLMESSAGE_INFO, Line(L"TaveluneCheckInScript", kPath, L"20, " + kUndetermined)},
      {kError, kUndetermined}}},
    {"in the script without its data: nothing to check is no answer",
     TaveluneCheckInScript,
     {},
     {},
     {{INSTALLMESSAGE_INFO,
       Line(L"TaveluneCheckInScript", L"",
            L"20, not the full path of Tavelune.exe: TaveluneCheckInScript.Path must set this "
            L"action's data to [TAVELUNEPATH] before the script runs")},
      {kError, kUndetermined}}},
    {"a path too long to read is not cut",
     TaveluneCheck,
     With(kBlock, L"TAVELUNEPATH", L"C:\\" + std::wstring(32770, L'x') + L"\\Tavelune.exe"),
     {},
     {{INSTALLMESSAGE_INFO, Line(L"TaveluneCheck", L"", kNotTavelune)}, {kError, kUndetermined}}},
    {"the scan's thread cannot be started: no answer, never a 0",
     TaveluneCheck,
     kBlock,
     {},
     {{INSTALLMESSAGE_INFO, Line(L"TaveluneCheck", kPath, L"20, " + kUndetermined)},
      {kError, kUndetermined}},
     kBlockSequence,
     true},
    {"Restart Manager may close programs (a command line's 0)",
     TaveluneCheck,
     With(kBlock, L"MSIRESTARTMANAGERCONTROL", L"0"),
     {},
     {{INSTALLMESSAGE_INFO, Line(L"TaveluneCheck", kPath, kRestartManager)},
      {kError, kUndetermined}}},
    {"Restart Manager left at its default",
     TaveluneCheck,
     {{L"TAVELUNEPATH", kPath}},
     {},
     {{INSTALLMESSAGE_INFO, Line(L"TaveluneCheck", kPath, kRestartManager)},
      {kError, kUndetermined}}},
    {"Restart Manager switched off altogether, nothing runs",
     TaveluneCheck,
     With(kBlock, L"MSIRESTARTMANAGERCONTROL", L"Disable"),
     {kElsewhere},
     {{INSTALLMESSAGE_INFO,
       Line(L"TaveluneCheck", kPath, L"0, no Tavelune process runs from it")}}},
    {"the older version is removed right after InstallValidate",
     TaveluneCheck,
     kBlock,
     {},
     {{INSTALLMESSAGE_INFO, Line(L"TaveluneCheck", kPath, kRemovedFirst)}, {kError, kUndetermined}},
     {{L"RemoveExistingProducts", 1401}, {L"TaveluneCheckInScript", 1501}}},
    {"no check in the script",
     TaveluneCheck,
     kBlock,
     {},
     {{INSTALLMESSAGE_INFO,
       Line(L"TaveluneCheck", kPath,
            L"20, TaveluneCheckInScript is not in InstallExecuteSequence: a Tavelune started after "
            L"this check would go unseen; sequence it right after InstallInitialize")},
      {kError, kUndetermined}},
     {{L"RemoveExistingProducts", 6601}}},
    {"no major upgrade at all, nothing runs",
     TaveluneCheck,
     kBlock,
     {kElsewhere},
     {{INSTALLMESSAGE_INFO, Line(L"TaveluneCheck", kPath, L"0, no Tavelune process runs from it")}},
     {{L"TaveluneCheckInScript", 1501}}},
    {"the package's tables cannot be read",
     TaveluneCheck,
     kBlock,
     {},
     {{INSTALLMESSAGE_INFO,
       Line(L"TaveluneCheck", kPath, L"20, InstallExecuteSequence could not be read")},
      {kError, kUndetermined}},
     kBlockSequence,
     false,
     true},
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
               .executeSequence = row.executeSequence,
               .databaseFails = row.databaseFails});
    const bool refused = row.expectedMessages.size() > 1;
    EXPECT_EQ(row.action(kInstall), refused ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS);
    EXPECT_EQ(Fake().messages, row.expectedMessages);
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
