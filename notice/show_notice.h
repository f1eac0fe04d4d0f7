#pragma once

// Shows `text` in a modal error message captioned "KTQ - Aktualisierung angehalten" and returns
// once the user has dismissed it, or at once when no message can be shown or nobody could see it
// (the process's window station is not visible).
void ShowNotice(const wchar_t* text);
