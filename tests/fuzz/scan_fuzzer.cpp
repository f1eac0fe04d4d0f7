// Drives the scan through the fake with a process list decoded from the fuzzer's input, faults
// included, and stops at the first run whose outcome or handle use is wrong.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_windows.h"
#include "instance_check/scan_instances.h"

namespace {

constexpr const wchar_t* kTarget = L"C:\\Apps\\Tavelune\\Tavelune.exe";
constexpr const wchar_t* kDiagnostic =
    L"Der Status laufender Tavelune-Prozesse ist nicht sicher bestimmbar.\n";

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "violated: %s\n", what);
    std::abort();
  }
}

// UTF-16 code units from the input, with no NUL: the platform's strings end at the first one.
std::wstring ConsumeText(FuzzedDataProvider& input, std::size_t mostUnits) {
  std::wstring text(input.ConsumeIntegralInRange<std::size_t>(0, mostUnits), L'\0');
  for (wchar_t& unit : text) {
    unit = static_cast<wchar_t>(input.ConsumeIntegralInRange<unsigned>(1, 0xFFFF));
  }
  return text;
}

std::wstring ConsumeExeFile(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return L"Tavelune.exe";
    case 1:
      return L"tAVELUNE.EXE";
    case 2:
      return L"svchost.exe";
    case 3:
      return L"Tavelune.exe" + ConsumeText(input, 3);
    default:
      return ConsumeText(input, 300);
  }
}

std::wstring ConsumeImagePath(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 5)) {
    case 0:
      return kTarget;
    case 1:
      return L"c:\\APPS\\tavelune\\TAVELUNE.exe";
    case 2:
      return L"C:\\Work\\Tavelune.exe";
    case 3:
      return L"d:\\Apps\\Tavelune\\Tavelune.exe";
    case 4:
      return L"\\\\srv\\share" + ConsumeText(input, 4) + L"\\Tavelune.exe";
    default:
      return ConsumeText(input, 40);
  }
}

DWORD ConsumeError(FuzzedDataProvider& input, DWORD usual) {
  const DWORD kErrors[] = {usual, ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED, ERROR_NO_MORE_FILES,
                           ERROR_INVALID_HANDLE};
  return input.ConsumeBool() ? input.PickValueInArray(kErrors) : input.ConsumeIntegral<DWORD>();
}

FakeSystem ConsumeScript(FuzzedDataProvider& input) {
  FakeSystem script;
  script.fullPathFails = input.ConsumeProbability<float>() < 0.05F;
  script.fullPathTooLong = input.ConsumeProbability<float>() < 0.05F;
  script.snapshotFails = input.ConsumeProbability<float>() < 0.05F;
  script.firstEntryFails = input.ConsumeProbability<float>() < 0.05F;
  std::size_t entries = input.ConsumeIntegralInRange<std::size_t>(0, 40);
  for (std::size_t i = 0; i < entries; ++i) {
    FakeProcess process;
    process.processId = static_cast<DWORD>(4 * (i + 1));
    process.exeFile = ConsumeExeFile(input);
    process.imagePath = ConsumeImagePath(input);
    process.openError = input.ConsumeProbability<float>() < 0.7F ? 0 : ConsumeError(input, 0);
    process.queryFails = input.ConsumeProbability<float>() < 0.1F;
    if (input.ConsumeProbability<float>() < 0.1F) {
      // Windows sets an error whenever it fails.
      script.longPathErrors.emplace_back(
          process.imagePath, std::max<DWORD>(1, ConsumeError(input, ERROR_PATH_NOT_FOUND)));
    }
    script.processes.push_back(process);
  }
  if (input.ConsumeBool()) {
    script.walkFailsAt = input.ConsumeIntegralInRange<std::size_t>(1, entries + 1);
    script.walkError = ConsumeError(input, ERROR_INVALID_HANDLE);
  }
  return script;
}

// The comparison rule of the runtime library, as the fake provides it: only 'A' to 'Z' fold.
bool EqualIgnoringAsciiCase(const std::wstring& left, const std::wstring& right) {
  return _wcsicmp(left.c_str(), right.c_str()) == 0;
}

struct Expected {
  InstanceStatus status = InstanceStatus::NotRunning;
  bool walkBegan = false;
  std::size_t entriesRead = 0;
  std::vector<DWORD> opened;
};

// How the fake's GetLongPathNameW fails for `path`: 0 when it does not.
DWORD LongPathError(const FakeSystem& script, const std::wstring& path) {
  for (const auto& [failing, error] : script.longPathErrors) {
    if (path == failing) {
      return error;
    }
  }
  return path.empty() ? ERROR_PATH_NOT_FOUND : 0;
}

