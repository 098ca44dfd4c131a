#!/usr/bin/env bash
# Builds Qt 6 (Core, Gui, Widgets, the windows platform plugin, the windowsvista style,
# the JPEG image plugin) as static libraries for x86_64-w64-mingw32 from Debian's own
# qt6-base source package, the same version as the host tools it runs (qt6-base-dev-tools).
#
# The result goes to a cache folder outside the repository:
#   ${VELMORA_WINDOWS_CACHE:-$HOME/.cache/velmora-windows}/qt-6.4.2-mingw-static
# and is reused while its stamp matches this recipe. Prints that folder on stdout.
# Quiet: the full log is <cache>/logs/qt.log; on failure its last lines are printed.
# An interrupted run resumes its build folder (<cache>/build/...) when started again;
# the build folder is removed once the install is complete.
# Takes about 40 minutes on two cores; runs niced with VELMORA_WINDOWS_JOBS jobs (2 unless
# told: VELMORA_WINDOWS_JOBS=$(nproc) on a machine of its own builds it in minutes).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
# shellcheck source=lib.sh
source "$here/lib.sh"

QT_VERSION=6.4.2
QT_DEB_VERSION=6.4.2+dfsg-10
QT_ORIG=qt6-base_6.4.2+dfsg.orig.tar.xz
QT_ORIG_SHA256=4f14b89a9463a540fd84a6718b8519a2297119b454ef547721015a9e9019ae9e
RECIPE=1   # bump when the steps below change in a way the options do not show

prefix="$VELMORA_WINDOWS_CACHE/qt-$QT_VERSION-mingw-static"
build="$VELMORA_WINDOWS_CACHE/build/qt-$QT_VERSION-mingw-static"
log="$VELMORA_WINDOWS_CACHE/logs/qt.log"
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"
host_cmake=/usr/lib/x86_64-linux-gnu/cmake

options=(
    -G Ninja
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX="$prefix"
    -DCMAKE_TOOLCHAIN_FILE="$toolchain"
    -DVELMORA_WINDOWS_PREFIX="$prefix"
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR="$host_cmake"
    -DBUILD_SHARED_LIBS=OFF
    -DFEATURE_static_runtime=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_pkg_config=OFF
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite=OFF -DFEATURE_directwrite3=OFF
    -DFEATURE_tabletevent=OFF
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_testlib=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_fontconfig=OFF
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_style_windowsvista=ON
    -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF
    -DFEATURE_harfbuzz=ON -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_png=ON -DFEATURE_system_png=OFF
    -DFEATURE_jpeg=ON -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_pcre2=ON -DFEATURE_system_pcre2=OFF
    -DFEATURE_doubleconversion=ON -DFEATURE_system_doubleconversion=OFF
)
stamp_text="qt6-base $QT_DEB_VERSION recipe $RECIPE sha256 $QT_ORIG_SHA256 options ${options[*]}"

# The toolchain file is named by its path, which differs between checkouts (a worktree):
# a stamp from another checkout of the same recipe matches too.
same_recipe() {
    local norm='s#-DCMAKE_TOOLCHAIN_FILE=[^ ]*/cmake/mingw-w64-x86_64\.cmake#-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake#'
    [ -f "$1" ] && [ "$(sed -E "$norm" "$1")" = "$(printf '%s' "$stamp_text" | sed -E "$norm")" ]
}

if same_recipe "$prefix/.velmora-complete"; then
    echo "$prefix"
    exit 0
fi

command -v x86_64-w64-mingw32-g++-posix >/dev/null || die "x86_64-w64-mingw32-g++-posix missing: run scripts/windows/install-deps.sh"
host_qt="$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)"
case "$host_qt" in
    "$QT_VERSION"+*) ;;
    *) die "host Qt tools (qt6-base-dev-tools) are '$host_qt', need $QT_VERSION: run scripts/windows/install-deps.sh" ;;
esac
[ -d "$host_cmake/Qt6HostInfo" ] || die "$host_cmake/Qt6HostInfo missing (package qt6-base-dev)"

mkdir -p "$VELMORA_WINDOWS_CACHE/logs"
: >"$log"
echo "Qt $QT_VERSION for mingw: log in $log" >&2

src="$(fetch_debian_source qt6-base "$QT_DEB_VERSION" "$QT_ORIG" "$QT_ORIG_SHA256" "$VELMORA_WINDOWS_CACHE/src" "$log")"

# Without OpenGL the windows platform plugin does not compile: isSoftwareGl() reaches
# for the dynamic-GL code unless the opengl feature guards it too.
f="$src/src/plugins/platforms/windows/qwindowswindow.cpp"
if grep -q '^#if QT_CONFIG(dynamicgl)$' "$f"; then
    line="$(grep -n 'static inline bool isSoftwareGl()' "$f" | cut -d: -f1)"
    [ -n "$line" ] || die "isSoftwareGl() not found in $f"
    sed -i "$((line + 2))s/^#if QT_CONFIG(dynamicgl)\$/#if QT_CONFIG(opengl) \&\& QT_CONFIG(dynamicgl)/" "$f"
fi
sed -n "$(grep -n 'static inline bool isSoftwareGl()' "$f" | cut -d: -f1),+3p" "$f" \
    | grep -q '^#if QT_CONFIG(opengl) && QT_CONFIG(dynamicgl)$' || die "patching isSoftwareGl() in $f failed"

# A build folder configured with other options is started afresh; otherwise it resumes.
if ! same_recipe "$build/.velmora-options" || [ ! -f "$build/build.ninja" ]; then
    rm -rf "$build"
    mkdir -p "$build"
    echo "  configuring (about a minute)" >&2
    run_logged "$log" cmake -S "$src" -B "$build" "${options[@]}"
    printf '%s' "$stamp_text" >"$build/.velmora-options"
fi

echo "  building with $VELMORA_WINDOWS_JOBS jobs (about 40 minutes with two)" >&2
start=$(date +%s)
run_logged "$log" cmake --build "$build" --parallel "$VELMORA_WINDOWS_JOBS"
echo "  built in $(( $(date +%s) - start )) s; installing" >&2
rm -rf "$prefix"
run_logged "$log" cmake --install "$build"
printf '%s' "$stamp_text" >"$prefix/.velmora-complete"
rm -rf "$build"   # 2.3 GB that only an interrupted build needs
echo "  installed: $(du -sh "$prefix" | cut -f1)" >&2
echo "$prefix"
