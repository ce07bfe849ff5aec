# Shell helpers shared by the test scripts (sourced).

# hash FILE: a checksum of FILE's bytes, or "none" where there is no file.
hash() { if [ -f "$1" ]; then sha256sum < "$1" | cut -c1-16; else echo none; fi; }

# state DIR: every entry of DIR with a checksum of its bytes, one per line.
state() {
  (cd "$1" && for f in $(ls -A); do printf '%s %s\n' "$f" "$(hash "$f")"; done)
}

# lay DIR FROM: DIR made anew as a copy of the folder FROM, hard links kept.
lay() { rm -rf "$1" && mkdir -p "$1" && cp -a "$2"/. "$1"/; }

# fail WHAT: says what failed; the script then exits with $failed.
failed=0
fail() { echo "FAIL $1"; failed=1; }

# check WHAT EXPECTED ACTUAL: ok when they are the same, else a failure.
check() { if [ "$2" = "$3" ]; then echo "ok   $1"; else fail "$1: expected '$2', got '$3'"; fi; }

# skip WHY: ends the script as skipped (77), saying why.
skip() { echo "$1"; exit 77; }
