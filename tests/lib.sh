# Shell helpers shared by the test scripts (sourced).

# hash FILE: a checksum of FILE's bytes, or "none" where there is no file.
hash() { if [ -f "$1" ]; then sha256sum < "$1" | cut -c1-16; else echo none; fi; }

# state DIR: every entry of DIR but the bot's library with a checksum of
# its bytes, one per line.
state() {
  (cd "$1" && for f in $(ls -A | grep -vxE 'tav_rel|tavrel'); do printf '%s %s\n' "$f" "$(hash "$f")"; done)
}

# library DIR: lays the bot's library into the mod folder DIR, as empty files.
library() { mkdir -p "$1/tav_rel" "$1/tavrel" && touch "$1/tav_rel/tav_rel.dll" "$1/tavrel/"{tav_rel.dll,tavrel.so}; }

# lay DIR FROM: DIR made anew as a copy of the folder FROM, hard links kept.
lay() { rm -rf "$1" && mkdir -p "$1" && cp -a "$2"/. "$1"/; }

# fail WHAT: says what failed; the script then exits with $failed.
failed=0
fail() { echo "FAIL $1"; failed=1; }

# check WHAT EXPECTED ACTUAL: ok when they are the same, else a failure.
check() { if [ "$2" = "$3" ]; then echo "ok   $1"; else fail "$1: expected '$2', got '$3'"; fi; }

# skip WHY: ends the script as skipped (77), saying why.
skip() { echo "$1"; exit 77; }

# runs COMMAND...: whether COMMAND (a program, an emulator in front where
# needed) runs here: in an empty folder it says there is nothing to switch.
runs() { local empty; empty=$(mktemp -d) && (cd "$empty" && "$@" 2>&1 | grep -q 'nothing to switch'); local ran=$?; rmdir "$empty"; return "$ran"; }
