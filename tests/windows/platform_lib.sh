# Shared by the platform_*.test.sh scripts: the Wine environment and the test programs.
: "${WINEPREFIX:=/tmp/wine-b}"
: "${TOLVAK_WIN_BUILD:?the cross build folder holding the test programs}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The path of a test program built from tests/windows/<name>.cpp.
platform_exe() {
    local exe
    exe=$(find "$TOLVAK_WIN_BUILD" -name "$1.exe" -print -quit)
    if [ -z "$exe" ]; then
        echo "$1.exe not found under $TOLVAK_WIN_BUILD" >&2
        return 1
    fi
    echo "$exe"
}

# Runs a test program under Wine: name, time limit in seconds, then the program's arguments.
# Its exit status is its number of failures.
run_platform_program() {
    local exe status=0 limit=${2:-120}
    exe=$(platform_exe "$1") || return 1
    shift $(($# < 2 ? $# : 2))
    timeout "$limit" wine "$exe" "$@" || status=$?
    timeout 60 wineserver -w || true
    return "$status"
}
