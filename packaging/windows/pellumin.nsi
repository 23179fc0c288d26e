; The Windows installer: Corvane.dll, Tarnwick.dll, corvane.exe, hxhost.exe,
; the sample list and the docs under Program Files\Pellumin (32-bit: the
; DLLs are 32-bit, so the 32-bit folder and registry view), the filter's
; settings key with a ControlFile naming the installed sample list, a
; Start-menu entry for the settings sheet and an uninstaller.
;
; Built by the "installer" target of a Windows build, which defines
; VERSION, BINDIR (the build's bin), SAMPLE (the compiled sample list),
; SRCDIR (the source tree) and OUTFILE.
;
; Silent: "setup.exe /S" installs; "uninstall.exe /S" uninstalls and keeps
; the settings key; "/REMOVESETTINGS" also removes it.

Unicode true
SetCompressor /SOLID lzma
!include FileFunc.nsh

!define KEY "SOFTWARE\Pellumin\Filter"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pellumin"

Name "Pellumin ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\Pellumin"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 32
  SetShellVarContext all
  ; A reinstall goes where the last one went.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  StrCmp $0 "" +2
  StrCpy $INSTDIR $0
FunctionEnd

Section "Pellumin"
  SetOutPath "$INSTDIR"
  File "${BINDIR}\Corvane.dll"
  File "${BINDIR}\Tarnwick.dll"
  File "${BINDIR}\corvane.exe"
  File "${BINDIR}\hxhost.exe"
  File "${SAMPLE}"
  File "/oname=README.md" "${SRCDIR}\README.md"
  SetOutPath "$INSTDIR\doc"
  File "${SRCDIR}\doc\*.md"
  SetOutPath "$INSTDIR"

  ; The settings: values already there (an earlier install, or the
  ; administrator's own) are kept; only a missing ControlFile is set.
  ClearErrors
  ReadRegStr $0 HKLM "${KEY}" "ControlFile"
  IfErrors 0 +2
  WriteRegStr HKLM "${KEY}" "ControlFile" "$INSTDIR\sample.lst"

  CreateDirectory "$SMPROGRAMS\Pellumin"
  CreateShortcut "$SMPROGRAMS\Pellumin\Pellumin settings.lnk" "$INSTDIR\hxhost.exe" \
    '--plugin "$INSTDIR\Tarnwick.dll" --config "${KEY}"' "$INSTDIR\hxhost.exe" 0

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Pellumin URL filter"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Pellumin"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetRegView 32
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\Corvane.dll"
  Delete "$INSTDIR\Tarnwick.dll"
  Delete "$INSTDIR\corvane.exe"
  Delete "$INSTDIR\hxhost.exe"
  Delete "$INSTDIR\sample.lst"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\doc\*.md"
  RMDir "$INSTDIR\doc"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Pellumin\Pellumin settings.lnk"
  RMDir "$SMPROGRAMS\Pellumin"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The settings stay for a later install unless asked to go.
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/REMOVESETTINGS" $1
  IfErrors keep
  DeleteRegKey HKLM "${KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Pellumin"
  keep:
SectionEnd
