#!/usr/bin/env bash
# Runs the soak under wine: one process, CALLS mixed calls (default 200000) against two
# harbinet-servers on free loopback ports, printing private bytes and handles every tenth.
#
#   bench/soak.sh [BUILD_DIR]
#
# BUILD_DIR is a mingw build folder (default build/win) in which soak_bench is brought up
# to date; the servers are the one that folder's tests use (its HARBINET_SERVER setting),
# else build/native's. Exits with the soak's own status: 0 when memory and handles stayed
# flat after the warm-up.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=$(realpath -m "${1:-${BUILD_DIR:-$ROOT/build/win}}")
CALLS=${CALLS:-200000}

[[ -f $BUILD_DIR/CMakeCache.txt ]] || "$ROOT/cmake/build.sh" >&2
cmake --build "$BUILD_DIR" -j2 --target soak_bench >&2
SERVER=$(sed -n 's/^HARBINET_SERVER:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt")
[[ -n $SERVER && -x $SERVER ]] || SERVER=$ROOT/build/native/server/harbinet-server

WORK=$(mktemp -d)
PIDS=()
cleanup() {
    # Only the servers this script started, by their pids.
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

PORTS=()
for n in 1 2; do
    "$SERVER" --listen 127.0.0.1 --port 0 --threads 1 </dev/null >"$WORK/server$n.out" 2>&1 &
    PIDS+=($!)
    port=
    for _ in $(seq 1 100); do
        port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/server$n.out")
        [[ -n $port ]] && break
        sleep 0.05
    done
    [[ -n $port ]] || { echo "harbinet-server did not start:" >&2; cat "$WORK/server$n.out" >&2; exit 1; }
    PORTS+=("$port")
done
echo "harbinet-servers on 127.0.0.1:${PORTS[0]} and ${PORTS[1]}; $CALLS calls"
"$BUILD_DIR/wine-run.sh" "$BUILD_DIR/bin/soak_bench.exe" "${PORTS[0]}" "${PORTS[1]}" "$CALLS"
