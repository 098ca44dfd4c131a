#!/usr/bin/env bash
# Runs the cross-built program under Wine in a fresh prefix: velmora-cli.exe --help and
# ports, an end-to-end read through a COM port that is a Linux virtual splicer
# (velmora-sim on a pseudo-terminal, linked as com5 in the prefix), and velmora.exe --demo
# on Xvfb with a screenshot. Usage: test-windows.sh BUILD_WIN LINUX_SIM
set -uo pipefail
win="$(realpath "$1")"
sim="$(realpath "$2")"
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
log="$win/test-windows.log"
: >"$log"
failed=0
step() { echo "== $*" | tee -a "$log"; }
check() { if [ "$1" -eq 0 ]; then echo "   ok" | tee -a "$log"; else echo "   FAILED ($1)" | tee -a "$log"; failed=1; fi; }

rm -rf "$WINEPREFIX"
step "wineboot -i"
t0=$(date +%s); timeout 300 wineboot -i >>"$log" 2>&1 && timeout 120 wineserver -w; check $?
echo "   $(( $(date +%s) - t0 )) s" | tee -a "$log"

run="$win/run"; rm -rf "$run"; mkdir -p "$run/par"; cp "$here/../../par/"*.ini "$run/par/"
cd "$run"
step "velmora-cli.exe --help"
timeout 60 wine "$win/velmora-cli.exe" --help >>"$log" 2>&1; check $?
step "velmora-cli.exe ports"
timeout 60 wine "$win/velmora-cli.exe" ports 2>&1 | tee -a "$log"; check "${PIPESTATUS[0]}"

step "velmora-cli.exe -p COM5 read splice (velmora-sim on a pseudo-terminal as com5)"
"$sim" --fast >"$win/sim.out" 2>>"$log" &
simpid=$!
for _ in $(seq 50); do [ -s "$win/sim.out" ] && break; sleep 0.1; done
pty="$(head -1 "$win/sim.out")"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com5"
t0=$(date +%s%N)
timeout 60 wine "$win/velmora-cli.exe" -p COM5 read splice 2>&1 | tee -a "$log" | head -5; check "${PIPESTATUS[0]}"
echo "   $(( ($(date +%s%N) - t0) / 1000000 )) ms" | tee -a "$log"
step "velmora-cli.exe -p COM5 images"
timeout 60 wine "$win/velmora-cli.exe" -p COM5 images 2>&1 | tee -a "$log" | head -3; check "${PIPESTATUS[0]}"
kill "$simpid"; wait "$simpid" 2>/dev/null

step "velmora.exe --demo on Xvfb, screenshot"
rm -f "$win/velmora-demo.xwd" "$win/velmora-demo.png"
timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" sh -c \
    "wine '$win/velmora.exe' --demo >>'$log' 2>&1 & sleep 20; xwd -root -silent >'$win/velmora-demo.xwd'; wineserver -k; wait"
python3 "$here/xwd-to-png.py" "$win/velmora-demo.xwd" "$win/velmora-demo.png"; check $?
echo "   $win/velmora-demo.png" | tee -a "$log"
timeout 60 wineserver -k 2>/dev/null
exit $failed
