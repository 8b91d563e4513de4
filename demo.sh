#!/usr/bin/env bash
# The main job: builds Harbinet, starts two harbinet-servers on loopback, registers
# harbinet.dll in the build's private wine prefix, and runs the demo script against them;
# then a 32-bit host reads what a 64-bit host stored, each through its own harbinet.dll.
set -euo pipefail
cd "$(dirname "$0")"

echo "Building Harbinet (the first run installs packages and takes a few minutes)..."
mkdir -p build
cmake/build.sh >build/build.log 2>&1 || { tail -n 40 build/build.log >&2; echo "The build failed; build/build.log has it all." >&2; exit 1; }
PORT=${PORT:-8077}
SERVER=build/native/server/harbinet-server
WINE_RUN=build/win/wine-run.sh
DLL='Z:'$(echo "$PWD/build/win/bin/harbinet.dll" | tr / '\\')
DLL32='Z:'$(echo "$PWD/build/win32/bin/harbinet.dll" | tr / '\\')
SCRIPT='Z:'$(echo "$PWD/examples/demo.vbs" | tr / '\\')
WIDTHS='Z:'$(echo "$PWD/examples/widths.vbs" | tr / '\\')

"$SERVER" --listen 127.0.0.1 --port "$PORT" >build/demo-server-1.log 2>&1 &
SERVER_PID=$!
"$SERVER" --listen 127.0.0.1 --port "$((PORT + 1))" >build/demo-server-2.log 2>&1 &
SECOND_PID=$!
cleanup() {
    kill "$SERVER_PID" "$SECOND_PID" 2>/dev/null || true
    wait "$SERVER_PID" "$SECOND_PID" 2>/dev/null || true
    # The tests share this prefix; their registration checks expect no 32-bit registration.
    "$WINE_RUN" 'C:\windows\syswow64\regsvr32.exe' /s /u "$DLL32" 2>/dev/null || true
    "$WINE_RUN" --stop-server 2>/dev/null || true
}
trap cleanup EXIT
sleep 0.3

"$WINE_RUN" regsvr32 /s "$DLL"
echo
echo "==== Harbinet demo: harbinet-servers on 127.0.0.1:$PORT and :$((PORT + 1)) ===="
echo
"$WINE_RUN" cscript //nologo "$SCRIPT" "http://127.0.0.1:$PORT/" "http://127.0.0.1:$((PORT + 1))/"

echo
echo "==== One cache, two widths: a 64-bit host stores, a 32-bit host reads ===="
echo
# The 32-bit module registers in the 32-bit view of the registry, beside the 64-bit one.
"$WINE_RUN" 'C:\windows\syswow64\regsvr32.exe' /s "$DLL32"
"$WINE_RUN" 'C:\windows\system32\cscript.exe' //nologo "$WIDTHS" "http://127.0.0.1:$PORT/" store
"$WINE_RUN" 'C:\windows\syswow64\cscript.exe' //nologo "$WIDTHS" "http://127.0.0.1:$PORT/" show
