@echo off
rem Replaces Tavelune's files, all of them or none, only when no Tavelune process runs from its folder.
rem   update-tavelune.cmd [--silent] [--wait SECONDS] [FOLDER]    FOLDER: %ProgramW6432%\Tavelune
rem It starts tavelune-update.exe, which does the update; the engine, tavelune-helper.exe and the
rem new files (a folder named files, subfolders included) lie beside this script.
rem   --silent          no notice when Tavelune runs
rem   --wait SECONDS    while Tavelune runs, ask again every half second, for up to SECONDS in all
rem Exit status, the engine's:
rem   0   the files were replaced
rem   10  Tavelune runs; the notice told the user, unless --silent or nobody can see the screen
rem   20  whether it runs cannot be told, or the helper could not be started
rem   30  nothing was replaced; also when tavelune-update.exe is not beside this script, or the
rem       command line has another shape
rem   40  the old files could not all be put back yet: run the update again, which does it first
rem
rem Start it as "%SystemRoot%\System32\cmd.exe" /d /s /c ""...\update-tavelune.cmd" "FOLDER"", so
rem that AutoRun does not run before it; /s has cmd remove only the outer pair of quotes. A variable
rem named ERRORLEVEL would hide the engine's exit status and delayed expansion would drop each "!"
rem from the folder: both are switched off here. The folder and the seconds reach the engine only
rem inside quotes, and "\." after the folder keeps a trailing backslash from escaping the quote.
setlocal EnableExtensions DisableDelayedExpansion
set "ERRORLEVEL="
set "engine=%~dp0tavelune-update.exe"
set "silent="
set "wait="
:option
if "%~1"=="--silent" (set "silent=--silent" & shift & goto option)
if "%~1"=="--wait" if "%~2"=="" (endlocal & exit /b 30)
if "%~1"=="--wait" (set "wait=%~2" & shift & shift & goto option)
set "folder=%~1"
if not "%~2"=="" (endlocal & exit /b 30)
if not exist "%engine%" (endlocal & exit /b 30)
if defined wait if defined folder ("%engine%" %silent% --wait "%wait%" "%folder%\.")
if defined wait if not defined folder ("%engine%" %silent% --wait "%wait%")
if not defined wait if defined folder ("%engine%" %silent% "%folder%\.")
if not defined wait if not defined folder ("%engine%" %silent%)
endlocal & exit /b %ERRORLEVEL%
