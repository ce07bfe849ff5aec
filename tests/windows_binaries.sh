#!/bin/bash
# windows_binaries.sh DIR: checks install.exe and uninstall.exe in DIR: console
# programs that import only system DLLs and carry, in their resources, the
# manifest that asks for the user's own rights and the version information.
set -u
dir=$1
objdump=x86_64-w64-mingw32-objdump
failed=0
fail() { echo "FAIL $1: $2"; failed=1; }

for name in install uninstall; do
  exe="$dir/$name.exe"
  headers=$("$objdump" -p "$exe") || { fail "$name" "not a PE file"; continue; }

  grep -q 'Subsystem.*(Windows CUI)' <<<"$headers" || fail "$name" "not a console program"

  # Only DLLs that every Windows has: the C and C++ runtimes are linked in.
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | ntdll.dll | advapi32.dll | user32.dll) ;;
      *) fail "$name" "imports $dll" ;;
    esac
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")

  # The manifest must lie inside the resource section.
  read -r rsrc_size rsrc_offset < <("$objdump" -h "$exe" | awk '$2 == ".rsrc" { print $3, $6 }')
  rsrc_size=$((16#${rsrc_size:-0})) rsrc_offset=$((16#${rsrc_offset:-0}))
  at=$(grep -a -b -o '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' "$exe" | cut -d: -f1 | head -n 1)
  if [ "$rsrc_size" = 0 ] || [ -z "$at" ] ||
     [ "$at" -lt "$rsrc_offset" ] || [ "$at" -ge $((rsrc_offset + rsrc_size)) ]; then
    fail "$name" "no asInvoker manifest in the resources"
  fi

  strings -el "$exe" | grep -qx 'Tavrel switch' || fail "$name" "no version information"
  strings -el "$exe" | grep -qx "$name.exe" || fail "$name" "version information names another file"
  [ "$failed" = 0 ] && echo "ok $name.exe: $(stat -c %s "$exe") bytes, imports only system DLLs, asInvoker manifest"
done
exit "$failed"
