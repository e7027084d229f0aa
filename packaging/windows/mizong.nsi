; The Windows installer of mizong, made by tools/build-windows with
;   makensis -INPUTCHARSET UTF8 -DVERSION=... -DSOURCE_DIR=... -DICON=... -DOUTFILE=...
;            [-DSIGN=...]
; It installs for the current user or for all users (the choice is a page, or
; /CurrentUser or /AllUsers with /S), adds a Start-menu entry and an
; uninstaller, and the uninstaller removes all of it. With SIGN (a command
; that signs the file it is given in place), the uninstaller and the
; installer are signed as they are made.
;
; Neither replaces nor removes the files of a running mizong (one that holds
; the mutex of app/windows/running_mark.h, or whose mizong.exe is locked):
; interactively they ask for it to be closed (retry or cancel); silently they
; close its windows as their close button does and wait up to 20 s. The finish
; page starts mizong through the shell, with the user's rights, not the
; installer's elevated ones. An install in the other mode (for all users, for
; the current user) is removed first when the user agrees; silently, and for a
; user who may not remove it, the installer refuses.
; Exit codes besides NSIS's own (1 cancelled, 2 aborted): 3 mizong still runs,
; 4 installed in the other mode; nothing has changed then. The uninstaller
; runs as a copy of itself and returns at once, unless started with
; _?=<its folder>.
Unicode true
; A 64-bit installer for a 64-bit program: it refuses 32-bit Windows by
; itself, and runs under a 64-bit-only Wine.
Target amd64-unicode
SetCompressor /SOLID lzma

!define APP_NAME "觅踪助理"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\mizong"
; Older versions set the document mode of mizong.exe's page view here, under
; HKCU for /CurrentUser and under HKLM for /AllUsers, in the 64-bit view this
; 64-bit uninstaller sees. Nothing writes it now; the uninstaller still
; removes what they left.
!define BROWSER_EMULATION_KEY "Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION"
; As app/windows/running_mark.h names it.
!define RUNNING_MUTEX "Global\mizong-running-890597f6-182c-4064-a787-5fd4ca57e689"
; How the title of mizong's window begins (app/main_window.cpp), and its
; length in characters; the window's class is Qt's, named after Qt's version.
!define WINDOW_TITLE_PREFIX "觅踪助理  v"
!define WINDOW_TITLE_PREFIX_LENGTH 7
; Quarters of a second a silent run waits for the mizong it closed to end.
!define CLOSE_WAIT_QUARTERS 80
!define EXIT_RUNNING 3
!define EXIT_OTHER_MODE 4

!ifdef SIGN
  !uninstfinalize '"${SIGN}" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "mizong"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include WinMessages.nsh

Name "${APP_NAME} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${APP_NAME} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${APP_NAME}"
VIAddVersionKey /LANG=2052 "FileDescription" "${APP_NAME} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "mizong developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartInstalledMizong

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${SOURCE_DIR}\LICENSE.txt"
!define MULTIUSER_PAGE_CUSTOMFUNCTION_LEAVE InstallModeLeave
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

; 1 while a mizong runs, else 0 (UpdateRunning).
Var Running
; The install mode not chosen, its folder and how messages name the two
; modes, when that mode has an uninstall entry; else OtherMode is ""
; (FindOtherMode).
Var OtherMode
Var OtherDir
Var OtherModeText
Var ModeText

