#!/usr/bin/env bash
# Installs what the build needs, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
vantrope_install "${VANTROPE_BUILD_PACKAGES[@]}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTROPE_TESTS=OFF -DVANTROPE_BENCH=OFF
cmake --build build -j "$(nproc)"
exec ./build/bin/vantrope
