#!/usr/bin/env bash
# The Windows build under Wine, in a fresh prefix:
#  1. the core's tests and the Windows twins' tests, cross-built;
#  2. velmora-cli.exe end to end through a Wine COM port (COM12, registered in the
#     prefix's port map) that is the Linux virtual splicer on a pseudo-terminal: every
#     command, its output and the CSV and JPEG files compared with the Linux velmora-cli
#     against the same splicer; then a few faults of the splicer (late, cut short, bad
#     check byte, hang-up) on COM5, each answered as the Linux build answers it;
#  3. velmora.exe --demo on Xvfb in Chinese: the window appears, Connect and Read fill
#     the Setting page (its pixels change), a screenshot is kept.
# Everything Wine says goes to BUILD_WIN/test-windows.log; the terminal gets one line a step.
# Usage: test-windows.sh BUILD_WIN LINUX_BUILD
set -uo pipefail
win="$(realpath "$1")"
linux="$(realpath "$2")"
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
export WINEPREFIX="$win/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
log="$win/test-windows.log"
work="$win/test-windows"
: >"$log"
failed=0
started=$(date +%s)
pids=()

step() { printf '== %s\n' "$*" | tee -a "$log"; }
pass() { echo "   ok" | tee -a "$log"; }
fail() { echo "   FAILED: $*" | tee -a "$log"; failed=1; }
check() { if [ "$1" -eq 0 ]; then pass; else fail "${2:-exit status $1}"; fi; }

cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    timeout 30 wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

for tool in wine wineserver xvfb-run xdotool xwd; do
    command -v "$tool" >/dev/null || { echo "$tool missing: run scripts/windows/install-deps.sh" >&2; exit 1; }
done

# start_sim NAME ARGS... : a Linux virtual splicer on a pseudo-terminal; sets SIM_PTY.
start_sim() {
    local name="$1"; shift
    "$linux/velmora-sim" --fast --records 40 --images 3 "$@" >"$work/$name.sim" 2>>"$log" &
    pids+=($!)
    for _ in $(seq 50); do [ -s "$work/$name.sim" ] && break; sleep 0.1; done
    SIM_PTY="$(head -1 "$work/$name.sim")"
    [ -c "$SIM_PTY" ] || { fail "velmora-sim did not start"; exit 1; }
}
stop_sims() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    pids=()
}

# wcli DIR OUT ARGS... / lcli DIR OUT ARGS... : velmora-cli (Windows under Wine / Linux)
# in DIR, its output in OUT with CRLF and both run folders made alike; prints the status.
normalise() { sed -e 's/\r$//' -e 's|\\|/|g' -e "s|[A-Za-z]:$1/||g" -e "s|$1/||g"; }
wcli() {
    local dir="$1" out="$2"; shift 2
    (cd "$dir" && timeout 120 wine "$win/velmora-cli.exe" "$@" >"$out.raw" 2>&1)
    local rc=$?
    normalise "$dir" <"$out.raw" >"$out"
    return $rc
}
lcli() {
    local dir="$1" out="$2"; shift 2
    (cd "$dir" && timeout 120 "$linux/velmora-cli" "$@" >"$out.raw" 2>&1)
    local rc=$?
    normalise "$dir" <"$out.raw" >"$out"
    return $rc
}
run_folder() { rm -rf "$1"; mkdir -p "$1/par"; cp "$repo/par/"*.ini "$1/par/"; }

rm -rf "$WINEPREFIX" "$work"
mkdir -p "$work"

step "fresh Wine prefix"
t0=$(date +%s)
# A server of our own, so that what it prints at exit lands in the log.
wineserver -p >>"$log" 2>&1
timeout 300 wineboot -i >>"$log" 2>&1 && timeout 120 wineserver -w
check $? "wineboot -i failed (see $log)"
echo "   $(( $(date +%s) - t0 )) s" | tee -a "$log"

