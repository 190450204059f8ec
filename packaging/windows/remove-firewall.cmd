@echo off
rem Takes away the inbound rules that allow-firewall.cmd gave the tools in this
rem folder (and any other rule for these programs): Windows will ask again at
rem the next START.
setlocal
fltmc >nul 2>&1
if errorlevel 1 goto elevate

cd /d "%~dp0"
for %%E in (QvrUpdater.exe qvr-update.exe) do if exist "%%~fE" call :remove "%%~fE"
pause
exit /b 0

:remove
netsh advfirewall firewall delete rule name=all program="%~1" >nul 2>&1
if errorlevel 1 (
    echo No rule was there for %~1.
) else (
    echo Removed the rules for %~1.
)
exit /b 0

:elevate
rem Windows asks for an administrator's consent, then runs this file again.
set "self=%~f0"
powershell -NoProfile -Command "Start-Process -FilePath '%self:'=''%' -Verb RunAs" >nul 2>&1
if errorlevel 1 (
    echo Changing the firewall needs administrator rights: right-click %~nx0 and choose "Run as administrator".
    pause
)
exit /b 0
