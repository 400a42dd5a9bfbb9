; QvStart.exe, what the Start menu's entry runs from the installation's
; folder: starts peerserver there unless a copy runs already, then opens
; the running copy's start page in the user's browser. Made by
; cmake/QvPackageNsis.cmake with OUTFILE, ICON, PRODUCT, VENDOR and VERSION
; defined.

!pragma warning error all
Unicode true
ManifestDPIAware true
RequestExecutionLevel user
SilentInstall silent
XPStyle on

!include "LogicLib.nsh"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
Icon "${ICON}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Starts ${PRODUCT} and opens its start page"
VIAddVersionKey "CompanyName" "${VENDOR}"
VIAddVersionKey "LegalCopyright" "${VENDOR}"

; The running copy's hidden main window, and the file where it leaves its
; start page (first line) once its web server is up.
!define MAIN_WINDOW_CLASS "Yxnet"
!define PAGE_FILE "$LOCALAPPDATA\Quovane\Yxnet.page"
!define PAGE_PREFIX "http://127.0.0.1:"
!define PAGE_CHARACTERS "0123456789/.abcdefghijklmnopqrstuvwxyz"
!define PAGE_LIMIT 1024
; A first login waits up to 30 s for a broker that does not answer.
!define START_WAIT_STEPS 240
!define START_WAIT_STEP_MS 250

Var page

; $page: the start page named in PAGE_FILE, or "" when there is none yet.
; Another program can write that file: only a line of the form
; http://127.0.0.1:<digits, '/', '.', a-z> is taken.
Function ReadStartPage
  StrCpy $page ""
  ClearErrors
  FileOpen $0 "${PAGE_FILE}" r
  ${If} ${Errors}
    Return
  ${EndIf}
  FileRead $0 $1 ${PAGE_LIMIT}
  FileClose $0
  StrCpy $2 $1 1 -1
  ${If} $2 != "$\n"
    Return
  ${EndIf}
  StrCpy $1 $1 -1
  StrCpy $2 $1 1 -1
  ${If} $2 == "$\r"
    StrCpy $1 $1 -1
  ${EndIf}
  StrLen $3 "${PAGE_PREFIX}"
  StrCpy $2 $1 $3
  StrLen $4 $1
  ${If} $2 S!= "${PAGE_PREFIX}"
  ${OrIf} $4 <= $3
    Return
  ${EndIf}
  StrLen $6 "${PAGE_CHARACTERS}"
  ${For} $5 $3 $4
    ${If} $5 == $4
      ${Break}
    ${EndIf}
    StrCpy $2 $1 1 $5
    ${For} $7 0 $6
      ${If} $7 == $6
        Return
      ${EndIf}
      StrCpy $8 "${PAGE_CHARACTERS}" 1 $7
      ${If} $2 S== $8
        ${Break}
      ${EndIf}
    ${Next}
  ${Next}
  StrCpy $page $1
FunctionEnd

Section
  FindWindow $0 "${MAIN_WINDOW_CLASS}"
  ${If} $0 == 0
    ; Left behind by a copy that did not end in order.
    Delete "${PAGE_FILE}"
    SetOutPath "$EXEDIR\work"
    Exec '"$EXEDIR\work\QvServer\peerserver.exe" -wbx'
  ${EndIf}
  ${For} $9 1 ${START_WAIT_STEPS}
    Call ReadStartPage
    ${If} $page != ""
      ExecShell "open" "$page"
      Return
    ${EndIf}
    Sleep ${START_WAIT_STEP_MS}
  ${Next}
  MessageBox MB_ICONEXCLAMATION "${PRODUCT} did not start: see QvDebug.log in $EXEDIR\work."
  SetErrorLevel 1
SectionEnd
