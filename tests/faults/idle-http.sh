#!/usr/bin/env bash
# 600 idle HTTP connections (more than the 500 the web server serves at once) and a slow-loris
# client that sends one header byte every 3 s. Idle connections are dropped after 7 s by a sweep
# every 2 s; once they are gone a new browser request (curl) is answered within 1 second. The
# slow-loris client, never idle, is dropped when its header is still incomplete after 20 s.
#
# Usage: tests/faults/idle-http.sh [build folder]   (default: build)
source "$(dirname "$0")/lib.sh"
fault_setup "${1:-}"

idle_connections=600
loris_pause=3

# No network server listens on ns_port: the service keeps trying, as it does in the field.
write_service_files "$(free_port)" "$(free_port)"
require "tarvex starts" start_tarvex

# Sends a request header one byte at a time and never ends it.
slow_loris() {
    local header="GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " i
    exec 3<>"/dev/tcp/127.0.0.1/$WEB_PORT" || return
    printf "$header" >&3
    for ((i = 0; i < 100; i++)); do
        printf 'a' >&3 2>/dev/null || return
        sleep "$loris_pause"
    done
}
slow_loris &
loris_pid=$!
STARTED_PIDS+=("$loris_pid")

# Established connections as the web server sees them.
served_connections() { ss -Htn state established "( sport = :$WEB_PORT )" | wc -l; }
at_most_served() { (($(served_connections) <= $1)); }
loris_connected() { [[ -n $(ss -Htnp state established "( dport = :$WEB_PORT )" | grep "pid=$loris_pid,") ]]; }

# Opened ten at a time, as browsers and peers come: a burst beyond the listen backlog leaves
# connects waiting for the system to retry them, and the first ones idle before the last arrive.
idle=()
opened_at=$SECONDS
for ((i = 0; i < idle_connections; i++)); do
    exec {fd}<>"/dev/tcp/127.0.0.1/$WEB_PORT" && idle+=("$fd")
    ((i % 10 == 9)) && sleep 0.01
done
opening=$((SECONDS - opened_at))
check "$idle_connections idle connections are opened (${#idle[@]}, in about $opening s)" \
    test "${#idle[@]}" = "$idle_connections"
# Idle connections the web server has closed: their end of file is readable.
closed_by_server() {
    local fd closed=0
    for fd in "${idle[@]}"; do read -r -t 0 -u "$fd" && closed=$((closed + 1)); done
    echo "$closed"
}
at_least_closed() { (($(closed_by_server) >= $1)); }
if ((opening < 4)); then
    check "the web server closes those beyond its 500 at once (at least 100 within 2 s)" \
        wait_until 2 at_least_closed $((idle_connections - 500))
    note "$(closed_by_server) of them closed, the web server holds $(served_connections) connections"
    status=$(curl -s -o /dev/null -w '%{http_code}' --max-time 1 "http://127.0.0.1:$WEB_PORT/")
    check "a browser request gets no answer while 500 connections are open (status $status)" \
        test "$status" = 000
else
    note "opening took $opening s: the first connections may be swept already, so the web server's" \
        "limit of 500 is not checked"
fi

check "the idle sweep closes the idle connections within 30 s" wait_until 30 at_most_served 1
read -r status seconds < <(curl -s -o /dev/null -w '%{http_code} %{time_total}\n' --max-time 5 \
    "http://127.0.0.1:$WEB_PORT/")
check "a new browser request after the sweep gets 200 (status $status)" test "$status" = 200
check "... within 1 second ($seconds s)" awk "BEGIN { exit !($seconds < 1) }"
check "the slow-loris client is dropped once its header is 20 s old (within 40 s)" \
    wait_until 40 not loris_connected
check "tarvex is still running" tarvex_alive

finish
