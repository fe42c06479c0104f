#!/usr/bin/env bash
# SIGKILL during heavy ingest, five times. Ten counter devices, each on a Modbus port of its own,
# send every 4 ms (2,500 uplinks/s together); each uplink carries one counter twice (field A, 32
# bits, and field B, 64 bits), so a stored or served pair that disagrees is torn. After each kill:
# the sqlite3 CLI finds the file intact, every stored pair agrees and holds at least what a master
# read just before the kill, and after the restart every port listens again, serves agreeing
# pairs and uplinks flow.
#
# Usage: tests/faults/kill-during-ingest.sh [build folder]   (default: build)
source "$(dirname "$0")/lib.sh"
fault_setup "${1:-}"

devices=10
rounds=5
first_count=1000 # the counters' start value (write_counter_devices): nothing below it was sent

# One line per uplink would fill the disk: the simulator logs its connections only.
export QT_LOGGING_RULES="tarvex.nssim.info=false"
start_counter_service 0.004 "$devices"
ports=("${MODBUS_PORTS[@]}")
db=$WORK/server.db

hex_to_number() { echo $((16#$1)); }

# The pair a master reads on the port agrees (A = B, at least the first count).
served_pair_agrees() {
    local pair
    pair=($(counter_pair "$1")) || return 1
    ((pair[0] == pair[1] && pair[0] >= first_count))
}

# Every device's stored pair agrees and holds at least what was read before the kill.
stored_pairs_are_sent_values() {
    local d pair a b ok=0
    for ((d = 1; d <= devices; d++)); do
        pair=($(stored_pair "$db" "$d"))
        if [[ ${#pair[@]} != 2 || ${pair[0]} == none ]]; then
            note "device $d: no stored pair (${pair[*]})"
            ok=1
            continue
        fi
        a=$(hex_to_number "${pair[0]}")
        b=$(hex_to_number "${pair[1]}")
        if ((a != b || a < first_count || a < read_before_kill[d])); then
            note "device $d: stored A=$a B=$b, read over Modbus before the kill: ${read_before_kill[d]}"
            ok=1
        fi
    done
    return $ok
}

all_ports_listen() {
    local port
    for port in "${ports[@]}"; do port_answers "$port" || return 1; done
}

all_served_pairs_agree() {
    local d ok=0
    for ((d = 1; d <= devices; d++)); do
        if ! served_pair_agrees "${ports[d - 1]}"; then
            note "device $d on port ${ports[d - 1]}: $(counter_pair "${ports[d - 1]}")"
            ok=1
        fi
    done
    return $ok
}

declare -a read_before_kill
for ((round = 1; round <= rounds; round++)); do
    echo "--- round $round of $rounds"
    check "uplinks flow (device 1's counter changes over Modbus)" uplinks_flow "${ports[0]}"
    start_count=$(counter_value "${ports[0]}")
    start_time=$SECONDS
    # The kill lands at a different moment of the ingest in each round.
    sleep $((2 + RANDOM % 3))
    for ((d = 1; d <= devices; d++)); do
        read_before_kill[d]=$(counter_value "${ports[d - 1]}" || echo 0)
    done
    note "device 1 stored about $(((read_before_kill[1] - start_count) / (SECONDS - start_time + 1))) uplinks/s (all devices: ${devices}x)"
    kill -KILL "$TARVEX_PID"
    wait "$TARVEX_PID" 2>/dev/null

    integrity=$(sqlite3 "$db" "PRAGMA integrity_check" 2>&1)
    check "PRAGMA integrity_check after SIGKILL says ok (it said: $integrity)" \
        test "$integrity" = ok
    check "every stored pair agrees, is a counted value and holds what masters read before the kill" \
        stored_pairs_are_sent_values

    check "tarvex starts again" start_tarvex
    check "every device's Modbus port listens again within 60 s" wait_until 60 all_ports_listen
    # Web sessions live in the service's memory: a restart ends them.
    check "web login again" wait_until 30 web_login
    check "the service is ONLINE again" wait_until 60 ns_online
    check "every port serves an agreeing pair while uplinks are stored" all_served_pairs_agree
done
check "tarvex is still running" tarvex_alive

finish
