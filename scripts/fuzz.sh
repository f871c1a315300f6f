#!/usr/bin/env bash
# Runs one fuzz target for longer than the test suite's 30-second slice.
#
#   scripts/fuzz.sh TARGET [SECONDS] [libFuzzer flags...]
#
# TARGET: receive, dispatch or number_text. SECONDS: 600 unless given. Builds the ASan+UBSan tree
# first (build/sanitize, or $TOLVAK_SANITIZE_DIR). The corpus grows in DIR/fuzz/TARGET/corpus from
# one campaign to the next, starting from the committed seeds in tests/fuzz/corpus/TARGET; each run
# takes a new random seed. The first finding stops the run, is kept in DIR/fuzz/TARGET/findings and
# makes the exit status 1.
set -euo pipefail
cd "$(dirname "$0")/.."
targets="receive dispatch number_text"
usage="usage: scripts/fuzz.sh TARGET [SECONDS] [libFuzzer flags...]   (TARGET: ${targets// /, })"
if [ "${1:-}" = --help ]; then
  echo "$usage"
  exit 0
fi
if [ $# -lt 1 ] || ! [[ " $targets " == *" $1 "* ]]; then
  echo "$usage" >&2
  exit 64
fi
target=$1
seconds=${2:-600}
shift $(($# < 2 ? $# : 2))
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "scripts/fuzz.sh: SECONDS must be a whole number above 0, not '$seconds'" >&2
  exit 64
fi
dir=${TOLVAK_SANITIZE_DIR:-build/sanitize}
mkdir -p "$dir"
tests/fuzz/build_sanitized.sh "$dir" >"$dir/build.log" 2>&1 || {
  cat "$dir/build.log" >&2
  echo "scripts/fuzz.sh: the sanitizer build failed" >&2
  exit 1
}
echo "fuzz_$target for $seconds s (log: $dir/fuzz/$target/log)"
start=$(date +%s)
status=0
tests/fuzz/run_fuzz.sh "$dir/tests/fuzz/fuzz_$target" "tests/fuzz/corpus/$target" \
  "$dir/fuzz/$target" "$seconds" "$@" || status=$?
echo "ran $(($(date +%s) - start)) s"
exit "$status"
