#!/usr/bin/env bash
# Configures and builds the ASan+UBSan tree with clang: the unit and pseudo-terminal tests, the
# tool they run, and the fuzz targets. Usage: build_sanitized.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 64; }
source=$(cd "$(dirname "$0")/../.." && pwd)
if ! command -v clang++ >/dev/null; then
  echo "clang++ not found: scripts/setup.sh installs it (clang, libclang-rt-dev)" >&2
  exit 1
fi
cmake -S "$source" -B "$1" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLVAK_SANITIZE=ON -DTOLVAK_BUILD_BENCH=OFF
cmake --build "$1" -j2
