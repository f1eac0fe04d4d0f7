@echo off
rem Replaces Tavelune's files only when no Tavelune process runs from its folder.
rem   update-tavelune.cmd [FOLDER]        FOLDER defaults to %ProgramW6432%\Tavelune
rem tavelune-helper.exe and the new files (in a folder named files) lie beside this script.
rem Exit status, like the helper's own:
rem   0   the files were replaced
rem   10  Tavelune runs; the helper's notice told the user, unless nobody can see the screen
rem   20  whether it runs cannot be told, or the helper could not be started
rem   30  replacing failed: at least one file could not be copied (the others may have been)
rem
rem cmd reads a batch file line by line in the console's code page. This file is saved in code
rem page 850, which has the German letters, and switches the console to it before the first line
rem that holds one, and back at the end. Keep that encoding when you edit the notice's text.
rem Programs are named by their full paths: an elevated updater must not run a chcp.com that
rem someone left in the current folder.
rem Start it with a console: CREATE_NO_WINDOW is fine, DETACHED_PROCESS is not. Without a console
rem chcp cannot switch, and the German text is read in the ANSI code page.
rem
rem Delayed expansion would drop each "!" from the folders, and a variable named ERRORLEVEL would
rem hide the helper's exit status: both are switched off here, whatever the caller's cmd has set.
setlocal EnableExtensions DisableDelayedExpansion
set "ERRORLEVEL="
set "chcp=%SystemRoot%\System32\chcp.com"
for /f "tokens=2 delims=:." %%p in ('"%chcp%"') do set "previousCodePage=%%p"
"%chcp%" 850 >nul 2>&1

set "folder=%~1"
if "%folder%"=="" set "folder=%ProgramW6432%\Tavelune"
set "helper=%~dp0tavelune-helper.exe"

rem Only 0 lets the update go on: 10 means Tavelune runs, and anything else (20, or a helper that
rem did not start) means it cannot be ruled out.
"%helper%" "%folder%\Tavelune.exe"
set "status=%ERRORLEVEL%"
if "%status%"=="0" goto replace
if "%status%"=="10" goto running
set "result=20"
goto done

:running
rem Where nobody can see the screen (a service, session 0), the helper shows nothing and ends at once.
"%helper%" --error "Tavelune l„uft noch. Bitte schlieáen Sie Tavelune und starten Sie die Aktualisierung erneut."
set "result=10"
goto done

rem One copy per file: what copy reports for a wildcard of which only some files fail is not
rem documented, and a half-replaced install must not end with 0. Only the files folder's own files
rem are copied, not its subfolders. No file to copy (a missing or empty files folder) is a failure
rem too: nothing was replaced.
:replace
set "result=0"
set /a found=0
for /r "%~dp0files" %%f in (*) do if "%%~dpf"=="%~dp0files\" call :copyOne "%%f"
if %found%==0 set "result=30"

:done
if defined previousCodePage "%chcp%" %previousCodePage% >nul 2>&1
endlocal & exit /b %result%

rem Copies one file into the folder; a failure makes the result 30.
:copyOne
set /a found+=1
copy /y "%~1" "%folder%\" >nul
if errorlevel 1 set "result=30"
exit /b 0
