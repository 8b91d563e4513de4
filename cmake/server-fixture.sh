#!/usr/bin/env bash
# Starts or stops the harbinet-server that the end-to-end tests talk to.
#   server-fixture.sh start SERVER PORT PIDFILE   |   server-fixture.sh stop PIDFILE
set -euo pipefail
case "$1" in
    start)
        server=$2 port=$3 pidfile=$4
        [ -x "$server" ] || { echo "no harbinet-server at $server" >&2; exit 1; }
        "$server" --listen 127.0.0.1 --port "$port" --memory-limit 512M --max-value-size 64M \
            </dev/null >"$pidfile.log" 2>&1 &
        echo $! >"$pidfile"
        for _ in $(seq 1 50); do
            grep -q "listening" "$pidfile.log" && exit 0
            kill -0 "$(cat "$pidfile")" 2>/dev/null || break
            sleep 0.1
        done
        cat "$pidfile.log" >&2
        exit 1 ;;
    stop)
        pidfile=$2
        [ -f "$pidfile" ] || exit 0
        kill "$(cat "$pidfile")" 2>/dev/null || true
        rm -f "$pidfile" ;;
esac
