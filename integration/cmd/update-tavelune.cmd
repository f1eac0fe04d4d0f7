@echo off
rem Replaces Tavelune's files, all of them or none, only when no Tavelune process runs from its folder.
rem   update-tavelune.cmd [FOLDER]        FOLDER defaults to %ProgramW6432%\Tavelune
rem tavelune-helper.exe and the new files (in a folder named files) lie beside this script. Every
rem file of files is carried, hidden and system ones too; its subfolders are not.
rem Exit status:
rem   0   the files were replaced
rem   10  Tavelune runs; the helper's notice told the user, unless nobody can see the screen
rem   20  whether it runs cannot be told, or the helper could not be started
rem   30  nothing was replaced: a new file could not be written or swapped in, files is missing or
rem       empty, a folder stands where a file must go, or another update of FOLDER is under way
rem   40  the old files could not all be put back: run the update again, which puts them back first
rem
rem How it never leaves Tavelune half-replaced. Everything happens in FOLDER itself, so that the
rem swap is renames on one volume:
rem   1. It holds tavelune-update.lock open for the whole run; a second run cannot open it and ends
rem      with 30, touching nothing. The lock goes with the process, however it ends.
rem   2. It puts back what an interrupted run left (below).
rem   3. It asks the helper, and about a Tavelune.exe left in tavelune-update.old too (an earlier
rem      swap moves a Tavelune started right before it there, where it runs on). Only 0 goes on.
rem   4. It clears what an earlier run left in tavelune-update.new and tavelune-update.old. Where
rem      anything remains (another program holds a file there), it replaces nothing: 30; the next
rem      run clears it once that program has let go.
rem   5. It copies every new file into tavelune-update.new; any failure removes them: 30.
rem   6. It asks the helper again, right before the swap: a Tavelune started meanwhile stops it.
rem   7. It writes the names of the new files to tavelune-update.marker, moves each old file into
rem      tavelune-update.old, then each new one into place. A move that fails (a file held open
rem      without FILE_SHARE_DELETE) puts every file back: 30. No move lands on a file that exists.
rem   8. It deletes the marker, then the backups.
rem A run that finds a marker, because the one before it was ended part way, puts the old files
rem back before anything else. The marker holds plain file names; an entry that is not one (a
rem path, a wildcard, "..") is refused, and that run touches nothing and ends with 40.
rem
rem cmd reads a batch file line by line in the console's code page. This file is saved in code
rem page 850, which has the German letters, and switches the console to it around the one line
rem that holds them. Keep that encoding when you edit the notice's text.
rem Programs are named by their full paths, and no command's output is read through a second cmd
rem (for /f over a command would start one, which runs the AutoRun commands of the registry): an
rem elevated updater runs nothing that someone left in the current folder or the registry. Start
rem it as "%SystemRoot%\System32\cmd.exe" /d /s /c ""...\update-tavelune.cmd" "FOLDER"", so that
rem AutoRun does not run before it either; /s has cmd remove only the outer pair of quotes.
rem Start it with a console: CREATE_NO_WINDOW is fine, DETACHED_PROCESS is not. Without a console
rem chcp cannot switch, and the German text is read in the ANSI code page.
rem
rem Delayed expansion would drop each "!" from the folders, a variable named ERRORLEVEL would hide
rem the helper's exit status, COPYCMD=/-Y would make move ask before it replaces a file, and DIRCMD
rem would change what dir lists: all are switched off here, whatever the caller's cmd has set.
rem No file name that a command acts on passes through a call's arguments or a variable, whose
rem expansion could read "%" in it a second time: each is used where the loop hands it over, as
rem %%n. Only the check of the names reads them from a variable.
setlocal EnableExtensions DisableDelayedExpansion
set "ERRORLEVEL="
set "COPYCMD="
set "DIRCMD="
set "folder=%~1"
if "%folder%"=="" set "folder=%ProgramW6432%\Tavelune"
set "helper=%~dp0tavelune-helper.exe"
set "source=%~dp0files"
set "chcp=%SystemRoot%\System32\chcp.com"
set "xcopy=%SystemRoot%\System32\xcopy.exe"
set "stage=%folder%\tavelune-update.new"
set "backup=%folder%\tavelune-update.old"
set "names=%folder%\tavelune-update.names"
set "marker=%folder%\tavelune-update.marker"
set "codePage=%folder%\tavelune-update.codepage"

rem cmd opens the target of a redirection for writing without letting others write it, and keeps
rem it open until the call returns: a second run's redirection fails ("sharing violation"), and its
rem update never starts. What the commands of the update write to standard error lands there too.
set "result=30"
call :update 2>>"%folder%\tavelune-update.lock"
del "%folder%\tavelune-update.lock" >nul 2>&1
endlocal & exit /b %result%

:update
set "failed="
if exist "%marker%" call :putBack
if exist "%marker%" set "result=40"
if exist "%marker%" exit /b
set "checked=%folder%\Tavelune.exe"
call :ask
if not "%answer%"=="0" exit /b
set "checked=%backup%\Tavelune.exe"
if exist "%checked%" call :ask
if not "%answer%"=="0" exit /b
set "result=30"
call :clear
if exist "%stage%" exit /b
if exist "%backup%" exit /b

dir /b /a-d "%source%" >"%names%" 2>nul
set "list=%names%"
call :checkNames
if defined foreign goto abandon
for /f "usebackq eol=| delims=" %%n in ("%names%") do if exist "%folder%\%%n\*" set "failed=1"
if defined failed goto abandon
"%xcopy%" "%source%\*" "%stage%\" /h /k /r /y /q /i >nul 2>&1
if errorlevel 1 goto abandon
for /f "usebackq eol=| delims=" %%n in ("%names%") do if not exist "%stage%\%%n" set "failed=1"
if defined failed goto abandon

