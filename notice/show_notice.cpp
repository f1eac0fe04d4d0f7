#include "notice/show_notice.h"

#include "platform/platform.h"

void ShowNotice(const wchar_t* text) {
  // The result is not read: whether or not the notice could be shown, the run ends the same way.
  MessageBoxW(nullptr, text, L"KTQ - Aktualisierung angehalten",
              MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}
