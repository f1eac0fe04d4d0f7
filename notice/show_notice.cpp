#include "notice/show_notice.h"

#include "platform/platform.h"

void ShowNotice(const wchar_t* text) {
  // MB_OK is 0, but it names the one button the notice has.
  // cppcheck-suppress badBitmaskCheck
  const UINT style = MB_OK | MB_ICONERROR | MB_SETFOREGROUND;
  // The result is not read: whether or not the notice could be shown, the run ends the same way.
  MessageBoxW(nullptr, text, L"KTQ - Aktualisierung angehalten", style);
}
