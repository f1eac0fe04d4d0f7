; An updater for Tavelune that replaces Tavelune.exe only when no Tavelune process runs from it.
;
;   makensis -DHELPER_EXE=path\to\tavelune-helper.exe -DNEW_TAVELUNE_EXE=path\to\Tavelune.exe
;            [-DOUTFILE=TaveluneUpdate.exe] example-updater.nsi
;
; Its exit status, like the helper's own, and the same whether it runs silently or not:
;   0   the file was replaced
;   10  Tavelune runs; the helper's notice told the user, unless the update runs silently
;   20  whether Tavelune runs cannot be told safely, or the helper could not be started
;   30  replacing failed
; NSIS itself ends with 1 when the user cancels and 2 when the script aborts, which none of these
; can be mistaken for. /S runs it silently (no notice, no message: the exit status tells),
; /D=FOLDER names the folder.
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

Section
  ; The helper goes beside Tavelune, into a folder only administrators can write: run elevated
  ; from a folder the user can write, whatever planted there would run with the updater's rights.
  SetOutPath "$INSTDIR"
  File "/oname=tavelune-helper.exe" "${HELPER_EXE}"

  ${TaveluneHelperCheck} "$INSTDIR\tavelune-helper.exe" "$INSTDIR\Tavelune.exe" $0
  ${If} $0 == 10
    ; A silent update may run where nobody sees the screen (a deployment tool, as SYSTEM, in
    ; session 0), and the notice would wait there for ever: the exit status must tell.
    ${IfNot} ${Silent}
      ${TaveluneHelperNotice} "$INSTDIR\tavelune-helper.exe" \
          "Tavelune läuft noch. Bitte schließen Sie Tavelune und starten Sie die Aktualisierung erneut."
    ${EndIf}
    SetErrorLevel 10
    Quit
  ${ElseIf} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP \
        "Ob Tavelune noch läuft, lässt sich nicht sicher feststellen. Die Aktualisierung wurde angehalten." \
        /SD IDOK
    SetErrorLevel 20
    Quit
  ${EndIf}

  ClearErrors
  File "/oname=Tavelune.exe" "${NEW_TAVELUNE_EXE}"
  ${If} ${Errors}
    SetErrorLevel 30
    Quit
  ${EndIf}
  SetErrorLevel 0
SectionEnd
