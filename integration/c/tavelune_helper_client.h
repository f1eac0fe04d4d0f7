/* Starts tavelune-helper.exe from an updater and reads its answer.
 *
 * One header, C99 or C++17, needing only <windows.h>; include it in as many translation units as
 * you like. Pass the helper's absolute path ("C:\...\tavelune-helper.exe" or "\\server\..."):
 * both functions start it from exactly that file (it is never searched for, and no ".exe" is
 * added), with a console but no console window and no inherited handles, wait for it to end and
 * close every handle they open. A relative helper path is refused with 20: Windows would complete
 * it from the current folder, which for an elevated updater may be one the user can write.
 * The target is the full path of Tavelune.exe; a path whose last part is not "Tavelune.exe" (in
 * any case of the letters A to Z), such as Tavelune's folder, is refused with 20, since no Tavelune
 * process could ever run from it.
 * The command line is quoted so that the helper receives exactly the strings passed: spaces,
 * quotes, backslashes, '%', '^', '&' and any Unicode text included.
 *
 * Only 0 from TaveluneHelperCheck means "replace the files". Anything else, 20 included, means
 * "do not".
 */
#ifndef TAVELUNE_HELPER_CLIENT_H
#define TAVELUNE_HELPER_CLIENT_H

#include <windows.h>

#if defined(_MSC_VER) && !defined(__cplusplus)
#define TAVELUNE_HELPER_FUNCTION static __inline
#else
#define TAVELUNE_HELPER_FUNCTION static inline
#endif

#ifdef __cplusplus
#define TAVELUNE_HELPER_CAST(type, value) static_cast<type>(value)
#define TAVELUNE_HELPER_NULL nullptr
#else
#define TAVELUNE_HELPER_CAST(type, value) ((type)(value))
#define TAVELUNE_HELPER_NULL NULL
#endif

/* The longest command line CreateProcessW takes, its terminating NUL included. */
#define TAVELUNE_HELPER_COMMAND_LINE_LIMIT 32767u

