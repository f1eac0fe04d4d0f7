; An updater for Tavelune that replaces its files, all of them or none, only when no Tavelune
; process runs from its folder.
;
;   makensis -DHELPER_EXE=path\to\tavelune-helper.exe -DNEW_FILES=path\to\folder
;            [-DOUTFILE=TaveluneUpdate.exe] example-updater.nsi
;   makensis ... -DNEW_TAVELUNE_EXE=path\to\Tavelune.exe ...   (a set of one file)
;
; NEW_FILES packs every file of that folder, not its subfolders.
; Its exit status, the same whether it runs silently or not:
;   0   the files were replaced
;   10  Tavelune runs; the helper's notice told the user, unless the update runs silently
;   20  whether Tavelune runs cannot be told safely, or the helper could not be started
;   30  nothing was replaced: a new file could not be written or swapped in, a folder stands where a
;       file must go, a name is not one the folder can hold, or another update of it is under way
;   40  the old files could not all be put back: run the update again, which puts them back first
; NSIS itself ends with 1 when the user cancels, which none of these can be mistaken for; a write
; that fails part way, where NSIS would end with 2, ends with 30 too. /S runs it silently (no
; notice, no message: the exit status tells), /D=FOLDER names the folder.
;
; It works as the batch recipe does, in the install folder itself so that the swap is renames on
; one volume: it holds tavelune-update.lock open without sharing for the whole run, puts back what
; an interrupted run left, asks the helper (about a Tavelune.exe left in tavelune-update.old too),
; clears what an earlier run left, writes the new files into tavelune-update.new, asks the helper
; again, lists their names in tavelune-update.marker, moves each old file into
; tavelune-update.old and each new one into place, and deletes the marker, then the backups. A
; rename that fails puts every file back, and no rename ever replaces a file. Where
; tavelune-update.new or tavelune-update.old cannot be cleared (another program holds a file in
; it), the run replaces nothing and ends with 30; the next run clears them once it has let go.
; The marker holds plain file names in UTF-16, so every name the folder can hold is carried; a
; marker this updater did not write, or an entry that is not a plain name, is refused, and that
; run touches nothing and ends with 40.
;
; A 32-bit installer (Target x86-unicode) runs on 64-bit Windows too, but there $PROGRAMFILES is
; "C:\Program Files (x86)". A 64-bit Tavelune lives under $PROGRAMFILES64, and that is the path
; the helper must be given: the one Windows reports for the running process.

Unicode true
!include LogicLib.nsh
!include TaveluneHelper.nsh

!ifndef OUTFILE
  !define OUTFILE "TaveluneUpdate.exe"
!endif

Name "Tavelune"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES64\Tavelune"

!define Stage "$INSTDIR\tavelune-update.new"
!define Backup "$INSTDIR\tavelune-update.old"
!define Names "$INSTDIR\tavelune-update.names"
!define Marker "$INSTDIR\tavelune-update.marker"

Var Lock
Var Checked
Var List
Var Action
Var Name
Var Failed
Var Foreign
Var Line
Var File
Var Index
Var Length
Var Count
Var Bad
Var Char
Var Forbidden

