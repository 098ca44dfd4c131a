#!/usr/bin/env bash
# The Windows build under Wine, in a fresh prefix:
#  1. the core's tests and the Windows twins' tests, cross-built;
#  2. velmora-cli.exe end to end through a Wine COM port (COM12, registered in the
#     prefix's port map) that is the Linux virtual splicer on a pseudo-terminal: every
#     command, its output and the CSV and JPEG files compared with the Linux velmora-cli
#     against the same splicer; the download sent to a team archive on the Linux test
#     server over TLS (verify-full), and refused with a CA that is not the server's;
#     then a few faults of the splicer (late, cut short, bad check byte, hang-up) on
#     COM5, each answered as the Linux build answers it;
#  3. velmora.exe --demo on Xvfb in Chinese: the window appears, Connect and Read fill
#     the Setting page (its pixels change), a screenshot is kept;
#  4. the installer (build-msi.sh): installed with msiexec, the installed programs (the
#     demo started from its Start-menu entry, with a screenshot) keep their files in
#     %LOCALAPPDATA%\Velmora, an installer of the next version replaces it in place,
#     msiexec /x removes it and leaves those files.
# Everything Wine says goes to BUILD_WIN/test-windows.log; the terminal gets one line a step.
# Usage: test-windows.sh BUILD_WIN LINUX_BUILD
set -uo pipefail
win="$(realpath "$1")"
linux="$(realpath "$2")"
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
# No Mono or Gecko prompts; the installer's Start-menu entries stay in the prefix rather
# than reaching the Linux desktop's menu (winemenubuilder).
export WINEPREFIX="$win/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
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

# The team archive: the tests' own PostgreSQL server on Linux (velmora-test-team-server,
# TLS with a CA of its own), reached from Wine over TCP with sslmode=verify-full. The
# download of the steps above is sent, then counted on the server; the Linux build's
# send of the same download adds nothing (the same bytes, so the same records).
step "team join/sync/status over TLS (verify-full) to the Linux test server, rows checked with psql"
team="$work/team"
mkdir -p "$team"
"$linux/tests/velmora-test-team-server" "$team" >>"$log" 2>&1 &
pids+=($!)
for _ in $(seq 600); do [ -f "$team/server.env" ] && break; sleep 0.1; done
bad=0
if [ ! -f "$team/server.env" ]; then
    echo "   the test server did not start" | tee -a "$log"
    bad=1
else
    # shellcheck disable=SC1091 # written by the server program
    source "$team/server.env"
    # The CA file by its Windows name (Z: is the Linux root); the password through
    # libpq's own password file.
    win_uri="${TLS_URI/sslrootcert=\//sslrootcert=Z:/}"
    export PGPASSFILE
    PGPASSFILE="$(winepath -w "$team/pgpass" 2>>"$log")"
    count() { psql -X -tA -d "$ADMIN_URI" -c "SELECT count(*) FROM velmora.$1" 2>>"$log"; }
    wcli "$wrun" "$team/join" team join "$win_uri" && wcli "$wrun" "$team/sync" team sync &&
        wcli "$wrun" "$team/status" team status
    rc=$?
    cat "$team/join" "$team/sync" "$team/status" >>"$log"
    records=$(count records)
    sent=$(sed -n 's/^Sent: \([0-9]*\) records.*/\1/p' "$team/sync")
    echo "   sent ${sent:-nothing}, ${records:-no} records on the server" | tee -a "$log"
    [ $rc -eq 0 ] && [ -n "$sent" ] && [ "$sent" -gt 0 ] && [ "$records" = "$sent" ] &&
        grep -q '^Waiting to be sent: 0 records, 0 images, 0 settings snapshots' "$team/status" || bad=1
    PGPASSFILE="$team/pgpass" lcli "$lrun" "$team/linux" team join "$TLS_URI" &&
        PGPASSFILE="$team/pgpass" lcli "$lrun" "$team/linux" team sync &&
        [ "$(count records)" = "$records" ] || { echo "   the Linux send changed the count" | tee -a "$log"; bad=1; }

    # Another CA than the server's: refused before any data, said in plain words.
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=not the team's CA" \
        -keyout "$team/other.key" -out "$team/other.crt" >>"$log" 2>&1
    wrong="$work/wrong-ca"
    run_folder "$wrong"
    wcli "$wrong" "$team/wrong" team join "${win_uri%%sslrootcert=*}sslrootcert=Z:$team/other.crt"
    wcli "$wrong" "$team/wrong" team sync
    rc=$?
    cat "$team/wrong" >>"$log"
    [ $rc -eq 1 ] && grep -q "secure connection could not be made or verified" "$team/wrong" &&
        grep -q "certificate verify failed" "$team/wrong" ||
        { echo "   wrong CA: exit $rc, said: $(head -1 "$team/wrong")" | tee -a "$log"; bad=1; }
fi
check $bad "see $log"
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

