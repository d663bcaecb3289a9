; tavik's installer: one small setup program, in Japanese, that installs
; tavik for the user running it, without administrator rights: the four
; program files in %LOCALAPPDATA%\Programs\tavik, a Start menu shortcut and,
; unless unchecked, a Startup-folder shortcut, both with the install folder as
; their working folder (tavik reads and writes tavik.ini in its current
; directory), and an uninstaller listed in the user's Apps.
;
; Built by the windows preset (cmake/packaging.cmake), which passes:
;   VERSION, OUTFILE, ICON, LICENSE_FILE, TAVIK_EXE, TAVIKHOOK_DLL,
;   TAVIK32_EXE, TAVIKHOOK32_DLL.

Unicode true
; tavik runs on 64-bit Windows only; a 64-bit setup program runs wherever it
; does, and under a Wine without its 32-bit half.
Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\tavik"
!define PUBLISHER "the tavik developers"
; A running tavik has to end before it is replaced or removed; WM_CLOSE ends
; its hidden window as the tray menu's Exit does.
!define END_TIMEOUT_MS 10000

Name "tavik"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\tavik"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "tavik ${VERSION}"
ShowInstDetails hide
ShowUninstDetails hide

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductName" "tavik"
VIAddVersionKey /LANG=1041 "FileDescription" "tavik ｾｯﾄｱｯﾌﾟ"
VIAddVersionKey /LANG=1041 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1041 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "tavik ${VERSION} をこのコンピューターにインストールします。$\r$\n$\r$\ntavik は、親指シフトキーボードで日本語を快適に入力するためのユーティリティです。$\r$\n$\r$\nインストールはこのユーザーだけに行われ、管理者の権限は要りません。tavik が動いているときは、インストールの前に終了します。$\r$\n$\r$\n続けるには [次へ] を押してください。"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "tavikを起動する"
!define MUI_FINISHPAGE_RUN_FUNCTION RunTavik
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Japanese"

; --- Ending a running tavik -------------------------------------------------

; Ends every running tavik whose program file is $R9 (a full path), or, when
; $R9 is only "tavik.exe", every tavik.exe: one tavik runs at a time, told by
; its program's name, so a new one could not start beside any of them. Each
; #32770 window of such a process is sent WM_CLOSE: the hidden main window
; ends as by the tray menu's Exit, an open settings dialog or About box as by
; its close box, without saving. Then waits, up to END_TIMEOUT_MS, for the
; process to be gone. Leaves "ok" or "running" on the stack.
!macro DEFINE_END_TAVIK PREFIX
Function ${PREFIX}EndTavik
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  StrCpy $5 ""   ; the process id of the tavik found, if any
  StrCpy $0 0
  ${Do}
    FindWindow $0 "#32770" "" "" $0
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r1) i'
    ; PROCESS_QUERY_LIMITED_INFORMATION: allowed on any process of the user.
    System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r1) p .r2'
    ${If} $2 P<> 0
      System::Call 'kernel32::QueryFullProcessImageNameW(p r2, i 0, w .r3, *i ${NSIS_MAX_STRLEN}) i .r4'
      System::Call 'kernel32::CloseHandle(p r2)'
      ${If} $4 <> 0
        ${GetFileName} "$3" $4
        ${If} $3 == $R9
        ${OrIf} $4 == $R9
          System::Call 'user32::PostMessageW(p r0, i ${WM_CLOSE}, p 0, p 0) i'
          StrCpy $5 $1
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${Loop}

  StrCpy $0 "ok"
  ${If} $5 != ""
    DetailPrint "tavikを終了しています..."
    ; SYNCHRONIZE
    System::Call 'kernel32::OpenProcess(i 0x100000, i 0, i r5) p .r2'
    ${If} $2 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i ${END_TIMEOUT_MS}) i .r1'
      System::Call 'kernel32::CloseHandle(p r2)'
      ${If} $1 <> 0
        StrCpy $0 "running"
      ${EndIf}
    ${EndIf}
  ${EndIf}

  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro DEFINE_END_TAVIK ""
!insertmacro DEFINE_END_TAVIK "un."

; --- Files in use -------------------------------------------------------------

; A tavikhook.dll stays loaded in the programs tavik hooked until they next
; take a message, or for good in some; Windows lets nobody overwrite or
; delete it then, but renaming it within its folder is allowed. Replacing it
; at the next restart would need administrator rights. So a file that cannot
; be deleted is renamed aside to NAME.N.old, and the *.old files are deleted
; at the next install, upgrade or uninstall, when nothing holds them any more.
; The name is on the stack.
!macro DEFINE_SET_ASIDE PREFIX
Function ${PREFIX}SetAside
  Exch $0
  Push $1
  Delete "$INSTDIR\$0"
  ${If} ${FileExists} "$INSTDIR\$0"
    StrCpy $1 1
    ${DoWhile} ${FileExists} "$INSTDIR\$0.$1.old"
      IntOp $1 $1 + 1
    ${Loop}
    DetailPrint "使用中の $0 を $0.$1.old に名前を変えました"
    Rename "$INSTDIR\$0" "$INSTDIR\$0.$1.old"
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro DEFINE_SET_ASIDE ""
!insertmacro DEFINE_SET_ASIDE "un."

