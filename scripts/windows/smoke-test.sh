#!/usr/bin/env bash
# Proves the Windows cross build works end to end: cross-builds scripts/windows/smoke (a
# static Qt Widgets program with Chinese text) with cmake/mingw-w64-x86_64.cmake against
# the static Qt from build-qt.sh (built first if missing: ~40 min), then runs the .exe
# under Wine in a fresh private prefix on Xvfb. The program checks that every character
# has a glyph and saves a picture of its window; this script checks the exit code, that
# the .exe needs no mingw runtime DLL, and that the picture is a PNG.
#
#   scripts/windows/smoke-test.sh [WORK_DIR]
# WORK_DIR defaults to <cache>/smoke; the picture is WORK_DIR/smoke.png.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
# shellcheck source=lib.sh
source "$here/lib.sh"

work="${1:-$VELMORA_WINDOWS_CACHE/smoke}"
mkdir -p "$work"
work="$(cd "$work" && pwd)"
log="$work/smoke.log"
png="$work/smoke.png"
: >"$log"

for tool in wine wineboot wineserver xvfb-run x86_64-w64-mingw32-objdump x86_64-w64-mingw32-strip; do
    command -v "$tool" >/dev/null || die "$tool missing: run scripts/windows/install-deps.sh"
done

qt="$("$here/build-qt.sh")"

echo "smoke: building (log: $log)" >&2
run_logged "$log" cmake -S "$here/smoke" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" -DVELMORA_WINDOWS_PREFIX="$qt"
run_logged "$log" cmake --build "$work/build" --parallel "$JOBS"
exe="$work/smoke.exe"
run_logged "$log" x86_64-w64-mingw32-strip -o "$exe" "$work/build/smoke.exe"

# Only DLLs that come with Windows itself may be imported (no libstdc++, libgcc,
# libwinpthread: the runtime is linked in).
dlls="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)"
echo "imports: $(echo $dlls)" >>"$log"
if echo "$dlls" | grep -E -q '^(libstdc\+\+|libgcc|libwinpthread|qt6)'; then
    die "smoke.exe needs runtime DLLs: $(echo $dlls)"
fi

# A fresh Wine prefix each time, so nothing from an earlier run or the user's ~/.wine helps.
export WINEPREFIX="$work/wineprefix"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX" "$png"

echo "smoke: running under Wine on Xvfb" >&2
set +e
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    log=$0 exe=$1 png=$2
    ms() { echo $(( $(date +%s%N) / 1000000 )); }
    t0=$(ms)
    wineboot -i >>"$log" 2>&1 && wineserver -w || exit 90
    t1=$(ms)
    # The program gets a Windows path (Z: is the Unix root in a fresh prefix).
    wine "$exe" "$(winepath -w "$png")" >>"$log" 2>&1
    rc=$?
    wineserver -w
    t2=$(ms)
    echo "wineboot: $(( (t1 - t0) / 1000 )).$(( (t1 - t0) % 1000 / 100 )) s, program: $(( (t2 - t1) / 1000 )).$(( (t2 - t1) % 1000 / 100 )) s" >>"$log"
    exit $rc
' "$log" "$exe" "$png" </dev/null
rc=$?
set -e
if [ "$rc" -ne 0 ]; then
    echo "error: smoke.exe under Wine exited with $rc" >&2
    tail -n 20 "$log" >&2
    exit 1
fi
[ -s "$png" ] || die "smoke.exe wrote no picture at $png"
head -c 8 "$png" | od -An -tx1 | tr -d ' \n' | grep -q '^89504e470d0a1a0a$' || die "$png is not a PNG"

echo "smoke: ok ($(du -h "$exe" | cut -f1) stripped; $(grep '^wineboot:' "$log")); picture: $png" >&2
echo "$png"
