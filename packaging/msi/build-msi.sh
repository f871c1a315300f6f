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
version=${TOLVAK_MSI_VERSION:-$(sed -n 's/^project(Tolvak VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")}
msi="$out/Tolvak-$version-x64.msi"
for f in "$out/win64/tolvak.exe" "$out/win64/Tolvak.ocx" "$out/win32/Tolvak.ocx" "$rows_exe"; do
  [ -f "$f" ] || { echo "build-msi.sh: $f not found (scripts/build-ocx.sh builds it)" >&2; exit 1; }
done
command -v wixl > /dev/null || { echo "build-msi.sh: wixl not found (scripts/setup.sh installs it)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl takes its files by paths relative to where it runs: the licence goes beside the others.
cp "$root/LICENSE" "$out/LICENSE.txt"
# A tolvak.exe with libmosquitto in it brings that library's licence.
mosquitto=0
[ -f "$out/win64/libmosquitto-LICENSE.txt" ] && mosquitto=1
(cd "$out" && wixl -a x64 -D Version="$version" -D Mosquitto="$mosquitto" -o "$msi.tmp" \
  "$root/packaging/msi/tolvak.wxs")

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
msibuild "$msi.tmp" -i "$work/Registry.idt"

q() { msibuild "$msi.tmp" -q "$1"; }
q "UPDATE \`Property\` SET \`Value\` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;DEVICE;BAUD' WHERE \`Property\` = 'SecureCustomProperties'"
# PATH: appended on install, taken out again on uninstall (system-wide).
q "CREATE TABLE \`Environment\` (\`Environment\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL LOCALIZABLE, \`Value\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Environment\`)"
q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('ToolPath', '=-*PATH', '[~];[INSTALLDIR]', 'Tool')"
q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)"
q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)"
# The service manager restarts a failed service after a minute, every time.
q "CREATE TABLE \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL LOCALIZABLE, \`Event\` INT NOT NULL, \`ResetPeriod\` LONG, \`RebootMessage\` CHAR(255) LOCALIZABLE, \`Command\` CHAR(255) LOCALIZABLE, \`Actions\` CHAR(255), \`DelayActions\` CHAR(255), \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`MsiServiceConfigFailureActions\`)"
q "INSERT INTO \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\`, \`Name\`, \`Event\`, \`ResetPeriod\`, \`Actions\`, \`DelayActions\`, \`Component_\`) VALUES ('ServiceRestart', 'Tolvak', 1, 86400, '1[~]1[~]1', '60000[~]60000[~]60000', 'Tool')"
q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('MsiConfigureServices', 'VersionMsi >= \"5.00\"', 5850)"
mv "$msi.tmp" "$msi"
echo "$msi"
