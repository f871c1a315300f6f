#!/usr/bin/env bash
# Builds out/Tolvak-<version>-x64.msi from what scripts/build-ocx.sh left in out/ (tolvak.exe,
# both Tolvak.ocx) with wixl (Debian's msitools), then adds to its tables what wixl cannot write:
# the controls' registry rows, printed by tolvak_registry_rows.exe under 64-bit Wine from the
# table DllRegisterServer walks; tolvak.exe's folder on the system PATH; the service's restart on
# failure.
# Usage: build-msi.sh [OUT_DIR] (default: out/ of the source tree)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(cd "${1:-$root/out}" && pwd)
rows_exe="${TOLVAK_WIN_BUILD_DIR:-$root/build-win}/win64/src/ocx/tolvak_registry_rows.exe"
actions_dll="${TOLVAK_WIN_BUILD_DIR:-$root/build-win}/win64/tolvak_msi_actions.dll"
version=${TOLVAK_MSI_VERSION:-$(sed -n 's/^project(Tolvak VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")}
msi="$out/Tolvak-$version-x64.msi"
for f in "$out/win64/tolvak.exe" "$out/win64/Tolvak.ocx" "$out/win32/Tolvak.ocx" "$rows_exe" "$actions_dll"; do
  [ -f "$f" ] || { echo "build-msi.sh: $f not found (scripts/build-ocx.sh builds it)" >&2; exit 1; }
done
command -v wixl > /dev/null || { echo "build-msi.sh: wixl not found (scripts/setup.sh installs it)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl takes its files by paths relative to where it runs: the licence and the installer's own
# action go beside the others.
cp "$root/LICENSE" "$out/LICENSE.txt"
cp "$actions_dll" "$out/tolvak_msi_actions.dll"
# The cabinet keeps each file's time.
[ -z "${SOURCE_DATE_EPOCH:-}" ] || touch -d "@$SOURCE_DATE_EPOCH" "$out/LICENSE.txt" \
  "$out/tolvak_msi_actions.dll" "$out/win64/tolvak.exe" "$out/win64/Tolvak.ocx" "$out/win32/Tolvak.ocx"
[ -z "${SOURCE_DATE_EPOCH:-}" ] || [ ! -f "$out/win64/libmosquitto-LICENSE.txt" ] || touch -d "@$SOURCE_DATE_EPOCH" "$out/win64/libmosquitto-LICENSE.txt"
# The same inputs give the same MSI: the codes are made from the version and the files, and with
# SOURCE_DATE_EPOCH set (scripts/release.sh) the tables' tools see that time as the clock's.
uuid_of() { # TEXT: a GUID made from its SHA-256
  local h
  h=$(printf '%s' "$1" | sha256sum | tr a-f A-F)
  echo "${h:0:8}-${h:8:4}-5${h:13:3}-A${h:17:3}-${h:20:12}"
}
msitool() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then faketime "@$SOURCE_DATE_EPOCH" "$@"; else "$@"; fi
}
# A tolvak.exe with libmosquitto in it brings that library's licence.
mosquitto=0
[ -f "$out/win64/libmosquitto-LICENSE.txt" ] && mosquitto=1
inputs=$(cat "$out/win64/tolvak.exe" "$out/win64/Tolvak.ocx" "$out/win32/Tolvak.ocx" "$actions_dll" \
  "$root/packaging/msi/tolvak.wxs" "$0" | sha256sum)
(cd "$out" && msitool wixl -a x64 -D Version="$version" -D Mosquitto="$mosquitto" -D ProductCode="$(uuid_of "Tolvak $version")" \
  -o "$msi.tmp" "$root/packaging/msi/tolvak.wxs")

# The controls' rows, each in its component's registry view.
. "$root/scripts/wine-env.sh" win64
export WINEPREFIX="$work/prefix"
timeout 300 "$TOLVAK_WINE" wineboot -i > /dev/null 2>&1
msiinfo export "$msi.tmp" Registry > "$work/Registry.idt"
for arch in win32 win64; do
  case $arch in win32) file=ocx32 dir=X86 component=Control32 ;; *) file=ocx64 dir=X64 component=Control64 ;; esac
  timeout 300 "$TOLVAK_WINE" "$rows_exe" "$arch" "$file" "$dir" "$component" | tr -d '\r' >> "$work/Registry.idt"
done
timeout 60 wineserver -k > /dev/null 2>&1 || true
grep -q '^reg_win32_' "$work/Registry.idt" && grep -q '^reg_win64_' "$work/Registry.idt" ||
  { echo "build-msi.sh: tolvak_registry_rows.exe printed no rows" >&2; exit 1; }
msitool msibuild "$msi.tmp" -i "$work/Registry.idt"

q() { msitool msibuild "$msi.tmp" -q "$1"; }
q "UPDATE \`Property\` SET \`Value\` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;DEVICE;BAUD;SERVE_OPTIONS' WHERE \`Property\` = 'SecureCustomProperties'"
# PATH: appended on install, taken out again on uninstall (system-wide).
q "CREATE TABLE \`Environment\` (\`Environment\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL LOCALIZABLE, \`Value\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Environment\`)"
q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('ToolPath', '=-*PATH', '[~];[INSTALLDIR]', 'Tool')"
q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)"
q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)"
# The service manager restarts a failed service after a minute, every time.
q "CREATE TABLE \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL LOCALIZABLE, \`Event\` INT NOT NULL, \`ResetPeriod\` LONG, \`RebootMessage\` CHAR(255) LOCALIZABLE, \`Command\` CHAR(255) LOCALIZABLE, \`Actions\` CHAR(255), \`DelayActions\` CHAR(255), \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`MsiServiceConfigFailureActions\`)"
q "INSERT INTO \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\`, \`Name\`, \`Event\`, \`ResetPeriod\`, \`Actions\`, \`DelayActions\`, \`Component_\`) VALUES ('ServiceRestart', 'Tolvak', 1, 86400, '1[~]1[~]1', '60000[~]60000[~]60000', 'Tool')"
q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('MsiConfigureServices', 'VersionMsi >= \"5.00\"', 5850)"
# The package code names this very package: made from what went into it.
summary() { msiinfo suminfo "$msi.tmp" | sed -n "s/^$1: //p"; }
msitool msibuild "$msi.tmp" -s "$(summary Subject)" "$(summary Author)" "$(summary Template)" \
  "{$(uuid_of "$version $inputs")}"
mv "$msi.tmp" "$msi"
echo "$msi"
