#!/bin/bash
# ansible_test.sh PROGRAM_DIR EXAMPLES_DIR
#
# The Ansible role of examples/ansible, for real: its playbook on this
# machine (-c local) as two hosts, alpha and beta, each with mod folders of
# its own, on copies of the sample mods.  Skipped without ansible-playbook.
set -u
source "$(dirname "$0")/lib.sh"
command -v ansible-playbook >/dev/null || skip "skipped: ansible-playbook not found (apt-get install ansible-core)"
bin=$(cd "$1" && pwd) examples=$(cd "$2" && pwd) work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8 ANSIBLE_NOCOLOR=1 ANSIBLE_GATHERING=explicit ANSIBLE_RETRY_FILES_ENABLED=0 \
  ANSIBLE_HOME=$work/home ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_REMOTE_TEMP=$work/tmp
mods="alpha/dod alpha/firearms beta/bg beta/gw"
cat >"$work/hosts.yml" <<END
game_servers:
  vars: {ansible_connection: local, ansible_python_interpreter: $(command -v python3), game_server_account: $(id -un),
         tavrel_switch_programs: $bin, tavrel_switch_dir: "$work/{{ inventory_hostname }}-programs"}
  hosts:
    alpha: {tavrel_switch_mod_folders: [$work/alpha/dod, $work/alpha/firearms]}
    beta: {tavrel_switch_mod_folders: [$work/beta/bg, $work/beta/gw]}
END
# fresh: new copies of the sample mods; in orig/ as they are, and in alone/
# as the programs make them when run by hand.
fresh() {
  rm -rf "$work"/{alpha,beta,orig,alone}
  for mod in $mods; do
    for copy in "$work/$mod" "$work/orig/$mod" "$work/alone/$mod"; do mkdir -p "$copy" && cp -R "$examples/${mod#*/}"/. "$copy"; done
    (cd "$work/alone/$mod" && "$bin/install")
  done
}
# play [ARGS...]: runs the playbook; prints, one line each, the folders it
# changed or would change and the hosts' failures with the program's line,
# sorted (the hosts run side by side), then the exit status where not 0.
play() {
  ansible-playbook -i "$work/hosts.yml" "$examples/ansible/playbook.yml" -e ansible_become=false "$@" >"$work/log" 2>&1
  local status=$?
  sed -n "s|^changed: \[.*\] => (item=$work/\(.*\))$|\1 changed|p
          s|^failed: \[.*\] (item=$work/\(.*\)) => .*\"msg\": \"\([^;]*\);.*|\1 failed: \2|p" "$work/log" | sort
  [ "$status" = 0 ] || echo "exit $status"
}
# files DIR: every file under DIR's mods with a checksum; times: the mods'
# names with their modification times.
files() { (cd "$1" && find alpha beta -type f -exec sha256sum {} + | sort); }
times() { (cd "$work" && find alpha beta -printf '%p %T@\n' | sort); }

changed=$(printf '%s changed\n' $mods)
fresh
check "first run: every folder changed" "$changed" "$(play)"
check "first run: every file as the programs make it alone" "$(files "$work/alone")" "$(files "$work")"
check "second run: no change" "" "$(play)"
fresh && before=$(times; files "$work")
check "check mode on fresh copies: every folder would change" "$changed" "$(play --check)"
check "check mode: every byte and time as it was" "$before" "$(times; files "$work")"
check "installed, then not installed" "$changed"$'\n'"$changed" "$(play; play -e tavrel_switch_state=uninstalled)"
check "not installed: the originals back, byte for byte" "$(files "$work/orig")" "$(files "$work")"
cp "$work/alpha/dod/liblist.gam" "$work/alpha/dod/liblist_tv_backup.gam"
check "a stale backup fails its host with the program's line; the other host goes on" \
  "alpha/dod failed: install: liblist.gam has none of the bot's lines, so it was probably replaced by a game update or a file check, and liblist_tv_backup.gam is an older copy of it
beta/bg changed
beta/gw changed
exit 2" "$(play)"
exit "$failed"
