#include "notice/show_notice.h"

#include "platform/platform.h"

namespace {

// A service, a task that runs whether or not the user is logged on, and a deployment tool running
// as SYSTEM live in session 0, where no user has seen a desktop since Windows Vista: a notice there
// waits for a click that never comes. Session 0's interactive window station still says it is
// visible, so the session is asked first; then the window station, which is invisible for a service
// or a task in any session. Only what is known counts: where neither can be asked, the notice is
// shown as always.
bool NobodyCanSeeANotice() {
  DWORD session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session) != FALSE && session == 0) {
    return true;
  }
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  return GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                   &needed) != FALSE &&
         (flags.dwFlags & WSF_VISIBLE) == 0;
}

}  // namespace

void ShowNotice(const wchar_t* text) {
  if (NobodyCanSeeANotice()) {
    return;
  }
  // MB_OK is 0, but it names the one button the notice has.
  // cppcheck-suppress badBitmaskCheck
  const UINT style = MB_OK | MB_ICONERROR | MB_SETFOREGROUND;
  // The result is not read: whether or not the notice could be shown, the run ends the same way.
  MessageBoxW(nullptr, text, L"KTQ - Aktualisierung angehalten", style);
}
