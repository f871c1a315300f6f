#!/usr/bin/env bash
# Ends the test prefix's wineserver and deletes the prefix. Usage: remove_prefix.sh PREFIX
set -uo pipefail
prefix=$1
[ -d "$prefix" ] || exit 0
WINEPREFIX="$prefix" timeout 60 wineserver -k >/dev/null 2>&1
rm -rf "$prefix"
