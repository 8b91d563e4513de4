#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: native first, then
# the Windows tests under wine. Ends with one line that counts all of them.
set -uo pipefail
cd "$(dirname "$0")"

cmake/build.sh || exit 1

status=0
ctest --test-dir build/native --output-on-failure -j2 | tee build/native-tests.log || status=1
ctest --test-dir build/win --output-on-failure | tee build/win-tests.log || status=1

count() { grep -hoE "tests passed, [0-9]+ tests failed out of [0-9]+" build/native-tests.log build/win-tests.log | \
          awk '{ failed += $4; total += $8 } END { printf "%d passed, %d failed\n", total - failed, failed }'; }
echo
count
exit $status
