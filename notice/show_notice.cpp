#include "notice/show_notice.h"

#include "platform/platform.h"

namespace {

// A service, a task that runs whether or not the user is logged on, and a deployment tool running
// as SYSTEM live in session 0, whose window station is not visible: a notice there waits for a
// click that never comes. Only a station that is known to be invisible counts; where the question
// cannot be asked, the notice is shown as always.
bool WindowStationIsInvisible() {
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  return GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                   &needed) != FALSE &&
         (flags.dwFlags & WSF_VISIBLE) == 0;
}

}  // namespace

void ShowNotice(const wchar_t* text) {
  if (WindowStationIsInvisible()) {
    return;
  }
  // MB_OK is 0, but it names the one button the notice has.
  // cppcheck-suppress badBitmaskCheck
  const UINT style = MB_OK | MB_ICONERROR | MB_SETFOREGROUND;
  // The result is not read: whether or not the notice could be shown, the run ends the same way.
  MessageBoxW(nullptr, text, L"KTQ - Aktualisierung angehalten", style);
}
