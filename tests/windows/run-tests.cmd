@echo off
rem Runs the Windows tests of tavelune-helper, programs\*_test.exe, against
rem programs\tavelune-helper.exe, the very file that the release zip holds. Needs nothing
rem installed. Any folder on a local drive will do, and so will a second run in the same one; not
rem a network share, a subst or mapped drive or a folder reached through a link, since the scan
rem cases compare paths as Windows reports them for a running program.
rem
rem Each test program's output goes to logs\PROGRAM.log. One line per program, then a closing line
rem "N passed, M failed, K skipped" that counts the test cases; failed and skipped cases are named,
rem and the log says why. A program that ends without its summary, or with a status other than 0
rem while none of its cases failed, counts as one failed case. The exit status is 0 when nothing
rem failed, 1 otherwise. The same lines go to logs\summary.txt, to be read when the window that ran
rem this has closed.
setlocal EnableExtensions DisableDelayedExpansion
set "ERRORLEVEL="
set "programs=%~dp0programs"
set "logs=%~dp0logs"
set "summary=%~dp0logs\summary.txt"
if not exist "%logs%\" mkdir "%logs%"
if not exist "%logs%\" (
  echo Cannot make the folder "%logs%".
  exit /b 1
)
type nul > "%summary%"
rem Without the helper every case that starts it fails, and says which file it missed.
if not exist "%programs%\tavelune-helper.exe" call :say "There is no programs\tavelune-helper.exe beside run-tests.cmd."
rem The scan test makes its sandbox in the current folder, beside the programs. cmd cannot make a
rem network share its current folder: then no test program is found there.
cd /d "%programs%" 2>nul

set /a ran=0, passed=0, failed=0, skipped=0
for %%p in (*_test.exe) do call :run %%~np
if %ran%==0 (
  call :say "No test programs found in the folder programs. Unzip the bundle into a folder on a local drive."
  exit /b 1
)
call :say "%passed% passed, %failed% failed, %skipped% skipped"
if %failed% neq 0 exit /b 1
exit /b 0

rem Prints one line, and adds it to logs\summary.txt.
:say
echo %~1
>> "%summary%" echo %~1
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
call :say "%1: %programPassed% passed, %programFailed% failed, %programSkipped% skipped"
rem While the tests run, a case's line also carries its time; in the closing lists it stands alone.
for /f "usebackq tokens=1-3 delims=[] " %%a in ("%logs%\%1.summary") do if "%%c"=="" if "%%a"=="FAILED" call :say "  failed: %%b"
for /f "usebackq tokens=1-3 delims=[] " %%a in ("%logs%\%1.summary") do if "%%c"=="" if "%%a"=="SKIPPED" call :say "  skipped: %%b"
del "%logs%\%1.summary"
set /a ran+=1, passed+=programPassed, failed+=programFailed, skipped+=programSkipped
exit /b 0
