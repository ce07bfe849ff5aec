#!/bin/bash
# ansible_test.sh PROGRAM_DIR EXAMPLES_DIR: the Ansible role of examples/ansible for real, its
# playbook run here (-c local) as two hosts, alpha and beta, on copies of the sample mods (as root
# also through su, as an account of the test's own); and ansible-lint on it.
set -u
source "$(dirname "$0")/lib.sh"
command -v ansible-playbook >/dev/null || skip "skipped: ansible-playbook not found (apt-get install ansible-core)"
bin=$(cd "$1" && pwd) examples=$(cd "$2" && pwd) work=$(mktemp -d) acct=
trap 'rm -rf "$work"; [ -z "$acct" ] || userdel "$acct"' EXIT
mkdir "$work/a"  # Ansible's own files, the inventory, logs and lines: apart from the hosts' files
export LC_ALL=C.UTF-8 ANSIBLE_NOCOLOR=1 ANSIBLE_GATHERING=explicit ANSIBLE_RETRY_FILES_ENABLED=0 NO_COLOR=1 \
  ANSIBLE_HOME=$work/a/home ANSIBLE_LOCAL_TEMP=$work/a/tmp ANSIBLE_REMOTE_TEMP=$work/a/tmp XDG_CACHE_HOME=$work/a/cache
mods="alpha/dod alpha/firearms beta/bg beta/gw"
cat >"$work/a/hosts.yml" <<END
game_servers:
  vars: {ansible_connection: local, ansible_python_interpreter: auto_silent, game_server_account: $(id -un),
         tavrel_switch_programs: $bin, tavrel_switch_dir: "$work/{{ inventory_hostname }}-programs"}
  hosts:
    alpha: {tavrel_switch_mod_folders: [$work/alpha/dod, $work/alpha/firearms]}
    beta: {tavrel_switch_mod_folders: [$work/beta/bg, $work/beta/gw]}