// The drive ("c:") or share ("\\\\server\\share") a path is on, letters folded as the comparison
// folds them; empty where it names neither.
std::wstring Volume(const std::wstring& path) {
  std::wstring folded = path;
  for (wchar_t& unit : folded) {
    unit = unit >= L'A' && unit <= L'Z' ? static_cast<wchar_t>(unit - L'A' + L'a') : unit;
  }
  if (folded.size() >= 3 && folded[0] >= L'a' && folded[0] <= L'z' &&
      folded.substr(1, 2) == L":\\") {
    return folded.substr(0, 2);
  }
  if (folded.rfind(L"\\\\", 0) != 0 || folded.rfind(L"\\\\?\\", 0) == 0 ||
      folded.rfind(L"\\\\.\\", 0) == 0) {
    return L"";
  }
  std::size_t share = folded.find(L'\\', 2);
  if (share == 2 || share == std::wstring::npos || share + 1 == folded.size() ||
      folded[share + 1] == L'\\') {
    return L"";
  }
  return folded.substr(0, folded.find(L'\\', share + 1));
}

// Whether a path can be looked up at all: a drive's, or a server's.
bool LooksUp(const std::wstring& path) {
  const bool onADrive = Volume(path.substr(0, 3)).size() == 2;
  return onADrive || (path.size() > 2 && path.rfind(L"\\\\", 0) == 0 && path[2] != L'\\' &&
                      path.rfind(L"\\\\?\\", 0) != 0 && path.rfind(L"\\\\.\\", 0) != 0);
}

// The rule, written plainly: candidates in list order; a match as reported wins at once; one on
// another drive or share changes nothing; for any other, the target's long form is looked up once,
// and a candidate that cannot be inspected or expanded, or compared with a target whose long form
// could not be had though it exists, or a walk that breaks off, leaves the answer undetermined; a
// candidate that has ended changes nothing.
Expected Model(const FakeSystem& script, const std::wstring& absoluteTarget) {
  Expected expected;
  if (script.fullPathFails || script.fullPathTooLong || script.snapshotFails ||
      script.firstEntryFails || script.processes.empty()) {
    expected.status = InstanceStatus::Undetermined;
    return expected;
  }
  const DWORD targetError = LongPathError(script, absoluteTarget);
  const bool targetUnexpandable = targetError != 0 && targetError != ERROR_FILE_NOT_FOUND &&
                                  targetError != ERROR_PATH_NOT_FOUND;
  expected.walkBegan = true;
  for (std::size_t i = 0;; ++i) {
    const FakeProcess& process = script.processes[i];
    expected.entriesRead = i + 1;
    std::wstring seenName = process.exeFile.substr(0, MAX_PATH - 1);
    if (EqualIgnoringAsciiCase(seenName, L"Tavelune.exe")) {
      expected.opened.push_back(process.processId);
      const std::wstring volume = Volume(process.imagePath);
      if (process.openError == ERROR_INVALID_PARAMETER) {
        // ended since the snapshot: no news
      } else if (process.openError != 0 || process.queryFails) {
        expected.status = InstanceStatus::Undetermined;
      } else if (EqualIgnoringAsciiCase(absoluteTarget, process.imagePath)) {
        expected.status = InstanceStatus::Running;
        return expected;
      } else if (!volume.empty() && volume != Volume(absoluteTarget)) {
        // on another drive or share: never the target's file
      } else if (targetUnexpandable || !LooksUp(process.imagePath) ||
                 LongPathError(script, process.imagePath) != 0) {
        expected.status = InstanceStatus::Undetermined;
      }
    }
    if (i + 1 == script.walkFailsAt) {
      if (script.walkError != ERROR_NO_MORE_FILES) {
        expected.status = InstanceStatus::Undetermined;
      }
      return expected;
    }
    if (i + 1 == script.processes.size()) {
      return expected;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  bool relative = input.ConsumeBool();
  FakeSystem script = ConsumeScript(input);
  Expected expected = Model(script, relative ? L"C:\\Work\\Tavelune.exe" : kTarget);

  ResetFake(script);
  InstanceStatus status = ScanInstances(relative ? L"Tavelune.exe" : kTarget);

  const FakeSystem& did = Fake();
  Require(status == expected.status, "the answer follows the precedence rule");
  Require(did.entriesDelivered == expected.entriesRead, "the walk stops where it must");
  Require(did.openedProcessIds == expected.opened,
          "only candidates are opened, and none after the match");
  Require(OpenHandleCount() == 0, "every handle is closed");
  Require(did.mostProcessHandlesOpen <= 1, "at most one process handle is open at once");
  Require(did.misuses.empty(), "every call is made with the arguments it must have");
  Require(!did.snapshotOpenWhenWritten, "the snapshot is closed before the line is written");
  bool lineDue = expected.status == InstanceStatus::Undetermined && expected.walkBegan;
  Require(did.standardError == (lineDue ? kDiagnostic : L""),
          "the line is written exactly when the answer is undetermined after the walk began");
  return 0;
}
