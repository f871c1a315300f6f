#!/usr/bin/env bash
# Runs the type-library builder under Wine in a throwaway prefix, so the build neither needs nor
# touches anyone's own Wine setup. Usage: run_builder.sh BUILDER.exe OUT.tlb IID.bin SRCIID.bin
set -euo pipefail
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tolvak-tlb.XXXXXX")
cleanup() {
  WINEPREFIX="$prefix" timeout 60 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
timeout 300 wine "$@" 2> >(grep -v -e '^wine: ' -e 'nodrv_CreateWindow' -e '^[0-9a-f]*:err:' >&2)
WINEPREFIX="$prefix" timeout 120 wineserver -w
