; Starts tavelune-helper.exe from an NSIS 3 Unicode installer and reads its answer.
;
;   !include TaveluneHelper.nsh
;   ${TaveluneHelperCheck} "HELPER" "TARGET" $VAR
;       $VAR becomes 0 (no Tavelune process runs from TARGET), 10 (one does) or 20 (it cannot be
;       told, the helper could not be started, or it ended with any other status).
;   ${TaveluneHelperNotice} "HELPER" "TEXT"
;       Shows TEXT in the helper's notice and returns once the user has dismissed it. Sets the
;       error flag when the helper could not be started or did not end with 0.
;
; Only 0 means "replace the files". HELPER is the helper's absolute path ("C:\..." or "\\..."); it
; is started from there (never searched for, and no ".exe" is added), with a console but no console
; window and no inherited handles, and waited for. A relative HELPER is refused (20, or the error
; flag): Windows would complete it from the current folder. TARGET is the full path of
; Tavelune.exe; one whose last part is not "Tavelune.exe" (in any case of the letters A to Z), such
; as Tavelune's folder, is refused with 20. TARGET and TEXT are quoted here so that the helper
; receives them exactly, whatever they hold. A command line that would not fit NSIS's string length
; (NSIS_MAX_STRLEN) is not started: the answer is 20.
; Pass a text that holds a backtick through a variable. Registers $0-$9 and $R0-$R9 are left as
; they were.

!ifndef TAVELUNE_HELPER_NSH
!define TAVELUNE_HELPER_NSH

!include LogicLib.nsh
!include Util.nsh

!define TaveluneHelperCheck "!insertmacro TaveluneHelperCheckCall"
!define TaveluneHelperNotice "!insertmacro TaveluneHelperNoticeCall"

; A line this long may have been cut short by NSIS, which truncates without a word.
!define /math TaveluneHelper_LongestLine ${NSIS_MAX_STRLEN} - 1
!if ${NSIS_PTR_SIZE} > 4
  !define TaveluneHelper_StartupInfoSize 104
!else
  !define TaveluneHelper_StartupInfoSize 68
!endif

!macro TaveluneHelperCheckCall HELPER TARGET RESULT
  !insertmacro TaveluneHelperRun `${HELPER}` `` `${TARGET}`
  ${If} $TaveluneHelper.Status == 10
    StrCpy ${RESULT} 10
  ${ElseIf} $TaveluneHelper.Status == 0
    StrCpy ${RESULT} 0
  ${Else}
    StrCpy ${RESULT} 20
  ${EndIf}
!macroend

!macro TaveluneHelperNoticeCall HELPER TEXT
  !insertmacro TaveluneHelperRun `${HELPER}` `--error` `${TEXT}`
  ClearErrors
  ${If} $TaveluneHelper.Status != 0
    SetErrors
  ${EndIf}
!macroend

!macro TaveluneHelperRun HELPER OPTION ARGUMENT
  !ifndef TaveluneHelper_Variables
    !define TaveluneHelper_Variables
    Var /GLOBAL TaveluneHelper.Helper
    Var /GLOBAL TaveluneHelper.Option
    Var /GLOBAL TaveluneHelper.Argument
    Var /GLOBAL TaveluneHelper.Line
    Var /GLOBAL TaveluneHelper.Slashes
    Var /GLOBAL TaveluneHelper.Char
    Var /GLOBAL TaveluneHelper.Index
    Var /GLOBAL TaveluneHelper.Length
    Var /GLOBAL TaveluneHelper.Memory
    Var /GLOBAL TaveluneHelper.Process
    Var /GLOBAL TaveluneHelper.Thread
    Var /GLOBAL TaveluneHelper.Result
    Var /GLOBAL TaveluneHelper.Status
    Var /GLOBAL TaveluneHelper.Expected
  !endif
  StrCpy $TaveluneHelper.Helper `${HELPER}`
  StrCpy $TaveluneHelper.Option `${OPTION}`
  StrCpy $TaveluneHelper.Argument `${ARGUMENT}`
  ${CallArtificialFunction} TaveluneHelper_Run
!macroend

; $TaveluneHelper.Result becomes "yes" when $TaveluneHelper.Char is the unit at
; $TaveluneHelper.Index of LOWER or of UPPER, and "no" otherwise. StrCmpS compares exactly; NSIS's
; other string comparisons follow the user's locale.
!macro TaveluneHelper_OneOf LOWER UPPER
  StrCpy $TaveluneHelper.Result no
  StrCpy $TaveluneHelper.Expected `${LOWER}` 1 $TaveluneHelper.Index
  StrCmpS $TaveluneHelper.Char $TaveluneHelper.Expected 0 +2
  StrCpy $TaveluneHelper.Result yes
  StrCpy $TaveluneHelper.Expected `${UPPER}` 1 $TaveluneHelper.Index
  StrCmpS $TaveluneHelper.Char $TaveluneHelper.Expected 0 +2
  StrCpy $TaveluneHelper.Result yes
!macroend

