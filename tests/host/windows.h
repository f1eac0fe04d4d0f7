// The host build's <windows.h>: the caller kit's header includes it, and gets the declarations the
// fake stands behind.
#pragma once

#include "platform/platform.h"
