#!/usr/bin/env bash
# Loads harbinet-server, memcached and redis-server on loopback with the same
# work (C connections, each a loop of non-pipelined set and get of 24-byte
# values) and prints operations per second, 99th-percentile latency, the
# server's processor time per operation and the ratios of harbinet-server's
# figures to the others'. A second harbinet-server ("hredis") keeps its values
# in that same redis-server, and is compared with talking to redis-server
# directly; its processor time is its own, without Redis's.
#
# Three layouts, each with fresh servers:
#   separate  the load generator runs on one processor and the servers on the
#             others, with one worker thread per processor they have;
#   shared    everything runs on all processors, and the servers get one worker
#             thread fewer than there are processors, leaving one processor's
#             worth of time to the generator;
#   crowded   everything runs on all processors, and the servers get one worker
#             thread per processor, so with the generator there are more
#             threads wanting to run than processors.
# Where a server competes with the generator for processor time, the
# scheduler's interleaving moves the figures from run to run; in the crowded
# layout the 99th percentile is mostly time spent waiting for a processor. The
# separate layout measures the servers themselves.
#
# Two generators drive the same connections: "event", one thread on epoll for
# all of them, and "blocking", one thread per connection on a blocking socket,
# as most application clients are. They load a server differently: blocking
# clients each send their next request the moment their reply is in, so the
# requests arrive spread out rather than in bursts.
#
# Environment: SECONDS_PER_ROUND (default 2), ROUNDS (default 5),
# GENERATORS (default "event blocking"),
# CONNECTIONS (default "1 50"), LAYOUTS (default "separate shared crowded";
# "shared" alone on one processor), THREADS (worker threads of harbinet-server
# and memcached alike in the shared and crowded layouts, instead of their
# defaults), BUILD_DIR (default build/native-server), REDIS_TLS (default 1; 0
# skips the last section, the Redis store over TLS beside the plain one).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build/native-server}
SECONDS_PER_ROUND=${SECONDS_PER_ROUND:-2}
ROUNDS=${ROUNDS:-5}
CONNECTIONS=${CONNECTIONS:-"1 50"}
GENERATORS=${GENERATORS:-"event blocking"}
THREADS=${THREADS:-}