step "core tests (velmora_core_tests.exe)"
mkdir -p "$work/tests"
(cd "$work/tests" && timeout 900 wine "$win/tests/velmora_core_tests.exe" --gtest_brief=1 >>"$log" 2>&1)
check $? "see $log"

# COM12 (above COM9 on purpose) in the prefix's port map: the server starts again to read it.
start_sim main
wine reg add 'HKLM\Software\Wine\Ports' /v COM12 /d "$SIM_PTY" /f >>"$log" 2>&1
timeout 60 wineserver -k >/dev/null 2>&1; timeout 60 wineserver -w
wineserver -p >>"$log" 2>&1

step "Windows twins' tests (velmora_win32_tests.exe, VELMORA_TEST_PORT=COM12)"
(cd "$work/tests" && VELMORA_TEST_PORT=COM12 timeout 300 \
    wine "$win/tests/velmora_win32_tests.exe" --gtest_brief=1 >>"$log" 2>&1)
check $? "see $log"

step "velmora-cli.exe ports lists COM12"
wrun="$work/win"; lrun="$work/linux"
run_folder "$wrun"; run_folder "$lrun"
wcli "$wrun" "$work/ports.out" ports
rc=$?; cat "$work/ports.out" >>"$log"
[ $rc -eq 0 ] && grep -q '^COM12' "$work/ports.out"; check $? "COM12 not listed"

# The same commands on both builds, each against a splicer of its own started alike.
step "every command on COM12 and on the Linux build, outputs compared"
lsim=""
start_sim linux; lsim="$SIM_PTY"
head -c 5000 /dev/urandom >"$work/firmware.bin"
commands=(
    "read splice"
    "write splice Cut Angle=2.5"
    "read splice"
    "read heating"
    "backup settings.txt"
    "diff settings.txt"
    "restore settings.txt"
    "images"
    "image 2"
    "history"
    "history --csv"
    "firmware $work/firmware.bin --no-backup"
    "archive list"
)
n=0
bad=0
for command in "${commands[@]}"; do
    n=$((n + 1))
    # "write splice Cut Angle=2.5": the row text keeps its space.
    if [[ "$command" == write* ]]; then args=(write splice "Cut Angle=2.5"); else read -ra args <<<"$command"; fi
    t0=$(date +%s%N)
    wcli "$wrun" "$work/$n.win" -p COM12 "${args[@]}"; wrc=$?
    ms=$(( ($(date +%s%N) - t0) / 1000000 ))
    lcli "$lrun" "$work/$n.linux" -p "$lsim" "${args[@]}"; lrc=$?
    { echo "-- $command: Windows $wrc in $ms ms, Linux $lrc"; cat "$work/$n.win"; } >>"$log"
    if [ $wrc -ne 0 ] || [ $lrc -ne 0 ]; then
        echo "   $command: exit status $wrc (Linux $lrc)" | tee -a "$log"
        bad=1
    elif ! diff -q "$work/$n.win" "$work/$n.linux" >/dev/null; then
        echo "   $command: output differs from the Linux build's" | tee -a "$log"
        bad=1
        diff "$work/$n.linux" "$work/$n.win" >>"$log"
    fi
done
check $bad "see $log"

step "CSV and JPEG files byte for byte like the Linux build's"
files=$(cd "$lrun" && find . -type f \( -iname '*.csv' -o -iname '*.jpg' \) | sort)
if [ -z "$files" ]; then
    fail "the Linux run wrote no CSV or JPEG file"
else
    bad=0
    while IFS= read -r f; do
        echo "   $f" >>"$log"
        cmp -s "$lrun/$f" "$wrun/$f" || { echo "   differs or missing: $f" | tee -a "$log"; bad=1; }
    done <<<"$files"
    check $bad "files differ"
fi
stop_sims

