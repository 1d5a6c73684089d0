; KelvoBild's Windows installer. Built by scripts/windows/installer.sh (makensis) from the files
; scripts/windows/stage.sh put together; STAGE, OUTFILE and FILES_NSH come from there.
; Per user by default, into %LOCALAPPDATA%\Programs\Kelvo\KelvoBild, so that the hand-off file
; next to the program can be written without administrator rights. /ALLUSERS (from an elevated
; prompt) installs into Program Files for every user. /S installs silently, /D=<folder> elsewhere.
; A 64-bit installer for the 64-bit program (and for Wine without its 32-bit part).
Target amd64-unicode
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define VERSION "1.4.0.0"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvoBild"

Name "KelvoBild ${VERSION}"
Caption "Kelvo-Scan-Modul ${VERSION} installieren"
OutFile "${OUTFILE}"
RequestExecutionLevel user
SetCompressor /SOLID lzma
ShowInstDetails show
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1031 "ProductName" "KelvoBild"
VIAddVersionKey /LANG=1031 "CompanyName" "Kelvo eG"
VIAddVersionKey /LANG=1031 "FileDescription" "Kelvo-Scan-Modul Installation"
VIAddVersionKey /LANG=1031 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "LegalCopyright" "Kelvo eG"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\German.nlf"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var AllUsers

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
    UserInfo::GetAccountType
    Pop $R2
    ${If} $R2 != "Admin"
      MessageBox MB_OK|MB_ICONSTOP "Für alle Benutzer installieren nur Administratoren (Eingabeaufforderung als Administrator)." /SD IDOK
      SetErrorLevel 740
      Quit
    ${EndIf}
    SetShellVarContext all
    ${If} $INSTDIR == ""
      ${If} ${RunningX64}
        StrCpy $INSTDIR "$PROGRAMFILES64\Kelvo\KelvoBild"
      ${Else}
        StrCpy $INSTDIR "$PROGRAMFILES\Kelvo\KelvoBild"
      ${EndIf}
    ${EndIf}
  ${Else}
    StrCpy $AllUsers 0
    SetShellVarContext current
    ${If} $INSTDIR == ""
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\Kelvo\KelvoBild"
    ${EndIf}
  ${EndIf}
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "KelvoBild"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Kelvo"
  CreateShortCut "$SMPROGRAMS\Kelvo\KelvoBild.lnk" "$INSTDIR\KelvoBild.exe" "" "$INSTDIR\KelvoBild.exe" 0
  ; SHCTX is HKLM for all users and HKCU for one.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "KelvoBild (Kelvo-Scan-Modul)"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "Kelvo eG"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\KelvoBild.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ; The uninstaller reads back how it was installed.
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "AllUsers" $AllUsers
SectionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; Installed for every user when the machine-wide entry names this folder.
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 == $INSTDIR
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Only what was installed, by name, and the hand-off file a scan left for its caller; the
  ; folder goes only when nothing else is in it.
  !include "${FILES_NSH}"
  Delete "$INSTDIR\SendToKelvo.TXT"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."
  Delete "$SMPROGRAMS\Kelvo\KelvoBild.lnk"
  RMDir "$SMPROGRAMS\Kelvo"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
