#pragma once

// Shows `text` in a modal error message captioned "KTQ - Aktualisierung angehalten" and returns
// once the user has dismissed it, or at once when no message can be shown.
void ShowNotice(const wchar_t* text);
