@echo off
rem Plays a PSG, YM, VTX, PT3, PT2, STC, ASC, SQT or STP file (dropped on this file, or given as its argument)
rem with tonewell.exe; without a file, the demo tune in music\dump.txt.
"%~dp0tonewell-play.exe" %*
exit /b %errorlevel%
