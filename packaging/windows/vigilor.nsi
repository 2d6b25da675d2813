; The Windows installer of Vigilor: a per-user install without administrator rights into
; %LOCALAPPDATA%\Programs\Vigilor, a Start-menu entry, and an uninstaller listed among the
; user's installed programs. The operator's data (settings, lists, logs) is not here: the
; installed program keeps it in %LOCALAPPDATA%\Vigilor, which neither the installer nor the
; uninstaller touches, so an update or a removal loses none of it.
;
; Made by scripts/windows/package.sh, which stages the files and passes:
;   -DVERSION=X.Y.Z     the program's version (CMakeLists.txt)
;   -DSTAGE=DIR         the staged program folder (the portable zip's Vigilor/)
;   -DFILES=FILE        the list of the staged files, as the macros VIGILOR_INSTALL_FILES and
;                       VIGILOR_REMOVE_FILES: the uninstaller removes exactly what was installed
;   -DOUTFILE=FILE      the installer to write

Unicode true
; The programs are 64-bit, and so is the installer: it sees the same registry and folders as
; they do, with no 32-bit redirection in between.
Target amd64-unicode

!macro NEEDS name
  !ifndef ${name}
    !error "vigilor.nsi needs -D${name}=... (scripts/windows/package.sh passes it)"
  !endif
!macroend
!insertmacro NEEDS VERSION
!insertmacro NEEDS STAGE
!insertmacro NEEDS FILES
!insertmacro NEEDS OUTFILE

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "StrFunc.nsh"
!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vigilor"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "Vigilor"
Caption "Vigilor ${VERSION} telepítése"
UninstallCaption "Vigilor eltávolítása"
BrandingText "Vigilor ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
; Fixed: an installed program keeps its data in %LOCALAPPDATA%\Vigilor because it lives under
; %LOCALAPPDATA%\Programs; installed anywhere else it would keep it beside itself (that is the
; portable zip's way), so there is no folder page.
InstallDir "$LOCALAPPDATA\Programs\Vigilor"
SetCompressor /SOLID lzma
ManifestDPIAware true
ShowInstDetails show
ShowUninstDetails show

!define MUI_ICON "vigilor.ico"
!define MUI_UNICON "vigilor.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\vigilor.exe"
!define MUI_FINISHPAGE_RUN_TEXT "A Vigilor indítása"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Hungarian"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_HUNGARIAN} "ProductName" "Vigilor"
VIAddVersionKey /LANG=${LANG_HUNGARIAN} "CompanyName" "Vigilor developers"
VIAddVersionKey /LANG=${LANG_HUNGARIAN} "FileDescription" "A Vigilor telepítője"
VIAddVersionKey /LANG=${LANG_HUNGARIAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_HUNGARIAN} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_HUNGARIAN} "LegalCopyright" "Vigilor developers"

${UnStrLoc}

; A program that runs from the install folder cannot be replaced or removed: Windows refuses to
; open a running executable for writing. Finding that out before anything is touched means the
; folder is never left half replaced or half removed. With /S there is nobody to ask: the run
; ends with exit status 2.
!macro REFUSE_WHILE_RUNNING un what
Function ${un}RefuseWhileRunning
  retry:
  StrCpy $R1 ""
  ${If} ${FileExists} "$INSTDIR\vigilor.exe"
    ClearErrors
    FileOpen $R0 "$INSTDIR\vigilor.exe" a
    ${If} ${Errors}
      StrCpy $R1 "vigilor.exe"
    ${Else}
      FileClose $R0
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\vigilor-testserver.exe"
    ClearErrors
    FileOpen $R0 "$INSTDIR\vigilor-testserver.exe" a
    ${If} ${Errors}
      StrCpy $R1 "$R1 vigilor-testserver.exe"
    ${Else}
      FileClose $R0
    ${EndIf}
  ${EndIf}
  ${If} $R1 != ""
    DetailPrint "Fut: $R1 ($INSTDIR)"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "A Vigilor most is fut ebből a mappából:$\r$\n$INSTDIR$\r$\n$\r$\nLépjen ki belőle (Kilépés), majd próbálja újra. Ha nem próbálja újra, ${what} abbamarad, és semmihez nem nyúl." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Abort "A Vigilor fut, ${what} nem történt meg."
  ${EndIf}
FunctionEnd
!macroend
!insertmacro REFUSE_WHILE_RUNNING "" "a telepítés"
!insertmacro REFUSE_WHILE_RUNNING "un." "az eltávolítás"

Function .onInit
  SetShellVarContext current
FunctionEnd

Section "Vigilor"
  SectionIn RO
  Call RefuseWhileRunning
  ; Over an earlier install this replaces every file; the data folder is elsewhere.
  !insertmacro VIGILOR_INSTALL_FILES
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Vigilor.lnk" "$INSTDIR\vigilor.exe" "" "$INSTDIR\vigilor.exe" 0 \
    SW_SHOWNORMAL "" "Call of Duty szerverek felügyelete a távoli konzoljukon át"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Vigilor"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Vigilor developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vigilor.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

; The program's own autostart values: "vigilor" (it keeps its data in its own folder) and
; "vigilor HASH" (started with --data-dir). Only those that start this install's vigilor.exe go;
; another copy's (a portable one elsewhere) stay, and so does every other program's.
Function un.RemoveAutostart
  StrCpy $R0 0
  loop:
    ClearErrors
    EnumRegValue $R1 HKCU "${RUN_KEY}" $R0
    ${If} ${Errors}
    ${OrIf} $R1 == ""
      Return
    ${EndIf}
    StrCpy $R2 $R1 8
    ${If} $R1 == "vigilor"
    ${OrIf} $R2 == "vigilor "
      ReadRegStr $R3 HKCU "${RUN_KEY}" $R1
      ; The program named by the command: quoted when arguments follow, bare when not.
      StrCpy $R4 $R3 1
      ${If} $R4 == '"'
        StrCpy $R3 $R3 "" 1
        ${UnStrLoc} $R5 $R3 '"' ">"
        ${If} $R5 != ""
          StrCpy $R3 $R3 $R5
        ${EndIf}
      ${EndIf}
      ; StrCmp is case-insensitive, as Windows paths are.
      ${If} $R3 == "$INSTDIR\vigilor.exe"
        DeleteRegValue HKCU "${RUN_KEY}" $R1
        DetailPrint "Automatikus indítás törölve: $R1"
        Goto loop ; the next value took this one's index
      ${EndIf}
    ${EndIf}
    IntOp $R0 $R0 + 1
    Goto loop
FunctionEnd

Section "Uninstall"
  Call un.RefuseWhileRunning
  Call un.RemoveAutostart
  Delete "$SMPROGRAMS\Vigilor.lnk"
  !insertmacro VIGILOR_REMOVE_FILES
  Delete "$INSTDIR\uninstall.exe"
  ; Only an empty folder goes: anything the operator put there stays.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
