#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: native first, then
# the Windows tests under wine. Ends with one line that counts the test cases.
set -uo pipefail
cd "$(dirname "$0")"

cmake/build.sh || exit 1

# Each Windows test program writes its GoogleTest results here (tests/CMakeLists.txt);
# results of an earlier run must not be counted again.
rm -rf build/win/gtest-results
mkdir -p build/win/gtest-results

status=0
ctest --test-dir build/native --output-on-failure -j2 | tee build/native-tests.log || status=1
ctest --test-dir build/win --output-on-failure | tee build/win-tests.log || status=1

echo
cmake/count-tests.sh build/native build/native-tests.log build/win build/win-tests.log || status=1
exit $status
