# Shared by the *.test.sh scripts of tests/ocx and tests/platform/win32: the Wine environment of
# the bitness under test (TOLVAK_WIN_ARCH), the test programs of that bitness, and small checks.
: "${WINEPREFIX:?the Wine prefix with Tolvak.ocx registered}"
: "${TOLVAK_WIN_BUILD:?the cross build folder holding the test programs}"
: "${TOLVAK_OCX:?the path of Tolvak.ocx}"
: "${TOLVAK_WIN_ARCH:?win32 or win64}"
com_source=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)
. "$com_source/scripts/wine-env.sh" "$TOLVAK_WIN_ARCH"
export WINEPREFIX
# The test script's folder, relative to the source tree: its programs are in the same folder of
# the cross build.
com_tests=$(cd "$(dirname "$0")" && pwd -P)
com_tests=${com_tests#"$com_source"/}

com_failures=0
com_fail() {
    echo "FAIL $*"
    com_failures=$((com_failures + 1))
}

# The path of the test program built from <name>.cpp beside the test script. Only that place is
# looked at: a program of the same name elsewhere in the build (left there by an older layout of
# the tests) is not the one to run.
com_exe() {
    local exe="$TOLVAK_WIN_BUILD/$com_tests/$1.exe"
    [ -f "$exe" ] || { echo "$exe not found (scripts/build-ocx.sh --tests builds it)" >&2; return 1; }
    echo "$exe"
}

# Runs a test program under Wine; its exit status is its number of failures.
com_run() {
    local exe status=0
    exe=$(com_exe "$1") || return 1
    shift
    timeout 300 "$TOLVAK_WINE" "$exe" "$@" || status=$?
    timeout 60 wineserver -w || true
    return "$status"
}

com_winpath() { timeout 30 "$TOLVAK_WINE" winepath -w "$1"; }