Section
  ; Anything that ends the run before the swap (NSIS's own end after a failed write included)
  ; leaves the files as they were: 30, unless the run says otherwise.
  SetErrorLevel 30

  ; One update of a folder at a time: the lock is held without sharing for the run's length, and
  ; goes with the process however it ends.
  CreateDirectory "$INSTDIR"
  System::Call 'kernel32::CreateFileW(w "$INSTDIR\tavelune-update.lock", i 0x40000000, i 0, p 0, i 4, i 0x04000080, p 0) p.s'
  Pop $Lock
  ${If} $Lock == -1
    Quit
  ${EndIf}

  ${If} ${FileExists} "${Marker}"
    Call PutBack
    ${If} ${FileExists} "${Marker}"
      SetErrorLevel 40
      Quit
    ${EndIf}
  ${EndIf}

  ; The helper goes beside Tavelune, into a folder only administrators can write: run elevated
  ; from a folder the user can write, whatever planted there would run with the updater's rights.
  SetOutPath "$INSTDIR"
  ClearErrors
  File "/oname=tavelune-helper.exe" "${HELPER_EXE}"
  ${If} ${Errors}
    Quit
  ${EndIf}
  StrCpy $Checked "$INSTDIR\Tavelune.exe"
  Call Ask
  ; A Tavelune started right before an earlier swap was moved aside with its file, and runs on.
  StrCpy $Checked "${Backup}\Tavelune.exe"
  ${If} ${FileExists} $Checked
    Call Ask
  ${EndIf}
  ; Whatever an earlier run left must go before anything is staged: a file there would stand in
  ; the way of a rename. One that another program holds stays, and so does everything else.
  Call Clear
  ${If} ${FileExists} "${Stage}\*.*"
  ${OrIf} ${FileExists} "${Backup}\*.*"
    Quit
  ${EndIf}

  SetOutPath "${Stage}"
  ClearErrors
  !ifdef NEW_FILES
    File "${NEW_FILES}\*"
  !else
    File "/oname=Tavelune.exe" "${NEW_TAVELUNE_EXE}"
  !endif
  StrCpy $Failed ""
  ${If} ${Errors}
    StrCpy $Failed yes
  ${EndIf}
  SetOutPath "$INSTDIR"
  ; The staged files' names, one a line, in UTF-16 after its byte-order mark: the marker, once it
  ; is renamed so.
  FileOpen $File "${Names}" w
  FileWriteWord $File 0xFEFF
  FindFirst $Index $Name "${Stage}\*"
  ${DoWhile} $Name != ""
    ${IfNot} ${FileExists} "${Stage}\$Name\*.*"
      FileWriteUTF16LE $File "$Name$\r$\n"
    ${EndIf}
    FindNext $Index $Name
  ${Loop}
  FindClose $Index
  FileClose $File
  StrCpy $List "${Names}"
  StrCpy $Foreign ""
  GetFunctionAddress $Action CheckName
  Call ForEachName
  GetFunctionAddress $Action FailIfAFolder
  Call ForEachName
  ${If} $Failed != ""
  ${OrIf} $Foreign != ""
    Call Clear
    Quit
  ${EndIf}

  ; Right before the swap: a Tavelune started meanwhile stops it.
  StrCpy $Checked "$INSTDIR\Tavelune.exe"
  Call Ask
  CreateDirectory "${Backup}"
  Rename "${Names}" "${Marker}"
  StrCpy $List "${Marker}"
  GetFunctionAddress $Action MoveOldAway
  Call ForEachName
  GetFunctionAddress $Action FailIfPresent
  Call ForEachName
  ${If} $Failed == ""
    GetFunctionAddress $Action MoveNewIn
    Call ForEachName
    GetFunctionAddress $Action FailIfMissing
    Call ForEachName
  ${EndIf}
  ${If} $Failed != ""
    Call PutBack
    ${If} ${FileExists} "${Marker}"
      SetErrorLevel 40
    ${EndIf}
    Quit
  ${EndIf}

  ; The marker goes first: without it the backups are no longer needed. Where it cannot be
  ; deleted, the backups stay, and the next run puts them back and updates again.
  SetErrorLevel 0
  Delete "${Marker}"
  ${IfNot} ${FileExists} "${Marker}"
    Call Clear
  ${EndIf}
SectionEnd

; A write that failed part way ended the section: what it staged goes.
Function .onInstFailed
  Call Clear
FunctionEnd

; Asks the helper about $Checked; anything but 0 clears what was staged and ends the run with its
; status.
Function Ask
  ${TaveluneHelperCheck} "$INSTDIR\tavelune-helper.exe" $Checked $0
  ${If} $0 == 0
    Return
  ${EndIf}
  Call Clear
  ${If} $0 == 10
    ; A silent update may run where nobody sees the screen (a deployment tool, as SYSTEM, in
    ; session 0), and the notice would wait there for ever: the exit status must tell.
    ${IfNot} ${Silent}
      ${TaveluneHelperNotice} "$INSTDIR\tavelune-helper.exe" \
          "Tavelune läuft noch. Bitte schließen Sie Tavelune und starten Sie die Aktualisierung erneut."
    ${EndIf}
    SetErrorLevel 10
  ${Else}
    MessageBox MB_OK|MB_ICONSTOP \
        "Ob Tavelune noch läuft, lässt sich nicht sicher feststellen. Die Aktualisierung wurde angehalten." \
        /SD IDOK
    SetErrorLevel 20
  ${EndIf}
  Quit
FunctionEnd

; Undoes the swap that the marker describes. Each new file goes back into the staging folder (one
; that has no backup was added by the update), each backup back into place. The marker goes only
; once every old file is back; where one is not, it stays for the next run.
Function PutBack
  StrCpy $List "${Marker}"
  StrCpy $Foreign ""
  GetFunctionAddress $Action CheckName
  Call ForEachName
  ${If} $Foreign != ""
    Return
  ${EndIf}
  CreateDirectory "${Stage}"
  GetFunctionAddress $Action MoveNewBack
  Call ForEachName
  GetFunctionAddress $Action MoveOldBack
  Call ForEachName
  StrCpy $Failed ""
  GetFunctionAddress $Action FailIfNotPutBack
  Call ForEachName
  ${If} $Failed == ""
    Delete "${Marker}"
    ${IfNot} ${FileExists} "${Marker}"
      Call Clear
    ${EndIf}
  ${EndIf}
FunctionEnd

; Removes what only a run under way needs: staged copies, backups, the list of names.
Function Clear
  ; A folder that is the current one cannot be removed, and File made the staging folder so.
  SetOutPath "$INSTDIR"
  RMDir /r "${Stage}"
  RMDir /r "${Backup}"
  Delete "${Names}"
FunctionEnd

; Calls $Action with $Name set to each name that $List holds, one a line. A list that names no
; file, or that this updater did not write, is no update's: $Foreign becomes yes.
Function ForEachName
  StrCpy $Count 0
  ClearErrors
  FileOpen $File $List r
  ${IfNot} ${Errors}
    FileReadWord $File $Char
    ${IfThen} $Char != 65279 ${|} SetErrors ${|}
    ${DoUntil} ${Errors}
      FileReadUTF16LE $File $Line
      ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
      ${Do}
        StrCpy $Char $Line 1 -1
        ${If} $Char S== "$\n"
        ${OrIf} $Char S== "$\r"
          StrCpy $Line $Line -1
        ${Else}
          ${ExitDo}
        ${EndIf}
      ${Loop}
      ${If} $Line != ""
        StrCpy $Name $Line
        IntOp $Count $Count + 1
        Call $Action
      ${EndIf}
      ClearErrors
    ${Loop}
    FileClose $File
  ${EndIf}
  ${IfThen} $Count == 0 ${|} StrCpy $Foreign yes ${|}
FunctionEnd

; An entry must be a plain file name of the folder: no path, drive, "..", or wildcard, nor a quote
; or "|", which no name holds.
Function CheckName
  ${If} $Name S== "."
    StrCpy $Foreign yes
  ${EndIf}
  StrLen $Length $Name
  ${For} $Index 0 $Length
    StrCpy $Char $Name 2 $Index
    ${IfThen} $Char S== ".." ${|} StrCpy $Foreign yes ${|}
    StrCpy $Char $Name 1 $Index
    ${ForEach} $Forbidden 0 8 + 1
      StrCpy $Bad `\/:*?<>|"` 1 $Forbidden
      ${IfThen} $Char S== $Bad ${|} StrCpy $Foreign yes ${|}
    ${Next}
  ${Next}
FunctionEnd

Function FailIfAFolder
  ${IfThen} ${FileExists} "$INSTDIR\$Name\*.*" ${|} StrCpy $Failed yes ${|}
FunctionEnd

Function MoveOldAway
  ${If} ${FileExists} "$INSTDIR\$Name"
    Rename "$INSTDIR\$Name" "${Backup}\$Name"
  ${EndIf}
FunctionEnd

Function FailIfPresent
  ${IfThen} ${FileExists} "$INSTDIR\$Name" ${|} StrCpy $Failed yes ${|}
FunctionEnd

Function MoveNewIn
  Rename "${Stage}\$Name" "$INSTDIR\$Name"
FunctionEnd

Function FailIfMissing
  ${IfNot} ${FileExists} "$INSTDIR\$Name"
  ${OrIf} ${FileExists} "${Stage}\$Name"
    StrCpy $Failed yes
  ${EndIf}
FunctionEnd

Function MoveNewBack
  ${If} ${FileExists} "${Backup}\$Name"
  ${OrIfNot} ${FileExists} "${Stage}\$Name"
    ${If} ${FileExists} "$INSTDIR\$Name"
      Rename "$INSTDIR\$Name" "${Stage}\$Name"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function MoveOldBack
  ${If} ${FileExists} "${Backup}\$Name"
  ${AndIfNot} ${FileExists} "$INSTDIR\$Name"
    Rename "${Backup}\$Name" "$INSTDIR\$Name"
  ${EndIf}
FunctionEnd

Function FailIfNotPutBack
  ${If} ${FileExists} "${Backup}\$Name"
  ${OrIfNot} ${FileExists} "${Stage}\$Name"
    StrCpy $Failed yes
  ${EndIf}
FunctionEnd
