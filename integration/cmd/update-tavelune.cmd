@echo off
rem Replaces Tavelune's files only when no Tavelune process runs from its folder.
rem   update-tavelune.cmd [FOLDER]        FOLDER defaults to %ProgramW6432%\Tavelune
rem tavelune-helper.exe and the new files (in a folder named files) lie beside this script.
rem Exit status: 0 the files were replaced; 2 Tavelune runs (the helper's notice told the user);
rem 3 whether it runs cannot be told, or the helper could not be started; 4 copying failed.
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
set "result=3"
goto done

:running
"%helper%" --error "Tavelune l„uft noch. Bitte schlieáen Sie Tavelune und starten Sie die Aktualisierung erneut."
set "result=2"
goto done

:replace
set "result=0"
copy /y "%~dp0files\*" "%folder%\" >nul
if errorlevel 1 set "result=4"

:done
if defined previousCodePage "%chcp%" %previousCodePage% >nul 2>&1
endlocal & exit /b %result%
