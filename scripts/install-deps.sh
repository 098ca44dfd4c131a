#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Does nothing (and needs no network) when every package is already present.
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev libgl-dev qt6-qpa-plugins qt6-translations-l10n
    fonts-wqy-microhei
    xvfb xauth
    libjpeg-dev
    clang-format
    libsqlite3-dev
    libxlsxwriter-dev zlib1g-dev
    python3-openpyxl
    libpq-dev postgresql openssl
    dpkg-dev lintian desktop-file-utils appstream
    poppler-utils
)

exec bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"
