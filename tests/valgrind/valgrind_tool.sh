#!/usr/bin/env bash
# Runs the tool under valgrind, as users run it; a memory error, a use of an uninitialised value
# or a leak fails, and so does a reading that does not come out as it should.
#
#   valgrind_tool.sh replay TOOL   replay of a 1 MB indicator stream at several --decimals: every
#                                  frame must reach the display; at --decimals 400 none can be
#                                  scaled and the error must be reported
#   valgrind_tool.sh read TOOL     read --once on a pseudo-terminal fed by the simulated indicator
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 replay|read TOOL" >&2; exit 64; }
mode=$1 tool=$2
here=$(cd "$(dirname "$0")" && pwd)
command -v valgrind >/dev/null || { echo "valgrind not found: scripts/setup.sh installs it" >&2; exit 1; }

work=$(mktemp -d)
indicator=
cleanup() {
  if [ -n "$indicator" ]; then
    kill "$indicator" 2>/dev/null || true
    wait "$indicator" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# timeout: a hang fails here rather than at the test's own limit.
undervalgrind() {
  timeout 300 valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --track-origins=yes "$tool" "$@"
}

replay() {
  local frames shown decimals
  frames=$(python3 "$here/make_stream.py" 1000000 2>&1 >"$work/stream")
  # Plain weights, small ones, exponent form both ways, and values multiplied up.
  for decimals in 0 2 6 20 -12; do
    if ! undervalgrind replay "$work/stream" --decimals "$decimals" --chunk-size 61 >"$work/out"; then
      echo "FAIL: replay --decimals $decimals under valgrind" >&2
      return 1
    fi
    shown=$(grep -c '^display ' "$work/out" || true)
    if [ "$shown" != "$frames" ]; then
      echo "FAIL: replay --decimals $decimals showed $shown of $frames frames" >&2
      return 1
    fi
    echo "replay --decimals $decimals: $shown frames shown, valgrind clean"
  done
  # No numeric frame can be scaled: the error path, reported on stderr; only frames that are no
  # number reach the display.
  if ! undervalgrind replay "$work/stream" --decimals 400 --chunk-size 61 >"$work/out" 2>"$work/err"; then
    cat "$work/err" >&2
    echo "FAIL: replay --decimals 400 under valgrind" >&2
    return 1
  fi
  if ! grep -q 'receive error 6: Overflow' "$work/err" || grep '^display ' "$work/out" | grep -vqx 'display 0'; then
    echo "FAIL: replay --decimals 400 did not report overflow, or showed a number" >&2
    return 1
  fi
  echo "replay --decimals 400: overflow reported, valgrind clean"
}

read_pty() {
  local pty= args expected got
  # The indicator runs natively; only the reader is under valgrind.
  "$tool" indicator --weight 1234.5 --places 1 --rate 50 --seconds 300 >"$work/indicator" 2>&1 &
  indicator=$!
  for _ in $(seq 100); do
    pty=$(head -n 1 "$work/indicator")
    [ -n "$pty" ] && break
    sleep 0.1
  done
  [ -n "$pty" ] || { echo "FAIL: the indicator printed no device" >&2; return 1; }
  while IFS='|' read -r args expected; do
    # shellcheck disable=SC2086 # the options are words
    if ! got=$(undervalgrind read --device "$pty" --once --timeout 60 $args); then
      echo "FAIL: read --once $args under valgrind" >&2
      return 1
    fi
    case $got in
      $expected) echo "read --once $args: $got, valgrind clean" ;;
      *) echo "FAIL: read --once $args printed '$got', expected '$expected'" >&2; return 1 ;;
    esac
  done <<'EOF'
|1234.5
--decimals 9|1.2345E-06
--json --decimals 2|{"weight":"12.345","value":12.345,"time":*}
EOF
}

case $mode in
  replay) replay ;;
  read) read_pty ;;
  *) echo "usage: $0 replay|read TOOL" >&2; exit 64 ;;
esac
