#!/usr/bin/env bash
# The packaged config file names every option that --help lists, with a default
# that the server accepts once the line is uncommented.
set -euo pipefail
server=$1
conf=$2

status=0
for name in $("$server" --help | grep -oE '^  --[a-z-]+' | sed 's/^  --//'); do
    case "$name" in help|version|config|check-config) continue ;; esac
    grep -qE "^# $name = " "$conf" || { echo "FAIL: $conf has no '# $name = ...' line for --$name"; status=1; }
done

uncommented=$(mktemp)
trap 'rm -f "$uncommented"' EXIT
# A placeholder such as FILE stands where an option has no default to try.
sed -E '/^# [a-z-]+ = [A-Z]+$/!s/^# ([a-z-]+ = )/\1/' "$conf" > "$uncommented"
"$server" --config "$uncommented" --check-config || { echo "FAIL: the defaults in $conf, uncommented, are refused"; status=1; }
exit $status
