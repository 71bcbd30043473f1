@echo off
rem Removes the registration that install.cmd made: x64\brindel_Kestrune.dll
rem through the 64-bit regsvr32 /u and x86\brindel_Kestrune.dll through the
rem 32-bit one (on 32-bit Windows the 32-bit DLL only). Run it before
rem deleting or replacing the DLLs.
rem
rem Unregistration writes HKEY_CLASSES_ROOT: run this from an elevated
rem command prompt ("Run as administrator"). Exits 0 when every DLL that this
rem Windows can load is unregistered, 1 otherwise.
setlocal
set "here=%~dp0"
set "status=0"
set "flags=/s /u"
set "done=Unregistered"
call :both
if not "%status%"=="0" echo uninstall.cmd: unregistration failed; run it from an elevated command prompt, as administrator. 1>&2
exit /b %status%

rem As in install.cmd.
:both
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" goto win64
rem 32-bit Windows: System32 holds its only, 32-bit, regsvr32.
call :regsvr32 "%SystemRoot%\System32\regsvr32.exe" "%here%x86\brindel_Kestrune.dll"
echo The 64-bit DLL is left alone: this is 32-bit Windows.
exit /b 0
:win64
rem 64-bit Windows: System32 holds the 64-bit regsvr32 and SysWOW64 the 32-bit
rem one. A 32-bit command prompt sees SysWOW64 under the name System32, and
rem the real System32 as Sysnative.
set "regsvr64=%SystemRoot%\System32\regsvr32.exe"
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "regsvr64=%SystemRoot%\Sysnative\regsvr32.exe"
call :regsvr32 "%regsvr64%" "%here%x64\brindel_Kestrune.dll"
call :regsvr32 "%SystemRoot%\SysWOW64\regsvr32.exe" "%here%x86\brindel_Kestrune.dll"
exit /b 0

:regsvr32
if not exist "%~2" goto missing
"%~1" %flags% "%~2"
if errorlevel 1 goto failed
echo %done% %~2
exit /b 0
:missing
echo FAILED: %~2 is missing 1>&2
set "status=1"
exit /b 1
:failed
echo FAILED: %~1 %flags% %~2 1>&2
set "status=1"
exit /b 1
