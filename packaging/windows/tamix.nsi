; The Windows installer: the three programs in Program Files, Start-menu
; entries, and an uninstaller registered with Apps & features.
; makensis -DVERSION=0.1.0 -DSTAGE=<folder with the programs> -DOUTFILE=<setup.exe> tamix.nsi
Unicode true
!include "MUI2.nsh"

Name "Tamix ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tamix"
InstallDirRegKey HKLM "Software\Tamix" "InstallDir"
RequestExecutionLevel admin
!define MUI_ICON "${STAGE}\tamix.ico"
!define MUI_UNICON "${STAGE}\tamix.ico"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tamix"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Tamix"
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${STAGE}\tamix.exe"
  File "${STAGE}\tamix-record.exe"
  File "${STAGE}\tamix-file.exe"
  File "${STAGE}\tamix.ico"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Tamix"
  CreateShortcut "$SMPROGRAMS\Tamix\Tamix.lnk" "$INSTDIR\tamix.exe" "" "$INSTDIR\tamix.ico"
  CreateShortcut "$SMPROGRAMS\Tamix\Uninstall Tamix.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\Tamix" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tamix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tamix.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetRegView 64
  Delete "$INSTDIR\tamix.exe"
  Delete "$INSTDIR\tamix-record.exe"
  Delete "$INSTDIR\tamix-file.exe"
  Delete "$INSTDIR\tamix.ico"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Tamix\Tamix.lnk"
  Delete "$SMPROGRAMS\Tamix\Uninstall Tamix.lnk"
  RMDir "$SMPROGRAMS\Tamix"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Tamix"
SectionEnd
