#!/usr/bin/env bash
# The Windows installer under 64-bit Wine, in a prefix of its own: install (without and with a
# device), upgrade to a newer version, uninstall, and each time check what is on the machine.
# The 32-bit registry view is read where Wine shows it; the tables say the rest.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine-env.sh" win64
export WINEPREFIX=$(mktemp -d)/prefix
work=$(dirname "$WINEPREFIX")
trap 'timeout 60 wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
w() { timeout 120 "$TOLVAK_WINE" "$@" 2>/dev/null | tr -d '\r'; }
settle() { timeout 120 wineserver -w || true; }

version=$(sed -n 's/^project(Tolvak VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
msi=$("$root/packaging/msi/build-msi.sh" "$root/out")
# A later version of the same product, for the upgrade.
mkdir -p "$work/next/win32" "$work/next/win64"
cp "$root/out/win32/Tolvak.ocx" "$work/next/win32/"
cp "$root/out/win64/Tolvak.ocx" "$root/out/win64/tolvak.exe" "$work/next/win64/"
next=$(TOLVAK_MSI_VERSION="${version%.*}.$((${version##*.} + 1))" \
  "$root/packaging/msi/build-msi.sh" "$work/next")

timeout 180 "$TOLVAK_WINE" wineboot -i >/dev/null 2>&1
w reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
settle

clsid='{21916DF7-9B81-4A4E-8031-F23264FB0287}'
libid='{1B209E7E-1E21-4B80-8EEF-298845378CBB}'
dir='C:\Program Files\Tolvak'
cat > "$work/create.vbs" <<'VBS'
Set t = CreateObject("Tolvak.Tolvak")
WScript.Echo "created " & TypeName(t)
VBS
vbs=$(w winepath -w "$work/create.vbs")

# Wine's sc prints no configuration: the service's key holds it.
service() { w reg query 'HKLM\System\CurrentControlSet\Services\Tolvak'; }
installed() { # STATE: what every part of the product looks like, one line each
  local f
  for f in tolvak.exe LICENSE.txt 'x86\Tolvak.ocx' 'x64\Tolvak.ocx'; do
    [ -f "$(w winepath -u "$dir\\$f")" ] && echo "file $f" || echo "no file $f"
  done
  w reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve | grep -q 'x64\\Tolvak.ocx' &&
    echo "class 64" || echo "no class 64"
  w reg query "HKCR\\TypeLib\\$libid\\5.1\\0\\win64" /ve | grep -q 'Tolvak.ocx' &&
    echo "typelib 64" || echo "no typelib 64"
  w reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve /reg:32 |
    grep -q 'x86\\Tolvak.ocx' && echo "class 32" || echo "no class 32"
  w reg query "HKCR\\Tolvak.Tolvak\\CLSID" /ve | grep -q "$clsid" && echo "progid" || echo "no progid"
  w cscript //nologo "$vbs" | grep -q '^created' && echo "created" || echo "not created"
  w reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH |
    grep -qi 'Program Files\\Tolvak' && echo "on path" || echo "not on path"
  service | grep -q 'ImagePath.*tolvak.exe service run --name=Tolvak' && echo "service" ||
    echo "no service"
}
expect() { # WHEN, then the lines `installed` must print, in order
  local when=$1 got
  shift
  settle
  got=$(installed)
  [ "$got" = "$(printf '%s\n' "$@")" ] || fail "$when: got"$'\n'"$got"
}
all=("file tolvak.exe" "file LICENSE.txt" 'file x86\Tolvak.ocx' 'file x64\Tolvak.ocx' "class 64"
     "typelib 64" "class 32" "progid" "created" "on path" "service")
none=("no file tolvak.exe" "no file LICENSE.txt" 'no file x86\Tolvak.ocx' 'no file x64\Tolvak.ocx'
      "no class 64" "no typelib 64" "no class 32" "no progid" "not created" "not on path"
      "no service")

# serve's options that serve refuses fail the installation, with serve's reason in the log:
# PROPERTIES|REASON.
while IFS='|' read -r -u 3 properties reason; do
  eval "props=($properties)"
  w msiexec /i "$(w winepath -w "$msi")" /qn "${props[@]}" \
    /l*v "$(w winepath -w "$work/refused.log")" && fail "$properties was installed"
  grep -q -- "$reason" "$work/refused.log" || fail "$properties: the refusal is not in the MSI log"
  service > /dev/null && fail "$properties: a service was left by the refused installation"
done 3<<'CASES'
SERVE_OPTIONS="--listen nowhere"|--listen: 'nowhere'
DEVICE=COM7 SERVE_OPTIONS="--scale in=COM3"|--device with --scale
CASES

w msiexec /i "$(w winepath -w "$msi")" /qn || fail "msiexec /i exited $?"
expect "installed" "${all[@]}"
service | grep -q 'Start.*0x2$' || fail "the service does not start at boot"
# Whether the installer left it stopped cannot be seen here: Wine starts every service marked
# to start at boot whenever its server starts, which is before each step.
service | grep -q 'ImagePath.*--name=Tolvak --token-file=C:\\ProgramData\\Tolvak\\Tolvak.token --device=auto$' ||
  fail "installed without a device, the service is not given its token and --device=auto"
service | grep -q 'ObjectName.*NT SERVICE\\Tolvak$' || fail "the service does not run as NT SERVICE\\Tolvak"
grep -qx '[0-9a-f]\{64\}' "$(w winepath -u 'C:\ProgramData\Tolvak\Tolvak.token')" ||
  fail "no token made for the service"

w msiexec /i "$(w winepath -w "$next")" /qn DEVICE=COM7 BAUD=9600 \
  SERVE_OPTIONS="--format status --allow-origin http://app:8080" || fail "upgrade exited $?"
expect "upgraded" "${all[@]}"
products=$(w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
  grep -c 'DisplayName.*Tolvak' || true)
[ "$products" = 1 ] || fail "after the upgrade $products products named Tolvak are installed"
service | grep -q -- '--device=COM7 --baud=9600 --format status --allow-origin http://app:8080$' ||
  fail "the service was not given DEVICE, BAUD and SERVE_OPTIONS"

w msiexec /x "$(w winepath -w "$next")" /qn || fail "msiexec /x exited $?"
expect "uninstalled" "${none[@]}"
w reg query "HKCR\\TypeLib\\$libid" >/dev/null && fail "the type library's key is left"

# Several scales in SERVE_OPTIONS, no DEVICE: the service is given the scales alone.
w msiexec /i "$(w winepath -w "$msi")" /qn SERVE_OPTIONS="--scale in=COM3 --scale out=COM4,baud=9600" ||
  fail "installing two scales exited $?"
service | grep -q 'ImagePath.*Tolvak.token --scale in=COM3 --scale out=COM4,baud=9600$' ||
  fail "the service was not given the two scales alone: $(service | grep ImagePath)"
w msiexec /x "$(w winepath -w "$msi")" /qn || fail "msiexec /x of two scales exited $?"

echo "installer: $failures failures"
[ "$failures" -eq 0 ]
