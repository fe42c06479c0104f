#!/usr/bin/env bash
# Storage faults under a running service: its database folder becomes read-only (and the file is
# deleted there, so it cannot be written back), the file is deleted, the file system fills up.
# Each cause is logged once (history.log and standard error), not once per uplink; Modbus and
# the web interface keep answering; nothing crashes; storing resumes when the cause is gone (the
# value in the file changes again).
#
# The database lives on a 16 MiB tmpfs of its own, and the service runs as nobody, so that the
# permission bits of a read-only folder count: root ignores them. Needs root.
#
# Usage: tests/faults/storage.sh [build folder]   (default: build)
source "$(dirname "$0")/lib.sh"
is_root || skip_script "mounting a small tmpfs and running the service as nobody takes root"
fault_setup "${1:-}"

db_dir=$WORK/db
db=$db_dir/server.db
mkdir "$db_dir"
mount -t tmpfs -o "size=16m,uid=$(id -u nobody),gid=$(id -g nobody),mode=755" tarvex-fault "$db_dir" ||
    skip_script "a tmpfs cannot be mounted here"
MOUNTS+=("$db_dir")

not_stored="Register values are not stored"
stored_again="Register values are stored again"
not_restored="has been deleted and is not restored yet"
restored="has been deleted and is restored with every device and the last values"

TARVEX_USER=nobody
start_counter_service 0.5 1 db/server.db

uplinks_sent() { grep -c "uplink $(device_eui 1)" "$WORK/ns-sim.log"; }
at_least() { (($($1) >= $2)); }
# Waits until the simulator has sent count more uplinks: each is one more chance to log twice.
let_uplinks_pass() {
    wait_until 60 at_least uplinks_sent $(($(uplinks_sent) + $1))
}
history_count() { count_in "$WORK/history.log" "$1"; }
console_count() { count_in "$WORK/console.log" "$1"; }
history_has() { (($(history_count "$1") >= $2)); }
stored_a() { stored_pair "$db" 1 | cut -d' ' -f1; }
stored_a_differs() { [[ $(stored_a) != "$1" ]]; }
file_value_changes() {
    local before
    before=$(stored_a) || return 1
    wait_until 30 stored_a_differs "$before"
}
# Checks that the text is in history.log once and on standard error once, and shows the entry.
logged_once() {
    check "'$1' is logged once in history.log ($(history_count "$1"))" \
        test "$(history_count "$1")" = 1
    check "... and once on standard error ($(console_count "$1"))" test "$(console_count "$1")" = 1
    note "$(grep -F "$1" "$WORK/history.log")"
}
web_values_answer() {
    api app/getRegisterValues "{\"devEui\": \"$(device_eui 1)\"}" | grep -q '"result":true'
}
still_serving() {
    check "Modbus answers" modbus_answers "$MODBUS_PORT"
    check "the web interface answers with the device's values" web_values_answer
    check "tarvex is still running" tarvex_alive
}

check "values reach the file (field A in $db changes)" file_value_changes

echo "--- the database folder becomes read-only"
chmod 555 "$db_dir"
check "values are still stored (the open file stays writable)" file_value_changes
rm -f "$db"
check "the file deleted from the read-only folder is reported within 30 s" \
    wait_until 30 history_has "$not_restored" 1
check "20 more uplinks arrive (write-back retried every 5 s)" let_uplinks_pass 20
logged_once "$not_restored"
check "uplinks still reach Modbus meanwhile (from memory)" uplinks_flow "$MODBUS_PORT"
still_serving
chmod 755 "$db_dir"
check "the file is written back within 30 s once the folder is writable" \
    wait_until 30 history_has "$restored" 1
check "the value in the written-back file changes again" file_value_changes

echo "--- the database file is deleted"
rm -f "$db"
check "the file is written back within 30 s" wait_until 30 history_has "$restored" 2
check "no failure is logged for it" test "$(history_count "$not_restored")" = 1
check "the value in the written-back file changes again" file_value_changes
still_serving

echo "--- the file system is full"
dd if=/dev/zero of="$db_dir/filler" bs=64k 2>/dev/null
check "the failure to store is reported within 30 s" wait_until 30 history_has "$not_stored" 1
check "20 more uplinks arrive" let_uplinks_pass 20
logged_once "$not_stored"
still_serving
rm -f "$db_dir/filler"
check "storing again is reported within 30 s once space returns" \
    wait_until 30 history_has "$stored_again" 1
check "... once ($(history_count "$stored_again"))" test "$(history_count "$stored_again")" = 1
check "the value in the file changes again" file_value_changes
check "uplinks flow over Modbus again" uplinks_flow "$MODBUS_PORT"
still_serving

finish
