# Shared helpers for the Windows cross-build scripts (sourced, not run).
# shellcheck shell=bash

VELMORA_WINDOWS_CACHE="${VELMORA_WINDOWS_CACHE:-$HOME/.cache/velmora-windows}"
# How many compile jobs a build of Qt or SQLite runs: 2 unless told (a shared machine),
# as many as a machine has to spare when it is (VELMORA_WINDOWS_JOBS=$(nproc)). Not part
# of any recipe's stamp: a finished cache stays valid whatever built it.
VELMORA_WINDOWS_JOBS="${VELMORA_WINDOWS_JOBS:-2}"
[[ "$VELMORA_WINDOWS_JOBS" =~ ^[1-9][0-9]*$ ]] ||
    { echo "error: VELMORA_WINDOWS_JOBS is '$VELMORA_WINDOWS_JOBS', not a number of jobs" >&2; exit 1; }

die() { echo "error: $*" >&2; exit 1; }

# The machine is shared: everything these scripts start runs at the lowest priority.
renice -n 19 -p $$ >/dev/null 2>&1 || true

# run_logged LOG CMD... : runs CMD with all output appended to LOG; on failure
# prints the last lines of LOG and exits.
run_logged() {
    local log="$1"; shift
    echo "+ $*" >>"$log"
    if ! "$@" >>"$log" 2>&1; then
        echo "error: command failed: $*" >&2
        echo "---- last lines of $log ----" >&2
        tail -n 40 "$log" >&2
        exit 1
    fi
}

# private_apt_dir : prints a folder holding a private apt configuration whose only
# sources are deb-src twins of the system's deb entries. The system's sources and
# state are left untouched.
private_apt_dir() {
    local dir="$VELMORA_WINDOWS_CACHE/apt"
    mkdir -p "$dir/sources.list.d" "$dir/lists/partial" "$dir/cache/archives/partial"
    : >"$dir/sources.list"
    local found=0 f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        sed -E 's/^Types:.*$/Types: deb-src/' "$f" >"$dir/sources.list.d/$(basename "$f")"
        found=1
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >>"$dir/sources.list"
        grep -q . "$dir/sources.list" && found=1
    done
    [ "$found" = 1 ] || die "no apt sources found in /etc/apt to derive deb-src entries from"
    echo "$dir"
}

# apt_private ARGS... : apt-get with the private configuration above.
apt_private() {
    local dir; dir="$(private_apt_dir)"
    apt-get -q \
        -o Dir::Etc::sourcelist="$dir/sources.list" \
        -o Dir::Etc::sourceparts="$dir/sources.list.d" \
        -o Dir::State::Lists="$dir/lists" \
        -o Dir::Cache="$dir/cache" \
        -o Dir::State::status=/var/lib/dpkg/status \
        -o APT::Get::List-Cleanup=0 \
        "$@"
}

# fetch_debian_source PKG VERSION ORIG_TARBALL ORIG_SHA256 DEST LOG
# Downloads Debian's source package PKG=VERSION into DEST (apt checks the .dsc against
# the signed Release file and the tarballs against the .dsc), checks the orig tarball's
# SHA-256 against the one recorded here, and unpacks it with Debian's patches applied.
# Prints the unpacked folder. Reuses a finished unpack.
fetch_debian_source() {
    local pkg="$1" ver="$2" orig="$3" sha="$4" dest="$5" log="$6"
    local upstream="${ver%-*}"
    local tree="$dest/$pkg-$upstream"
    local mark="$ver $sha"
    if [ -f "$tree/.velmora-unpacked" ] && [ "$(cat "$tree/.velmora-unpacked")" = "$mark" ]; then
        echo "$tree"
        return
    fi
    mkdir -p "$dest"
    local dsc="${pkg}_${ver#*:}.dsc"
    if [ -f "$dest/$orig" ] && ! (cd "$dest" && echo "$sha  $orig" | sha256sum -c --status); then
        rm -f "$dest/$orig"   # damaged or partial: fetch again
    fi
    if [ ! -f "$dest/$dsc" ] || [ ! -f "$dest/$orig" ]; then
        run_logged "$log" apt_private update
        (cd "$dest" && run_logged "$log" apt_private source --download-only "$pkg=$ver")
    fi
    (cd "$dest" && echo "$sha  $orig" | sha256sum -c --status) \
        || die "SHA-256 of $dest/$orig is not the recorded $sha"
    rm -rf "$tree"
    (cd "$dest" && run_logged "$log" dpkg-source -x "$dsc" "$pkg-$upstream")
    printf '%s' "$mark" >"$tree/.velmora-unpacked"
    echo "$tree"
}