END
# fresh: new copies of the sample mods, and no programs' folders; in orig/
# as they are, and in alone/ as the programs make them when run by hand,
# with their lines (verbose and dry run) in a/lines and a/plans.
fresh() {
  rm -rf "$work"/{alpha,beta,orig,alone}* "$work"/a/{lines,plans}
  for mod in $mods; do
    for copy in "$work/$mod" "$work/orig/$mod" "$work/alone/$mod"; do mkdir -p "$copy" && cp -R "$examples/${mod#*/}"/. "$copy"; done
    echo "$mod: $(within 60 "$bin/install" -n -- "$work/orig/$mod")" >>"$work/a/plans"
    echo "$mod: $(within 60 "$bin/install" -v -- "$work/alone/$mod")" >>"$work/a/lines"
  done
}
# play [ARGS...]: runs the playbook; prints the folders it changed or would change and the hosts'
# failures with the program's line (the task's message, and nothing else), sorted (the hosts run
# side by side), then the exit status where not 0; each folder's line as shown goes to a/shown.
play() {
  within 300 ansible-playbook -i "$work/a/hosts.yml" "$examples/ansible/playbook.yml" -e ansible_become=false "$@" >"$work/a/log" 2>&1
  local status=$?
  sed -n "s|^changed: \[.*\] => (item=$work/\(.*\))$|\1 changed|p
          s|^failed: \[.*\] (item=$work/\(.*\)) => {\"ansible_loop_var\": \"item\", \"changed\": false, \"item\": \"[^\"]*\", \"msg\": \"\([^;]*\);[^\"]*\"}$|\1 failed: \2|p
         " "$work/a/log" | sort
  sed -n "\\|^ok: \[.*\] => (item=$work/.*) => {$|{N;s|.*(item=$work/\(.*\)) => {\n *\"msg\": \"\(.*\)\"$|\1: \2|p}" \
    "$work/a/log" | sort >"$work/a/shown"
  [ "$status" = 0 ] || echo "exit $status"
}
# files DIR: every file under DIR's mods with a checksum; times: every name
# on the hosts (mods and programs' folders) with its modification time;
# changes: the lines removed (-) and added (+) in a unified diff.
files() { (cd "$1" && find alpha beta -type f -exec sha256sum {} + | sort); }
times() { (cd "$work" && find alpha* beta* -printf '%p %T@\n' | sort); }
changes() { grep -E '^[-+]([^-+]|$)' | sort; }

changed=$(printf '%s changed\n' $mods)
fresh
check "first run: every folder changed" "$changed" "$(play --diff)"
check "first run: each folder's line shown whole" "$(sort "$work/a/lines")" "$(cat "$work/a/shown")"
check "first run: every file as the programs make it alone" "$(files "$work/alone")" "$(files "$work")"
check "--diff: each liblist.gam's lines removed and added" \
  "$(for mod in $mods; do diff -U0 "$work/orig/$mod/liblist.gam" "$work/alone/$mod/liblist.gam"; done | changes)" \
  "$(sed -n '/^TASK .*Switch each folder/,/^TASK/p' "$work/a/log" | changes)"
check "second run: no change" "" "$(play)"
fresh && before=$(times; files "$work")
check "check mode on fresh copies: every folder would change" "$changed" "$(play --check --diff)"
check "check mode: each folder's plan shown whole" "$(sort "$work/a/plans")" "$(cat "$work/a/shown")"
plans=$(sed 's|^[^:]*: ||' "$work/a/plans" | sort)
check "check mode: each folder's plan as its diff" "$plans" "$(grep -Fxf - "$work/a/log" <<<"$plans" | sort)"
check "check mode: every byte and time as it was, no programs' folder" "$before" "$(times; files "$work")"
check "check mode: only the mod folders changed" "alpha changed=1 beta changed=1" \
  "$(sed -n 's/^\([a-z]*\) *: ok=[0-9]* *changed=\([0-9]*\) .*/\1 changed=\2/p' "$work/a/log" | sort | xargs)"
check "installed, then not installed" "$changed"$'\n'"$changed" "$(play; play -e tavrel_switch_state=uninstalled)"
check "not installed: the originals back, byte for byte" "$(files "$work/orig")" "$(files "$work")"
# A game update that put the very same file back: switched again, the
# backup kept as the original; after another, the copies removed.
update() { for mod in $mods; do cp "$work/$mod/liblist_tv_backup.gam" "$work/$mod/liblist.gam"; done; }
play >/dev/null && update && check "after an update that put back the same file: switched again" "$changed" "$(play)"
check "... each file as the programs make it alone" "$(files "$work/alone")" "$(files "$work")"
update && check "and not installed: the copies removed, the originals as they were" "$changed"$'\n'"$(files "$work/orig")" \
  "$(play -e tavrel_switch_state=uninstalled; files "$work")"
# A stale backup, as a game update leaves it: an older liblist.gam.
sed 1d "$work/alpha/dod/liblist.gam" >"$work/alpha/dod/liblist_tv_backup.gam"
refused="alpha/dod failed: install: liblist.gam has none of the bot's lines, so it was probably replaced by a game update or a file check, and liblist_tv_backup.gam is an older copy of it"
check "a stale backup fails its host with the program's line; the other host goes on" \
  "$refused"$'\n'"beta/bg changed"$'\n'"beta/gw changed"$'\n'"exit 2" "$(play)"
before=$(times; files "$work")
check "check mode, a folder refused: the host fails" "$refused"$'\n'"alpha/firearms changed"$'\n'"exit 2" "$(play --check)"
check "check mode, a folder refused: every byte and time as it was" "$before" "$(times; files "$work")"

# become through su, as root: an account of the test's own owns the mod
# folders and becomes them; its programs' folder is under its home (~).
if [ "$(id -u)" = 0 ]; then
  fresh && chmod 755 "$work" && useradd -m -d "$work/home" -s /bin/sh "tavrel-test-$$" && acct=tavrel-test-$$
  chown -R "$acct:" "$work"/{alpha,beta}
  check "become (su): every folder changed" "$changed" \
    "$(play -e ansible_become=true -e ansible_become_method=su -e game_server_account="$acct" -e 'tavrel_switch_dir=~/{{ inventory_hostname }}')"
  check "become (su): every file as the programs make it alone" "$(files "$work/alone")" "$(files "$work")"
  check "become (su): the folders, and the programs in its home, owned by the account" \
    "alpha/install alpha/uninstall beta/install beta/uninstall" \
    "$(cd "$work/home" && find "$work"/{alpha,beta} alpha beta ! -user "$acct" 2>&1; echo alpha/* beta/*)"
else echo "skipped: the play that becomes another account needs root (useradd, su)"; fi

if command -v ansible-lint >/dev/null && cp -R "$examples/ansible" "$work/a/lint"; then
  check "ansible-lint, production profile: clean" "" \
    "$(cd "$work/a/lint" && within 300 ansible-lint --profile production --offline >"$work/a/log" 2>&1 || cat "$work/a/log")"
else echo "skipped: ansible-lint not found (apt-get install ansible-lint)"; fi
exit "$failed"
