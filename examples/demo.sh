#!/bin/bash
# demo.sh PROGRAM_DIR EXAMPLES_DIR WORK_DIR
#
# Shows the switch on every sample mod: copies the sample into WORK_DIR, runs
# install and prints what it changed (the backup against the new
# liblist.gam), then runs uninstall and says whether the original came back
# byte for byte.  Exits 1 when one did not.
set -u
bin=$(cd "$1" && pwd)
examples=$(cd "$2" && pwd)
work=$3
status=0

for sample in "$examples"/*/; do
  [ -f "$sample/liblist.gam" ] || continue  # the Ansible role, say
  name=$(basename "$sample")
  mod=$work/$name
  rm -rf "$mod" && mkdir -p "$mod" && cp -R "$sample". "$mod" || exit 2
  echo "=== $name: install (in $mod)"
  (cd "$mod" && "$bin/install")
  (cd "$mod" && diff -u --label liblist_tv_backup.gam --label liblist.gam \
                   liblist_tv_backup.gam liblist.gam)
  [ $? -le 1 ] || status=1

  (cd "$mod" && "$bin/uninstall")
  if cmp -s "$sample/liblist.gam" "$mod/liblist.gam" && [ ! -e "$mod/liblist_tv_backup.gam" ]; then
    echo "=== $name: uninstall: the original liblist.gam is back, byte for byte; the backup is gone"
  else
    echo "=== $name: uninstall: liblist.gam differs from the original"
    status=1
  fi
  echo
done
exit "$status"
