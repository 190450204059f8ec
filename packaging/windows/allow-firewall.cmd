@echo off
rem Lets the QVR-7000 mixer through Windows Defender Firewall to the tools in
rem this folder: one inbound rule per .exe, TCP port 54000, every network kind
rem (a direct cable counts as Public). Rules that a cancelled firewall prompt
rem left for these programs are removed first, since a block rule wins.
rem remove-firewall.cmd takes the rules away again.
setlocal
fltmc >nul 2>&1
if errorlevel 1 goto elevate

cd /d "%~dp0"
set done=0
for %%E in (QvrUpdater.exe qvr-update.exe) do if exist "%%~fE" call :allow "%%~fE" "%%~nE"
if %done%==0 echo No QvrUpdater.exe or qvr-update.exe in "%~dp0": nothing was changed.
if not %done%==0 echo The mixer may now connect to TCP port 54000 of these programs on any network.
pause
exit /b 0

:allow
netsh advfirewall firewall delete rule name=all program="%~1" >nul 2>&1
netsh advfirewall firewall add rule name="QVR Firmware Downloader (%~2)" dir=in action=allow program="%~1" protocol=TCP localport=54000 profile=any >nul
if errorlevel 1 (
    echo Could not add the rule for %~1.
) else (
    echo Allowed: %~1
    set done=1
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
