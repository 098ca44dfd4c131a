#!/usr/bin/env bash
# What the fuzz harnesses need beyond the project's own packages: clang and its
# fuzzer and sanitizer runtimes. Does nothing (and needs no network) when present.
set -euo pipefail

packages=(clang libclang-rt-14-dev)

exec bash "$(dirname "$0")/../scripts/install-packages.sh" "${packages[@]}"
