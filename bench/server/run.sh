#!/usr/bin/env bash
# Loads harbinet-server, memcached and redis-server on loopback with the same
# work (C connections, each a loop of non-pipelined set and get of 24-byte
# values) and prints operations per second, 99th-percentile latency and the
# ratios of harbinet-server's figures to the others'.
#
# Environment: SECONDS_PER_ROUND (default 2), ROUNDS (default 5),
# CONNECTIONS (default "1 50"), THREADS (default: number of processors; used
# for harbinet-server and memcached alike), BUILD_DIR (default build/native-server).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build/native-server}
SECONDS_PER_ROUND=${SECONDS_PER_ROUND:-2}
ROUNDS=${ROUNDS:-5}
CONNECTIONS=${CONNECTIONS:-"1 50"}
THREADS=${THREADS:-$(nproc)}
SERVER=$BUILD_DIR/server/harbinet-server
LOAD=$BUILD_DIR/bench/server/harbinet-load

PIDS=()
WORK=$(mktemp -d)
cleanup() {
    # Only what this script started, by pid.
    for pid in "${PIDS[@]}"; do
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

if ! command -v memcached >/dev/null || ! command -v redis-server >/dev/null; then
    echo "installing memcached and redis-server" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y memcached redis-server >&2
fi

if [[ ! -f $BUILD_DIR/CMakeCache.txt ]]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G "Unix Makefiles" \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >&2
fi
cmake --build "$BUILD_DIR" -j2 --target harbinet-server harbinet-load >&2

port_is_free() {
    ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

free_port() {
    local port
    for _ in $(seq 1 200); do
        port=$((20000 + RANDOM % 40000))
        # A connect that fails means nobody listens there; ss (when present)
        # also sees sockets bound but not yet listening.
        if port_is_free "$port" && ! { command -v ss >/dev/null && ss -ltnH "sport = :$port" | grep -q .; }; then
            echo "$port"
            return 0
        fi
    done
    echo "no free port found" >&2
    return 1
}

wait_for_port() {
    local port=$1 pid=$2
    for _ in $(seq 1 100); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            return 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "server on port $port exited early" >&2
            return 1
        fi
        sleep 0.05
    done
    echo "server on port $port did not start listening" >&2
    return 1
}

# harbinet-server picks its own free port and says which on its start line.
"$SERVER" --port 0 --threads "$THREADS" >"$WORK/harbinet.out" 2>&1 &
PIDS+=($!)
HARBINET_PID=$!
for _ in $(seq 1 100); do
    grep -q "listening on" "$WORK/harbinet.out" && break
    sleep 0.05
done
HARBINET_PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/harbinet.out")
[[ -n $HARBINET_PORT ]] || { cat "$WORK/harbinet.out" >&2; exit 1; }
wait_for_port "$HARBINET_PORT" "$HARBINET_PID"

MEMCACHED_PORT=$(free_port)
memcached -l 127.0.0.1 -p "$MEMCACHED_PORT" -U 0 -t "$THREADS" -m 64 -c 1024 -u "$(id -un)" \
    >"$WORK/memcached.out" 2>&1 &
PIDS+=($!)
wait_for_port "$MEMCACHED_PORT" $!

REDIS_PORT=$(free_port)
redis-server --bind 127.0.0.1 --port "$REDIS_PORT" --save "" --appendonly no \
    --daemonize no --dir "$WORK" --logfile "$WORK/redis.log" >"$WORK/redis.out" 2>&1 &
PIDS+=($!)
wait_for_port "$REDIS_PORT" $!

echo "harbinet-server :$HARBINET_PORT (--threads $THREADS), memcached :$MEMCACHED_PORT (-t $THREADS)," \
     "redis-server :$REDIS_PORT; $ROUNDS rounds of ${SECONDS_PER_ROUND}s per case, medians shown"

port_of() {
    case $1 in
        harbinet) echo "$HARBINET_PORT" ;;
        memcached) echo "$MEMCACHED_PORT" ;;
        redis) echo "$REDIS_PORT" ;;
    esac
}

field() {
    sed -n "s/.* $1=\([0-9.]*\).*/\1/p"
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

declare -A OPS P99
for c in $CONNECTIONS; do
    # Rounds go round the servers in turn, so that a burst of load from
    # elsewhere on the machine does not fall on one server alone, and each
    # round starts with a different server, so that none always goes first.
    for round in $(seq 1 "$ROUNDS"); do
        case $(( (round - 1) % 3 )) in
            0) order="harbinet memcached redis" ;;
            1) order="memcached redis harbinet" ;;
            2) order="redis harbinet memcached" ;;
        esac
        for name in $order; do
            line=$("$LOAD" --protocol "$name" --port "$(port_of "$name")" --connections "$c" \
                --seconds "$SECONDS_PER_ROUND" --warmup 0.3)
            echo "  round $round: $line" >&2
            echo "$line" | field ops_per_s >>"$WORK/ops.$name.$c"
            echo "$line" | field p99_us >>"$WORK/p99.$name.$c"
        done
    done
    for name in harbinet memcached redis; do
        OPS[$name.$c]=$(median <"$WORK/ops.$name.$c")
        P99[$name.$c]=$(median <"$WORK/p99.$name.$c")
    done
done

printf '\n%-12s %5s %12s %10s\n' server C ops/s p99_us
for c in $CONNECTIONS; do
    for name in harbinet memcached redis; do
        printf '%-12s %5s %12.0f %10.1f\n' "$name" "$c" "${OPS[$name.$c]}" "${P99[$name.$c]}"
    done
done
printf '\n%-22s %5s %10s %10s\n' ratio C ops/s p99
for c in $CONNECTIONS; do
    for other in memcached redis; do
        printf '%-22s %5s %10.3f %10.3f\n' "harbinet/$other" "$c" \
            "$(awk -v a="${OPS[harbinet.$c]}" -v b="${OPS[$other.$c]}" 'BEGIN { print a / b }')" \
            "$(awk -v a="${P99[harbinet.$c]}" -v b="${P99[$other.$c]}" 'BEGIN { print a / b }')"
    done
done