# demo_window NAME DIR CMD... : runs CMD (velmora --demo under Wine) in DIR on Xvfb, then
# clicks Connect (the demo splicer is listed first; the status pane turns to connected)
# and Read (the Environment rows fill) on the Setting page of its window (706x530 as
# window.ini asks); keeps
# the last screenshot as BUILD_WIN/NAME.png. Its Wine session starts afresh inside Xvfb:
# a server left from the steps before has a desktop without a display, where the window
# would never be seen.
demo_window() {
    local name="$1" dir="$2"; shift 2
    timeout 60 wineserver -k >/dev/null 2>&1; timeout 60 wineserver -w
    rm -f "$win/$name.png" "$work/$name".*
    # shellcheck disable=SC2016 # the inner script expands its own variables
    (cd "$dir" && timeout 180 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        work=$0 here=$1 name=$2; shift 2
        "$@" >>"$work/$name.log" 2>&1 &
        window=""
        for _ in $(seq 60); do
            # The window of the program: the largest one shown.
            window=$(xdotool search --onlyvisible --name . 2>/dev/null | while read -r w; do
                eval "$(xdotool getwindowgeometry --shell "$w")"
                [ "$WIDTH" -ge 600 ] && [ "$HEIGHT" -ge 400 ] && echo "$((WIDTH * HEIGHT)) $w"
                done | sort -n | tail -1 | cut -d" " -f2)
            [ -n "$window" ] && break
            sleep 0.5
        done
        [ -n "$window" ] || { echo "no window" >>"$work/$name.log"; exit 3; }
        eval "$(xdotool getwindowgeometry --shell "$window")"
        sleep 2
        shot() { xwd -root -silent >"$work/$name.$1.xwd" && python3 "$here/xwd-to-png.py" "$work/$name.$1.xwd" "$work/$name.$1.png"; }
        shot before
        echo "window at $X,$Y" >>"$work/$name.log"
        # until_changed STAGE X Y W H: screenshots until the rectangle differs from "before" (30 s).
        until_changed() {
            local stage=$1; shift
            for _ in $(seq 60); do
                shot "$stage"
                python3 "$here/page-changed.py" "$work/$name.before.xwd" "$work/$name.$stage.xwd" "$@" \
                    >>"$work/$name.log" 2>&1 && return 0
                sleep 0.5
            done
            echo "$stage: nothing changed" >>"$work/$name.log"
            return 1
        }
        xdotool mousemove $((X + 84)) $((Y + 109)) click 1
        until_changed connected $((X + 5)) $((Y + HEIGHT - 23)) 140 20 || exit 4
        xdotool mousemove $((X + 457)) $((Y + 107)) click 1
        until_changed after $((X + 255)) $((Y + 165)) 400 120 || exit 5
    ' "$work" "$here" "$name" "$@")
    local rc=$?
    cat "$work/$name.log" >>"$log" 2>/dev/null
    cp "$work/$name.after.png" "$win/$name.png" 2>/dev/null
    timeout 60 wineserver -k >/dev/null 2>&1; timeout 60 wineserver -w
    return $rc
}

step "velmora.exe --demo on Xvfb (Chinese): window, Connect, Read, screenshot"
grun="$work/gui"
run_folder "$grun"
sed -i 's/^Comm_Lanage=.*/Comm_Lanage=0/' "$grun/par/Lan_Ver.ini"
# The size the clicks below are measured in, as a window of the last run left it.
window_size() { mkdir -p "$1" && printf '[Window]\nWidth=706\nHeight=530\n' >"$1/window.ini"; }
window_size "$grun"
demo_window velmora-demo "$grun" wine "$win/velmora.exe" --demo
check $? "see $log"
echo "   screenshot: $win/velmora-demo.png" | tee -a "$log"

# The installer, in the same prefix (nothing of Velmora was installed in it before).
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")"
next="${version%.*}.$(( ${version##*.} + 1 ))"
installed="$WINEPREFIX/drive_c/Program Files/Velmora"
appdata="$(wine cmd /c echo %LOCALAPPDATA% 2>>"$log" | tr -d '\r')\Velmora"
data="$(winepath -u "$appdata" 2>>"$log")"
# Windows puts the Start-menu entries of a per-machine installation in the common Start
# menu; Wine 8 resolves ProgramMenuFolder to the user's whatever ALLUSERS says.
menus=("$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velmora"
       "$(winepath -u "$(wine cmd /c echo %APPDATA% 2>>"$log" | tr -d '\r')")/Microsoft/Windows/Start Menu/Programs/Velmora")
menu_folders() { local m; for m in "${menus[@]}"; do [ -e "$m" ] && echo "$m"; done; }

# msi ARGS... : msiexec without a user interface, its log appended to ours.
msi() {
    timeout 300 wine msiexec "$@" /qn /l "$(winepath -w "$work/msiexec.log")" >>"$log" 2>&1
    local rc=$?
    cat "$work/msiexec.log" >>"$log" 2>/dev/null
    return $rc
}
# registered KEY VALUE... : for each product of the registry KEY (and below) whose
# DisplayName or ProductName is Velmora, one line with the VALUEs asked for, "|" between.
registered() {
    local key="$1"; shift
    wine reg query "$key" /s 2>>"$log" | tr -d '\r' | awk -v want="$*" '
        function flush() { if (name == "Velmora") { line = ""; for (i = 1; i <= n; i++)
                               line = line (i > 1 ? "|" : "") v[w[i]]; print line }
                           name = ""; split("", v) }
        BEGIN { n = split(want, w, " ") }
        /^HKEY_/ { flush() }
        /REG_/ { value = $0; sub(/^ *[^ ]+ +REG_[A-Z_]+ */, "", value); v[$1] = value
                 if ($1 == "DisplayName" || $1 == "ProductName") name = value }
        END { flush() }'
}
entries() { registered 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' DisplayVersion Publisher; }
# installed_as VERSION : the zip's files (and the installer's marker) are installed, both
# Start-menu entries are there, Programs and Features lists VERSION once, with its icon.
installed_as() {
    local bad=0 list icon menu
    diff -r -x installed.txt "$win/package/velmora" "$installed" >>"$log" 2>&1 || { echo "   installed files differ from the zip's" | tee -a "$log"; bad=1; }
    [ -f "$installed/installed.txt" ] || { echo "   no installed.txt" | tee -a "$log"; bad=1; }
    menu="$(menu_folders)"
    for lnk in "Velmora.lnk" "Velmora demo.lnk"; do
        [ -f "$menu/$lnk" ] || { echo "   no Start-menu entry $lnk in ${menu:-any Start menu}" | tee -a "$log"; bad=1; }
    done
    list="$(entries)"
    icon="$(registered 'HKLM\Software\Classes\Installer\Products' ProductIcon)"
    echo "   Programs and Features: ${list:-nothing}, icon ${icon:-none}" | tee -a "$log"
    [ "$list" = "$1|The Velmora developers" ] && [ -f "$(winepath -u "$icon" 2>/dev/null)" ] || bad=1
    return $bad
}

step "velmora-$version-x64.msi installs: files, Start-menu entries, one Programs and Features entry"
msi /i "$(winepath -w "$win/velmora-$version-x64.msi")" && installed_as "$version"
check $? "see $log"

# Run in their own folder, as the Start-menu entries start them: still the installed program.
step "installed velmora-cli.exe --version, velmora.exe --help names %LOCALAPPDATA%\\Velmora"
out="$(cd "$installed" && timeout 60 wine ./velmora-cli.exe --version 2>>"$log" | tr -d '\r')"
help="$(cd "$installed" && timeout 60 wine ./velmora.exe --help 2>>"$log" | tr -d '\r')"
printf '%s\n%s\n' "$out" "$help" >>"$log"
[ "$out" = "velmora-cli $version" ] && grep -qxF "own files (splicer folders, archive): $appdata" <<<"$help"
check $? "printed '$out' and '$help'"

step "the installed demo from its Start-menu entry: files in %LOCALAPPDATA%\\Velmora, none under Program Files"
before="$(find "$installed" -printf '%P %s %T@\n' | sort)"
window_size "$data"
demo_window velmora-installed "$work" wine start "$(winepath -w "$(menu_folders)/Velmora demo.lnk")"
rc=$?
[ $rc -eq 0 ] && [ "$(find "$installed" -printf '%P %s %T@\n' | sort)" = "$before" ] &&
    [ -n "$(find "$data/FS" -mindepth 1 -maxdepth 1 -type d 2>/dev/null)" ]
check $? "window $rc; see $log"
echo "   screenshot: $win/velmora-installed.png" | tee -a "$log"

# Each build has a product code of its own: another build of the same version replaces
# the installed one as the next version does.
step "another build of $version, then velmora-$next-x64.msi, each replaces it in place; the data stay"
t0=$(date +%s)
bad=0
for v in "$version" "$next"; do
    bash "$here/build-msi.sh" "$win" "$v" "$work/$v" >>"$log" 2>&1 &&
        msi /i "$(winepath -w "$work/$v/velmora-$v-x64.msi")" && installed_as "$v" &&
        [ -n "$(find "$data/FS" -mindepth 1 -maxdepth 1 -type d)" ] || bad=1
done
check $bad "see $log"
echo "   $(( $(date +%s) - t0 )) s" | tee -a "$log"

step "msiexec /x removes the program, its Start-menu entries and its entry; the data stay"
msi /x "$(winepath -w "$work/$next/velmora-$next-x64.msi")" && [ ! -e "$installed" ] && [ -z "$(menu_folders)" ] &&
    [ -z "$(entries)" ] && [ -n "$(find "$data/FS" -mindepth 1 -maxdepth 1 -type d)" ]
check $? "left: $(find "$installed" "${menus[@]}" 2>/dev/null | head -5 | tr '\n' ' ')entries: $(entries)"

echo "== $( [ $failed -eq 0 ] && echo passed || echo FAILED ) in $(( $(date +%s) - started )) s (log: $log)" | tee -a "$log"
exit $failed
