#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what it needs, builds the Linux face and
# its tests, runs them, then cross-builds Tolvak.ocx and runs the Windows tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2 --timeout 300
