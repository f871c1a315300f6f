#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what it needs, builds the Linux face and
# its tests, runs them, then cross-builds both Tolvak.ocx files and runs the Windows tests under
# Wine against each bitness this host can run (32-bit ones are reported as skipped elsewhere;
# TOLVAK_SKIP_WIN32=1 skips them on any host).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVAK_BUILD_TESTS=ON -DTOLVAK_BUILD_BENCH=ON
cmake --build build -j"$(nproc)"
status=0
ctest --test-dir build --output-on-failure -j2 --timeout 300 || status=$?
if ! scripts/host-runs-32bit.sh; then
  echo "test.sh: 32-bit Wine tests skipped (this host runs no 32-bit programs, or" \
    "TOLVAK_SKIP_WIN32=1); ran the native tests and the Windows suite against the 64-bit" \
    "Tolvak.ocx, and checked the 32-bit Tolvak.ocx's type library from 64-bit Wine."
fi
exit "$status"