; $TaveluneHelper.Status becomes the helper's exit status, or "" when it did not run to its end.
!macro TaveluneHelper_Run
  StrCpy $TaveluneHelper.Status ""

  ; The helper by an absolute path only: "\\..." or a drive letter, ":" and "\".
  StrCpy $TaveluneHelper.Char $TaveluneHelper.Helper 2
  ${If} $TaveluneHelper.Char S!= `\\`
    StrCpy $TaveluneHelper.Char $TaveluneHelper.Helper 2 1
    ${If} $TaveluneHelper.Char S!= `:\`
      Return
    ${EndIf}
    StrCpy $TaveluneHelper.Char $TaveluneHelper.Helper 1
    ${For} $TaveluneHelper.Index 0 25
      !insertmacro TaveluneHelper_OneOf abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ
      ${IfThen} $TaveluneHelper.Result == yes ${|} ${ExitFor} ${|}
    ${Next}
    ${If} $TaveluneHelper.Result != yes
      Return
    ${EndIf}
  ${EndIf}

  ; The check's target: its last part, after the last "\" or "/", must be Tavelune.exe.
  ${If} $TaveluneHelper.Option == ""
    StrLen $TaveluneHelper.Index $TaveluneHelper.Argument
    ${Do}
      IntOp $TaveluneHelper.Index $TaveluneHelper.Index - 1
      ${IfThen} $TaveluneHelper.Index < 0 ${|} ${ExitDo} ${|}
      StrCpy $TaveluneHelper.Char $TaveluneHelper.Argument 1 $TaveluneHelper.Index
      ${If} $TaveluneHelper.Char S== `\`
      ${OrIf} $TaveluneHelper.Char S== `/`
        ${ExitDo}
      ${EndIf}
    ${Loop}
    IntOp $TaveluneHelper.Index $TaveluneHelper.Index + 1
    StrCpy $TaveluneHelper.Line $TaveluneHelper.Argument "" $TaveluneHelper.Index
    StrLen $TaveluneHelper.Length $TaveluneHelper.Line
    ${If} $TaveluneHelper.Length != 12
      Return
    ${EndIf}
    ${For} $TaveluneHelper.Index 0 11
      StrCpy $TaveluneHelper.Char $TaveluneHelper.Line 1 $TaveluneHelper.Index
      !insertmacro TaveluneHelper_OneOf tavelune.exe TAVELUNE.EXE
      ${IfThen} $TaveluneHelper.Result != yes ${|} Return ${|}
    ${Next}
  ${EndIf}

  ; The program name: in quotes, which a file name cannot hold.
  StrCpy $TaveluneHelper.Line `"$TaveluneHelper.Helper"`
  ${If} $TaveluneHelper.Option != ""
    StrCpy $TaveluneHelper.Line `$TaveluneHelper.Line $TaveluneHelper.Option`
  ${EndIf}

  ; The argument in quotes, as the C runtime splits it: each quote is escaped, and a run of
  ; backslashes is doubled where a quote follows it (its own or the closing one).
  StrCpy $TaveluneHelper.Line `$TaveluneHelper.Line "`
  StrCpy $TaveluneHelper.Slashes ""
  StrLen $TaveluneHelper.Length $TaveluneHelper.Argument
  StrCpy $TaveluneHelper.Index 0
  ${DoWhile} $TaveluneHelper.Index < $TaveluneHelper.Length
    StrCpy $TaveluneHelper.Char $TaveluneHelper.Argument 1 $TaveluneHelper.Index
    IntOp $TaveluneHelper.Index $TaveluneHelper.Index + 1
    ${If} $TaveluneHelper.Char == `\`
      StrCpy $TaveluneHelper.Slashes `$TaveluneHelper.Slashes\`
    ${Else}
      ${If} $TaveluneHelper.Char == `"`
        StrCpy $TaveluneHelper.Char `$TaveluneHelper.Slashes\"`
      ${EndIf}
      StrCpy $TaveluneHelper.Line `$TaveluneHelper.Line$TaveluneHelper.Slashes$TaveluneHelper.Char`
      StrCpy $TaveluneHelper.Slashes ""
    ${EndIf}
  ${Loop}
  StrCpy $TaveluneHelper.Line `$TaveluneHelper.Line$TaveluneHelper.Slashes$TaveluneHelper.Slashes"`

  StrLen $TaveluneHelper.Length $TaveluneHelper.Line
  ${If} $TaveluneHelper.Length >= ${TaveluneHelper_LongestLine}
    Return
  ${EndIf}

  ; STARTUPINFOW (cb, its size, first) and then PROCESS_INFORMATION, zeroed.
  System::Alloc 256
  Pop $TaveluneHelper.Memory
  System::Call `*$TaveluneHelper.Memory(i ${TaveluneHelper_StartupInfoSize})`
  IntPtrOp $TaveluneHelper.Process $TaveluneHelper.Memory + 128
  Push $TaveluneHelper.Line
  Push $TaveluneHelper.Helper
  ; CREATE_NO_WINDOW: a console program started from a GUI installer shows no console window.
  System::Call `kernel32::CreateProcessW(w s, w s, p 0, p 0, i 0, i 0x08000000, p 0, p 0, \
                p $TaveluneHelper.Memory, p $TaveluneHelper.Process) i .s`
  Pop $TaveluneHelper.Result
  ${If} $TaveluneHelper.Result != 0
    ; PROCESS_INFORMATION: hProcess, then hThread.
    System::Call `*$TaveluneHelper.Process(p, p .s)`
    Pop $TaveluneHelper.Thread
    System::Call `*$TaveluneHelper.Process(p .s)`
    Pop $TaveluneHelper.Process
    System::Call `kernel32::CloseHandle(p $TaveluneHelper.Thread)`
    System::Call `kernel32::WaitForSingleObject(p $TaveluneHelper.Process, i -1) i .s`
    Pop $TaveluneHelper.Result
    ${If} $TaveluneHelper.Result == 0
      System::Call `kernel32::GetExitCodeProcess(p $TaveluneHelper.Process, p $TaveluneHelper.Memory) i .s`
      Pop $TaveluneHelper.Result
      ${If} $TaveluneHelper.Result != 0
        System::Call `*$TaveluneHelper.Memory(i .s)`
        Pop $TaveluneHelper.Status
      ${EndIf}
    ${EndIf}
    System::Call `kernel32::CloseHandle(p $TaveluneHelper.Process)`
  ${EndIf}
  System::Free $TaveluneHelper.Memory
!macroend

!endif ; TAVELUNE_HELPER_NSH
