#!/usr/bin/env bash
# Exits 0 when this host can execute 32-bit x86 programs, 1 when it cannot, by running one: a
# 32-bit ELF of 160 bytes that only exits with status 42. Kernels built or booted without 32-bit
# emulation refuse to exec it ("Exec format error"). TOLVAK_SKIP_WIN32=1 answers "cannot" without
# trying, so the path for such hosts can be exercised anywhere.
set -u
[ "${TOLVAK_SKIP_WIN32:-0}" = 1 ] && exit 1
program=$(mktemp "${TMPDIR:-/tmp}/tolvak-i386.XXXXXX")
trap 'rm -f "$program"' EXIT
python3 - "$program" <<'PY'
import struct, sys
base = 0x08048000
# exit(42) through int 0x80, padded: some loaders read a fixed-size head of the file
code = bytes.fromhex("b801000000" "bb2a000000" "cd80") + bytes(64)
ehdr = struct.pack("<4sBBBB8xHHIIIIIHHHHHH", b"\x7fELF", 1, 1, 1, 0,
                   2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 40, 0, 0)
phdr = struct.pack("<IIIIIIII", 1, 0, base, base, 84 + len(code), 84 + len(code), 5, 0x1000)
open(sys.argv[1], "wb").write(ehdr + phdr + code)
PY
chmod +x "$program"
"$program" 2>/dev/null
[ $? -eq 42 ]
