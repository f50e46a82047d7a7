@echo off
rem tonewell-play [FILE]: plays FILE (PSG, YM or VTX, packed or not) with the player.
rem FILE is converted by tonewell-convert.exe into a private folder under %TEMP% as
rem music\dump.txt, tonewell.exe runs there, and the folder is removed when it ends; the
rem player's exit code is passed on. Without FILE the player runs as it is, here.
rem The programs are looked for next to this script, then in the build tree's app\ and tools\.
setlocal EnableExtensions
set "here=%~dp0"
set "player=%here%tonewell.exe"
if not exist "%player%" set "player=%here%..\app\tonewell.exe"
set "convert=%here%tonewell-convert.exe"
if not exist "%convert%" set "convert=%here%..\tools\tonewell-convert.exe"

if "%~1"=="" (
  start "" /wait "%player%"
  exit /b %errorlevel%
)

:pick
set "folder=%TEMP%\tonewell-play-%RANDOM%-%RANDOM%"
if exist "%folder%" goto pick
mkdir "%folder%\music"
if not exist "%folder%\music\" exit /b 1
"%convert%" "%~f1" "%folder%\music\dump.txt"
if errorlevel 1 (
  rd /s /q "%folder%"
  exit /b 1
)
pushd "%folder%"
start "" /wait "%player%"
set "status=%errorlevel%"
popd
rd /s /q "%folder%"
exit /b %status%
