#!/usr/bin/env bash
# The MSI under wine: it writes exactly the registry entries that DllRegisterServer writes
# (the module's path apart) in each width's registry view, each width's host creates both
# classes by ProgID, and uninstalling removes the entries and the files.
# Usage: msi_round_trip.sh WINE_RUN PREFIX MSI DLL DLL32 SCRIPT URL
# WINE_RUN runs programs in PREFIX, the installer's own prefix, so that the registration
# the other Windows tests rely on is never touched.
set -uo pipefail
wine_run=$1 prefix=$2 msi=$3 dll=$4 dll32=$5 script=$6 url=$7

winpath() { echo "Z:$1" | tr / '\\'; }
msi=$(winpath "$msi") dll=$(winpath "$dll") dll32=$(winpath "$dll32") script=$(winpath "$script")
installed="$prefix/drive_c/Program Files/Harbinet/harbinet.dll"
installed32="$prefix/drive_c/Program Files (x86)/Harbinet/harbinet.dll"
# WINE_RUN starts the 64-bit system programs; these the 32-bit ones, which see the 32-bit view.
run32() { "$wine_run" "C:\\windows\\syswow64\\$1.exe" "${@:2}"; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

keys=('HKCR\Harbinet' 'HKCR\Harbinet.Distributed'
      'HKCR\CLSID\{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}' 'HKCR\CLSID\{2A4B9357-34BB-4c78-884F-A7B3F67C1A95}')

# Every value below the class keys as "key | name type data", sorted, the module path
# replaced by a fixed word. A key shows through its values and its subkeys' values.
# With "run32", the 32-bit view.
entries() {
    for key in "${keys[@]}"; do
        ${1:-"$wine_run"} reg query "$key" /s 2>/dev/null
    done | tr -d '\r' | awk '/^HKEY_/ { key = $0; next } NF { print key " |" $0 }' | \
        sed 's/\(REG_SZ *\).*harbinet\.dll$/\1<module>/' | sort
}

present_keys() {
    for key in "${keys[@]}"; do
        "$wine_run" reg query "$key" >/dev/null 2>&1 && echo "$key"
        run32 reg query "$key" >/dev/null 2>&1 && echo "$key (32-bit view)"
    done
}

"$wine_run" --start-server
trap '"$wine_run" --stop-server' EXIT

# Whatever an earlier run left behind goes first.
"$wine_run" msiexec /x "$msi" /qn >/dev/null 2>&1
"$wine_run" regsvr32 /s /u "$dll" >/dev/null 2>&1
run32 regsvr32 /s /u "$dll32" >/dev/null 2>&1
[ -z "$(present_keys)" ] || fail "keys left from before: $(present_keys)"

"$wine_run" regsvr32 /s "$dll" || fail "regsvr32 failed"
registered=$(entries)
run32 regsvr32 /s "$dll32" || fail "32-bit regsvr32 failed"
[ "$(entries run32)" = "$registered" ] || fail "the 32-bit view differs:"$'\n'"$(entries run32)"
run32 regsvr32 /s /u "$dll32" || fail "32-bit regsvr32 /u failed"
[ "$(entries)" = "$registered" ] || fail "unregistering the 32-bit module changed the 64-bit view"
run32 regsvr32 /s "$dll32" || fail "32-bit regsvr32 failed"
"$wine_run" regsvr32 /s /u "$dll" || fail "regsvr32 /u failed"
[ "$(entries run32)" = "$registered" ] || fail "unregistering the 64-bit module changed the 32-bit view"
run32 regsvr32 /s /u "$dll32" || fail "32-bit regsvr32 /u failed"
[ "$(wc -l <<<"$registered")" -eq 8 ] || fail "registration wrote other than 8 values:"$'\n'"$registered"
[ -z "$(present_keys)" ] || fail "keys left after unregistering: $(present_keys)"

"$wine_run" msiexec /i "$msi" /qn || fail "msiexec /i failed"
[ -f "$installed" ] || fail "no $installed"
[ -f "$installed32" ] || fail "no $installed32"
diff <(echo "$registered") <(entries) || fail "the MSI's entries differ from registration's"
diff <(echo "$registered") <(entries run32) || fail "the MSI's 32-bit entries differ from registration's"
run32 reg query 'HKCR\CLSID\{2A4B9357-34BB-4c78-884F-A7B3F67C1A95}\InProcServer32' /ve | tr -d '\r' | \
    grep -qF 'C:\Program Files (x86)\Harbinet\harbinet.dll' || fail "the 32-bit view does not name the 32-bit module"
"$wine_run" reg query 'HKCR\CLSID\{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}\InProcServer32' /ve | tr -d '\r' | \
    grep -qF 'C:\Program Files\Harbinet\harbinet.dll' || fail "InProcServer32 does not name the installed module"

# Each width's host creates both classes and reads what the other stored.
for step in "$wine_run cscript store 64" "run32 cscript check 64" "run32 cscript store 32" "$wine_run cscript check 32"; do
    set -- $step
    output=$("$1" "$2" //nologo "$script" "$url" "$3" "by the $4-bit host" 2>&1)
    echo "$output"
    grep -q "^ok - create_both.vbs" <<<"$output" || fail "the host ($step) failed"
done

"$wine_run" msiexec /x "$msi" /qn || fail "msiexec /x failed"
[ -z "$(present_keys)" ] || fail "keys left after uninstall: $(present_keys)"
[ ! -e "$installed" ] || fail "$installed left after uninstall"
[ ! -e "$installed32" ] || fail "$installed32 left after uninstall"

[ "$failures" -eq 0 ] && echo "ok - msi_round_trip"
exit "$failures"
