#!/usr/bin/env bash
# Runs one fuzz target for a while and fails on any finding.
#
#   run_fuzz.sh [--seed N] [--fresh] TARGET SEEDS WORK SECONDS [libFuzzer flags...]
#
# TARGET is a fuzz binary of the sanitizer tree, SEEDS the committed seed corpus (only read),
# WORK a folder of its own: WORK/corpus gathers the inputs that found new paths (--fresh empties
# it first), WORK/findings keeps the input of a finding. The run ends after SECONDS or at the first
# finding (a crash, a sanitizer report, a broken invariant, a leak, a slow input).
set -euo pipefail
seed=()
fresh=0
while [ $# -gt 0 ]; do
  case $1 in
    --seed) seed=(-seed="$2"); shift 2 ;;
    --fresh) fresh=1; shift ;;
    *) break ;;
  esac
done
if [ $# -lt 4 ]; then
  echo "usage: $0 [--seed N] [--fresh] TARGET SEEDS WORK SECONDS [libFuzzer flags...]" >&2
  exit 64
fi
target=$1 seeds=$2 work=$3 seconds=$4
shift 4
[ -x "$target" ] || { echo "$target: not built (tests/fuzz/build_sanitized.sh builds it)" >&2; exit 1; }
[ "$fresh" = 1 ] && rm -rf "$work/corpus"
rm -rf "$work/findings"
mkdir -p "$work/corpus" "$work/findings"

# Inputs up to 8 KiB: the receive target repeats its frames up to 32 KiB from that. An input
# that takes 20 s is a finding too.
status=0
"$target" "${seed[@]}" -max_total_time="$seconds" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/findings/" "$@" "$work/corpus" "$seeds" \
  >"$work/log" 2>&1 || status=$?

# The progress lines say little afterwards; the rest (seed, report, figures) is kept.
summary() { grep -Ev '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|RELOAD)' "$work/log" || true; }
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/findings")" ]; then
  summary
  echo
  echo "$(basename "$target"): finding (exit status $status). Input kept in $work/findings:"
  ls "$work/findings"
  echo "Reproduce with: $target $work/findings/<file>"
  exit 1
fi
grep -E '^(INFO: Seed|Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/log"
echo "$(basename "$target"): nothing found; $(ls "$work/corpus" | wc -l) inputs in $work/corpus"
