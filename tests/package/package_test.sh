#!/usr/bin/env bash
# The Debian package: built (build), checked by lintian (lint), and installed, started
# as its service starts, used and purged, leaving the machine as it was (roundtrip, root only).
set -euo pipefail
mode=$1
build=$2
deb=$build/package/harbinet-server_$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")_amd64.deb

case $mode in
build)
    rm -f "$build"/package/*.deb
    (cd "$build" && cpack --config CPackConfig.cmake >/dev/null)
    test -f "$deb"
    exit 0 ;;
lint)
    out=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true)
    echo "$out"
    ! echo "$out" | grep -q '^E: '
    exit $? ;;
roundtrip) ;;
*) echo "unknown mode $mode" >&2; exit 2 ;;
esac

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing a package needs root"
    exit 77
fi
if dpkg-query -W -f='${Status}' harbinet-server 2>/dev/null | grep -q "ok installed\|config-files"; then
    echo "skipped: harbinet-server is installed on this machine already"
    exit 77
fi

leftovers() {
    getent passwd | cut -d: -f1 | sort
    getent group | cut -d: -f1 | sort
    ls -d /etc/harbinet /usr/bin/harbinet-server /lib/systemd/system/harbinet-server.service \
        /etc/systemd/system/*/harbinet-server.service /var/lib/systemd/deb-systemd-helper-*/*harbinet* \
        /var/lib/systemd/deb-systemd-helper-*/*/*harbinet* 2>/dev/null || true
}
before=$(leftovers)
work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    dpkg-query -W harbinet-server >/dev/null 2>&1 && dpkg --purge harbinet-server >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

dpkg -i "$deb" >/dev/null
unit=/lib/systemd/system/harbinet-server.service
! command -v systemd-analyze >/dev/null || systemd-analyze verify "$unit"

# An operator's edit of the conffile: any free port.
echo "port = 0" >>/etc/harbinet/harbinet-server.conf

# DynamicUser: systemd runs the service as a fresh unprivileged uid that owns
# nothing; the test takes one that no account has.
uid=61184
while getent passwd "$uid" >/dev/null || getent group "$uid" >/dev/null; do uid=$((uid + 1)); done
as_unit_user=(setpriv --reuid="$uid" --regid="$uid" --clear-groups --no-new-privs --)
read -ra start_pre <<<"$(sed -n 's/^ExecStartPre=//p' "$unit")"
read -ra start <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
"${as_unit_user[@]}" "${start_pre[@]}"
# setpriv becomes the server, so the pid is the server's.
"${as_unit_user[@]}" "${start[@]}" >"$work/out" 2>&1 &
server_pid=$!
timeout 5 sh -c 'until grep -q "listening on" "$1"; do sleep 0.05; done' - "$work/out" || true
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$work/out")
test -n "$port"
test "$(stat -c %u "/proc/$server_pid")" = "$uid"

url=http://127.0.0.1:$port
printf 'twenty-four bytes of val' >"$work/value"
curl -sS -D "$work/set" -o /dev/null -H 'content-type: application/x-variant-3' -H 'x-param-name: roundtrip' \
    -H 'x-param-timeout: 0' --data-binary @"$work/value" "$url/set"
curl -sS -D "$work/get" -o "$work/got" -H 'x-param-name: roundtrip' --data-binary '' "$url/get"
grep -q '^x-result-code: 0' "$work/set"
grep -q '^x-result-code: 0' "$work/get"
cmp "$work/value" "$work/got"

kill -TERM "$server_pid"
wait "$server_pid"
server_pid=

dpkg --purge harbinet-server >/dev/null
diff <(echo "$before") <(leftovers) || { echo "FAIL: the purge left the machine changed"; exit 1; }
echo "installed, served a set and a get as uid $uid, purged: nothing left behind"
