#!/usr/bin/env bash
# The descriptor limit reached: the service runs under prlimit --nofile=64:64 and 100 Modbus
# masters connect and stay. The service refuses the excess (closes them at once rather than
# leaving them waiting), keeps serving the masters it holds, keeps its web interface and
# network-server connection, and serves a new master once the 100 have left.
#
# Usage: tests/faults/descriptor-limit.sh [build folder]   (default: build)
source "$(dirname "$0")/lib.sh"
fault_setup "${1:-}"

limit=64
masters=100

start_counter_service 0.5 1 server.db prlimit --nofile=$limit:$limit
uplinks_arrive() { api app/getRegisterValues "{\"devEui\": \"$(device_eui 1)\"}" | grep -q '"value":"23130"'; }
check "uplinks arrive (the web API shows field C)" wait_until 60 uplinks_arrive
check "a master is served before the others come" modbus_answers "$MODBUS_PORT"
note "the service holds $(descriptor_count "$TARVEX_PID") descriptors"

held=()
for ((i = 0; i < masters; i++)); do
    exec {fd}<>"/dev/tcp/127.0.0.1/$MODBUS_PORT" && held+=("$fd")
done
check "$masters masters connect (${#held[@]})" test "${#held[@]}" = "$masters"
served=()
refused=0
for fd in "${held[@]}"; do
    if modbus_asks "$fd"; then served+=("$fd"); else refused=$((refused + 1)); fi
done
note "served: ${#served[@]}, refused: $refused, the service holds $(descriptor_count "$TARVEX_PID") descriptors"
check "the service serves some of the masters (${#served[@]})" test "${#served[@]}" -gt 0
check "the service refuses the excess (${refused})" test "$refused" -gt 0
again=0
for fd in "${served[@]}"; do modbus_asks "$fd" && again=$((again + 1)); done
check "the masters it holds are served again ($again of ${#served[@]})" test "$again" = "${#served[@]}"
check "the web interface answers meanwhile" web_answers
check "the service stays ONLINE" ns_online

for fd in "${held[@]}"; do exec {fd}>&-; done
check "after they have left a new master is served within 30 s" \
    wait_until 30 modbus_answers "$MODBUS_PORT"
check "tarvex is still running" tarvex_alive

finish
