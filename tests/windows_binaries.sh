#!/bin/bash
# windows_binaries.sh DIR FORMAT: checks install.exe and uninstall.exe in DIR
# without running them: FORMAT programs (PE32+ for 64-bit, PE32 for 32-bit)
# for the console, importing only system DLLs, and carrying in their
# resources the version information and a manifest that asks for the user's
# own rights and names their architecture.
#
# The 32-bit programs are the released ones and must start on Windows XP:
# subsystem version at most 5.1, and imports only from KERNEL32.dll and
# msvcrt.dll, of functions on the list below.
set -u
dir=$1 format=$2
source "$(dirname "$0")/lib.sh"

# Functions that Windows XP's KERNEL32.dll and msvcrt.dll export, as far as
# these programs and the MinGW-w64 start-up code use them.  Each KERNEL32
# function is documented by Microsoft with Windows 2000 or earlier as its
# minimum, but GetConsoleProcessList, which came with XP; each msvcrt
# function is in the Visual C++ 6 runtime that Windows 2000 and XP ship as
# msvcrt.dll.  (GetFinalPathNameByHandleW, from Vista, is looked up by name.)
# Check a function against Windows XP before adding it here.
xp_kernel32="CloseHandle CreateFileW CreateHardLinkW CreateMutexW
  DeleteCriticalSection DeleteFileW EnterCriticalSection FormatMessageA
  FreeLibrary GetConsoleMode GetConsoleProcessList GetFileAttributesW
  GetFileInformationByHandle GetFileType GetLastError
  GetModuleHandleA GetProcAddress GetStartupInfoW GetStdHandle GetTickCount
  GetSystemTimeAsFileTime
  InitializeCriticalSection LeaveCriticalSection LoadLibraryA MoveFileExW
  MultiByteToWideChar OpenMutexW ReleaseMutex SetCurrentDirectoryW SetFileTime SetLastError
  SetUnhandledExceptionFilter Sleep TlsGetValue VirtualProtect VirtualQuery WaitForSingleObject
  WideCharToMultiByte"
xp_msvcrt="__wgetmainargs __winitenv __p__wcmdln __p__commode __p__fmode
  __set_app_type __setusermatherr _amsg_exit _cexit _close _commit _fdopen
  _fileno _initterm _iob _lseeki64 _onexit _open_osfhandle _read _wopen _write abort
  calloc clearerr exit fclose ferror fflush fopen fprintf fputc fputs free
  fseek fwrite getc malloc memchr memcmp memcpy memmove realloc remove signal
  strchr strcmp strlen strncmp ungetc vfprintf"

if [ "$format" = PE32 ]; then
  objdump=i686-w64-mingw32-objdump arch=x86
else
  objdump=x86_64-w64-mingw32-objdump arch=amd64
fi

# imports HEADERS: "DLL function" for every imported function.
imports() {
  awk '/DLL Name:/ { dll = $3; next }
       dll && /^\t[0-9a-f]+\t +[0-9]+  / { print dll, $3 }
       /^$/ { dll = "" }' <<<"$1"
}

for name in install uninstall; do
  exe="$dir/$name.exe"
  headers=$("$objdump" -p "$exe") || { fail "$name: not a PE file"; continue; }

  grep -qP "^Magic\t+0[12]0b\t\(\Q$format\E\)$" <<<"$headers" || fail "$name: not $format"
  grep -q 'Subsystem.*(Windows CUI)' <<<"$headers" || fail "$name: not a console program"

  # Only DLLs that every Windows has: the C and C++ runtimes are linked in.
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll) ;;
      ntdll.dll | advapi32.dll | user32.dll) [ "$format" = PE32 ] && fail "$name: imports $dll" ;;
      *) fail "$name: imports $dll" ;;
    esac
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")

  if [ "$format" = PE32 ]; then
    major=$(awk '$1 == "MajorSubsystemVersion" { print $2 }' <<<"$headers")
    minor=$(awk '$1 == "MinorSubsystemVersion" { print $2 }' <<<"$headers")
    [ $((major * 100 + minor)) -le 501 ] || fail "$name: subsystem version $major.$minor is newer than XP's 5.1"
    while read -r dll function; do
      case "${dll,,}" in kernel32.dll) list=$xp_kernel32 ;; *) list=$xp_msvcrt ;; esac
      grep -qw -- "$function" <<<"$list" || fail "$name: imports $dll $function, not on the Windows XP list"
    done < <(imports "$headers")
  fi

  # The manifest must lie inside the resource section.
  read -r rsrc_size rsrc_offset < <("$objdump" -h "$exe" | awk '$2 == ".rsrc" { print $3, $6 }')
  rsrc_size=$((16#${rsrc_size:-0})) rsrc_offset=$((16#${rsrc_offset:-0}))
  at=$(grep -a -b -o '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' "$exe" | cut -d: -f1 | head -n 1)
  if [ "$rsrc_size" = 0 ] || [ -z "$at" ] ||
     [ "$at" -lt "$rsrc_offset" ] || [ "$at" -ge $((rsrc_offset + rsrc_size)) ]; then
    fail "$name: no asInvoker manifest in the resources"
  fi
  grep -aq "processorArchitecture=\"$arch\"" "$exe" || fail "$name: manifest does not name $arch"

  strings -el "$exe" | grep -qx 'Tavrel switch' || fail "$name: no version information"
  strings -el "$exe" | grep -qx "$name.exe" || fail "$name: version information names another file"
  [ "$failed" = 0 ] && echo "ok $name.exe: $format, $(stat -c %s "$exe") bytes, imports only system DLLs, $arch asInvoker manifest"
done
exit "$failed"
