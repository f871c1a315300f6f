# Sourced with the Windows bitness as argument (win32 or win64): exports the Wine environment the
# build and the tests use, and TOLVAK_WINE, the loader for that bitness. The 64-bit loader is
# named outright, since /usr/bin/wine tries the 32-bit one first and hosts without 32-bit
# support cannot exec it.
case "${1:-}" in
  win32) TOLVAK_WINE=$(command -v wine || true) ;;
  win64)
    TOLVAK_WINE=/usr/lib/wine/wine64
    [ -x "$TOLVAK_WINE" ] || TOLVAK_WINE=$(command -v wine64 || command -v wine || true)
    export WINELOADER="$TOLVAK_WINE"
    ;;
  *) echo "wine-env.sh: give win32 or win64" >&2; return 2 ;;
esac
[ -n "$TOLVAK_WINE" ] || { echo "wine-env.sh: no Wine loader for $1" >&2; return 1; }
export TOLVAK_WINE WINEARCH="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
