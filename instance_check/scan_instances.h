#pragma once

#include "instance_check/instance_status.h"

// Tells whether a process named "Tavelune.exe" runs from `path`, made absolute first unless it is a
// verbatim "\\?\" or "\??\" path, which is taken as written. Writes one diagnostic line to standard
// error when the answer is Undetermined after the process list was read.
InstanceStatus ScanInstances(const wchar_t* path);
