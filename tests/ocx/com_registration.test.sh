#!/usr/bin/env bash
# Registration with Wine's regsvr32: what it writes, that unregistering removes all of it, and that
# registering again restores it. The prefix is left registered.
set -uo pipefail
. "$(dirname "$0")/../wine/com_lib.sh"

# The identities, from the one header that holds them: "// {GUID}..." above "... kName = ...".
guid() {
    awk -v name="$1" 'match($0, /\/\/ \{[0-9A-F-]+\}/) { g = substr($0, RSTART + 3, RLENGTH - 3) }
                      $0 ~ ("GUID " name " =") { print g; exit }' "$TOLVAK_SOURCE/src/ocx/guids.h"
}
clsid=$(guid kClsid) libid=$(guid kLibId)
interfaces=("$(guid kIidTolvak)" "$(guid kIidTolvakEarlier)" "$(guid kIidEvents)" "$(guid kIidEventsEarlier)")
for g in "$clsid" "$libid" "${interfaces[@]}"; do
    [[ $g =~ ^\{[0-9A-F-]{36}\}$ ]] || { echo "cannot read the identities from guids.h ($g)"; exit 1; }
done
ocx=$(com_winpath "$TOLVAK_OCX")

# The data of one value ("" for the default value), or nothing when the key or value is missing.
value() {
    local args=(/ve)
    [ -n "$2" ] && args=(/v "$2")
    timeout 30 "$TOLVAK_WINE" reg query "$1" "${args[@]}" 2>/dev/null | tr -d '\r' | sed -n 's/^ .*REG_SZ    //p; s/^ .*REG_SZ$//p' | head -1
}
key_exists() { timeout 30 "$TOLVAK_WINE" reg query "$1" >/dev/null 2>&1; }

expect_value() { # key, value name, expected data
    local got
    got=$(value "$1" "$2")
    [ "$got" = "$3" ] || com_fail "$1 ${2:-(default)}: got '$got', want '$3'"
}

check_registered() {
    local c="HKCR\\CLSID\\$clsid" t="HKCR\\TypeLib\\$libid\\5.1"
    expect_value "HKCR\\Tolvak.Tolvak\\CLSID" "" "$clsid"
    expect_value "$c" "" "Tolvak"
    expect_value "$c\\InprocServer32" "" "$ocx"
    expect_value "$c\\InprocServer32" ThreadingModel Apartment
    expect_value "$c\\ProgID" "" "Tolvak.Tolvak"
    key_exists "$c\\Control" || com_fail "$c\\Control missing"
    expect_value "$c\\ToolboxBitmap32" "" "$ocx, 30000"
    expect_value "$c\\MiscStatus\\1" "" "$((0x00020191))"
    expect_value "$c\\TypeLib" "" "$libid"
    expect_value "$c\\Version" "" "5.1"
    expect_value "$t" "" "Tolvak"
    expect_value "$t\\0\\$WINEARCH" "" "$ocx"
    local other=win32
    [ "$WINEARCH" = win32 ] && other=win64
    key_exists "$t\\0\\$other" && com_fail "type library also registered for $other"
    expect_value "$t\\FLAGS" "" "2"
    key_exists "$t\\409" && com_fail "type library registered under locale 409 instead of 0"
    for i in "${interfaces[@]}"; do
        expect_value "HKCR\\Interface\\$i\\TypeLib" "" "$libid"
        expect_value "HKCR\\Interface\\$i\\TypeLib" Version "5.1"
        key_exists "HKCR\\Interface\\$i\\ProxyStubClsid32" || com_fail "$i has no proxy"
    done
}

check_unregistered() {
    for k in "HKCR\\CLSID\\$clsid" "HKCR\\Tolvak.Tolvak" "HKCR\\TypeLib\\$libid" "${interfaces[@]/#/HKCR\\Interface\\}"; do
        key_exists "$k" && com_fail "$k still there after unregistering"
    done
}

echo "registered by the fixture:"
check_registered
timeout 60 "$TOLVAK_WINE" regsvr32 /u /s "$ocx" || com_fail "regsvr32 /u failed ($?)"
echo "after regsvr32 /u:"
check_unregistered
timeout 60 "$TOLVAK_WINE" regsvr32 /u /s "$ocx" || com_fail "unregistering twice fails ($?)"
timeout 60 "$TOLVAK_WINE" regsvr32 /s "$ocx" || com_fail "regsvr32 failed ($?)"
echo "registered again:"
check_registered
timeout 60 wineserver -w
echo "com_registration: $com_failures failures"
exit "$com_failures"
