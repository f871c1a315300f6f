#!/usr/bin/env bash
# The demo from a fresh machine: installs what building needs, builds the tool, and runs
# `tolvak demo` (a simulated indicator read through a pseudo-terminal). Arguments go to the
# demo, e.g. scripts/demo.sh --seconds 10.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j"$(nproc)" --target tolvak
exec build/apps/tolvak/tolvak demo "$@"