# The processors this script may use, one per line.
allowed_cpus() {
    awk '/^Cpus_allowed_list/ { print $2 }' /proc/self/status | tr ',' '\n' |
        while IFS=- read -r first last; do seq "$first" "${last:-$first}"; done
}
mapfile -t CPUS < <(allowed_cpus)
if (( ${#CPUS[@]} >= 2 )); then
    LAYOUTS=${LAYOUTS:-"separate shared crowded"}
else
    LAYOUTS=${LAYOUTS:-shared}
fi
GENERATOR_CPU=${CPUS[0]}
SERVER_CPUS=$(IFS=,; echo "${CPUS[*]:1}")
SERVER=$BUILD_DIR/server/harbinet-server
LOAD=$BUILD_DIR/bench/server/harbinet-load

WORK=$(mktemp -d)
# The servers of the layout being measured, by name; the script starts nothing else.
declare -A PID PORT
stop_servers() {
    local name
    for name in "${!PID[@]}"; do
        kill "${PID[$name]}" 2>/dev/null || true
        wait "${PID[$name]}" 2>/dev/null || true
    done
    PID=()
}
cleanup() {
    stop_servers
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

# Starts the three servers for a layout, each on a free loopback port.
start_servers() {
    local layout=$1 threads pin=()
    case $layout in
        separate)
            threads=$(( ${#CPUS[@]} - 1 ))
            pin=(taskset -c "$SERVER_CPUS")
            GENERATOR=(taskset -c "$GENERATOR_CPU" "$LOAD") ;;
        shared)
            threads=${THREADS:-$(( ${#CPUS[@]} > 1 ? ${#CPUS[@]} - 1 : 1 ))}
            GENERATOR=("$LOAD") ;;
        crowded)
            threads=${THREADS:-${#CPUS[@]}}
            GENERATOR=("$LOAD") ;;
        *)
            echo "unknown layout $layout" >&2
            exit 1 ;;
    esac

    # harbinet-server picks its own free port and says which on its start line.
    "${pin[@]}" "$SERVER" --port 0 --threads "$threads" >"$WORK/harbinet.out" 2>&1 &
    PID[harbinet]=$!
    for _ in $(seq 1 100); do
        grep -q "listening on" "$WORK/harbinet.out" && break
        sleep 0.05
    done
    PORT[harbinet]=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/harbinet.out")
    [[ -n ${PORT[harbinet]} ]] || { cat "$WORK/harbinet.out" >&2; exit 1; }
    wait_for_port "${PORT[harbinet]}" "${PID[harbinet]}"

    PORT[memcached]=$(free_port)
    "${pin[@]}" memcached -l 127.0.0.1 -p "${PORT[memcached]}" -U 0 -t "$threads" -m 64 -c 1024 \
        -u "$(id -un)" >"$WORK/memcached.out" 2>&1 &
    PID[memcached]=$!
    wait_for_port "${PORT[memcached]}" "${PID[memcached]}"

    PORT[redis]=$(free_port)
    "${pin[@]}" redis-server --bind 127.0.0.1 --port "${PORT[redis]}" --save "" --appendonly no \
        --daemonize no --dir "$WORK" --logfile "$WORK/redis.log" >"$WORK/redis.out" 2>&1 &
    PID[redis]=$!
    wait_for_port "${PORT[redis]}" "${PID[redis]}"

    "${pin[@]}" "$SERVER" --port 0 --threads "$threads" --store "redis://127.0.0.1:${PORT[redis]}" \
        >"$WORK/hredis.out" 2>&1 &
    PID[hredis]=$!
    for _ in $(seq 1 100); do
        grep -q "listening on" "$WORK/hredis.out" && break
        sleep 0.05
    done
    PORT[hredis]=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/hredis.out")
    [[ -n ${PORT[hredis]} ]] || { cat "$WORK/hredis.out" >&2; exit 1; }
    wait_for_port "${PORT[hredis]}" "${PID[hredis]}"

    if [[ $layout == separate ]]; then
        echo "layout separate: load generator on processor $GENERATOR_CPU, servers on $SERVER_CPUS" \
             "with $threads worker thread(s) each" >&2
    else
        echo "layout $layout: generator and servers on all processors, $threads worker thread(s) each" >&2
    fi
    THREADS_USED[$layout]=$threads
}

# Processor time (user and system, all threads) a process has used, in clock ticks.
cpu_ticks() {
    local stat
    read -r stat <"/proc/$1/stat"
    # Fields after the command name, which is in parentheses: utime and stime
    # are the 12th and 13th.
    read -r -a fields <<<"${stat##*) }"
    echo $(( fields[11] + fields[12] ))
}
CLOCK_TICKS=$(getconf CLK_TCK)

field() {
    sed -n "s/.* $1=\([0-9.]*\).*/\1/p"
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "$ROUNDS rounds of ${SECONDS_PER_ROUND}s per case and generator ($GENERATORS), medians shown" >&2
declare -A OPS P99 CPU THREADS_USED
for layout in $LAYOUTS; do
    start_servers "$layout"
    for c in $CONNECTIONS; do
      for gen in $GENERATORS; do
        # Results are kept per layout and generator.
        key=$layout.$gen
        # Rounds go round the servers in turn, so that a burst of load from
        # elsewhere on the machine does not fall on one server alone, and each
        # round starts with a different server, so that none always goes first.
        for round in $(seq 1 "$ROUNDS"); do
            case $(( (round - 1) % 4 )) in
                0) order="harbinet memcached redis hredis" ;;
                1) order="memcached redis hredis harbinet" ;;
                2) order="redis hredis harbinet memcached" ;;
                3) order="hredis harbinet memcached redis" ;;
            esac
            for name in $order; do
                protocol=$name
                [[ $name == hredis ]] && protocol=harbinet
                ticks_before=$(cpu_ticks "${PID[$name]}")
                line=$("${GENERATOR[@]}" --protocol "$protocol" --port "${PORT[$name]}" --connections "$c" \
                    --seconds "$SECONDS_PER_ROUND" --warmup 0.3 --mode "$gen")
                ticks_after=$(cpu_ticks "${PID[$name]}")
                echo "  $layout round $round: $line" >&2
                echo "$line" | field ops_per_s >>"$WORK/ops.$key.$name.$c"
                echo "$line" | field p99_us >>"$WORK/p99.$key.$name.$c"
                # The server's processor time per operation does not depend on
                # how fast the generator is.
                awk -v t="$((ticks_after - ticks_before))" -v hz="$CLOCK_TICKS" -v n="$(echo "$line" | field ops_all)" \
                    'BEGIN { print t * 1e6 / hz / n }' >>"$WORK/cpu.$key.$name.$c"
            done
        done
        for name in harbinet memcached redis hredis; do
            OPS[$key.$name.$c]=$(median <"$WORK/ops.$key.$name.$c")
            P99[$key.$name.$c]=$(median <"$WORK/p99.$key.$name.$c")
            CPU[$key.$name.$c]=$(median <"$WORK/cpu.$key.$name.$c")
        done
      done
    done
    stop_servers
done

printf '\n%-9s %-9s %-12s %7s %5s %12s %10s %12s\n' layout generator server threads C ops/s p99_us cpu_us/op
for layout in $LAYOUTS; do
    for gen in $GENERATORS; do
        for c in $CONNECTIONS; do
            for name in harbinet memcached redis hredis; do
                threads=${THREADS_USED[$layout]}
                [[ $name == redis ]] && threads=1
                printf '%-9s %-9s %-12s %7s %5s %12.0f %10.1f %12.2f\n' "$layout" "$gen" "$name" "$threads" "$c" \
                    "${OPS[$layout.$gen.$name.$c]}" "${P99[$layout.$gen.$name.$c]}" "${CPU[$layout.$gen.$name.$c]}"
            done
        done
    done
done
# The machine's speed can drift within a run, so each ratio is the median of
# the ratios within rounds, where the servers were measured seconds apart.
paired_ratio() {
    paste -d' ' "$WORK/$1.$2.${5:-harbinet}.$3" "$WORK/$1.$2.$4.$3" | awk '{ print $1 / $2 }' | median
}
# In how many rounds harbinet-server did at least as well (higher for ops/s,
# lower for latency and processor time).
rounds_ahead() {
    paste -d' ' "$WORK/$1.$2.${6:-harbinet}.$3" "$WORK/$1.$2.$4.$3" |
        awk -v higher="$5" '{ n += higher ? $1 >= $2 : $1 <= $2 } END { print n "/" NR }'
}
printf '\n%s\n' "harbinet-server against the others: median of the ratios within each round (rounds ahead)"
printf '%-9s %-9s %-22s %5s %16s %16s %16s\n' layout generator ratio C ops/s p99 cpu/op
for layout in $LAYOUTS; do
  for gen in $GENERATORS; do
    key=$layout.$gen
    for c in $CONNECTIONS; do
        for other in memcached redis; do
            printf '%-9s %-9s %-22s %5s %9.3f %6s %9.3f %6s %9.3f %6s\n' "$layout" "$gen" "harbinet/$other" "$c" \
                "$(paired_ratio ops "$key" "$c" "$other")" "($(rounds_ahead ops "$key" "$c" "$other" 1))" \
                "$(paired_ratio p99 "$key" "$c" "$other")" "($(rounds_ahead p99 "$key" "$c" "$other" 0))" \
                "$(paired_ratio cpu "$key" "$c" "$other")" "($(rounds_ahead cpu "$key" "$c" "$other" 0))"
        done
        # Redis behind harbinet-server against Redis alone: what the extra hop costs.
        printf '%-9s %-9s %-22s %5s %9.3f %6s %9.3f %6s\n' "$layout" "$gen" "hredis/redis" "$c" \
            "$(paired_ratio ops "$key" "$c" redis hredis)" "($(rounds_ahead ops "$key" "$c" redis 1 hredis))" \
            "$(paired_ratio p99 "$key" "$c" redis hredis)" "($(rounds_ahead p99 "$key" "$c" redis 0 hredis))"
    done
  done
done

# ---------------------------------------------------------------------------
# The Redis store over TLS (section of its own; REDIS_TLS=0 skips it).
# One redis-server with a plain and a TLS port, certificates made here with
# openssl; harbinet-server on each ("hredis" plain, "hredis_tls" over TLS) and
# redis-server directly, measured round by round in turn with all processors
# shared, as in the shared layout.
# ---------------------------------------------------------------------------
if [[ ${REDIS_TLS:-1} != 0 ]]; then
    (
        cd "$WORK"
        openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=bench-ca
        openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1
        printf 'subjectAltName=IP:127.0.0.1' >ext
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile ext
    ) >/dev/null 2>&1
    threads=${THREADS:-$(( ${#CPUS[@]} > 1 ? ${#CPUS[@]} - 1 : 1 ))}
    PORT[redis]=$(free_port)
    TLS_PORT=$(free_port)
    redis-server --bind 127.0.0.1 --port "${PORT[redis]}" --tls-port "$TLS_PORT" --tls-cert-file "$WORK/server.pem" \
        --tls-key-file "$WORK/server.key" --tls-ca-cert-file "$WORK/ca.pem" --tls-auth-clients no --save "" \
        --appendonly no --daemonize no --dir "$WORK" --logfile "$WORK/redis-tls.log" >"$WORK/redis.out" 2>&1 &
    PID[redis]=$!
    wait_for_port "${PORT[redis]}" "${PID[redis]}"
    for name in hredis hredis_tls; do
        store=(--store "redis://127.0.0.1:${PORT[redis]}")
        [[ $name == hredis_tls ]] && store=(--store "rediss://127.0.0.1:$TLS_PORT" --redis-tls-ca "$WORK/ca.pem")
        "$SERVER" --port 0 --threads "$threads" "${store[@]}" >"$WORK/$name.out" 2>&1 &
        PID[$name]=$!
        for _ in $(seq 1 100); do
            grep -q "listening on" "$WORK/$name.out" && break
            sleep 0.05
        done
        PORT[$name]=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/$name.out")
        [[ -n ${PORT[$name]} ]] || { cat "$WORK/$name.out" >&2; exit 1; }
        wait_for_port "${PORT[$name]}" "${PID[$name]}"
    done
    echo "Redis over TLS: generator and servers on all processors, $threads worker thread(s)" >&2
    for c in $CONNECTIONS; do
        for round in $(seq 1 "$ROUNDS"); do
            case $(( (round - 1) % 3 )) in
                0) order="redis hredis hredis_tls" ;;
                1) order="hredis hredis_tls redis" ;;
                2) order="hredis_tls redis hredis" ;;
            esac
            for name in $order; do
                protocol=harbinet
                [[ $name == redis ]] && protocol=redis
                line=$("$LOAD" --protocol "$protocol" --port "${PORT[$name]}" --connections "$c" \
                    --seconds "$SECONDS_PER_ROUND" --warmup 0.3)
                echo "  tls round $round: $name $line" >&2
                echo "$line" | field ops_per_s >>"$WORK/ops.tls.$name.$c"
            done
        done
    done
    stop_servers
    printf '\n%s\n' "The Redis store over TLS: median of the ratios within each round (rounds ahead)"
    printf '%-22s %5s %12s %12s %12s %16s\n' ratio C redis hredis hredis_tls ops/s
    for c in $CONNECTIONS; do
        ops=()
        for name in redis hredis hredis_tls; do
            ops+=("$(median <"$WORK/ops.tls.$name.$c")")
        done
        printf '%-22s %5s %12.0f %12.0f %12.0f %9.3f %6s\n' "hredis/redis" "$c" "${ops[@]}" \
            "$(paired_ratio ops tls "$c" redis hredis)" "($(rounds_ahead ops tls "$c" redis 1 hredis))"
        printf '%-22s %5s %12s %12s %12s %9.3f %6s\n' "hredis_tls/hredis" "$c" "" "" "" \
            "$(paired_ratio ops tls "$c" hredis hredis_tls)" "($(rounds_ahead ops tls "$c" hredis 1 hredis_tls))"
    done
fi
