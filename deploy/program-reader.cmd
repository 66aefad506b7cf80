@echo off
rem Programs this terminal's card reader from a profile and checks that it holds it: the
rem install command and, with --check, the detection rule of a fleet tool (Intune,
rem ConfigMgr, a Group Policy start-up script, Ansible). msrprofile.exe sits beside it.
rem
rem   program-reader.cmd PROFILE [--usb | --vcom[=N] | --port COMn] [--check] [--results FILE]
rem
rem PROFILE is a profile (.toml) or a fifteen-byte settings file; a relative name is looked
rem for in the current folder, then beside this script. Without a transport the reader is
rem looked for on USB HID, then on the virtual COM ports. A reader that already holds the
rem profile is not written again. After a write the reader is verified; a reader that the
rem write told to switch its interface is looked for on the other interface as well.
rem
rem Exit code: 0 only when the reader holds the profile; otherwise msrprofile's code:
rem 1 the reader differs, 2 no reader, 3 the profile is not valid, 4 the reader did not
rem answer properly, 64 a wrong command line (PS/2 included: it can't be verified); and the
rem script's own 6: the profile can't be opened (a share not up yet, a file not there):
rem worth trying again later, where 3 is not.
rem Every msrprofile command the script runs (each verify, the write) appends its own line
rem to the results file, %ProgramData%\msrsetup\program-reader.log unless --results names
rem another, in msrprofile's fixed format: UTC time, computer, command, transport, port,
rem outcome, exit code, profile, SHA-256, separated by tabs. The last line a run appends is
rem its result. A command line the script refuses (64), a missing msrprofile.exe (2) or a
rem profile that can't be opened (6) adds no line: the message on standard output and the
rem exit code say it.
rem Nothing here waits for a person: it runs as SYSTEM without a console.

setlocal EnableExtensions DisableDelayedExpansion
set "TOOL=%~dp0msrprofile.exe"
set "PROFILE="
set "SWITCH="
set "CHECK="
set "RESULTS="
set "USAGE="

:next_argument
if "%~1"=="" goto arguments_done
set "ARG=%~1"
if /i "%ARG%"=="--check" (set "CHECK=1" & shift & goto next_argument)
if /i "%ARG%"=="--results" (set "RESULTS=%~2" & shift & shift & goto next_argument)
if /i "%ARG%"=="--usb" (set "SWITCH=--usb" & shift & goto next_argument)
if /i "%ARG%"=="--ps2" (
  set "USAGE=PS/2 readers can't be read back, so nothing can check them: run msrprofile.exe write PROFILE --ps2 once instead"
  shift
  goto next_argument
)
rem cmd.exe splits --vcom=5 and --port=COM3 at the "=", so the value may be the next word.
rem A transport is kept as one word, NAME=VALUE, and passed on in quotes for that reason.
if /i "%ARG%"=="--port" (set "SWITCH=--port=%~2" & shift & shift & goto next_argument)
if /i "%ARG:~0,7%"=="--port=" (set "SWITCH=%ARG%" & shift & goto next_argument)
if /i "%ARG:~0,7%"=="--vcom=" (set "SWITCH=%ARG%" & shift & goto next_argument)
if /i not "%ARG%"=="--vcom" goto profile_argument
set "SWITCH=--vcom"
set "NUMBER=%~2"
shift
if not defined NUMBER goto next_argument
for /f "delims=0123456789" %%c in ("%NUMBER%") do goto next_argument
set "SWITCH=--vcom=%NUMBER%"
shift
goto next_argument
:profile_argument
if "%ARG:~0,1%"=="-" (set "USAGE=unknown option %ARG%" & shift & goto next_argument)
if defined PROFILE set "USAGE=more than one profile: %PROFILE% and %ARG%"
set "PROFILE=%ARG%"
shift
goto next_argument
:arguments_done

if not defined RESULTS (
  if defined ProgramData (
    set "RESULTS=%ProgramData%\msrsetup\program-reader.log"
  ) else (
    rem Windows XP has no %ProgramData%; this is the same place there.
    set "RESULTS=%ALLUSERSPROFILE%\Application Data\msrsetup\program-reader.log"
  )
)
if not defined PROFILE if not defined USAGE set "USAGE=no profile named"
if defined SWITCH if not defined USAGE call :check_switch
if defined USAGE (
  set "RC=64"
  set "OUTCOME=wrong command line: %USAGE%; usage: program-reader.cmd PROFILE [--usb | --vcom[=N] | --port COMn] [--check] [--results FILE]"
  goto finish
)
if not exist "%PROFILE%" if exist "%~dp0%PROFILE%" set "PROFILE=%~dp0%PROFILE%"
rem The full path, so that the result file says which profile it was.
for %%P in ("%PROFILE%") do set "PROFILE=%%~fP"
if not exist "%TOOL%" (
  set "RC=2"
  set "OUTCOME=msrprofile.exe is missing beside the script"
  goto finish
)
rem A profile that is not there or can't be read is not a bad profile: told apart here, as
rem msrprofile reports both as one.
set "OPENED="
if exist "%PROFILE%" type "%PROFILE%" >nul 2>&1 && set "OPENED=1"
if not defined OPENED (
  set "RC=6"
  set "OUTCOME=%PROFILE% can't be opened: retry later"
  goto finish
)

for %%F in ("%RESULTS%") do if not exist "%%~dpF" mkdir "%%~dpF" >nul 2>&1

rem Verify first: a reader that holds the profile is not written again, and a detection
rem rule only ever gets here.
if defined SWITCH (call :verify_on "%SWITCH%") else call :verify_on "--usb" "--vcom"
if "%RC%"=="0" (
  set "OUTCOME=the reader holds %PROFILE%"
  goto finish
)
if defined CHECK goto describe_failure
if not "%RC%"=="1" goto describe_failure

"%TOOL%" write "%PROFILE%" "%FOUND%" --results "%RESULTS%"
set "RC=%ERRORLEVEL%"
if not "%RC%"=="0" (
  set "OUTCOME=writing %PROFILE% failed"
  goto finish
)
rem A reader that switched its interface comes back on the other one after a moment.
set "OTHER=--usb"
if "%FOUND%"=="--usb" set "OTHER=--vcom"
set "ROUND=0"
:verify_again
call :verify_on "%FOUND%" "%OTHER%"
if not "%RC%"=="2" goto verified
set /a ROUND+=1
if %ROUND% geq 5 goto verified
ping -n 3 127.0.0.1 >nul 2>&1
goto verify_again
:verified
if "%RC%"=="0" (
  set "OUTCOME=the reader was programmed from %PROFILE% and holds it"
  goto finish
)
if "%RC%"=="1" (
  set "OUTCOME=the reader was written but differs from %PROFILE%"
  goto finish
)

:describe_failure
set "OUTCOME=exit code %RC%"
if "%RC%"=="1" set "OUTCOME=the reader differs from %PROFILE%"
if "%RC%"=="2" set "OUTCOME=no reader found"
if "%RC%"=="3" set "OUTCOME=%PROFILE% is not a valid profile or settings file"
if "%RC%"=="4" set "OUTCOME=the reader did not answer properly"

:finish
rem Delayed expansion prints the text as it stands, whatever & ( ) a path holds.
setlocal EnableDelayedExpansion
echo program-reader: !OUTCOME! (exit code !RC!)
endlocal
exit /b %RC%

rem Verifies on each transport given until one finds a reader (an exit code other than 2):
rem RC is its code and FOUND the transport.
:verify_on
set "RC=2"
set "FOUND=%~1"
:verify_next
if "%~1"=="" goto :eof
set "FOUND=%~1"
"%TOOL%" verify "%PROFILE%" "%~1" --results "%RESULTS%"
set "RC=%ERRORLEVEL%"
if not "%RC%"=="2" goto :eof
shift
goto verify_next

rem A fleet tool fills the transport from a parameter field: anything but a transport the
rem tool knows is refused before it reaches a command line. The value is only ever expanded
rem between quotes, where & | ^ ( ) are plain characters. (Wine's cmd neither takes
rem !VAR:~n! nor splits a delayed-expanded for /f string, so percent expansion it is.)
:check_switch
set "HEAD=%SWITCH:~0,7%"
set "VALUE=%SWITCH:~7%"
set "FIRST=%SWITCH:~7,1%"
set "REST=%SWITCH:~10%"
setlocal
set "BAD="
if /i "%SWITCH%"=="--usb" goto switch_checked
if /i "%SWITCH%"=="--vcom" goto switch_checked
if /i "%HEAD%"=="--vcom=" goto check_number
if /i not "%HEAD%"=="--port=" (
  set "BAD=the transport is --usb, --vcom, --vcom=N or --port NAME"
  goto switch_checked
)
set "BAD=a port name holds only letters, digits and \ / . : _ -"
if not defined VALUE goto switch_checked
rem The leading "-" keeps the value off the start of the line, where ";" makes a comment.
for /f "delims=ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789\/.:_-" %%c in ("-%VALUE%") do goto switch_checked
set "BAD="
goto switch_checked
:check_number
set "BAD=--vcom=N takes a COM number from 1 to 298"
if not defined VALUE goto switch_checked
if "%FIRST%"=="0" goto switch_checked
if defined REST goto switch_checked
for /f "delims=0123456789-" %%c in ("-%VALUE%") do goto switch_checked
rem Digits only and no leading zero, so set /a reads it as the decimal number it is.
set /a NUMBER=%VALUE%
if %NUMBER% leq 298 set "BAD="
:switch_checked
endlocal & set "USAGE=%BAD%"
goto :eof
