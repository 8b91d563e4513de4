#!/bin/sh
# What harbinet.dll calls in wine's relay trace: at attach no Winsock or registry; after an exit-time
# detach (non-null reserved) nothing but the C runtime.   usage: exit_trace.sh <wine-run.sh> <exit_host.exe>
HARBINET_WINEDEBUG=+relay "$1" "$2" 2>&1 >/dev/null | awk '
function norm(h) { h = tolower(h); while (length(h) < 16) h = "0" h; return h }
function fromModule(line,   r) { r = line; sub(/.* ret=/, "", r); r = norm(r); return r >= lo && r < hi }
function callee(line,   s) { s = line; sub(/^[0-9a-f]*:Call /, "", s); sub(/\(.*/, "", s); return s }
/L"harbinet\.dll",reason=PROCESS_ATTACH/ { attaching = /:Call PE DLL/; next }
/:Call PE DLL .*L"harbinet\.dll",reason=PROCESS_DETACH,res=0*[1-9a-fA-F]/ { exiting = 1; next }
/^exit-host: module / { lo = norm($3); hi = norm($4)
    for (i = 0; i < nLoad; ++i) if (fromModule(aLoad[i]) && callee(aLoad[i]) ~ /^ws2_32\.|\.Reg|\.Nt(Open|Create)Key/) {
        print "at load: " callee(aLoad[i]); bad = 1 }
    next }
/^exit-host: used/ { used = 1; next }
/:Call / && attaching { aLoad[nLoad++] = $0; next }
/:Call / && exiting && fromModule($0) && callee($0) !~ /^msvcrt\./ { print "at exit: " callee($0); bad = 1 }
END {
    if (!used) { print "the host did not use every feature"; bad = 1 }
    if (!exiting) { print "no exit-time detach of harbinet.dll in the trace"; bad = 1 }
    if (!bad) print "ok: nothing of Winsock or the registry at load, no call but the C runtime after the exit began"
    exit bad
}'