; The functions the installer and the uninstaller share (the uninstaller's
; are un.*); WORK is how their messages name what they do.
!macro RUNNING_FUNCTIONS UN WORK
  ; Whether a mizong runs: every copy of this version or a later one holds
  ; the mutex, in whichever session it runs; an older one at least locks its
  ; mizong.exe, as Windows does for every running program.
  Function ${UN}UpdateRunning
    Push $0
    Push $1
    StrCpy $Running 0
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MUTEX}") p .r0 ?e'
    Pop $1
    ${If} $0 P<> 0
      System::Call 'kernel32::CloseHandle(p r0)'
      StrCpy $Running 1
    ${ElseIf} $1 = 5
      ; ERROR_ACCESS_DENIED: it exists, though this account may not open it.
      StrCpy $Running 1
    ${ElseIf} ${FileExists} "$INSTDIR\mizong.exe"
      ; Opened for writing and closed again, unchanged.
      ClearErrors
      FileOpen $0 "$INSTDIR\mizong.exe" a
      ${If} ${Errors}
        StrCpy $Running 1
      ${Else}
        FileClose $0
      ${EndIf}
    ${EndIf}
    Pop $1
    Pop $0
  FunctionEnd

  ; Asks mizong's top-level windows on this desktop to close, as their close
  ; button does; posted, so that a hung copy cannot hold the installer.
  Function ${UN}CloseMizongWindows
    Push $0
    Push $1
    StrCpy $0 0
    ${Do}
      System::Call 'user32::FindWindowExW(p 0, p r0, p 0, p 0) p .r0'
      ${If} $0 P= 0
        ${ExitDo}
      ${EndIf}
      System::Call 'user32::GetWindowTextW(p r0, w .r1, i ${NSIS_MAX_STRLEN}) i'
      StrCpy $1 $1 ${WINDOW_TITLE_PREFIX_LENGTH}
      ${If} $1 == "${WINDOW_TITLE_PREFIX}"
        System::Call 'user32::PostMessageW(p r0, i ${WM_CLOSE}, p 0, p 0)'
      ${EndIf}
    ${Loop}
    Pop $1
    Pop $0
  FunctionEnd

  ; Returns once no mizong runs. Until then it asks the user to close it
  ; (retry or cancel); silently it closes mizong's windows and waits, as an
  ; unattended update cannot ask and mizong holds no unsaved work. Quits with
  ; EXIT_RUNNING, nothing changed, when the user cancels or the wait runs out
  ; (a message box open in mizong, a copy in another session).
  Function ${UN}EnsureNotRunning
    Call ${UN}UpdateRunning
    ${If} $Running = 0
      Return
    ${EndIf}
    ${If} ${Silent}
      Call ${UN}CloseMizongWindows
      Push $0
      ${For} $0 1 ${CLOSE_WAIT_QUARTERS}
        Sleep 250
        Call ${UN}UpdateRunning
        ${If} $Running = 0
          ${ExitFor}
        ${EndIf}
      ${Next}
      Pop $0
      ${If} $Running = 0
        Return
      ${EndIf}
    ${Else}
      ${Do}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
          "${APP_NAME}正在运行，无法${WORK}。$\r$\n$\r$\n请关闭${APP_NAME}（也包括这台电脑上其他用户打开的）后点“重试”，或点“取消”退出${WORK}。" \
          IDCANCEL stop
        Call ${UN}UpdateRunning
      ${LoopUntil} $Running = 0
      Return
    ${EndIf}
    stop:
    SetErrorLevel ${EXIT_RUNNING}
    Quit
  FunctionEnd
!macroend
!insertmacro RUNNING_FUNCTIONS "" "安装"
!insertmacro RUNNING_FUNCTIONS "un." "卸载"

; Sets OtherMode, OtherDir and the modes' texts from the uninstall entry of
; the mode not chosen.
Function FindOtherMode
  ${If} $MultiUser.InstallMode == AllUsers
    StrCpy $OtherMode CurrentUser
    ReadRegStr $OtherDir HKCU "${UNINSTALL_KEY}" "InstallLocation"
    StrCpy $ModeText "为所有用户"
    StrCpy $OtherModeText "为当前用户"
  ${Else}
    StrCpy $OtherMode AllUsers
    ReadRegStr $OtherDir HKLM "${UNINSTALL_KEY}" "InstallLocation"
    StrCpy $ModeText "为当前用户"
    StrCpy $OtherModeText "为所有用户"
  ${EndIf}
  ${If} $OtherDir == ""
    StrCpy $OtherMode ""
  ${EndIf}
FunctionEnd

!define OTHER_INSTALL_TEXT \
  "这台电脑上已经$OtherModeText安装了${APP_NAME}（$OtherDir）。再$ModeText安装会留下两份程序和两个卸载项。"

; Runs the other mode's uninstaller and waits for it (in its folder, so that
; it cannot return before it is done); on failure it says so and stays on
; the page.
Function RemoveOtherMode
  Push $INSTDIR
  StrCpy $INSTDIR $OtherDir
  Call EnsureNotRunning
  Pop $INSTDIR
  ; Stays "" when the uninstaller cannot be started.
  StrCpy $0 ""
  ExecWait '"$OtherDir\uninstall.exe" /S /$OtherMode _?=$OtherDir' $0
  ${If} $OtherMode == AllUsers
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${Else}
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $0 != 0
  ${OrIf} $1 != ""
  ${OrIf} ${FileExists} "$OtherDir\mizong.exe"
    MessageBox MB_OK|MB_ICONSTOP \
      "未能卸载$OtherModeText安装的${APP_NAME}（$OtherDir）。$\r$\n$\r$\n请在“设置”的“应用”或控制面板的“程序和功能”中卸载它，再继续安装。"
    Abort
  ${EndIf}
  ; It cannot remove itself while it runs from its folder.
  Delete "$OtherDir\uninstall.exe"
  RMDir "$OtherDir"
