; An updater for Tavelune that replaces its files, all of them or none, only when no Tavelune
; process runs from its folder. It unpacks tavelune-update.exe, tavelune-helper.exe and the new
; files, and lets the engine do the update.
;
;   makensis -DENGINE_EXE=path\to\tavelune-update.exe -DHELPER_EXE=path\to\tavelune-helper.exe
;            -DNEW_FILES=path\to\folder [-DOUTFILE=TaveluneUpdate.exe] example-updater.nsi
;   makensis ... -DNEW_TAVELUNE_EXE=path\to\Tavelune.exe ...   (a set of one file)
;
; NEW_FILES packs every file of that folder, its subfolders included.
; Its exit status, the engine's, the same whether it runs silently or not:
;   0   the files were replaced
;   10  Tavelune runs; the helper's notice told the user, unless the update runs silently
;   20  whether Tavelune runs cannot be told safely, or the helper could not be started
;   30  nothing was replaced; also when the engine could not be unpacked or started
;   40  the old files could not all be put back yet: run the update again, which does it first
; NSIS itself ends with 1 when the user cancels, which none of these can be mistaken for; a write
; that fails part way, where NSIS would end with 2, ends with 30 too. /S runs it silently (no
; notice, no message: the exit status tells), /D=FOLDER names the folder.
;
; Where the programs are unpacked: an elevated updater starts them, so nobody without elevation
; may be able to change them before they run. The updater makes a new folder in Windows' own
; temporary folder (%SystemRoot%\Temp, where users may add files but not change or move what others
; made) whose only access entries are SYSTEM's and the Administrators', not inherited, and unpacks
; into it; a folder of that name that exists already is not used (30). It removes the folder when
; the engine has ended. The user's own %TEMP% would not do: the user's other programs can write it.
;
; A 32-bit installer (Target x86-unicode) runs on 64-bit Windows too, but there $PROGRAMFILES is
; "C:\Program Files (x86)". A 64-bit Tavelune lives under $PROGRAMFILES64, and that is the folder
; the engine must be given: the one Windows reports for the running process.

Unicode true
!include LogicLib.nsh

!ifndef OUTFILE
  !define OUTFILE "TaveluneUpdate.exe"
!endif

Name "Tavelune"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES64\Tavelune"

Var Unpacked
Var Options
Var Status

Section
  ; Anything that ends the run before the engine does (NSIS's own end after a failed write
  ; included) leaves the files as they were: 30.
  SetErrorLevel 30

  ; SYSTEM and the Administrators only, protected from the parent's entries; what is made inside
  ; inherits the same.
  System::Call 'kernel32::GetCurrentProcessId() i.r0'
  System::Call 'kernel32::GetTickCount() i.r1'
  StrCpy $Unpacked "$WINDIR\Temp\tavelune-update-$0-$1"
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", i 1, *p .r2, p 0) i.r3'
  ${If} $3 == 0
    Return
  ${EndIf}
  ; SECURITY_ATTRIBUTES: nLength, lpSecurityDescriptor, bInheritHandle. The System plug-in packs
  ; lower-case types without alignment, so a 64-bit build spells out the padding before the pointer
  ; and after the BOOL.
  !if ${NSIS_PTR_SIZE} > 4
    System::Call '*(i 24, i 0, p r2, i 0, i 0) p.r4'
  !else
    System::Call '*(i 12, p r2, i 0) p.r4'
  !endif
  System::Call 'kernel32::CreateDirectoryW(w "$Unpacked", p r4) i.r5'
  System::Free $4
  System::Call 'kernel32::LocalFree(p r2)'
  ${If} $5 == 0
    Return
  ${EndIf}

  SetOutPath "$Unpacked"
  File "/oname=tavelune-update.exe" "${ENGINE_EXE}"
  File "/oname=tavelune-helper.exe" "${HELPER_EXE}"
  SetOutPath "$Unpacked\files"
  !ifdef NEW_FILES
    File /r "${NEW_FILES}\*"
  !else
    File "/oname=Tavelune.exe" "${NEW_TAVELUNE_EXE}"
  !endif
  ; The folder in use cannot be removed.
  SetOutPath "$WINDIR"

  StrCpy $Options ""
  ${If} ${Silent}
    StrCpy $Options "--silent "
  ${EndIf}
  ; "\." keeps a folder's trailing backslash from escaping the closing quote; the engine makes the
  ; path absolute, which drops it.
  nsExec::Exec '"$Unpacked\tavelune-update.exe" $Options"$INSTDIR\."'
  Pop $Status
  RMDir /r "$Unpacked"
  ${If} $Status == "error"
    Return
  ${EndIf}
  SetErrorLevel $Status
SectionEnd
