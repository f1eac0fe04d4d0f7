// The Windows Installer action against the fake: what each answer of the scan makes of the
// installation, and what the log and the user are told.
#include <gtest/gtest.h>

#include "fake_windows.h"

extern "C" UINT TaveluneCheck(MSIHANDLE install);
extern "C" UINT TaveluneCheckInScript(MSIHANDLE install);

namespace {

using Messages = std::vector<std::pair<int, std::wstring>>;
using Properties = std::vector<std::pair<std::wstring, std::wstring>>;

constexpr MSIHANDLE kInstall = 42;
constexpr int kError = INSTALLMESSAGE_ERROR | 0x10;  // OK only, with the error icon
const std::wstring kRunning =
    L"Tavelune l\u00E4uft noch. Bitte schlie\u00DFen Sie Tavelune und starten Sie die Installation "
    L"erneut.";
const Properties kInstallDir = {{L"INSTALLDIR", L"C:\\Apps\\Tavelune\\"}};

struct ActionCase {
  const char* situation;
  UINT (*action)(MSIHANDLE);
  Properties properties;
  std::vector<FakeProcess> processes;
  UINT expectedResult;
  Messages expectedMessages;
};

const ActionCase kActionCases[] = {
    {"nothing runs from the default path",
     TaveluneCheck,
     kInstallDir,
     {{10, L"Tavelune.exe", L"D:\\Old\\Tavelune.exe"}},
     ERROR_SUCCESS,
     {{INSTALLMESSAGE_INFO,
       L"TaveluneCheck: C:\\Apps\\Tavelune\\Tavelune.exe: 0, no Tavelune process runs from it"}}},
    {"Tavelune runs from the path the package names, brackets and all",
     TaveluneCheck,
     {{L"INSTALLDIR", L"C:\\Apps\\[x]\\"}, {L"TAVELUNEPATH", L"[INSTALLDIR]bin\\Tavelune.exe"}},
     {{10, L"Tavelune.exe", L"C:\\Apps\\[x]\\bin\\Tavelune.exe"}},
     ERROR_INSTALL_FAILURE,
     {{INSTALLMESSAGE_INFO,
       L"TaveluneCheck: C:\\Apps\\[x]\\bin\\Tavelune.exe: 10, a Tavelune process runs from it"},
      {kError, kRunning}}},
    {"in the script, a Tavelune that refuses inspection",
     TaveluneCheckInScript,
     {{L"CustomActionData", L"C:\\Apps\\Tavelune\\Tavelune.exe"}},
     {{10, L"Tavelune.exe", L"C:\\Apps\\Tavelune\\Tavelune.exe", ERROR_ACCESS_DENIED}},
     ERROR_INSTALL_FAILURE,
     {{INSTALLMESSAGE_INFO,
       L"TaveluneCheckInScript: C:\\Apps\\Tavelune\\Tavelune.exe: 20, Der Status laufender "
       L"Tavelune-Prozesse ist nicht sicher bestimmbar."}}},
    {"in the script without its data: nothing to check is no answer",
     TaveluneCheckInScript,
     {},
     {},
     ERROR_INSTALL_FAILURE,
     {{INSTALLMESSAGE_INFO,
       L"TaveluneCheckInScript: : 20, Der Status laufender Tavelune-Prozesse ist nicht sicher "
       L"bestimmbar."}}},
    {"a path too long to read is not cut",
     TaveluneCheck,
     {{L"TAVELUNEPATH", L"C:\\" + std::wstring(32770, L'x')}},
     {},
     ERROR_INSTALL_FAILURE,
     {{INSTALLMESSAGE_INFO,
       L"TaveluneCheck: : 20, Der Status laufender Tavelune-Prozesse ist nicht sicher "
       L"bestimmbar."}}},
};

TEST(MsiAction, OnlyNoTaveluneLetsTheInstallationGoOn) {
  for (const ActionCase& row : kActionCases) {
    SCOPED_TRACE(row.situation);
    ResetFake({.processes = row.processes, .properties = row.properties});
    EXPECT_EQ(row.action(kInstall), row.expectedResult);
    EXPECT_EQ(Fake().messages, row.expectedMessages);
    EXPECT_GE(Fake().threadStack, 256u * 1024) << "the scan's two paths need 128 KiB";
    EXPECT_EQ(OpenHandleCount(), 0);
    EXPECT_EQ(Fake().misuses, std::vector<std::string>{});
  }
}

}  // namespace
