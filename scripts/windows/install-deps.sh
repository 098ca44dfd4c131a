#!/usr/bin/env bash
# Installs the Debian packages the Windows cross build and its Wine smoke test need:
# the mingw-w64 posix-thread compilers, Wine, Xvfb, CMake/Ninja, dpkg-dev (apt-get source),
# the host Qt 6 tools a Qt cross build runs (moc, rcc, uic from qt6-base-dev-tools),
# tclsh (the SQLite amalgamation is generated with it), a CJK font for Wine, zip (the
# package), xwd and xdotool (screenshots of and clicks on the program under Wine),
# GoogleTest's sources (the tests are cross-built with them) and wixl (the installer).
# Does nothing (and needs no network) when every package is already present.
set -euo pipefail

packages=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64
    xvfb xauth
    cmake ninja-build
    dpkg-dev
    qt6-base-dev qt6-base-dev-tools
    tcl
    zip x11-apps xdotool
    wixl
    googletest
    fonts-wqy-microhei fonts-dejavu-core
)

exec bash "$(dirname "$0")/../install-packages.sh" "${packages[@]}"
