#!/bin/bash
# make_release.sh OUT_DIR SOURCE_DIR NAME:FORMAT:BUILD_DIR...
#
# Writes one archive per NAME into OUT_DIR, and SHA256SUMS for them.  Each
# unpacks to the folder NAME holding the programs of BUILD_DIR/bin (with
# ".exe" for FORMAT zip) and BUILD_DIR/README-tavrel.txt.  The archives are
# the same bytes for the same commit wherever and by whomever they are
# built: entries in name order, owner 0, fixed modes, and every time stamp
# taken from SOURCE_DATE_EPOCH, or else from the last commit of SOURCE_DIR.
set -euo pipefail
out=$1 src=$2
shift 2
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct 2>/dev/null || true)}
if [ -z "$epoch" ]; then
  echo "make_release.sh: no commit time in $src: set SOURCE_DATE_EPOCH" >&2
  exit 1
fi
export TZ=UTC LC_ALL=C  # zip keeps local times
rm -rf "$out" && mkdir -p "$out/stage"
archives=()
for archive in "$@"; do
  IFS=: read -r name format dir <<<"$archive"
  suffix=""
  [ "$format" = zip ] && suffix=.exe
  stage=$out/stage/$name
  mkdir "$stage"
  cp "$dir/bin/install$suffix" "$dir/bin/uninstall$suffix" "$dir/README-tavrel.txt" "$stage/"
  chmod 0755 "$stage" "$stage/install$suffix" "$stage/uninstall$suffix"
  chmod 0644 "$stage/README-tavrel.txt"
  find "$stage" -exec touch -h -d "@$epoch" {} +
  entries=$(cd "$out/stage" && { echo "$name/"; find "$name" -type f | sort; })
  case $format in
    tgz)
      (cd "$out/stage" && tar --format=gnu --no-recursion --owner=0 --group=0 \
         --numeric-owner --mtime="@$epoch" -cf - $entries) | gzip -9n >"$out/$name.tar.gz"
      archives+=("$name.tar.gz") ;;
    zip)
      (cd "$out/stage" && zip -qX "$out/$name.zip" $entries)
      archives+=("$name.zip") ;;
  esac
done
rm -rf "$out/stage"
(cd "$out" && sha256sum "${archives[@]}" >SHA256SUMS)
echo "release archives in $out:"
(cd "$out" && ls -l "${archives[@]}" SHA256SUMS | awk '{ print "  " $5, $9 }')
