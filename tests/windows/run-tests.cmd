@echo off
rem Runs the Windows tests of tavelune-helper, programs\*_test.exe, against
rem programs\tavelune-helper.exe, the very file that the release zip holds. Needs nothing
rem installed; any folder will do, and so will a second run in the same one.
rem
rem Each test program's output goes to logs\PROGRAM.log. One line per program, then a closing line
rem "N passed, M failed, K skipped" that counts the test cases; failed and skipped cases are named,
rem and the log says why. A program that ends without its summary counts as one failed case. The
rem exit status is 0 when nothing failed, 1 otherwise.
setlocal EnableExtensions DisableDelayedExpansion
set "ERRORLEVEL="
set "programs=%~dp0programs"
set "logs=%~dp0logs"
if not exist "%logs%\" mkdir "%logs%"
if not exist "%logs%\" (
  echo Cannot make the folder "%logs%".
  exit /b 1
)
if not exist "%programs%\tavelune-helper.exe" (
  echo There is no programs\tavelune-helper.exe beside run-tests.cmd.
  exit /b 1
)
rem The scan test makes its sandbox in the current folder, beside the programs.
cd /d "%programs%"

set /a ran=0, passed=0, failed=0, skipped=0
for %%p in (*_test.exe) do call :run %%~np
if %ran%==0 (
  echo There are no test programs in "%programs%".
  exit /b 1
)
echo %passed% passed, %failed% failed, %skipped% skipped
if %failed% neq 0 exit /b 1
exit /b 0

rem Runs one program and adds its cases to the totals.
:run
set "status="
for %%v in (PASSED FAILED SKIPPED) do set "summary%%v="
"%programs%\%1.exe" > "%logs%\%1.log" 2>&1
set "status=%ERRORLEVEL%"
rem GoogleTest closes with "[  PASSED  ] 5 tests.", "[  SKIPPED ] 1 test, listed below:" and a
rem line "[  SKIPPED ] Suite.Case" for each, and the same for FAILED. Only those lines are read:
rem the rest of a log may hold anything. Variable names are case-insensitive, so these are
rem summaryPASSED and so on, not passed.
set "find=%SystemRoot%\System32\find.exe"
"%find%" "[  PASSED  ]" < "%logs%\%1.log" > "%logs%\%1.summary"
"%find%" "[  FAILED  ]" < "%logs%\%1.log" >> "%logs%\%1.summary"
"%find%" "[  SKIPPED ]" < "%logs%\%1.log" >> "%logs%\%1.summary"
for /f "usebackq tokens=1-3 delims=[] " %%a in ("%logs%\%1.summary") do for %%w in ("test." "tests." "test," "tests,") do if "%%c"==%%w set "summary%%a=%%b"
set /a programPassed=summaryPASSED, programFailed=summaryFAILED, programSkipped=summarySKIPPED
if not defined summaryPASSED set /a programFailed+=1
if not "%status%"=="0" if %programFailed%==0 set /a programFailed=1
echo %1: %programPassed% passed, %programFailed% failed, %programSkipped% skipped
rem While the tests run, a case's line also carries its time; in the closing lists it stands alone.
for /f "usebackq tokens=1-3 delims=[] " %%a in ("%logs%\%1.summary") do if "%%c"=="" if "%%a"=="FAILED" echo   failed: %%b
for /f "usebackq tokens=1-3 delims=[] " %%a in ("%logs%\%1.summary") do if "%%c"=="" if "%%a"=="SKIPPED" echo   skipped: %%b
del "%logs%\%1.summary"
set /a ran+=1, passed+=programPassed, failed+=programFailed, skipped+=programSkipped
exit /b 0
