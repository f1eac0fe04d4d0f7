; Runs the NSIS include once, as the caller-kit test asks through the environment: PROBE_MODE
; (check or notice), PROBE_HELPER and PROBE_TEXT. Ends with the answer as its exit status: the
; check's $VAR, or for the notice 0, and 20 when the include set the error flag.
Unicode true
!include LogicLib.nsh
!include TaveluneHelper.nsh

OutFile "${OUTFILE}"
RequestExecutionLevel user
SilentInstall silent

Section
  ReadEnvStr $0 PROBE_HELPER
  ReadEnvStr $1 PROBE_TEXT
  ReadEnvStr $2 PROBE_MODE
  ${If} $2 == notice
    ${TaveluneHelperNotice} $0 $1
    ${If} ${Errors}
      SetErrorLevel 20
    ${Else}
      SetErrorLevel 0
    ${EndIf}
  ${Else}
    ${TaveluneHelperCheck} $0 $1 $3
    SetErrorLevel $3
  ${EndIf}
SectionEnd
