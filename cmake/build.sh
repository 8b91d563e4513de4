#!/usr/bin/env bash
# Builds the native half (harbinet-server, parser tests, fuzz targets) in build/native
# and the mingw one (harbinet.dll and its Windows tests) twice: 64-bit in build/win and
# 32-bit in build/win32.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake/deps.sh "$@"
JOBS=${JOBS:-2}
cmake -S . -B build/native -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/native -j"$JOBS"
# The 32-bit build comes first: the 64-bit one packs its module into the installer and
# runs its test programs beside its own.
cmake --no-warn-unused-cli -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
      -DHARBINET_SERVER="$PWD/build/native/server/harbinet-server" >/dev/null
cmake --build build/win32 -j"$JOBS"
cmake --no-warn-unused-cli -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DHARBINET_SERVER="$PWD/build/native/server/harbinet-server" >/dev/null
cmake --build build/win -j"$JOBS"
