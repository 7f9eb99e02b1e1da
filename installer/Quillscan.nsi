; Quillscan's Windows installer, made by makensis from installer/CMakeLists.txt,
; which passes the defines below.
;
; NSIS rather than an MSI made with wixl: wixl has no firewall extension, so
; the netsh commands at install and at uninstall, like the copy of the firmware
; files found beside the installer, would be hand-scheduled custom actions;
; here each is a plain line, and the installer installs and uninstalls
; silently (/S, /D=) under Wine, where its test runs it.
;
;   QS_TARGET    x86-unicode or amd64-unicode
;   QS_VERSION   four numbers, 1.3.0.0
;   QS_OUTFILE   the installer to write
;   QS_PROGRAM   Quillscan.exe, QS_LIBRARY KV-xR_update.dll, QS_CONSOLE quillscan-cli.exe
;   QS_BOOT_PORT the UDP port on which the library hears older boot loaders

!ifndef QS_TARGET
  !error "QS_TARGET is not defined"
!endif
!ifndef QS_VERSION
  !error "QS_VERSION is not defined"
!endif
!ifndef QS_OUTFILE
  !error "QS_OUTFILE is not defined"
!endif
!ifndef QS_PROGRAM
  !error "QS_PROGRAM is not defined"
!endif
!ifndef QS_LIBRARY
  !error "QS_LIBRARY is not defined"
!endif
!ifndef QS_CONSOLE
  !error "QS_CONSOLE is not defined"
!endif
!ifndef QS_BOOT_PORT
  !error "QS_BOOT_PORT is not defined"
!endif

Target ${QS_TARGET}
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
; A file that cannot be written (the program still running) stops the
; installation with an error, silent or not, rather than being skipped.
AllowSkipFiles off

!define QS_NAME "Quillscan"
!define QS_PUBLISHER "Tavrolux"
!define QS_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillscan"
!define QS_MENU "$SMPROGRAMS\Quillscan"
; The firmware files this installer copied into the program folder, one name a
; line (UTF-16LE): the uninstaller deletes those and no other "*.hex", since
; the technician puts firmware files of his own into that folder too.
!define QS_FIRMWARE_LIST "Installed firmware.txt"
; Rule names; the uninstaller removes exactly these.
!define QS_RULE_PROGRAM "Quillscan"
!define QS_RULE_CONSOLE "Quillscan console"
!define QS_RULE_BOOT "Quillscan boot loader messages"

Name "${QS_NAME}"
OutFile "${QS_OUTFILE}"
!if "${QS_TARGET}" == "amd64-unicode"
  InstallDir "$PROGRAMFILES64\Quillscan"
!else
  InstallDir "$PROGRAMFILES\Quillscan"
