#!/bin/sh
# Runs the exit host under wine's relay trace and checks what harbinet.dll itself calls:
# while it is attached, nothing of Winsock and nothing of the registry; once the process
# has begun to exit (a detach with a non-null reserved argument), nothing in any other
# library but the C runtime's own exit bookkeeping.
# usage: exit_trace.sh <wine-run.sh> <exit_host.exe>
set -u
HARBINET_WINEDEBUG=+relay "$1" "$2" 2>&1 >/dev/null | awk '
function norm(h) { h = tolower(h); while (length(h) < 16) h = "0" h; return h }
function fromModule(line,   r) { r = line; sub(/.* ret=/, "", r); r = norm(r); return r >= lo && r < hi }
function callee(line,   s) { s = line; sub(/^[0-9a-f]*:Call /, "", s); sub(/\(.*/, "", s); return s }
/L"harbinet\.dll",reason=PROCESS_ATTACH/ { attaching = /:Call PE DLL/; next }
/L"harbinet\.dll",reason=PROCESS_DETACH,res=0+\)/ { next }
/:Call PE DLL .*L"harbinet\.dll",reason=PROCESS_DETACH/ { exiting = 1; next }
/^exit-host: module / { lo = norm($3); hi = norm($4)
    for (i = 0; i < nLoad; ++i) if (fromModule(aLoad[i])) { n = callee(aLoad[i])
        if (n ~ /^ws2_32\./ || n ~ /\.Reg/ || n ~ /\.NtOpenKey/ || n ~ /\.NtCreateKey/) { print "at load: " n; bad = 1 } }
    next }
/^exit-host: used/ { used = 1; next }
/^exit-host: / { print; bad = 1; next }
/:Call / {
    if (attaching) { aLoad[nLoad++] = $0; next }
    if (exiting && fromModule($0) && callee($0) !~ /^msvcrt\./) { print "at exit: " callee($0); bad = 1 }
}
END {
    if (!used) { print "the host did not use every feature"; bad = 1 }
    if (!exiting) { print "no exit-time detach of harbinet.dll in the trace"; bad = 1 }
    if (bad) exit 1
    print "ok: nothing of Winsock or the registry at load, no call but the C runtime after the exit began"
}'
