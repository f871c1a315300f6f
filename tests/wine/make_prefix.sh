#!/usr/bin/env bash
# Makes a fresh Wine prefix of the bitness TOLVAK_WIN_ARCH (win32 or win64) for the tests (null
# graphics driver, no Mono or Gecko) and registers Tolvak.ocx of that bitness in it with Wine's
# regsvr32. Usage: make_prefix.sh PREFIX OCX
set -euo pipefail
prefix=$1 ocx=$2
[ -f "$ocx" ] || { echo "make_prefix.sh: $ocx not found" >&2; exit 1; }
. "$(dirname "$0")/../../scripts/wine-env.sh" "${TOLVAK_WIN_ARCH:?win32 or win64}"
export WINEPREFIX="$prefix"
if [ -d "$prefix" ]; then
  timeout 60 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
fi
timeout 180 "$TOLVAK_WINE" wineboot -i
timeout 60 "$TOLVAK_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
# The captions are Chinese: where a CJK font is installed (fonts-wqy-microhei), let the dialog
# fonts fall back to it, so pictures of the control show them.
for face in Tahoma "MS Shell Dlg" "MS Sans Serif" "Microsoft Sans Serif"; do
  timeout 60 "$TOLVAK_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null
done
timeout 120 wineserver -w
timeout 60 "$TOLVAK_WINE" regsvr32 /s "$(timeout 30 "$TOLVAK_WINE" winepath -w "$ocx")"
timeout 120 wineserver -w
echo "prefix $prefix ready, $ocx registered"