!endif
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${QS_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${QS_NAME}"
VIAddVersionKey /LANG=1033 "CompanyName" "${QS_PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "Quillscan setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${QS_VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${QS_VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${QS_PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; One netsh firewall command; its answer goes to the details. A refusal (no
; firewall service, a rule that is not there) does not stop the installation.
!macro QS_FIREWALL ARGS
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall ${ARGS}'
  Pop $0
  DetailPrint "netsh advfirewall firewall: $0"
!macroend

!macro QS_INIT
  !if "${QS_TARGET}" == "amd64-unicode"
    SetRegView 64
  !endif
  SetShellVarContext all
!macroend

Function .onInit
  !insertmacro QS_INIT
FunctionEnd

Function un.onInit
  !insertmacro QS_INIT
FunctionEnd

; $R0 a name; $R1 becomes 1 if its line is in the list open as $R9, else 0.
; Leaves the list's position at its end.
Function QsListed
  Push $2
  StrCpy $R1 0
  FileSeek $R9 0 SET
  listed_next:
    ClearErrors
    FileReadUTF16LE $R9 $2
    IfErrors listed_done
    StrCmp $2 "$R0$\r$\n" 0 listed_next
    StrCpy $R1 1
  listed_done:
  FileSeek $R9 0 END
  Pop $2
FunctionEnd

; $R0 a line read from the list; $R1 becomes the file name it holds, or ""
; when it is no whole line or not a plain "*.hex" name in the program folder
; (a list changed by hand must not make the uninstaller delete anything else).
Function un.QsListedName
  Push $2
  Push $3
  StrCpy $R1 ""
  StrCpy $2 $R0 2 -2
  StrCmp $2 "$\r$\n" 0 name_done
  StrCpy $R1 $R0 -2
  StrCpy $2 $R1 "" -4
  StrCmp $2 ".hex" 0 name_bad
  StrCpy $3 0
  name_char:
    StrCpy $2 $R1 1 $3
    StrCmp $2 "" name_done
    StrCmp $2 "\" name_bad
    StrCmp $2 "/" name_bad
    StrCmp $2 ":" name_bad
    StrCmp $2 "*" name_bad
    StrCmp $2 "?" name_bad
    IntOp $3 $3 + 1
    Goto name_char
  name_bad:
  StrCpy $R1 ""
  name_done:
  Pop $3
  Pop $2
FunctionEnd

Section "Quillscan"
  SetOutPath "$INSTDIR"
  File "/oname=Quillscan.exe" "${QS_PROGRAM}"
  File "/oname=KV-xR_update.dll" "${QS_LIBRARY}"
  File "/oname=quillscan-cli.exe" "${QS_CONSOLE}"
  ; Firmware files handed out beside the installer go beside the program,
  ; where it looks for them, and into the list, which an earlier installation
  ; may have started: one line a name, whichever installers copied it.
  ClearErrors
  FileOpen $R9 "$INSTDIR\${QS_FIRMWARE_LIST}" a
  IfErrors 0 list_open
  MessageBox MB_OK|MB_ICONSTOP "Could not write $INSTDIR\${QS_FIRMWARE_LIST}." /SD IDOK
  SetErrorLevel 2
  Abort "Could not write $INSTDIR\${QS_FIRMWARE_LIST}."
  list_open:
  StrCmp "$EXEDIR" "$INSTDIR" hex_done
  ClearErrors
  FindFirst $R8 $R0 "$EXEDIR\*.hex"
  IfErrors hex_done
  hex_file:
    StrCmp $R0 "" hex_last
    ; *.hex also finds longer extensions through their short names, and folders
    StrCpy $0 $R0 "" -4
    StrCmp $0 ".hex" 0 hex_next
    IfFileExists "$EXEDIR\$R0\*.*" hex_next
    ; CopyFiles let a file held open pass as copied; listing a file not
    ; copied would make the uninstaller delete a user's file of that name.
    StrCpy $R1 "$EXEDIR\$R0"
    StrCpy $R2 "$INSTDIR\$R0"
    System::Call 'kernel32::CopyFileW(w R1, w R2, i 0) i .r0'
    StrCmp $0 0 0 hex_copied
    DetailPrint "Could not copy $R0 into $INSTDIR."
    Goto hex_next
    hex_copied:
    Call QsListed
    StrCmp $R1 1 hex_next
    FileWriteUTF16LE $R9 "$R0$\r$\n"
    hex_next:
    ClearErrors
    FindNext $R8 $R0
    IfErrors 0 hex_file
  hex_last:
  FindClose $R8
  hex_done:
  FileClose $R9
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "${QS_MENU}"
  CreateShortcut "${QS_MENU}\Quillscan.lnk" "$INSTDIR\Quillscan.exe" "" "$INSTDIR\Quillscan.exe" 0
  CreateShortcut "${QS_MENU}\Uninstall Quillscan.lnk" "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${QS_UNINSTALL_KEY}" "DisplayName" "${QS_NAME}"
  WriteRegStr HKLM "${QS_UNINSTALL_KEY}" "DisplayVersion" "${QS_VERSION}"
  WriteRegStr HKLM "${QS_UNINSTALL_KEY}" "Publisher" "${QS_PUBLISHER}"
  WriteRegStr HKLM "${QS_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quillscan.exe"
  WriteRegStr HKLM "${QS_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${QS_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${QS_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${QS_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${QS_UNINSTALL_KEY}" "NoRepair" 1

  ; The devices answer the program and the console front end on ports the
  ; system picks, so those two are allowed by path. The library (loaded by
  ; other hosts too) binds one fixed port: the older boot loaders' messages.
  ; Rules of an earlier installation go first, so a reinstall leaves one set.
  !insertmacro QS_FIREWALL 'delete rule name="${QS_RULE_PROGRAM}" dir=in'
  !insertmacro QS_FIREWALL 'delete rule name="${QS_RULE_CONSOLE}" dir=in'
  !insertmacro QS_FIREWALL 'delete rule name="${QS_RULE_BOOT}" dir=in'
  !insertmacro QS_FIREWALL 'add rule name="${QS_RULE_PROGRAM}" dir=in action=allow program="$INSTDIR\Quillscan.exe" enable=yes profile=any'
  !insertmacro QS_FIREWALL 'add rule name="${QS_RULE_CONSOLE}" dir=in action=allow program="$INSTDIR\quillscan-cli.exe" enable=yes profile=any'
  !insertmacro QS_FIREWALL 'add rule name="${QS_RULE_BOOT}" dir=in action=allow protocol=UDP localport=${QS_BOOT_PORT} enable=yes profile=any'
SectionEnd

Section "Uninstall"
  ; The program files first: one in use (the program running) stops the
  ; uninstallation with the rest in place, so that it can be run again.
  ClearErrors
  Delete "$INSTDIR\Quillscan.exe"
  Delete "$INSTDIR\quillscan-cli.exe"
  Delete "$INSTDIR\KV-xR_update.dll"
  IfErrors 0 files_gone
  MessageBox MB_OK|MB_ICONSTOP "Quillscan is in use. Close it and run the uninstaller again." /SD IDOK
  SetErrorLevel 2
  Abort "Quillscan is in use."
  files_gone:

  !insertmacro QS_FIREWALL 'delete rule name="${QS_RULE_PROGRAM}" dir=in program="$INSTDIR\Quillscan.exe"'
  !insertmacro QS_FIREWALL 'delete rule name="${QS_RULE_CONSOLE}" dir=in program="$INSTDIR\quillscan-cli.exe"'
  !insertmacro QS_FIREWALL 'delete rule name="${QS_RULE_BOOT}" dir=in protocol=UDP localport=${QS_BOOT_PORT}'

  Delete "${QS_MENU}\Quillscan.lnk"
  Delete "${QS_MENU}\Uninstall Quillscan.lnk"
  RMDir "${QS_MENU}"

  ; Only the firmware files the installers copied: those the technician put
  ; there himself stay.
  ClearErrors
  FileOpen $R9 "$INSTDIR\${QS_FIRMWARE_LIST}" r
  IfErrors list_done
  ; $R2: the previous read ended a line, so this one starts one
  StrCpy $R2 1
  list_line:
    ClearErrors
    FileReadUTF16LE $R9 $R0
    IfErrors list_end
    StrCmp $R2 1 0 list_skip
    Call un.QsListedName
    StrCmp $R1 "" list_skip
    Delete "$INSTDIR\$R1"
    list_skip:
    StrCpy $R2 0
    StrCpy $0 $R0 1 -1
    StrCmp $0 "$\n" 0 list_line
    StrCpy $R2 1
    Goto list_line
  list_end:
  FileClose $R9
  Delete "$INSTDIR\${QS_FIRMWARE_LIST}"
  list_done:
  Delete "$INSTDIR\Uninstall.exe"
  ; Not recursive: anything else a user put there stays. The firmware jobs'
  ; device logs live in the machine's application-data folder and stay too.
  RMDir "$INSTDIR"
  IfFileExists "$INSTDIR\*.*" 0 folder_gone
  DetailPrint "$INSTDIR stays: it holds files that Quillscan did not install."
  folder_gone:

  DeleteRegKey HKLM "${QS_UNINSTALL_KEY}"
SectionEnd