FunctionEnd

Function InstallModeLeave
  Call FindOtherMode
  ${If} $OtherMode == ""
    Return
  ${EndIf}
  MessageBox MB_YESNO|MB_ICONQUESTION \
    "${OTHER_INSTALL_TEXT}$\r$\n$\r$\n先卸载它，再继续安装吗？点“否”可重新选择安装方式。" \
    IDYES remove
  Abort
  remove:
  Call RemoveOtherMode
FunctionEnd

; Started through the shell's own process, the program runs with the user's
; rights as from its Start-menu entry, not with those of an elevated
; installer.
Function StartInstalledMizong
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\mizong.exe"'
FunctionEnd

Function .onInit
  !insertmacro MULTIUSER_INIT
  ; Two installs would both stay, each with its entry in Add/Remove Programs.
  ; A user with the choice of mode is asked on its page (InstallModeLeave).
  ; Silently nothing is removed that was not asked for, and a user who may
  ; install for himself only cannot remove an install for all users.
  StrCpy $0 0
  ${If} ${Silent}
    StrCpy $0 1
  ${ElseIf} $MultiUser.Privileges != "Admin"
  ${AndIf} $MultiUser.Privileges != "Power"
    StrCpy $0 1
  ${EndIf}
  ${If} $0 = 1
    Call FindOtherMode
    ${If} $OtherMode != ""
      MessageBox MB_OK|MB_ICONSTOP \
        "${OTHER_INSTALL_TEXT}$\r$\n$\r$\n请以管理员身份运行安装程序来更新已有的安装，或先卸载它。" \
        /SD IDOK
      SetErrorLevel ${EXIT_OTHER_MODE}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; Adds the size of file FILE, in bytes, to $R0.
!macro ADD_FILE_SIZE FILE
  FileOpen $0 "${FILE}" r
  FileSeek $0 0 END $1
  FileClose $0
  IntOp $R0 $R0 + $1
!macroend

Section "${APP_NAME}"
  Call EnsureNotRunning
  SetOutPath "$INSTDIR"
  File "${SOURCE_DIR}\mizong.exe"
  File "${SOURCE_DIR}\LICENSE.txt"
  File "${SOURCE_DIR}\THIRD-PARTY-NOTICES.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP_NAME}.lnk" "$INSTDIR\mizong.exe" "" "$INSTDIR\mizong.exe" 0

  ; In KiB, rounded up, as Add/Remove Programs reads it: the files installed
  ; here, not whatever else the chosen folder holds.
  StrCpy $R0 0
  !insertmacro ADD_FILE_SIZE "$INSTDIR\mizong.exe"
  !insertmacro ADD_FILE_SIZE "$INSTDIR\LICENSE.txt"
  !insertmacro ADD_FILE_SIZE "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  !insertmacro ADD_FILE_SIZE "$INSTDIR\uninstall.exe"
  IntOp $R0 $R0 + 1023
  IntOp $R0 $R0 / 1024

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\mizong.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "mizong developers"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $R0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Call un.EnsureNotRunning
  ; The program first: should Windows still keep it (it runs, unseen by the
  ; checks above), everything stays, the entry in Add/Remove Programs too.
  Delete "$INSTDIR\mizong.exe"
  ${If} ${FileExists} "$INSTDIR\mizong.exe"
    MessageBox MB_OK|MB_ICONSTOP \
      "无法删除 $INSTDIR\mizong.exe，${APP_NAME}可能仍在运行。请关闭它后再卸载。" /SD IDOK
    SetErrorLevel ${EXIT_RUNNING}
    Quit
  ${EndIf}
  Delete "$SMPROGRAMS\${APP_NAME}.lnk"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ; An older version's document mode, in this install mode's hive only (the
  ; other mode's install may still be there). Only our value: the key is
  ; shared by every program that sets the mode.
  DeleteRegValue SHCTX "${BROWSER_EMULATION_KEY}" "mizong.exe"
SectionEnd
