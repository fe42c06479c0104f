#!/usr/bin/env bash
# Network-server faults: the network server closes the connection, stops answering (SIGSTOP),
# restarts, and accepts TCP but never completes the WebSocket handshake. After each the service
# logs in again by itself and uplinks flow again: the counter a Modbus master reads changes.
#
# Usage: tests/faults/network-server.sh [build folder]   (default: build)
source "$(dirname "$0")/lib.sh"
fault_setup "${1:-}"

start_counter_service 0.5
check "uplinks flow: the counter read over Modbus changes" uplinks_flow "$MODBUS_PORT"

logins_after() { (($(ns_logins) > $1)); }
console_has_more() { (($(count_in "$WORK/console.log" "$1") > $2)); }
history_has_more() { (($(count_in "$WORK/history.log" "$1") > $2)); }
service_connected() { [[ -n $(ss -Htn state established "( dport = :$NS_PORT )") ]]; }
# ss -K destroys the simulator's end of the connection: the service gets a reset.
close_simulator_end() { ss -HK -tn "( sport = :$NS_PORT )" >/dev/null; }

# Announces a fault and notes the logins so far and when it began.
fault_begins() {
    echo "--- $1"
    logins=$(ns_logins)
    fault_began=$SECONDS
}

# Checks that the service logs in again after the fault and that uplinks flow again.
recovers() {
    check "the service logs in to the network server again within 90 s" \
        wait_until 90 logins_after "$logins"
    note "logged in again $((SECONDS - fault_began)) s after the fault began"
    check "the service is ONLINE again" wait_until 30 ns_online
    check "uplinks flow again: the counter read over Modbus changes" uplinks_flow "$MODBUS_PORT"
    check "tarvex is still running" tarvex_alive
}

if is_root; then
    fault_begins "the network server closes the connection"
    check "the simulator's end of the connection is closed (ss -K)" close_simulator_end
    check "the service sees the connection closed" wait_until 10 not service_connected
    recovers
else
    echo "SKIP: the network server closes the connection: ss -K takes root; run as root for it"
fi

fault_begins "the network server stops answering pings (SIGSTOP)"
timeouts=$(count_in "$WORK/console.log" "Ping timeout, trying to reconnect server...")
kill -STOP "$NS_PID"
check "the service notices the silent network server within 40 s (ping timeout on stderr)" \
    wait_until 40 console_has_more "Ping timeout, trying to reconnect server..." "$timeouts"
check "Modbus still answers while the network server is silent" modbus_answers "$MODBUS_PORT"
note "resumed $((SECONDS - fault_began)) s after it was stopped"
kill -CONT "$NS_PID"
recovers

fault_begins "the network server restarts (SIGKILL, then started again)"
kill -KILL "$NS_PID"
wait "$NS_PID" 2>/dev/null
check "the service reports the network server gone within 40 s" wait_until 40 not ns_online
check "the simulator starts again on the same port" \
    start_ns_sim "$NS_PORT" "$WORK/devices.json"
recovers

fault_begins "the network server accepts TCP but never completes the WebSocket handshake"
handshake_timeouts=$(count_in "$WORK/history.log" "No complete handshake answer from")
kill -KILL "$NS_PID"
wait "$NS_PID" 2>/dev/null
# A stopped simulator: the system accepts connections on its listening socket, nobody answers.
check "a simulator starts and is stopped at once" start_ns_sim "$NS_PORT" "$WORK/devices.json"
kill -STOP "$NS_PID"
check "the service gives up a handshake that never completes (history.log), within 90 s" \
    wait_until 90 history_has_more "No complete handshake answer from" "$handshake_timeouts"
check "the service tries again: a second handshake time-out within 60 s" \
    wait_until 60 history_has_more "No complete handshake answer from" "$((handshake_timeouts + 1))"
check "the web interface answers meanwhile" web_answers
check "Modbus answers meanwhile" modbus_answers "$MODBUS_PORT"
note "resumed $((SECONDS - fault_began)) s after it was stopped"
kill -CONT "$NS_PID"
recovers

finish
