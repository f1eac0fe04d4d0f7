// The scan's failure paths that no real system produces on demand, against the scripted fake:
// each row is a process list with its faults, and what the scan must answer and leave behind.
#include <gtest/gtest.h>

#include "fake_windows.h"
#include "instance_check/scan_instances.h"

namespace {

constexpr const wchar_t* kTarget = L"C:\\Apps\\Tavelune\\Tavelune.exe";
constexpr const wchar_t* kElsewhere = L"D:\\Old\\Tavelune.exe";
constexpr const wchar_t* kDiagnostic =
    L"Der Status laufender Tavelune-Prozesse ist nicht sicher bestimmbar.\n";

FakeProcess Candidate(DWORD processId, const wchar_t* imagePath) {
  return {processId, L"Tavelune.exe", imagePath};
}
FakeProcess Refusing(DWORD processId) {
  return {processId, L"Tavelune.exe", kTarget, ERROR_ACCESS_DENIED};
}
FakeProcess Vanished(DWORD processId) {
  return {processId, L"Tavelune.exe", kTarget, ERROR_INVALID_PARAMETER};
}
FakeProcess Unreadable(DWORD processId) { return {processId, L"Tavelune.exe", kTarget, 0, true}; }
FakeProcess Unrelated(DWORD processId, const wchar_t* exeFile) {
  return {processId, exeFile, kTarget};
}

struct ScanCase {
  const char* situation;
  FakeSystem script;
  InstanceStatus expectedStatus;
  bool expectDiagnostic;
  std::vector<DWORD> expectedOpened;
  std::size_t expectedEntriesRead;
  const wchar_t* argument = kTarget;
};

// The running file and another, as their paths in the verbatim and device namespaces.
const FakeSystem kTargetRuns = {.processes = {Candidate(10, kTarget)}};
const FakeSystem kUncTargetRuns = {.processes = {Candidate(10, L"\\\\srv\\share\\Tavelune.exe")}};

// The target's folder has the 8.3 name APPS~1; "Old~1" is a short name that cannot be expanded,
// on the target's drive, and the other two could not be on another drive and another share.
constexpr const wchar_t* kShortTarget = L"C:\\APPS~1\\Tavelune\\Tavelune.exe";
constexpr const wchar_t* kUnexpandable = L"C:\\Old~1\\Tavelune.exe";
constexpr const wchar_t* kOtherShare = L"\\\\srv\\other\\Tavelune.exe";
const std::vector<std::pair<std::wstring, std::wstring>> kShortNames = {
    {L"C:\\APPS~1", L"C:\\Apps"}};
const std::vector<std::pair<std::wstring, DWORD>> kNothingLooksUp = {
    {kTarget, ERROR_ACCESS_DENIED},
    {kElsewhere, ERROR_ACCESS_DENIED},
    {kOtherShare, ERROR_BAD_NETPATH},
    {L"\\\\srv\\share\\Tavelune.exe", ERROR_BAD_NETPATH}};
// A target of 300 units, which only its verbatim form can look up.
const std::wstring kDeepFolder = L"C:\\Apps\\" + std::wstring(280, L'd');
const std::wstring kDeepTarget = kDeepFolder + L"\\Tavelune.exe";
const std::wstring kDeepShortImage = L"C:\\APPS~1\\" + std::wstring(280, L'd') + L"\\Tavelune.exe";

const ScanCase kScanCases[] = {
    {"path cannot be made absolute",
     {.fullPathFails = true},
     InstanceStatus::Undetermined,
     false,
     {},
     0},
    {"absolute path longer than its buffer",
     {.fullPathTooLong = true, .processes = {Candidate(10, kTarget)}},
     InstanceStatus::Undetermined,
     false,
     {},
     0},
    {"snapshot fails", {.snapshotFails = true}, InstanceStatus::Undetermined, false, {}, 0},
    {"first entry cannot be read",
     {.firstEntryFails = true, .processes = {Candidate(10, kTarget)}},
     InstanceStatus::Undetermined,
     false,
     {},
     0},
    {"only unrelated processes",
     {.processes = {Unrelated(4, L"System"), Unrelated(8, L"explorer.exe")}},
     InstanceStatus::NotRunning,
     false,
     {},
     2},
    {"names that only resemble the image name are never opened",
     {.processes = {Unrelated(4, L"Tavelune.exe.bak"), Unrelated(8, L"Tavelune.ex"),
                    Unrelated(12, L"xTavelune.exe"), Unrelated(16, L"Tavel\u00FCne.exe"),
                    Unrelated(20, L"Tavelune.exe "), Unrelated(24, L"")}},
     InstanceStatus::NotRunning,
     false,
     {},
     6},
    {"image name in capitals is a candidate",
     {.processes = {Unrelated(4, L"TAVELUNE.EXE")}},
     InstanceStatus::Running,
     false,
     {4},
     1},
    {"only candidate ended after the snapshot",
     {.processes = {Vanished(10)}},
     InstanceStatus::NotRunning,
     false,
     {10},
     1},
    {"ended candidate, then a match",
     {.processes = {Vanished(10), Candidate(12, kTarget)}},
     InstanceStatus::Running,
     false,
     {10, 12},
     2},
    {"image path of the only candidate cannot be read",
     {.processes = {Unreadable(10)}},
     InstanceStatus::Undetermined,
     true,
     {10},
     1},
    {"unreadable candidate, then a match",
     {.processes = {Unreadable(10), Candidate(12, kTarget)}},
     InstanceStatus::Running,
     false,
     {10, 12},
     2},
    {"refused candidate, then one from elsewhere",
     {.processes = {Refusing(10), Candidate(12, kElsewhere)}},
     InstanceStatus::Undetermined,
     true,
     {10, 12},
     2},
    {"first match ends the walk: nothing opened or read after it",
     {.processes = {Candidate(10, kElsewhere), Candidate(12, kTarget), Candidate(14, kTarget),
                    Refusing(16)}},
     InstanceStatus::Running,
     false,
     {10, 12},
     2},
    {"walk fails before any candidate",
     {.processes = {Unrelated(4, L"System"), Candidate(10, kTarget)}, .walkFailsAt = 1},
     InstanceStatus::Undetermined,
     true,
     {},
     1},
    {"walk fails after a candidate from elsewhere",
     {.processes = {Candidate(10, kElsewhere), Unrelated(4, L"System"), Candidate(12, kTarget)},
      .walkFailsAt = 2},
     InstanceStatus::Undetermined,
     true,
     {10},
     2},
    {"walk fails with an unexpected error right after the first entry",
     {.processes = {Candidate(10, kElsewhere), Candidate(12, kTarget)},
      .walkFailsAt = 1,
      .walkError = ERROR_ACCESS_DENIED},
     InstanceStatus::Undetermined,
     true,
     {10},
     1},
    {"end of the list is no failure",
     {.processes = {Candidate(10, kElsewhere)}, .walkFailsAt = 1, .walkError = ERROR_NO_MORE_FILES},
     InstanceStatus::NotRunning,
     false,
     {10},
     1},
    {"verbatim spelling of the running file",
     kTargetRuns,
     InstanceStatus::Running,
     false,
     {10},
     1,
     L"\\\\?\\C:\\Apps\\Tavelune\\Tavelune.exe"},
    {"device spelling, drive in lower case",
     kTargetRuns,
     InstanceStatus::Running,
     false,
     {10},
     1,
     L"\\\\.\\c:\\Apps\\Tavelune\\Tavelune.exe"},
    {"device spelling with \"..\": normalised, unlike a verbatim one",
     kTargetRuns,
     InstanceStatus::Running,
     false,
     {10},
     1,
     L"\\\\.\\C:\\Apps\\..\\Apps\\Tavelune\\.\\Tavelune.exe"},
    {"verbatim UNC spelling",
     kUncTargetRuns,
     InstanceStatus::Running,
     false,
     {10},
     1,
     L"\\\\?\\unc\\srv\\share\\Tavelune.exe"},
    {"device UNC spelling",
     kUncTargetRuns,
     InstanceStatus::Running,
     false,
     {10},
     1,
     L"\\\\.\\UNC\\srv\\share\\Tavelune.exe"},
    {"verbatim spelling of another folder",
     kTargetRuns,
     InstanceStatus::NotRunning,
     false,
     {10},
     1,
     L"\\\\?\\C:\\Apps\\Other\\Tavelune.exe"},
    {"volume GUID path",
     kTargetRuns,
     InstanceStatus::Undetermined,
     false,
     {},
     0,
     L"\\\\?\\Volume{0b1e3f5a-0000-0000-0000-100000000000}\\Apps\\Tavelune\\Tavelune.exe"},
    {"GLOBALROOT path",
     kTargetRuns,
     InstanceStatus::Undetermined,
     false,
     {},
     0,
     L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2\\Apps\\Tavelune\\Tavelune.exe"},
    {"a device",
     kTargetRuns,
     InstanceStatus::Undetermined,
     false,
     {},
     0,
     L"\\\\.\\pipe\\Tavelune.exe"},
    {"a drive with no root", kTargetRuns, InstanceStatus::Undetermined, false, {}, 0, L"\\\\?\\C:"},
    {"NT spelling of the running file",
     kTargetRuns,
     InstanceStatus::Running,
     false,
     {10},
     1,
     L"\\??\\C:\\Apps\\Tavelune\\Tavelune.exe"},
    {"NT UNC spelling",
     kUncTargetRuns,
     InstanceStatus::Running,
     false,
     {10},
     1,
     L"\\??\\UNC\\srv\\share\\Tavelune.exe"},
    {"NT spelling of another folder",
     kTargetRuns,
     InstanceStatus::NotRunning,
     false,
     {10},
     1,
     L"\\??\\C:\\Apps\\Other\\Tavelune.exe"},
    {"UNC with no server",
     kTargetRuns,
     InstanceStatus::Undetermined,
     false,
     {},
     0,
     L"\\\\?\\UNC\\\\share\\Tavelune.exe"},
    {"image path in 8.3 form, target long",
     {.shortNames = kShortNames, .processes = {Candidate(10, kShortTarget)}},
     InstanceStatus::Running,
     false,
     {10},
     1},
    {"target in 8.3 form, image path long",
     {.shortNames = kShortNames, .processes = {Candidate(10, kTarget)}},
     InstanceStatus::Running,
     false,
     {10},
     1,
     kShortTarget},
    {"verbatim target in 8.3 form",
     {.shortNames = kShortNames, .processes = {Candidate(10, kTarget)}},
     InstanceStatus::Running,
     false,
     {10},
     1,
     L"\\\\?\\C:\\APPS~1\\Tavelune\\Tavelune.exe"},
    {"a candidate's short names cannot be expanded",
     {.longPathErrors = {{kUnexpandable, ERROR_ACCESS_DENIED}},
      .processes = {Candidate(10, kUnexpandable)}},
     InstanceStatus::Undetermined,
     true,
     {10},
     1},
    {"unexpandable candidate, then a match",
     {.longPathErrors = {{kUnexpandable, ERROR_ACCESS_DENIED}},
      .processes = {Candidate(10, kUnexpandable), Candidate(12, kTarget)}},
     InstanceStatus::Running,
     false,
     {10, 12},
     2},
    {"a running candidate on a one-letter server",
     {.processes = {Candidate(10, L"\\\\s\\share\\App\\Tavelune.exe")}},
     InstanceStatus::Running,
     false,
     {10},
     1,
     L"\\\\s\\share\\App\\Tavelune.exe"},
    {"a candidate that cannot be opened for want of memory",
     {.processes = {{10, L"Tavelune.exe", kTarget, ERROR_NOT_ENOUGH_MEMORY}}},
     InstanceStatus::Undetermined,
     true,
     {10},
     1},
    {"verbatim target on drive Z, candidate in plain form",
     {.processes = {Candidate(10, L"Z:\\Apps\\Tavelune.exe")}},
     InstanceStatus::Running,
     false,
     {10},
     1,
     L"\\\\?\\Z:\\Apps\\Tavelune.exe"},
    {"no candidate: nothing is looked up",
     {.longPathErrors = kNothingLooksUp, .processes = {Unrelated(4, L"System")}},
     InstanceStatus::NotRunning,
     false,
     {},
     1},
    {"a candidate on another drive is not looked up",
     {.longPathErrors = kNothingLooksUp, .processes = {Candidate(10, kElsewhere)}},
     InstanceStatus::NotRunning,
     false,
     {10},
     1},
    {"a candidate on another share is not looked up",
     {.longPathErrors = kNothingLooksUp, .processes = {Candidate(10, kOtherShare)}},
     InstanceStatus::NotRunning,
     false,
     {10},
     1,
     L"\\\\srv\\share\\Tavelune.exe"},
    {"a candidate as spelled needs no look-up",
     {.longPathErrors = kNothingLooksUp, .processes = {Candidate(10, kTarget)}},
     InstanceStatus::Running,
     false,
     {10},
     1},
    {"the target's long form cannot be had, a candidate on its drive differs",
     {.longPathErrors = {{kTarget, ERROR_ACCESS_DENIED}},
      .processes = {Candidate(10, L"C:\\Old\\Tavelune.exe"), Candidate(12, kTarget)}},
     InstanceStatus::Running,
     false,
     {10, 12},
     2},
    {"the target's long form cannot be had, nor told from the candidate's",
     {.longPathErrors = {{kTarget, ERROR_ACCESS_DENIED}},
      .processes = {Candidate(10, L"C:\\Old\\Tavelune.exe"), Candidate(12, kElsewhere)}},
     InstanceStatus::Undetermined,
     true,
     {10, 12},
     2},
    {"the target's long form would not fit",
     {.shortNames = {{L"C:\\Apps", std::wstring(32768, L'x')}},
      .processes = {Candidate(10, kShortTarget)}},
     InstanceStatus::Undetermined,
     true,
     {10},
     1},
    {"a target of 300 units, its candidate in 8.3 form",
     {.shortNames = kShortNames, .processes = {Candidate(10, kDeepShortImage.c_str())}},
     InstanceStatus::Running,
     false,
     {10},
     1,
     kDeepTarget.c_str()},
    {"a missing target is compared as written",
     {.shortNames = kShortNames,
      .longPathErrors = {{kShortTarget, ERROR_PATH_NOT_FOUND}},
      .processes = {Candidate(10, kTarget), Candidate(12, kShortTarget)}},
     InstanceStatus::Running,
     false,
     {10, 12},
     2,
     kShortTarget},
};

TEST(ScanAgainstFakeSystem, AnswersAndLeavesNothingOpen) {
  for (const ScanCase& row : kScanCases) {
    SCOPED_TRACE(row.situation);
    ResetFake(row.script);

    InstanceStatus status = ScanInstances(row.argument);

    const FakeSystem& did = Fake();
    EXPECT_EQ(status, row.expectedStatus);
    EXPECT_EQ(did.standardError, row.expectDiagnostic ? kDiagnostic : L"");
    EXPECT_EQ(did.openedProcessIds, row.expectedOpened);
    EXPECT_EQ(did.entriesDelivered, row.expectedEntriesRead);
    EXPECT_EQ(OpenHandleCount(), 0);
    EXPECT_LE(did.mostProcessHandlesOpen, 1);
    EXPECT_FALSE(did.snapshotOpenWhenWritten);
    EXPECT_EQ(did.misuses, std::vector<std::string>{});
  }
}

// A path that could not be made absolute, or cannot be compared with an image path, answers 20
// before any snapshot is taken, and nothing is written.
TEST(ScanAgainstFakeSystem, TakesNoSnapshotWithoutAComparablePath) {
  const std::wstring verbatimTooLong = L"\\\\?\\C:\\" + std::wstring(32768, L'x');
  const FakeSystem running = kTargetRuns;
  for (const auto& [script, argument] :
       {std::pair{FakeSystem{.fullPathFails = true}, L"Tavelune.exe"},
        std::pair{FakeSystem{.fullPathTooLong = true}, L"Tavelune.exe"},
        std::pair{running, L"\\\\?\\GLOBALROOT\\Tavelune.exe"},
        std::pair{running, L"\\??\\Volume{0b1e3f5a-0000-0000-0000-100000000000}\\Tavelune.exe"},
        std::pair{running, verbatimTooLong.c_str()},
        // The file's unnamed stream, a named one, and both in other spellings.
        std::pair{running, L"C:\\Apps\\Tavelune\\Tavelune.exe::$DATA"},
        std::pair{running, L"C:\\Apps\\Tavelune\\Tavelune.exe:name"},
        std::pair{running, L"\\\\?\\C:\\Apps\\Tavelune\\Tavelune.exe::$DATA"},
        std::pair{running, L"\\\\srv\\share\\Tavelune.exe:name"}}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(argument)));
    ResetFake(script);
    EXPECT_EQ(ScanInstances(argument), InstanceStatus::Undetermined);
    EXPECT_FALSE(Fake().snapshotTaken);
    EXPECT_EQ(Fake().standardError, L"");
    EXPECT_EQ(Fake().misuses, std::vector<std::string>{});
  }
}

}  // namespace
