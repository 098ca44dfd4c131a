#!/usr/bin/env bash
# Proves the Windows cross build works end to end: cross-builds scripts/windows/smoke (a
# static Qt Widgets program with Chinese text) with cmake/mingw-w64-x86_64.cmake against
# the static Qt from build-qt.sh (built first if missing: ~40 min), then runs the .exe
# under Wine in a fresh private prefix on Xvfb. The program checks that every character
# of its Chinese captions puts ink on the screen and that the statically linked JPEG and
# windowsvista plugins are there, and saves a picture of its window; this script checks
# its exit code, that the .exe needs no mingw runtime DLL, and that the picture is a PNG.
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
run_logged "$log" cmake --build "$work/build" --parallel "$VELMORA_WINDOWS_JOBS"
exe="$work/smoke.exe"
run_logged "$log" x86_64-w64-mingw32-strip -o "$exe" "$work/build/smoke.exe"

# Only DLLs that come with Windows itself may be imported (no libstdc++, libgcc,
# libwinpthread: the runtime is linked in).
dlls="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' \
    | tr '[:upper:]' '[:lower:]' | sort -u | tr '\n' ' ')"
echo "imports: $dlls" >>"$log"
if echo "$dlls" | tr ' ' '\n' | grep -E -q '^(libstdc\+\+|libgcc|libwinpthread|qt6)'; then
    die "smoke.exe needs runtime DLLs: $dlls"
fi

# A fresh Wine prefix each time, so nothing from an earlier run or the user's ~/.wine helps.
export WINEPREFIX="$work/wineprefix"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX" "$png"

echo "smoke: running under Wine on Xvfb" >&2
set +e
# shellcheck disable=SC2016 # the inner script expands its own arguments
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    log=$0 exe=$1 png=$2
    ms() { echo $(( $(date +%s%N) / 1000000 )); }
    t0=$(ms)
    timeout 300 wineboot -i >>"$log" 2>&1 && timeout 120 wineserver -w || exit 90
    t1=$(ms)
    # The program gets a Windows path (Z: is the Unix root in a fresh prefix).
    # It quits after 2 s by itself: give up on a hang (a dialog, a deadlock).
    timeout 120 wine "$exe" "$(winepath -w "$png")" >>"$log" 2>&1
    rc=$?
    t2=$(ms)
    [ "$rc" -ne 124 ] || { echo "smoke.exe still running after 120 s" >>"$log"; wineserver -k; }
    timeout 120 wineserver -w
    t3=$(ms)
    s() { echo "$(( $1 / 1000 )).$(( $1 % 1000 / 100 )) s"; }
    echo "wineboot: $(s $((t1 - t0))), program: $(s $((t2 - t1))), wineserver exit: $(s $((t3 - t2)))" >>"$log"
    exit $rc
' "$log" "$exe" "$png" </dev/null
rc=$?
set -e
if [ "$rc" -ne 0 ]; then
    if [ "$rc" -eq 90 ]; then
        echo "error: wineboot -i failed in $WINEPREFIX" >&2
    else
        echo "error: smoke.exe under Wine exited with $rc (3: blank glyph, 4: no picture, 5: missing plugin, 124: hang)" >&2
    fi
    tail -n 20 "$log" >&2
    exit 1
fi
[ -s "$png" ] || die "smoke.exe wrote no picture at $png"
head -c 8 "$png" | od -An -tx1 | tr -d ' \n' | grep -q '^89504e470d0a1a0a$' || die "$png is not a PNG"

rm -rf "$WINEPREFIX"   # ~700 MB; kept only when the run failed
echo "smoke: ok ($(du -h "$exe" | cut -f1) stripped; $(grep '^wineboot:' "$log")); picture: $png" >&2
echo "$png"
