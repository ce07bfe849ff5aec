# Shell helpers shared by the test scripts (sourced).

# The golden cases.
cases=$(cd "$(dirname "${BASH_SOURCE[0]}")/cases" && pwd)

# hash FILE: a checksum of FILE's bytes, or "none" where there is no file.
hash() { if [ -f "$1" ]; then sha256sum < "$1" | cut -c1-16; else echo none; fi; }

# state DIR: every entry of DIR but the bot's library with a checksum of
# its bytes, one per line.
state() {
  (cd "$1" && for f in $(ls -A | grep -vxE 'tav_rel|tavrel'); do printf '%s %s\n' "$f" "$(hash "$f")"; done)
}

# one_of STATE STATE...: whether the first STATE is one of the others, whole.
one_of() { local s; for s in "${@:2}"; do [ "$1" = "$s" ] && return 0; done; return 1; }

# library DIR: lays the bot's library into the mod folder DIR, as empty files.
library() { mkdir -p "$1/tav_rel" "$1/tavrel" && touch "$1/tav_rel/tav_rel.dll" "$1/tavrel/"{tav_rel.dll,tavrel.so}; }

# lay DIR FROM: DIR made anew as a copy of the folder FROM, hard links kept.
lay() { rm -rf "$1" && mkdir -p "$1" && cp -a "$2"/. "$1"/; }

# setup DIR FROM: the mod folder DIR made anew as a copy of the folder FROM
# (a golden case's before/ or after/), with the bot's library; where crlf is
# set (for the Windows programs), its lines end in CR LF, as they write them.
setup() { lay "$1" "$2" && library "$1" && { [ -z "${crlf:-}" ] || find "$1" -type f -exec perl -pi -e 's/\r?\n/\r\n/g' {} +; }; }

# golden FROM: the state of a mod folder laid out as the folder FROM.
golden() { local dir; dir=$(mktemp -d) && setup "$dir" "$1" && state "$dir"; rm -rf "$dir"; }

# fail WHAT: says what failed; the script then exits with $failed.
failed=0
fail() { echo "FAIL $1"; failed=1; }

# check WHAT EXPECTED ACTUAL: ok when they are the same, else a failure.
check() { if [ "$2" = "$3" ]; then echo "ok   $1"; else fail "$1: expected '$2', got '$3'"; fi; }

# skip WHY: ends the script as skipped (77), saying why.
skip() { echo "$1"; exit 77; }

# within SECONDS COMMAND...: runs COMMAND, stopped (status 124, said on
# standard error) where it outlives SECONDS: a run that blocks fails in
# seconds.  (strace, waiting out a delay, is killed 5 s after being asked.)
within() {
  local began=$SECONDS status
  timeout -k 5 "$@"
  status=$?
  if [ "$status" = 124 ] || [ $((SECONDS - began)) -gt "$1" ]; then echo "stopped after $1 s: ${*:2}" >&2; status=124; fi
  return "$status"
}

# runs COMMAND...: whether COMMAND (a program, an emulator in front where
# needed) runs here: in an empty folder it says there is nothing to switch.
runs() { local empty; empty=$(mktemp -d) && (cd "$empty" && within 20 "$@" 2>&1 | grep -q 'nothing to switch'); local ran=$?; rmdir "$empty"; return "$ran"; }

# inject [-o TRACE] [-t CALLS] PATH CALLS FAULT WHEN COMMAND...: runs COMMAND
# (within 20 s) under strace, the WHENth of its CALLS (comma-separated; "?"
# before a name a platform may lack) on PATH (by name or by an open
# descriptor; "" for any file) failing with FAULT: an errno name (ENOSPC) or
# an action of strace's inject (signal=KILL, delay_enter=1000000).  WHEN is
# strace's: 2, 2+ (the second and every later one), 2..4.  -o keeps the
# trace in TRACE, descriptors shown with their files (-y); -t traces CALLS
# too.  Exits with COMMAND's status, or 99, saying so, where no call was
# failed: a fault never reached cannot pass.  strace's note that PATH
# resolved to a full name is dropped: only COMMAND's output remains.
inject() {
  local OPTIND=1 opt keep= also= trace notes status
  while getopts o:t: opt; do case $opt in o) keep=$OPTARG ;; t) also=,$OPTARG ;; *) return 2 ;; esac; done
  shift $((OPTIND - 1))
  local path=$1 calls=$2 fault=$3 when=$4 && shift 4
  [[ $fault = *=* ]] || fault=error=$fault
  trace=${keep:-$(mktemp)} notes=$(mktemp)
  within 20 strace -f -y -o "$trace" ${path:+-P "$path" -P "$PWD/$path"} -e trace="$calls$also" \
    -e inject="$calls:$fault:when=$when" "$@" 2>"$notes"
  status=$?
  grep -v '^strace: Requested path' "$notes" >&2
  grep -qE 'INJECTED|DELAYED|\+\+\+ killed by SIGKILL' "$trace" || [ "$status" = 124 ] ||
    { echo "inject: no $calls on ${path:-any file} was failed" >&2; status=99; }
  rm -f "$notes"; [ -n "$keep" ] || rm -f "$trace"
  return "$status"
}
