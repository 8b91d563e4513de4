#!/usr/bin/env bash
# Builds both halves: the native one (harbinet-server, parser tests, fuzz targets) and
# the mingw one (harbinet.dll and its Windows tests), in build/native and build/win.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake/deps.sh "$@"
JOBS=${JOBS:-2}
cmake -S . -B build/native -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/native -j"$JOBS"
cmake --no-warn-unused-cli -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DHARBINET_SERVER="$PWD/build/native/server/harbinet-server" >/dev/null
cmake --build build/win -j"$JOBS"
