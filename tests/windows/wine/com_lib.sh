# Shared by the tests/windows/*.test.sh scripts: the Wine environment of the bitness under test
# (TOLVAK_WIN_ARCH), the test programs of that bitness, and small checks.
: "${WINEPREFIX:?the Wine prefix with Tolvak.ocx registered}"
: "${TOLVAK_WIN_BUILD:?the cross build folder holding the test programs}"
: "${TOLVAK_OCX:?the path of Tolvak.ocx}"
: "${TOLVAK_WIN_ARCH:?win32 or win64}"
. "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/wine-env.sh" "$TOLVAK_WIN_ARCH"
export WINEPREFIX

com_failures=0
com_fail() {
    echo "FAIL $*"
    com_failures=$((com_failures + 1))
}

# The path of a test program built from tests/windows/<name>.cpp.
com_exe() {
    local exe
    exe=$(find "$TOLVAK_WIN_BUILD" -name "$1.exe" -print -quit)
    [ -n "$exe" ] || { echo "$1.exe not found under $TOLVAK_WIN_BUILD" >&2; return 1; }
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
