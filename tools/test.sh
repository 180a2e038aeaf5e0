#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
vantrope_install "${VANTROPE_BUILD_PACKAGES[@]}" "${VANTROPE_TEST_PACKAGES[@]}"
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-test -j "$(nproc)"
ctest --test-dir build-test --output-on-failure -j "$(nproc)"
