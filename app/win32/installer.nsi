; The Windows installer: a per-user install (no administrator rights) of the window, the
; command line program and the default template, with a Start-menu shortcut, an uninstaller
; and an entry in "Apps" / "Add or remove programs".
;
;   makensis -DVERSION=1.2.4.9 -DFILEVERSION=1.2.4.9 -DSTAGE=<dir with the files> -DOUTFILE=<setup.exe> installer.nsi
;
; scripts/windows-package.sh fills STAGE and runs this. The user's settings (the registry key
; HKCU\Software\Keldane\quillmark) and anything the user exported are never removed.
; A 64-bit installer for the 64-bit programs (it also runs where no 32-bit layer is installed,
; as on Wine without wine32).
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION must be defined"
!endif
!ifndef FILEVERSION
  !define FILEVERSION "${VERSION}.0.0"
!endif
!ifndef STAGE
  !error "STAGE must be defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "Quillmark-${VERSION}-setup.exe"
!endif

!define PRODUCT "Quillmark"
!define PUBLISHER "Keldane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark"

!include "MUI2.nsh"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; Below the user's own programs folder: no elevation needed, nothing for other users.
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${FILEVERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${FILEVERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${STAGE}\quillmark.ico"
!define MUI_UNICON "${STAGE}\quillmark.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\quillmark.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Quillmark"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Quillmark" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${STAGE}\quillmark.exe"
  File "${STAGE}\quillmark-export.exe"
  File "${STAGE}\quillmark-template.htm"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\quillmark.exe" "" "$INSTDIR\quillmark.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillmark.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\quillmark.exe"
  Delete "$INSTDIR\quillmark-export.exe"
  Delete "$INSTDIR\quillmark-template.htm"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: an archive the user exported below the program's folder stays.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
