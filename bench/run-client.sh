#!/usr/bin/env bash
# Runs the Windows client benchmarks under wine against one harbinet-server on a free loopback port.
#
#   bench/run-client.sh [BUILD_DIR]...
#
# Each BUILD_DIR is a mingw build folder (default build/win32 and build/win, the 32-bit
# and the 64-bit build, made with cmake/build.sh when they do not exist yet); the
# benchmarks are brought up to date in each and run one build after the other, each
# against its own bare Winsock floor. The server is the one that the first folder's tests
# use (its HARBINET_SERVER setting), else build/native's, built when missing.
# Environment: SECONDS_PER_ROUND (default 2), ROUNDS (default 5).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIRS=()
if [[ $# -gt 0 ]]; then
    for dir in "$@"; do BUILD_DIRS+=("$(realpath -m "$dir")"); done
else
    BUILD_DIRS=("$ROOT/build/win32" "$ROOT/build/win")
fi
SECONDS_PER_ROUND=${SECONDS_PER_ROUND:-2}
ROUNDS=${ROUNDS:-5}

# The benchmark programs, one a line; each is run as: PROGRAM PORT SECONDS_PER_ROUND ROUNDS.
BENCHES=(
    noop_bench
    value_bench
    query_bench
    distributed_bench
)

SERVER_PID=
WORK=$(mktemp -d)
cleanup() {
    # Only the server this script started, by its pid.
    if [[ -n $SERVER_PID ]] && kill -0 "$SERVER_PID" 2>/dev/null; then
        kill "$SERVER_PID" 2>/dev/null || true
        wait "$SERVER_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

for BUILD_DIR in "${BUILD_DIRS[@]}"; do
    if [[ ! -f $BUILD_DIR/CMakeCache.txt ]]; then
        if [[ $BUILD_DIR == "$ROOT/build/win" || $BUILD_DIR == "$ROOT/build/win32" ]]; then
            "$ROOT/cmake/build.sh" >&2
        else
            cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >&2
        fi
    fi
    cmake --build "$BUILD_DIR" -j2 --target "${BENCHES[@]}" >&2
done

SERVER=$(sed -n 's/^HARBINET_SERVER:[A-Z]*=//p' "${BUILD_DIRS[0]}/CMakeCache.txt")
if [[ -z $SERVER || ! -x $SERVER ]]; then
    SERVER=$ROOT/build/native/server/harbinet-server
    if [[ ! -x $SERVER ]]; then
        cmake -S "$ROOT" -B "$ROOT/build/native" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >&2
        cmake --build "$ROOT/build/native" -j2 --target harbinet-server >&2
    fi
fi

# One worker thread: the benchmarks use one connection, and the machine's other core
# is left to wine. value_bench stores values of up to 64 MiB.
"$SERVER" --listen 127.0.0.1 --port 0 --threads 1 --max-value-size 65M --memory-limit 256M \
    </dev/null >"$WORK/server.out" 2>&1 &
SERVER_PID=$!
PORT=
for _ in $(seq 1 100); do
    PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/server.out")
    [[ -n $PORT ]] && break
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.05
done
[[ -n $PORT ]] || { echo "harbinet-server did not start:" >&2; cat "$WORK/server.out" >&2; exit 1; }
echo "harbinet-server on 127.0.0.1:$PORT; $ROUNDS rounds of ${SECONDS_PER_ROUND}s per loop"

status=0
for BUILD_DIR in "${BUILD_DIRS[@]}"; do
    width=64
    if objdump -f "$BUILD_DIR/bin/harbinet.dll" | grep -q pei-i386; then width=32; fi
    echo "==== $width-bit build: $BUILD_DIR"
    for bench in "${BENCHES[@]}"; do
        echo "== $bench ($width-bit)"
        "$BUILD_DIR/wine-run.sh" "$BUILD_DIR/bin/$bench.exe" "$PORT" "$SECONDS_PER_ROUND" "$ROUNDS" || status=1
    done

    # Winsock calls per call, counted in wine's own trace: every API call ends in one line
    # "NAME status N." (not every one has an entry line), counted between the markers that
    # distributed_bench --trace writes around ten calls of each kind. The wrapper would
    # silence the trace, so wine runs bare (the 64-bit loader hands a 32-bit program on to
    # the 32-bit one).
    echo "== Winsock calls per Noop (wine trace of ten calls each, $width-bit)"
    WINEPREFIX="$BUILD_DIR/wineprefix" WINEDEBUG=trace+winsock,+debugstr WINEDLLOVERRIDES="mscoree,mshtml=" \
        /usr/lib/wine/wine64 "$BUILD_DIR/bin/distributed_bench.exe" "$PORT" --trace 2>"$WORK/trace.txt" >/dev/null || status=1
    for phase in single distributed; do
        case $phase in single) next=distributed ;; *) next=end ;; esac
        sed -n "/harbinet-trace-$phase/,/harbinet-trace-$next/p" "$WORK/trace.txt" |
            sed -n 's/.*trace:winsock:\([A-Za-z0-9_]*\) status .*/\1/p' | sort | uniq -c |
            awk -v phase="$phase" '{ printf "  %-12s %-14s %.1f per call\n", phase, $2, $1 / 10; total += $1 }
                 END { printf "  %-12s %-14s %.1f per call\n", phase, "all", total / 10 }'
    done
done
exit $status
