// tavelune-update.exe [--silent] [--wait SECONDS] [--from SOURCE] [--log FILE] [FOLDER]
#pragma once

#include "platform/platform.h"

struct CommandLine {
  bool silent;
  DWORD waitSeconds;
  const WCHAR* source;  // nullptr: the folder files beside the program
  const WCHAR* log;
  const WCHAR* folder;  // nullptr: %ProgramW6432%\\Tavelune
};

// False for a command line it cannot read: an unknown option, one given twice, a value missing or
// not a whole number of seconds up to a day, or a second folder.
bool ReadCommandLine(int argc, const wchar_t* const argv[], CommandLine& line);
