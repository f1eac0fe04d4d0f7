/* The caller kit's header, compiled as C99 with every warning an error, twice in one unit. */
#include "integration/c/tavelune_helper_client.h"
#include "integration/c/tavelune_helper_client.h"

int CheckFromC(const wchar_t* helper, const wchar_t* target) {
  return TaveluneHelperCheck(helper, target);
}

int NoticeFromC(const wchar_t* helper, const wchar_t* text) {
  return TaveluneHelperNotice(helper, text);
}
