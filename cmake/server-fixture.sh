#!/usr/bin/env bash
# Starts or stops a harbinet-server that the end-to-end tests talk to.
#   server-fixture.sh start SERVER PORT PIDFILE [OPTION...]   |   server-fixture.sh stop PIDFILE
set -euo pipefail
case "$1" in
    start)
        server=$2 port=$3 pidfile=$4
        shift 4
        [ -x "$server" ] || { echo "no harbinet-server at $server" >&2; exit 1; }
        "$server" --listen 127.0.0.1 --port "$port" --memory-limit 512M --max-value-size 64M "$@" \
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
        pid=$(cat "$pidfile")
        # Gone before the server is, so that a start that follows at once keeps its own.
        rm -f "$pidfile"
        kill "$pid" 2>/dev/null || true
        # A restart on the same port must find it free.
        for _ in $(seq 1 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done ;;
esac
