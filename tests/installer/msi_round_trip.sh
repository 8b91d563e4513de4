#!/usr/bin/env bash
# The MSI under wine: it writes exactly the registry entries that DllRegisterServer writes
# (the module's path apart), both classes are created by ProgID from the installed module,
# and uninstalling removes the entries and the file.
# Usage: msi_round_trip.sh WINE_RUN PREFIX MSI DLL SCRIPT
# WINE_RUN runs programs in PREFIX, the installer's own prefix, so that the registration
# the other Windows tests rely on is never touched.
set -uo pipefail
wine_run=$1 prefix=$2 msi=$3 dll=$4 script=$5

winpath() { echo "Z:$1" | tr / '\\'; }
msi=$(winpath "$msi") dll=$(winpath "$dll") script=$(winpath "$script")
installed="$prefix/drive_c/Program Files/Harbinet/harbinet.dll"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

keys=('HKCR\Harbinet' 'HKCR\Harbinet.Distributed'
      'HKCR\CLSID\{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}' 'HKCR\CLSID\{2A4B9357-34BB-4c78-884F-A7B3F67C1A95}')

# Every value below the class keys as "key | name type data", sorted, the module path
# replaced by a fixed word. A key shows through its values and its subkeys' values.
entries() {
    for key in "${keys[@]}"; do
        "$wine_run" reg query "$key" /s 2>/dev/null
    done | tr -d '\r' | awk '/^HKEY_/ { key = $0; next } NF { print key " |" $0 }' | \
        sed 's/\(REG_SZ *\).*harbinet\.dll$/\1<module>/' | sort
}

present_keys() {
    for key in "${keys[@]}"; do
        "$wine_run" reg query "$key" >/dev/null 2>&1 && echo "$key"
    done
}

"$wine_run" --start-server
trap '"$wine_run" --stop-server' EXIT

# Whatever an earlier run left behind goes first.
"$wine_run" msiexec /x "$msi" /qn >/dev/null 2>&1
"$wine_run" regsvr32 /s /u "$dll" >/dev/null 2>&1
[ -z "$(present_keys)" ] || fail "keys left from before: $(present_keys)"

"$wine_run" regsvr32 /s "$dll" || fail "regsvr32 failed"
registered=$(entries)
"$wine_run" regsvr32 /s /u "$dll" || fail "regsvr32 /u failed"
[ "$(wc -l <<<"$registered")" -eq 8 ] || fail "registration wrote other than 8 values:"$'\n'"$registered"

"$wine_run" msiexec /i "$msi" /qn || fail "msiexec /i failed"
[ -f "$installed" ] || fail "no $installed"
installed_entries=$(entries)
diff <(echo "$registered") <(echo "$installed_entries") || fail "the MSI's entries differ from registration's"
"$wine_run" reg query 'HKCR\CLSID\{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}\InProcServer32' /ve | tr -d '\r' | \
    grep -qF 'C:\Program Files\Harbinet\harbinet.dll' || fail "InProcServer32 does not name the installed module"

output=$("$wine_run" cscript //nologo "$script" 2>&1)
echo "$output"
grep -q "^ok - create_both.vbs" <<<"$output" || fail "the classes were not created from the installed module"

"$wine_run" msiexec /x "$msi" /qn || fail "msiexec /x failed"
[ -z "$(present_keys)" ] || fail "keys left after uninstall: $(present_keys)"
[ ! -e "$installed" ] || fail "$installed left after uninstall"

[ "$failures" -eq 0 ] && echo "ok - msi_round_trip"
exit "$failures"
