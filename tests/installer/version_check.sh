#!/usr/bin/env bash
# One version everywhere: both DLLs' version resources, the MSI's ProductVersion and
# harbinet-server --version all carry the project's version.
# Usage: version_check.sh VERSION WINE_RUN FILE_VERSION_EXE DLL DLL32 MSI SERVER
set -uo pipefail
version=$1 wine_run=$2 file_version=$3 dll=$4 dll32=$5 msi=$6 server=$7

failures=0
check() {   # what, expected, actual
    if [ "$2" = "$3" ]; then echo "ok: $1 is $3"; else echo "FAIL: $1 is '$3', not '$2'"; failures=$((failures + 1)); fi
}

for module in "$dll" "$dll32"; do
    resource=$("$wine_run" "$file_version" "$(echo "Z:$module" | tr / '\\')" | tr -d '\r')
    check "the version resource of $module" "$version.0 $version" "$resource"
done
check "the MSI's ProductVersion" "$version" "$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" { print $2 }')"
check "harbinet-server --version" "harbinet-server $version" "$("$server" --version)"

[ "$failures" -eq 0 ] && echo "ok - version_check"
exit "$failures"
