#!/usr/bin/env bash
# The demo from a fresh machine: installs what building the tool needs (not the test tools),
# builds the tool alone, and runs `tolvak demo` (a simulated indicator read through a
# pseudo-terminal). Arguments go to the demo, e.g. scripts/demo.sh --seconds 10.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh build
# The tests and benchmarks need the test tools; scripts/test.sh turns them back on.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVAK_BUILD_TESTS=OFF \
  -DTOLVAK_BUILD_BENCH=OFF > /dev/null
cmake --build build -j"$(nproc)" --target tolvak
exec build/apps/tolvak/tolvak demo "$@"