!macro PUT_FILE SOURCE NAME
  Push "${NAME}"
  Call SetAside
  ClearErrors
  File "/oname=${NAME}" "${SOURCE}"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR\${NAME} に書き込めませんでした。$\r$\ntavik をインストールできませんでした。" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!macroend

; --- Installing ---------------------------------------------------------------

Section "tavik本体（必須）" SecProgram
  SectionIn RO
  SetShellVarContext current

  StrCpy $R9 "tavik.exe"
  Call EndTavik
  Pop $0
  ${If} $0 != "ok"
    MessageBox MB_OK|MB_ICONSTOP "tavikを終了できませんでした。$\r$\nタスクトレイのメニューの「終了(X)」で tavik を終了してから、もう一度インストールしてください。" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}

  SetOutPath "$INSTDIR"
  Delete "$INSTDIR\*.old"
  !insertmacro PUT_FILE "${TAVIK_EXE}" "tavik.exe"
  !insertmacro PUT_FILE "${TAVIKHOOK_DLL}" "tavikhook.dll"
  !insertmacro PUT_FILE "${TAVIK32_EXE}" "tavik32.exe"
  !insertmacro PUT_FILE "${TAVIKHOOK32_DLL}" "tavikhook32.dll"
  !insertmacro PUT_FILE "${LICENSE_FILE}" "LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; A shortcut's working folder is the output folder when it is made: the
  ; install folder, where tavik keeps tavik.ini.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\tavik.lnk" "$INSTDIR\tavik.exe" "" "$INSTDIR\tavik.exe" 0
  ; The Startup shortcut is made again below when its box is checked.
  Delete "$SMSTARTUP\tavik.lnk"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "tavik"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tavik.exe,0"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "スタートアップに登録" SecStartup
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMSTARTUP\tavik.lnk" "$INSTDIR\tavik.exe" "" "$INSTDIR\tavik.exe" 0
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "tavik.exe・tavikhook.dll と、32ﾋﾞｯﾄのﾌﾟﾛｸﾞﾗﾑ用の tavik32.exe・tavikhook32.dll、スタートメニューのショートカット。"
  !insertmacro MUI_DESCRIPTION_TEXT ${SecStartup} "スタートアップフォルダーにショートカットを置き、Windows にサインインするたびに tavik を起動します。"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  SetShellVarContext current
  ; An upgrade keeps the choice made at the last install: without a Startup
  ; shortcut then, the box starts unchecked.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIfNot} ${FileExists} "$SMSTARTUP\tavik.lnk"
    SectionSetFlags ${SecStartup} 0
  ${EndIf}
FunctionEnd

; From the finish page: started in its folder, so that it finds its settings.
Function RunTavik
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\tavik.exe"'
FunctionEnd

; --- Uninstalling -------------------------------------------------------------

Section "Uninstall"
  SetShellVarContext current

  StrCpy $R9 "$INSTDIR\tavik.exe"
  Call un.EndTavik
  Pop $0
  ${If} $0 != "ok"
    MessageBox MB_OK|MB_ICONSTOP "tavikを終了できませんでした。$\r$\nタスクトレイのメニューの「終了(X)」で tavik を終了してから、もう一度アンインストールしてください。" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}

  Delete "$SMPROGRAMS\tavik.lnk"
  Delete "$SMSTARTUP\tavik.lnk"
  Delete "$INSTDIR\*.old"
  ; The hook library leaves the other programs as they next take a message:
  ; give them a moment before setting it aside.
  StrCpy $1 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\tavikhook.dll"
    ${IfNot} ${FileExists} "$INSTDIR\tavikhook.dll"
    ${OrIf} $1 >= 6
      ${Break}
    ${EndIf}
    Sleep 500
    IntOp $1 $1 + 1
  ${Loop}
  Push "tavik.exe"
  Call un.SetAside
  Push "tavikhook.dll"
  Call un.SetAside
  Push "tavik32.exe"
  Call un.SetAside
  Push "tavikhook32.dll"
  Call un.SetAside
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  ; The settings stay unless the user says otherwise; a silent uninstall
  ; keeps them.
  ${If} ${FileExists} "$INSTDIR\tavik.ini"
    MessageBox MB_YESNO|MB_ICONQUESTION "設定ファイル tavik.ini を残しますか？$\r$\n$\r$\n残しておくと、もう一度インストールしたときに同じ設定で使えます。" /SD IDYES IDYES keep
    Delete "$INSTDIR\tavik.ini"
    keep:
  ${EndIf}
  RMDir "$INSTDIR"
SectionEnd
