#!/usr/bin/env bash
# Starts or stops a harbinet-server that the end-to-end tests talk to; with "redis", one
# that keeps its values in a private redis-server on a free loopback port.
#   server-fixture.sh start SERVER PORT PIDFILE [redis] [OPTION...]   |   server-fixture.sh stop PIDFILE
set -euo pipefail

# Starts redis-server on a port nobody holds: a taken port makes it exit at once, and
# another is tried. Prints the port; the pid goes to the pid file.
start_redis() {
    local pidfile=$1 port pid
    for _ in $(seq 1 20); do
        port=$((20000 + RANDOM % 40000))
        redis-server --port "$port" --bind 127.0.0.1 --save '' --appendonly no \
            </dev/null >"$pidfile.redis.log" 2>&1 &
        pid=$!
        for _ in $(seq 1 50); do
            if [ "$(redis-cli -p "$port" ping 2>/dev/null)" = PONG ]; then
                echo "$pid" >>"$pidfile"
                echo "$port"
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$pid" 2>/dev/null || true
    done
    cat "$pidfile.redis.log" >&2
    return 1
}

case "$1" in
    start)
        server=$2 port=$3 pidfile=$4 store=()
        shift 4
        [ -x "$server" ] || { echo "no harbinet-server at $server" >&2; exit 1; }
        : >"$pidfile"
        if [ "${1:-}" = redis ]; then
            shift
            redis_port=$(start_redis "$pidfile") || exit 1
            store=(--store "redis://127.0.0.1:$redis_port")
        fi
        "$server" --listen 127.0.0.1 --port "$port" --memory-limit 512M --max-value-size 64M "${store[@]}" "$@" \
            </dev/null >"$pidfile.log" 2>&1 &
        echo $! >>"$pidfile"
        for _ in $(seq 1 50); do
            grep -q "listening" "$pidfile.log" && exit 0
            kill -0 "$(tail -n 1 "$pidfile")" 2>/dev/null || break
            sleep 0.1
        done
        cat "$pidfile.log" >&2
        exit 1 ;;
    stop)
        pidfile=$2
        [ -f "$pidfile" ] || exit 0
        pids=$(tac "$pidfile")
        # Gone before the processes are, so that a start that follows at once keeps its own.
        rm -f "$pidfile"
        # The server first, then the Redis it talks to; a restart on the same port must
        # find it free.
        for pid in $pids; do
            kill "$pid" 2>/dev/null || true
            for _ in $(seq 1 50); do
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.1
            done
        done ;;
esac
