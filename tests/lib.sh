# Shell helpers shared by the test scripts (sourced).

# hash FILE: a checksum of FILE's bytes, or "none" where there is no file.
hash() { if [ -f "$1" ]; then sha256sum < "$1" | cut -c1-16; else echo none; fi; }

# state DIR: every entry of DIR with a checksum of its bytes, one per line.
state() {
  (cd "$1" && for f in $(ls -A); do printf '%s %s\n' "$f" "$(hash "$f")"; done)
}

# lay DIR FROM: DIR made anew as a copy of the folder FROM, hard links kept.
lay() { rm -rf "$1" && mkdir -p "$1" && cp -a "$2"/. "$1"/; }
