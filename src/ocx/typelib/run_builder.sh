#!/usr/bin/env bash
# Runs the (64-bit) type-library builder under 64-bit Wine in a throwaway prefix, so the build
# neither needs nor touches anyone's own Wine setup.
# Usage: run_builder.sh BUILDER.exe win32|win64 OUT.tlb IID.bin SRCIID.bin
set -euo pipefail
. "$(dirname "$0")/../../../scripts/wine-env.sh" win64
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tolvak-tlb.XXXXXX")
cleanup() {
  WINEPREFIX="$prefix" timeout 60 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX="$prefix"
timeout 300 "$TOLVAK_WINE" "$@" 2> >(grep -v -e '^wine: ' -e 'nodrv_CreateWindow' -e '^[0-9a-f]*:err:' >&2)
timeout 120 wineserver -w
