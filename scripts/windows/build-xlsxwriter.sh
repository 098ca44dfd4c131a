#!/usr/bin/env bash
# Builds libxlsxwriter, and the zlib it needs, as static libraries for
# x86_64-w64-mingw32 from Debian's own source packages (libxlsxwriter, zlib), so the
# Windows program writes the same spreadsheets as the Linux one. The static Qt
# carries a zlib of its own, but with its names prefixed (z_deflate...), which
# libxlsxwriter's zip writer cannot use.
#
# Differences from Debian's build, each for the static Windows library: the zip
# writer (minizip) and MD5 bundled with libxlsxwriter instead of the system's;
# numbers printed by its own locale-independent dtoa; and its file opening taught
# UTF-8 names on mingw too (upstream skips _wfopen there), so a folder such as
# C:\Users\张伟 works.
#
# The result goes to a cache folder outside the repo:
#   ${VELMORA_WINDOWS_CACHE:-$HOME/.cache/velmora-windows}/xlsxwriter-1.1.4-mingw
# (include/xlsxwriter.h, include/zlib.h, lib/libxlsxwriter.a, lib/libz.a; found by
# CMake through the toolchain file) and is reused while its stamp matches this recipe.
# Prints that folder on stdout. Quiet: full log in <cache>/logs/xlsxwriter.log.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=lib.sh
source "$here/lib.sh"

XLSX_VERSION=1.1.4
XLSX_DEB_VERSION=1.1.4-2
XLSX_ORIG=libxlsxwriter_1.1.4.orig.tar.gz
XLSX_ORIG_SHA256=b379eb35fdd9c653ebe72485b9c992f612c7ea66f732784457997d6e782f619b
ZLIB_DEB_VERSION=1:1.2.13.dfsg-1
ZLIB_ORIG=zlib_1.2.13.dfsg.orig.tar.bz2
ZLIB_ORIG_SHA256=71feb7947e3c00ef125f83b79a4e529bde31171e5babe48b391f06758d1ab0a1
RECIPE=1
cflags=(-O2 -DNDEBUG)

prefix="$VELMORA_WINDOWS_CACHE/xlsxwriter-$XLSX_VERSION-mingw"
build="$VELMORA_WINDOWS_CACHE/build/xlsxwriter-$XLSX_VERSION-mingw"
log="$VELMORA_WINDOWS_CACHE/logs/xlsxwriter.log"
stamp_text="libxlsxwriter $XLSX_DEB_VERSION sha256 $XLSX_ORIG_SHA256 zlib $ZLIB_DEB_VERSION sha256 $ZLIB_ORIG_SHA256 recipe $RECIPE flags ${cflags[*]}"

if [ -f "$prefix/.velmora-complete" ] && [ "$(cat "$prefix/.velmora-complete")" = "$stamp_text" ]; then
    echo "$prefix"
    exit 0
fi

cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar
command -v "$cc" >/dev/null || die "$cc missing: run scripts/windows/install-deps.sh"
command -v cmake >/dev/null || die "cmake missing"

mkdir -p "$VELMORA_WINDOWS_CACHE/logs"
: >"$log"
echo "libxlsxwriter $XLSX_VERSION and zlib for mingw: log in $log" >&2

zlib_src="$(fetch_debian_source zlib "$ZLIB_DEB_VERSION" "$ZLIB_ORIG" "$ZLIB_ORIG_SHA256" "$VELMORA_WINDOWS_CACHE/src" "$log")"
xlsx_src="$(fetch_debian_source libxlsxwriter "$XLSX_DEB_VERSION" "$XLSX_ORIG" "$XLSX_ORIG_SHA256" "$VELMORA_WINDOWS_CACHE/src" "$log")"

rm -rf "$build" "$prefix"
mkdir -p "$build/zlib" "$prefix/include" "$prefix/lib"

# zlib: its library sources compiled as they are (the Makefiles would build the tools too).
for c in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
         inftrees trees uncompr zutil; do
    run_logged "$log" "$cc" "${cflags[@]}" -c "$zlib_src/$c.c" -o "$build/zlib/$c.o"
done
run_logged "$log" "$ar" rcs "$prefix/lib/libz.a" "$build/zlib"/*.o
cp "$zlib_src/zlib.h" "$zlib_src/zconf.h" "$prefix/include/"

# libxlsxwriter: a copy of the source with _wfopen on mingw, built by its own CMake.
cp -a "$xlsx_src" "$build/xlsx-src"
sed -i 's/^#ifdef __MINGW32__$/#if 0 \/* mingw-w64 has _wfopen: UTF-8 file names *\//' \
    "$build/xlsx-src/src/utility.c"
grep -q '^#if 0 /\* mingw-w64 has _wfopen' "$build/xlsx-src/src/utility.c" \
    || die "libxlsxwriter's utility.c no longer has the mingw fopen switch"
run_logged "$log" cmake -S "$build/xlsx-src" -B "$build/xlsx" \
    -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
    -DCMAKE_RC_COMPILER=x86_64-w64-mingw32-windres -DCMAKE_AR="$(command -v "$ar")" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="${cflags[*]}" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" \
    -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
    -DUSE_SYSTEM_MINIZIP=OFF -DUSE_DTOA_LIBRARY=ON
run_logged "$log" cmake --build "$build/xlsx" -j"$VELMORA_WINDOWS_JOBS"
run_logged "$log" cmake --install "$build/xlsx"
[ -f "$prefix/lib/libxlsxwriter.a" ] || die "libxlsxwriter.a was not installed"
printf '%s' "$stamp_text" >"$prefix/.velmora-complete"
echo "$prefix"