/* TRUE for "X:\..." and "\\...": paths that Windows does not complete from the current folder. */
TAVELUNE_HELPER_FUNCTION BOOL TaveluneHelper_IsAbsolute(const wchar_t* path) {
  wchar_t drive = path[0];
  if (path[0] == L'\\' && path[1] == L'\\') {
    return TRUE;
  }
  if (((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z')) && path[1] == L':' &&
      path[2] == L'\\') {
    return TRUE;
  }
  return FALSE;
}

/* TRUE when the part of `path` after its last '\' or '/' is "Tavelune.exe", folding only the
   letters A to Z, as the helper compares names. */
TAVELUNE_HELPER_FUNCTION BOOL TaveluneHelper_NamesTavelune(const wchar_t* path) {
  const char* name = "tavelune.exe";
  const wchar_t* last = path;
  SIZE_T i;
  for (; *path != L'\0'; ++path) {
    if (*path == L'\\' || *path == L'/') {
      last = path + 1;
    }
  }
  for (i = 0; name[i] != '\0'; ++i) {
    wchar_t unit = last[i];
    if (unit >= L'A' && unit <= L'Z') {
      unit = TAVELUNE_HELPER_CAST(wchar_t, unit - L'A' + L'a');
    }
    if (unit != TAVELUNE_HELPER_CAST(wchar_t, name[i])) {
      return FALSE;
    }
  }
  return last[i] == L'\0' ? TRUE : FALSE;
}

/* Writes `argument` in double quotes so that the C runtime's splitting gives it back unchanged:
   each quote of the argument is escaped, and a run of backslashes is doubled where a quote
   follows it (the argument's own or the closing one); elsewhere backslashes stand as they are.
   Returns the number of units; with `out` TAVELUNE_HELPER_NULL it only counts them. */
TAVELUNE_HELPER_FUNCTION SIZE_T TaveluneHelper_Quote(const wchar_t* argument, wchar_t* out) {
  SIZE_T length = 0;
  SIZE_T backslashes = 0;
  const wchar_t* next;
  if (out != TAVELUNE_HELPER_NULL) {
    out[length] = L'"';
  }
  ++length;
  for (next = argument;; ++next) {
    SIZE_T escapes;
    if (*next == L'\\') {
      ++backslashes;
      continue;
    }
    escapes = (*next == L'"' || *next == L'\0') ? backslashes * 2 : backslashes;
    for (; escapes > 0; --escapes) {
      if (out != TAVELUNE_HELPER_NULL) {
        out[length] = L'\\';
      }
      ++length;
    }
    backslashes = 0;
    if (*next == L'\0') {
      break;
    }
    if (*next == L'"') {
      if (out != TAVELUNE_HELPER_NULL) {
        out[length] = L'\\';
      }
      ++length;
    }
    if (out != TAVELUNE_HELPER_NULL) {
      out[length] = *next;
    }
    ++length;
  }
  if (out != TAVELUNE_HELPER_NULL) {
    out[length] = L'"';
  }
  return length + 1;
}

/* Runs the helper with `option` (may be TAVELUNE_HELPER_NULL) and `argument`, and waits for it to
   end. Returns FALSE when it could not be started or its end could not be seen; otherwise TRUE,
   with its exit status in *status. */
TAVELUNE_HELPER_FUNCTION BOOL TaveluneHelper_Run(const wchar_t* helperPath, const wchar_t* option,
                                                 const wchar_t* argument, DWORD* status) {
  SIZE_T helperLength;
  SIZE_T optionLength;
  SIZE_T length;
  SIZE_T at;
  SIZE_T i;
  wchar_t* commandLine;
  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  BOOL started;
  BOOL ended;

  if (helperPath == TAVELUNE_HELPER_NULL || argument == TAVELUNE_HELPER_NULL ||
      TaveluneHelper_IsAbsolute(helperPath) == FALSE) {
    return FALSE;
  }
  /* The program name is split without escapes, so it cannot hold a quote; no file name does. */
  for (helperLength = 0; helperPath[helperLength] != L'\0'; ++helperLength) {
    if (helperPath[helperLength] == L'"') {
      return FALSE;
    }
  }
  optionLength = 0;
  if (option != TAVELUNE_HELPER_NULL) {
    while (option[optionLength] != L'\0') {
      ++optionLength;
    }
    ++optionLength; /* the space before it */
  }
  length = helperLength + 2 + optionLength + 1 +
           TaveluneHelper_Quote(argument, TAVELUNE_HELPER_NULL) + 1;
  if (length > TAVELUNE_HELPER_COMMAND_LINE_LIMIT) {
    return FALSE;
  }

  commandLine =
      TAVELUNE_HELPER_CAST(wchar_t*, HeapAlloc(GetProcessHeap(), 0, length * sizeof(wchar_t)));
  if (commandLine == TAVELUNE_HELPER_NULL) {
    return FALSE;
  }
  at = 0;
  commandLine[at++] = L'"';
  for (i = 0; i < helperLength; ++i) {
    commandLine[at++] = helperPath[i];
  }
  commandLine[at++] = L'"';
  if (option != TAVELUNE_HELPER_NULL) {
    commandLine[at++] = L' ';
    for (i = 0; option[i] != L'\0'; ++i) {
      commandLine[at++] = option[i];
    }
  }
  commandLine[at++] = L' ';
  at += TaveluneHelper_Quote(argument, commandLine + at);
  commandLine[at] = L'\0';

  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  ZeroMemory(&process, sizeof(process));
  started = CreateProcessW(helperPath, commandLine, TAVELUNE_HELPER_NULL, TAVELUNE_HELPER_NULL,
                           FALSE, CREATE_NO_WINDOW, TAVELUNE_HELPER_NULL, TAVELUNE_HELPER_NULL,
                           &startup, &process);
  HeapFree(GetProcessHeap(), 0, commandLine);
  if (started == FALSE) {
    return FALSE;
  }
  CloseHandle(process.hThread);

  ended = FALSE;
  if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.hProcess, status) != FALSE) {
    ended = TRUE;
  }
  CloseHandle(process.hProcess);
  return ended;
}

/* 0: no Tavelune process runs from targetPath; 10: one does; 20: it cannot be told, and also
   whenever either path is refused, the helper could not be started or it ended with any other
   status. */
TAVELUNE_HELPER_FUNCTION int TaveluneHelperCheck(const wchar_t* helperPath,
                                                 const wchar_t* targetPath) {
  DWORD status;
  if (targetPath == TAVELUNE_HELPER_NULL || TaveluneHelper_NamesTavelune(targetPath) == FALSE ||
      TaveluneHelper_Run(helperPath, TAVELUNE_HELPER_NULL, targetPath, &status) == FALSE) {
    return 20;
  }
  return status == 0 ? 0 : status == 10 ? 10 : 20;
}

/* 0 once the helper has shown the notice and it was dismissed (or no notice could be shown);
   20 when the helper path is refused, the helper could not be started or it did not end with 0. */
TAVELUNE_HELPER_FUNCTION int TaveluneHelperNotice(const wchar_t* helperPath, const wchar_t* text) {
  DWORD status;
  if (TaveluneHelper_Run(helperPath, L"--error", text, &status) == FALSE) {
    return 20;
  }
  return status == 0 ? 0 : 20;
}

#endif /* TAVELUNE_HELPER_CLIENT_H */
