#!/bin/sh
# Runs an example with the second test server's URL appended to its arguments. That
# server listens on a port it chose itself, which its start line tells.
#   run-example.sh SECOND_SERVER_LOG COMMAND [ARGUMENTS...]
log=$1
shift
port=$(sed -n 's/^harbinet-server listening on 127\.0\.0\.1:\([0-9][0-9]*\) .*/\1/p' "$log" 2>/dev/null | head -n 1)
if [ -z "$port" ]; then
    echo "not ok - no port in the second server's start line ($log)"
    exit 1
fi
exec "$@" "http://127.0.0.1:$port/"
