; The Windows installer, made by scripts/build-windows.sh with makensis from
; the programs and README it staged:
;   makensis -DVERSION=1.0.3.2 -DFILES=files.nsh -DOUTFILE=velmora-setup.exe velmora.nsi
; FILES is generated from the stage folder: the macros VelmoraInstallFiles
; (one File line per staged file) and VelmoraRemoveFiles (one Delete line
; each), so that every program the stage holds is installed and removed
; again, and nothing else.
;
; It installs under Program Files\Velmora (64-bit programs, so a 64-bit
; installer), writes uninstall.exe and the Add/Remove Programs entry, and
; makes no shortcut: velmora.exe needs a command line that names the images,
; which whoever installs it prepares (README.txt says how). /S installs
; silently; /D=FOLDER, last on the command line, installs elsewhere.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "${FILES}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora"

Name "Velmora"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Velmora"
BrandingText "Velmora ${VERSION}"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Velmora"
VIAddVersionKey "FileDescription" "Velmora installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Velmora developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
  SetOutPath "$INSTDIR"
  !insertmacro VelmoraInstallFiles
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Velmora"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Velmora developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  !insertmacro VelmoraRemoveFiles
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
