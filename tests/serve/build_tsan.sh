#!/usr/bin/env bash
# Configures and builds the tool alone with ThreadSanitizer (clang): the serve suite runs against
# it, so that the server's thread and the reader's meet only where they should.
# Usage: build_tsan.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 64; }
source=$(cd "$(dirname "$0")/../.." && pwd)
cmake -S "$source" -B "$1" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLVAK_SANITIZE_THREAD=ON -DTOLVAK_BUILD_TESTS=OFF -DTOLVAK_BUILD_BENCH=OFF > /dev/null
cmake --build "$1" -j2 --target tolvak
