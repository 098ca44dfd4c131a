#!/usr/bin/env bash
# Builds SQLite as a static library for x86_64-w64-mingw32 from Debian's own sqlite3
# source package (with Debian's patches, security fixes included), compiled with the
# options of Debian's libsqlite3 so the Windows build behaves like the Linux one.
#
# Debian's source has no amalgamation: it is generated here with the source's own
# tooling (a host ./configure, then `make sqlite3.c`, which needs tclsh), and then
# cross-compiled into libsqlite3.a. The result goes to a cache folder outside the repo:
#   ${VELMORA_WINDOWS_CACHE:-$HOME/.cache/velmora-windows}/sqlite-3.40.1-mingw
# (include/sqlite3.h, include/sqlite3ext.h, lib/libsqlite3.a; CMake's FindSQLite3 finds
# them through the toolchain file) and is reused while its stamp matches this recipe.
# Prints that folder on stdout. Quiet: full log in <cache>/logs/sqlite.log.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=lib.sh
source "$here/lib.sh"

SQLITE_VERSION=3.40.1
SQLITE_DEB_VERSION=3.40.1-2+deb12u2
SQLITE_ORIG=sqlite3_3.40.1.orig.tar.xz
SQLITE_ORIG_SHA256=aaa776260ab4dc976db34aa7891819484c8676b5b2783123ebc6301e2ca5d655
RECIPE=1

# The compile options of Debian's libsqlite3 (debian/rules), plus the math functions
# its configure turns on by default.
defines=(
    -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA
    -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS
    -DSQLITE_ENABLE_RTREE=1 -DSQLITE_SOUNDEX=1
    -DSQLITE_ENABLE_UNLOCK_NOTIFY
    -DSQLITE_OMIT_LOOKASIDE=1 -DSQLITE_ENABLE_DBSTAT_VTAB
    -DSQLITE_ALLOW_ROWID_IN_VIEW
    -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1
    -DSQLITE_ENABLE_LOAD_EXTENSION
    -DSQLITE_ENABLE_JSON1
    -DSQLITE_LIKE_DOESNT_MATCH_BLOBS
    -DSQLITE_THREADSAFE=1
    -DSQLITE_ENABLE_FTS3_TOKENIZER=1
    -DSQLITE_USE_URI=1
    -DSQLITE_MAX_SCHEMA_RETRY=25
    -DSQLITE_ENABLE_PREUPDATE_HOOK
    -DSQLITE_ENABLE_SESSION
    -DSQLITE_ENABLE_STMTVTAB
    -DSQLITE_MAX_VARIABLE_NUMBER=250000
    -DSQLITE_ENABLE_MATH_FUNCTIONS
)
cflags=(-O2 -DNDEBUG)

prefix="$VELMORA_WINDOWS_CACHE/sqlite-$SQLITE_VERSION-mingw"
build="$VELMORA_WINDOWS_CACHE/build/sqlite-$SQLITE_VERSION-mingw"
log="$VELMORA_WINDOWS_CACHE/logs/sqlite.log"
stamp_text="sqlite3 $SQLITE_DEB_VERSION recipe $RECIPE sha256 $SQLITE_ORIG_SHA256 flags ${cflags[*]} ${defines[*]}"

if [ -f "$prefix/.velmora-complete" ] && [ "$(cat "$prefix/.velmora-complete")" = "$stamp_text" ]; then
    echo "$prefix"
    exit 0
fi

cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar
command -v "$cc" >/dev/null || die "$cc missing: run scripts/windows/install-deps.sh"
command -v tclsh >/dev/null || die "tclsh missing (package tcl): run scripts/windows/install-deps.sh"
command -v gcc >/dev/null || die "host gcc missing"

mkdir -p "$VELMORA_WINDOWS_CACHE/logs"
: >"$log"
echo "SQLite $SQLITE_VERSION for mingw: log in $log" >&2

src="$(fetch_debian_source sqlite3 "$SQLITE_DEB_VERSION" "$SQLITE_ORIG" "$SQLITE_ORIG_SHA256" "$VELMORA_WINDOWS_CACHE/src" "$log")"

# The amalgamation, made on the host (its generator tools are host programs).
rm -rf "$build"
mkdir -p "$build/host"
(cd "$build/host" && run_logged "$log" "$src/configure" --disable-tcl --disable-readline)
# Debian's patch adds AMALGAMATION_LINE_MACROS to configure.ac only (Debian regenerates
# configure), so it is given here.
(cd "$build/host" && run_logged "$log" make AMALGAMATION_LINE_MACROS=--linemacros=0 sqlite3.c)
grep -q "^#define SQLITE_VERSION  *\"$SQLITE_VERSION\"" "$build/host/sqlite3.h" \
    || die "generated sqlite3.h is not version $SQLITE_VERSION"

# Cross-compiled static library.
run_logged "$log" "$cc" "${cflags[@]}" "${defines[@]}" -c "$build/host/sqlite3.c" -o "$build/sqlite3.o"
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib"
run_logged "$log" "$ar" rcs "$prefix/lib/libsqlite3.a" "$build/sqlite3.o"
cp "$build/host/sqlite3.h" "$src/src/sqlite3ext.h" "$prefix/include/"
printf '%s' "$stamp_text" >"$prefix/.velmora-complete"
echo "$prefix"
