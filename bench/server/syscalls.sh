#!/usr/bin/env bash
# System calls per request of harbinet-server under harbinet-load, counted by the
# kernel's tracepoints (perf stat) rather than strace: strace stops the server at
# every call, which lets the client win races that it loses at full speed, and so
# changes what is counted.
#
# Usage: bench/server/syscalls.sh [SERVER [CONNECTIONS [OPS]]]; MODE=blocking for the
# generator with one thread per connection (default event).
# Needs perf (Debian's linux-perf) and root or kernel.perf_event_paranoid <= 1.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
SERVER=${1:-$ROOT/build/native/server/harbinet-server}
CONNECTIONS=${2:-1}
OPS=${3:-50000}
LOAD=${LOAD:-$ROOT/build/native/bench/server/harbinet-load}

out=$(mktemp)
"$SERVER" --port 0 --threads 1 >"$out" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$out" "$out.perf"' EXIT
for _ in $(seq 1 100); do
    grep -q "listening on" "$out" && break
    sleep 0.05
done
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$out")

events=raw_syscalls:sys_enter
for call in recvfrom sendto sendmsg epoll_wait epoll_ctl io_uring_enter; do
    events+=",syscalls:sys_enter_$call"
done
perf stat -x, -o "$out.perf" -e "$events" -e syscalls:sys_exit_recvfrom --filter 'ret < 0' -p "$pid" &
perf_pid=$!
sleep 0.3
"$LOAD" --protocol harbinet --port "$port" --connections "$CONNECTIONS" --seconds 60 --warmup 0 --max-ops "$OPS" \
    --mode "${MODE:-event}"
kill -INT "$perf_pid"
wait "$perf_pid" || true
awk -F, -v ops="$OPS" '$1 ~ /^[0-9]+$/ {
    name = $3; sub(/.*:sys_enter_/, "", name); sub(/raw_syscalls:sys_enter/, "all system calls", name)
    sub(/syscalls:sys_exit_recvfrom/, "recvfrom that failed (EAGAIN)", name)
    printf "%-32s %8.3f per request\n", name, $1 / ops }' "$out.perf"
