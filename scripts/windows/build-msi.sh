#!/usr/bin/env bash
# The Windows installer, from the files of the zip that `make windows` made:
#   build-msi.sh BUILD_WIN [VERSION [OUT_DIR]]
# writes OUT_DIR/velmora-<VERSION>-x64.msi with wixl (packaging/windows/velmora.wxs) and
# prints its path. VERSION is the one the Windows build was configured with
# (project(VERSION) of CMakeLists.txt) unless given: another one packs the same programs
# as that version (the tests' next version, to upgrade to). OUT_DIR is BUILD_WIN unless given.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
die() { echo "error: $*" >&2; exit 1; }

win="$(realpath "$1")"
version="${2:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt" 2>/dev/null)}"
out="${3:-$win}"
files="$win/package/velmora"
[ -f "$files/velmora.exe" ] || die "$files/velmora.exe missing: run make windows first"
command -v wixl >/dev/null || die "wixl missing: run scripts/windows/install-deps.sh"
# Windows Installer compares major.minor.build, each a number below 256, 256, 65536.
[[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] && [ "${BASH_REMATCH[1]}" -lt 256 ] &&
    [ "${BASH_REMATCH[2]}" -lt 256 ] && [ "${BASH_REMATCH[3]}" -lt 65536 ] ||
    die "version '$version' is not major.minor.build as Windows Installer takes it"

# wixl takes file sources relative to its working folder only: one of our own.
work="$out/msi-work"
rm -rf "$work" && mkdir -p "$work"
ln -s "$files" "$work/velmora"
sed 's/$/\r/' "$repo/packaging/windows/installed.txt" >"$work/installed.txt"
# An icon file holding the program's PNG as it is (Windows Vista and later read that).
python3 - "$repo/resources/velmora.png" "$work/velmora.ico" <<'PY'
import struct, sys
png = open(sys.argv[1], "rb").read()
assert png[:8] == b"\x89PNG\r\n\x1a\n" and png[12:16] == b"IHDR", "not a PNG"
width, height = struct.unpack(">II", png[16:24])
assert width <= 256 and height <= 256, "an icon is at most 256 pixels a side"
entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), 6 + 16)
open(sys.argv[2], "wb").write(struct.pack("<HHH", 0, 1, 1) + entry + png)
PY

msi="$(realpath "$out")/velmora-$version-x64.msi"
# wixl says "unimplemented" of each shortcut that is not advertised, and writes it all the same.
if ! (cd "$work" && wixl -a x64 -o "$msi" -D Version="$version" \
          "$repo/packaging/windows/velmora.wxs" 2>"$work/wixl.log"); then
    cat "$work/wixl.log" >&2
    die "wixl could not build $msi"
fi
grep -v 'builder.vala:[0-9]*: unimplemented$' "$work/wixl.log" >&2 || true
echo "$msi"
