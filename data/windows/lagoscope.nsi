; The Windows installer: per user, so that no administrator rights are
; needed (pinging needs none either), with a Start-menu shortcut and an
; entry under Settings > Apps that runs the uninstaller.
; makensis -DVERSION=1.01 -DSOURCE=<folder to install> -DOUTFILE=<setup.exe> -DICON=<.ico>
; A 64-bit installer for the 64-bit program; Wine runs it without its 32-bit half.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lagoscope"

Name "Lagoscope ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$LOCALAPPDATA\Programs\Lagoscope"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
    SetOutPath "$INSTDIR"
    File /r "${SOURCE}\*"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Lagoscope.lnk" "$INSTDIR\lagoscope.exe" "" "$INSTDIR\lagoscope.exe" 0
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Lagoscope"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lagoscope.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there goes, so a folder the user chose keeps
; anything else it held.
Section "Uninstall"
    Delete "$SMPROGRAMS\Lagoscope.lnk"
    !include "${FILELIST}"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
