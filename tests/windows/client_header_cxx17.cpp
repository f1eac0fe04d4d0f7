// The caller kit's header, compiled as C++17 with the warnings C++ code is often held to.
#include "integration/c/tavelune_helper_client.h"

int CheckFromCxx17(const wchar_t* helper, const wchar_t* target) {
  return TaveluneHelperCheck(helper, target);
}