# Faults on COM5 (a plain dosdevices link): the same splicer fault for both builds.
step "faults of the splicer: the Windows build answers as the Linux build"
faults=("6A:delay:400" "6A:short:5" "6A:badcheck" "6A:trickle:1" "6A:hangup")
bad=0
for fault in "${faults[@]}"; do
    start_sim "w-$fault" --fault "$fault"
    ln -sfn "$SIM_PTY" "$WINEPREFIX/dosdevices/com5"
    wcli "$wrun" "$work/fault.win" -p COM5 read splice; wrc=$?
    start_sim "l-$fault" --fault "$fault"
    lcli "$lrun" "$work/fault.linux" -p "$SIM_PTY" read splice; lrc=$?
    stop_sims
    { echo "-- fault $fault: Windows $wrc, Linux $lrc"; cat "$work/fault.win"; } >>"$log"
    if [ $wrc -ne $lrc ] || ! diff -q "$work/fault.win" "$work/fault.linux" >/dev/null; then
        echo "   $fault: Windows $wrc, Linux $lrc" | tee -a "$log"
        diff "$work/fault.linux" "$work/fault.win" >>"$log"
        bad=1
    fi
done
check $bad "see $log"

# The window: Chinese captions, then Connect (the demo splicer is listed first) and Read.
# Its Wine session starts afresh inside Xvfb: a server left from the steps above has
# a desktop without a display, where the window would never be seen.
timeout 60 wineserver -k >/dev/null 2>&1; timeout 60 wineserver -w
step "velmora.exe --demo on Xvfb (Chinese): window, Connect, Read, screenshot"
grun="$work/gui"
run_folder "$grun"
sed -i 's/^Comm_Lanage=.*/Comm_Lanage=0/' "$grun/par/Lan_Ver.ini"
rm -f "$win/velmora-demo.png"
# shellcheck disable=SC2016 # the inner script expands its own variables
(cd "$grun" && timeout 180 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    win=$0 work=$1 here=$2
    wine "$win/velmora.exe" --demo >>"$work/gui.log" 2>&1 &
    window=""
    for _ in $(seq 60); do
        window=$(xdotool search --onlyvisible --name . 2>/dev/null | while read -r w; do
            xdotool getwindowgeometry "$w" | grep -q "Geometry: 706x530" && echo "$w"; done | head -1)
        [ -n "$window" ] && break
        sleep 0.5
    done
    [ -n "$window" ] || { echo "no window" >>"$work/gui.log"; exit 3; }
    eval "$(xdotool getwindowgeometry --shell "$window")"
    sleep 2
    shot() { xwd -root -silent >"$work/$1.xwd" && python3 "$here/xwd-to-png.py" "$work/$1.xwd" "$work/$1.png"; }
    shot before
    echo "window at $X,$Y" >>"$work/gui.log"
    # until_changed NAME X Y W H: screenshots until the rectangle differs from "before" (30 s).
    until_changed() {
        local name=$1; shift
        for _ in $(seq 60); do
            shot "$name"
            python3 "$here/page-changed.py" "$work/before.xwd" "$work/$name.xwd" "$@" >>"$work/gui.log" 2>&1 \
                && return 0
            sleep 0.5
        done
        echo "$name: nothing changed" >>"$work/gui.log"
        return 1
    }
    # Connect (the status pane turns to connected), then Read (the Environment rows fill);
    # the Setting page of a 706x530 window.
    xdotool mousemove $((X + 88)) $((Y + 102)) click 1
    until_changed connected $((X + 5)) $((Y + 507)) 140 20 || exit 4
    xdotool mousemove $((X + 492)) $((Y + 100)) click 1
    until_changed after $((X + 255)) $((Y + 165)) 400 120 || exit 5
' "$win" "$work" "$here")
rc=$?
cat "$work/gui.log" >>"$log" 2>/dev/null
cp "$work/after.png" "$win/velmora-demo.png" 2>/dev/null
check $rc "see $log"
echo "   screenshot: $win/velmora-demo.png" | tee -a "$log"

echo "== $( [ $failed -eq 0 ] && echo passed || echo FAILED ) in $(( $(date +%s) - started )) s (log: $log)" | tee -a "$log"
exit $failed
