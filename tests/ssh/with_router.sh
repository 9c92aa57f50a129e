#!/usr/bin/env bash
# with_router.sh: runs one client against a real zentrel-serve router and checks how its session ended.
# Usage: with_router.sh SERVE ROUTER_DIR REASON CLIENT [ARG]...   (REASON: one, or a|b for either)
# The client finds the ports in TELNET_PORT and SSH_PORT (and the server in SERVE_PID); the router serves
# CONNECTIONS connections (default 1), then zentrel-serve must exit 0 with a
# session-end of REASON, one session-end per connection, none failed, and
# nothing on stderr.
set -uo pipefail
serve=$1 dir=$2 reason=$3
shift 3
work=$(mktemp -d)
pid=
cleanup() {
    [[ -n "$pid" ]] && kill "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    echo "--- events" >&2; cat "$work/events" >&2
    echo "--- zentrel-serve stderr" >&2; cat "$work/stderr" >&2
    exit 1
}

connections=${CONNECTIONS:-1}
"$serve" --port 0 --ssh-port 0 --connections "$connections" --timeout 90 --events "$work/events" "$dir" \
    2>"$work/stderr" &
pid=$!
for _ in $(seq 200); do
    grep -q '"event":"ready"' "$work/events" 2>/dev/null && break
    sleep 0.05
done
grep -q '"event":"ready"' "$work/events" || fail "zentrel-serve did not get ready"
port() { grep "\"protocol\":\"$1\"" "$work/events" | grep -o '"port":[0-9]*' | cut -d: -f2; }
export TELNET_PORT=$(port telnet) SSH_PORT=$(port ssh) WORK=$work SERVE_PID=$pid

"$@" || fail "client exited with status $?: $*"

wait "$pid"
status=$?
pid=
[[ $status -eq 0 ]] || fail "zentrel-serve exited with status $status"
grep -Eq "\"event\":\"session-end\".*\"reason\":\"($reason)\"" "$work/events" \
    || fail "no session-end with reason $reason"
ended=$(grep -c '"event":"session-end"' "$work/events")
[[ $ended -eq $connections ]] || fail "$ended sessions ended, not $connections"
! grep -q '"reason":"failed"' "$work/events" || fail "a session failed"
[[ ! -s "$work/stderr" ]] || fail "zentrel-serve wrote to stderr"
exit 0
