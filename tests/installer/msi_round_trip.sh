#!/usr/bin/env bash
# The MSI under wine: it writes exactly the registry entries that DllRegisterServer writes
# (the module's path apart) for both widths, each in its own view of the registry; a
# 64-bit and a 32-bit script host each create both classes by ProgID from the installed
# modules and read what the other stored; uninstalling removes the entries and the files.
# Usage: msi_round_trip.sh WINE_RUN PREFIX MSI DLL DLL32 SCRIPT URL
# WINE_RUN runs programs in PREFIX, the installer's own prefix, so that the registration
# the other Windows tests rely on is never touched.
set -uo pipefail
wine_run=$1 prefix=$2 msi=$3 dll=$4 dll32=$5 script=$6 url=$7

winpath() { echo "Z:$1" | tr / '\\'; }
msi=$(winpath "$msi") dll=$(winpath "$dll") dll32=$(winpath "$dll32") script=$(winpath "$script")
installed="$prefix/drive_c/Program Files/Harbinet/harbinet.dll"
installed32="$prefix/drive_c/Program Files (x86)/Harbinet/harbinet.dll"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The programs of each width: a 32-bit host sees the 32-bit view of the registry.
system64='C:\windows\system32' system32='C:\windows\syswow64'
run64() { "$wine_run" "$system64\\$1.exe" "${@:2}"; }
run32() { "$wine_run" "$system32\\$1.exe" "${@:2}"; }

keys=('HKCR\Harbinet' 'HKCR\Harbinet.Distributed'
      'HKCR\CLSID\{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}' 'HKCR\CLSID\{2A4B9357-34BB-4c78-884F-A7B3F67C1A95}')

# Every value below the class keys in one view (64 or 32) as "key | name type data",
# sorted, the module path replaced by a fixed word. A key shows through its values and its
# subkeys' values.
entries() {
    for key in "${keys[@]}"; do
        "run$1" reg query "$key" /s 2>/dev/null
    done | tr -d '\r' | awk '/^HKEY_/ { key = $0; next } NF { print key " |" $0 }' | \
        sed 's/\(REG_SZ *\).*harbinet\.dll$/\1<module>/' | sort
}

present_keys() {
    for view in 64 32; do
        for key in "${keys[@]}"; do
            "run$view" reg query "$key" >/dev/null 2>&1 && echo "$key ($view-bit view)"
        done
    done
}

"$wine_run" --start-server
trap '"$wine_run" --stop-server' EXIT

# Whatever an earlier run left behind goes first.
run64 msiexec /x "$msi" /qn >/dev/null 2>&1
run32 regsvr32 /s /u "$dll32" >/dev/null 2>&1
run64 regsvr32 /s /u "$dll" >/dev/null 2>&1
[ -z "$(present_keys)" ] || fail "keys left from before: $(present_keys)"

# Each module registers in its own view; unregistering one leaves the other whole,
# ProgIDs included, and the last one out takes the ProgIDs.
run64 regsvr32 /s "$dll" || fail "regsvr32 failed"
registered=$(entries 64)
[ "$(wc -l <<<"$registered")" -eq 8 ] || fail "registration wrote other than 8 values:"$'\n'"$registered"
run32 regsvr32 /s "$dll32" || fail "32-bit regsvr32 failed"
registered32=$(entries 32)
diff <(echo "$registered") <(echo "$registered32") || fail "the 32-bit module registers other entries"
run32 regsvr32 /s /u "$dll32" || fail "32-bit regsvr32 /u failed"
[ "$(entries 64)" = "$registered" ] || fail "unregistering the 32-bit module changed the 64-bit registration"
run32 regsvr32 /s "$dll32" || fail "32-bit regsvr32 failed"
run64 regsvr32 /s /u "$dll" || fail "regsvr32 /u failed"
[ "$(entries 32)" = "$registered" ] || fail "unregistering the 64-bit module changed the 32-bit registration"
run32 regsvr32 /s /u "$dll32" || fail "32-bit regsvr32 /u failed"
[ -z "$(present_keys)" ] || fail "keys left after both were unregistered: $(present_keys)"

run64 msiexec /i "$msi" /qn || fail "msiexec /i failed"
[ -f "$installed" ] || fail "no $installed"
[ -f "$installed32" ] || fail "no $installed32"
diff <(echo "$registered") <(entries 64) || fail "the MSI's entries differ from registration's"
diff <(echo "$registered") <(entries 32) || fail "the MSI's 32-bit entries differ from registration's"
run64 reg query 'HKCR\CLSID\{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}\InProcServer32' /ve | tr -d '\r' | \
    grep -qF 'C:\Program Files\Harbinet\harbinet.dll' || fail "InProcServer32 does not name the installed module"
run32 reg query 'HKCR\CLSID\{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}\InProcServer32' /ve | tr -d '\r' | \
    grep -qF 'C:\Program Files (x86)\Harbinet\harbinet.dll' || fail "the 32-bit InProcServer32 does not name the installed module"

# Each host creates both classes; what one width stores, the other reads.
host() {   # width, arguments of the script
    local output
    output=$("run$1" cscript //nologo "$script" "${@:2}" 2>&1)
    echo "$output"
    grep -q "^ok - create_both.vbs" <<<"$output" || fail "the $1-bit host: $*"
}
host 64 "$url" store "stored by the 64-bit host"
host 32 "$url" check "stored by the 64-bit host"
host 32 "$url" store "stored by the 32-bit host"
host 64 "$url" check "stored by the 32-bit host"

run64 msiexec /x "$msi" /qn || fail "msiexec /x failed"
[ -z "$(present_keys)" ] || fail "keys left after uninstall: $(present_keys)"
[ ! -e "$installed" ] || fail "$installed left after uninstall"
[ ! -e "$installed32" ] || fail "$installed32 left after uninstall"

[ "$failures" -eq 0 ] && echo "ok - msi_round_trip"
exit "$failures"