set "checked=%folder%\Tavelune.exe"
call :ask
if not "%answer%"=="0" goto abandon
set "result=30"
md "%backup%" 2>nul
ren "%names%" tavelune-update.marker
if not exist "%marker%" goto abandon
for /f "usebackq eol=| delims=" %%n in ("%marker%") do if exist "%folder%\%%n" if not exist "%backup%\%%n" move "%folder%\%%n" "%backup%\%%n" >nul 2>&1
for /f "usebackq eol=| delims=" %%n in ("%marker%") do if exist "%folder%\%%n" set "failed=1"
if not defined failed for /f "usebackq eol=| delims=" %%n in ("%marker%") do if not exist "%folder%\%%n" move "%stage%\%%n" "%folder%\%%n" >nul 2>&1
if not defined failed for /f "usebackq eol=| delims=" %%n in ("%marker%") do if not exist "%folder%\%%n" set "failed=1"
if defined failed goto undoSwap

rem The marker goes first: without it the backups are no longer needed. Where it cannot be deleted,
rem the backups stay, and the next run puts them back and updates again.
set "result=0"
del "%marker%" >nul 2>&1
if not exist "%marker%" call :clear
exit /b

:undoSwap
call :putBack
if exist "%marker%" set "result=40"
exit /b

:abandon
call :clear
exit /b

rem Undoes the swap that the marker describes. Each new file goes back into the staging folder (one
rem that has no backup was added by the update), each backup back into place, never onto a file
rem that is there. The marker goes only once every old file is back; where one is not, it stays for
rem the next run.
:putBack
set "list=%marker%"
call :checkNames
if defined foreign exit /b
set "stuck="
md "%stage%" 2>nul
for /f "usebackq eol=| delims=" %%n in ("%marker%") do if exist "%backup%\%%n" if exist "%folder%\%%n" if not exist "%stage%\%%n" move "%folder%\%%n" "%stage%\%%n" >nul 2>&1
for /f "usebackq eol=| delims=" %%n in ("%marker%") do if not exist "%backup%\%%n" if not exist "%stage%\%%n" if exist "%folder%\%%n" move "%folder%\%%n" "%stage%\%%n" >nul 2>&1
for /f "usebackq eol=| delims=" %%n in ("%marker%") do if exist "%backup%\%%n" if not exist "%folder%\%%n" move "%backup%\%%n" "%folder%\%%n" >nul 2>&1
for /f "usebackq eol=| delims=" %%n in ("%marker%") do if exist "%backup%\%%n" set "stuck=1"
for /f "usebackq eol=| delims=" %%n in ("%marker%") do if not exist "%stage%\%%n" set "stuck=1"
if defined stuck exit /b
del "%marker%" >nul 2>&1
if not exist "%marker%" call :clear
exit /b

rem Sets foreign when the list (a file) names no file, or an entry is not a plain file name: a
rem path, a drive, "..", or a wildcard, which the commands above would read as a pattern ("dir"
rem writes "?" for a letter the console's code page lacks). An entry's quotes are dropped first
rem (no file name holds one), and what remains is only ever expanded inside quotes.
:checkNames
set "foreign="
set "entries=0"
for /f "usebackq eol=| delims=" %%n in ("%list%") do (set "name=%%n"& call :checkName)
if "%entries%"=="0" set "foreign=1"
exit /b

:checkName
set /a entries+=1
set "unquoted=%name:"=%"
if "%unquoted%"=="." set "foreign=1"
if not "%unquoted:..=%"=="%unquoted%" set "foreign=1"
if not "%unquoted:\=%"=="%unquoted%" set "foreign=1"
if not "%unquoted:/=%"=="%unquoted%" set "foreign=1"
if not "%unquoted::=%"=="%unquoted%" set "foreign=1"
if not "%unquoted:**=%"=="%unquoted%" set "foreign=1"
if not "%unquoted:?=%"=="%unquoted%" set "foreign=1"
if not "%unquoted:<=%"=="%unquoted%" set "foreign=1"
if not "%unquoted:>=%"=="%unquoted%" set "foreign=1"
if not "%unquoted:|=%"=="%unquoted%" set "foreign=1"
exit /b

rem Removes what only a run under way needs: staged copies, backups, the list of names.
:clear
del /f /a /q "%stage%\*" >nul 2>&1
rd /s /q "%stage%" >nul 2>&1
del /f /a /q "%backup%\*" >nul 2>&1
rd /s /q "%backup%" >nul 2>&1
del /f /a /q "%names%" "%codePage%" >nul 2>&1
exit /b

rem Asks the helper about the path in "checked". Only 0 lets the update go on: 10 means Tavelune
rem runs, and anything else (20, or a helper that did not start) means it cannot be ruled out.
:ask
"%helper%" "%checked%"
set "answer=%ERRORLEVEL%"
if "%answer%"=="0" exit /b
set "result=20"
if not "%answer%"=="10" exit /b
set "result=10"
rem The console's code page is kept in a file (for /f over chcp itself would start a second cmd)
rem and read back through the loop, so that nothing in it is parsed. Where nobody can see the
rem screen (a service, session 0), the helper shows nothing and ends at once.
"%chcp%" >"%codePage%" 2>nul
"%chcp%" 850 >nul 2>&1
"%helper%" --error "Tavelune l„uft noch. Bitte schlieáen Sie Tavelune und starten Sie die Aktualisierung erneut."
for /f "usebackq tokens=2 delims=:." %%p in ("%codePage%") do "%chcp%" %%p >nul 2>&1
del /f /q "%codePage%" >nul 2>&1
exit /b
