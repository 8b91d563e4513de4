#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: native first, then
# the Windows tests under wine, 32-bit and 64-bit. Ends with one line that counts the
# test cases.
set -uo pipefail
cd "$(dirname "$0")"

cmake/build.sh || exit 1

# Each Windows test program writes its GoogleTest results here (tests/CMakeLists.txt);
# results of an earlier run must not be counted again.
for win in win win32; do
    rm -rf "build/$win/gtest-results"
    mkdir -p "build/$win/gtest-results"
done

status=0
ctest --test-dir build/native --output-on-failure -j2 | tee build/native-tests.log || status=1
# The same Windows suite for each width; the 64-bit one also runs the round trips
# across widths and the installer, which carries both modules.
ctest --test-dir build/win32 --output-on-failure | tee build/win32-tests.log || status=1
ctest --test-dir build/win --output-on-failure | tee build/win-tests.log || status=1

echo
cmake/count-tests.sh build/native build/native-tests.log build/win32 build/win32-tests.log \
    build/win build/win-tests.log || status=1
exit $status
