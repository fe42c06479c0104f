#!/usr/bin/env bash
# A Modbus master that connects 10,000 times (connect, read one register, close). Every read is
# answered, and afterwards the service holds no more descriptors than before (/proc/<pid>/fd).
#
# Usage: tests/faults/modbus-churn.sh [build folder]   (default: build)
source "$(dirname "$0")/lib.sh"
fault_setup "${1:-}"

connections=10000

start_counter_service 1
check "uplinks flow" uplinks_flow "$MODBUS_PORT"

# The masters of uplinks_flow have come and gone: everything the service keeps open for good is
# open now.
at_most_descriptors() { (($(descriptor_count "$TARVEX_PID") <= $1)); }
before=$(descriptor_count "$TARVEX_PID")
note "descriptors before: $before"

started=$(date +%s.%N)
unanswered=0
for ((i = 1; i <= connections; i++)); do
    modbus_answers "$MODBUS_PORT" || unanswered=$((unanswered + 1))
done
note "$connections connections in $(awk "BEGIN { printf \"%.1f\", $(date +%s.%N) - $started }") s"
check "every one of the $connections reads is answered ($unanswered unanswered)" \
    test "$unanswered" = 0
check "the service's descriptors are back to $before within 30 s" \
    wait_until 30 at_most_descriptors "$before"
note "descriptors after: $(descriptor_count "$TARVEX_PID")"
check "uplinks still flow" uplinks_flow "$MODBUS_PORT"
check "tarvex is still running" tarvex_alive

finish
