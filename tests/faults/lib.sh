# Shared helpers of the fault scripts; sourced, never run.
#
# A script calls fault_setup with its build folder, starts what it needs (start_counter_service,
# or start_ns_sim and start_tarvex), drives its fault, states what it checked with check, and
# ends with finish. Everything it starts is stopped on exit; the working folder is removed
# unless a check failed, so a failure can be looked into.

set -uo pipefail

FAILURES=0
STARTED_PIDS=()
MOUNTS=()
WORK=""

# The simulated counter device every script uses: two counters that the simulator advances
# together, field A (32 bits, registers 0-1) and field B (64 bits, registers 2-5), so a stored
# pair that disagrees was torn or made up; and field C, the constant 0x5A5A (register 6), whose
# answer a master can check without knowing the counters.
COUNTER_APP_EUI=0102030405060708
NS_LOGIN=gateway
NS_PASSWORD=secret
WEB_LOGIN=admin
WEB_PASSWORD=6273

note() { echo "      $*"; }

# check "what was checked" command...: PASS when the command succeeds, FAIL otherwise.
check() {
    local what=$1
    shift
    "$@" && echo "PASS: $what" && return
    echo "FAIL: $what"
    FAILURES=$((FAILURES + 1))
    return 1
}

# require "what" command...: a check the rest of the script builds on; a FAIL ends the script.
require() { check "$@" || finish; }

# Exit status 77: run-all.sh counts the script as skipped.
skip_script() {
    echo "SKIP: $*"
    exit 77
}

is_root() { [[ $(id -u) == 0 ]]; }

finish() {
    if ((FAILURES)); then
        echo "$(basename "$0" .sh): $FAILURES check(s) FAILED; files kept in $WORK"
        exit 1
    fi
    echo "$(basename "$0" .sh): all checks passed in $SECONDS s"
    exit 0
}

cleanup() {
    local pid mount
    exec 2>/dev/null # the shell's notes on the jobs it kills
    for pid in "${STARTED_PIDS[@]}"; do kill -CONT "$pid"; kill -KILL "$pid"; done
    wait
    for mount in "${MOUNTS[@]}"; do umount -l "$mount"; done
    ((FAILURES)) || rm -rf "$WORK"
}

# fault_setup [build folder]: finds the executables and makes the working folder $WORK.
fault_setup() {
    local build=${1:-build}
    [[ -d $build ]] || build=$(dirname "${BASH_SOURCE[0]}")/../../$build
    TARVEX=$(realpath -e "$build/app/tarvex" 2>/dev/null) &&
        NS_SIM=$(realpath -e "$build/tools/ns-sim/tarvex-ns-sim" 2>/dev/null) || {
        echo "$(basename "$0"): build tarvex and tarvex-ns-sim in ${1:-build} first" >&2
        exit 2
    }
    WORK=$(mktemp -d /tmp/tarvex-fault.XXXXXX)
    chmod 755 "$WORK"
    trap cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    # A write to a connection the service closed must fail, not end the script.
    trap '' PIPE
    echo "$(basename "$0"): working folder $WORK"
}

# not command...: true when the command fails, for wait_until.
not() { ! "$@"; }

# wait_until SECONDS command...: true as soon as the command succeeds, polling every 0.2 s.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A port nothing listens on, from a range the system does not hand out for outgoing connections.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 12000))
        port_answers "$port" || [[ -n $(ss -Htan "( sport = :$port or dport = :$port )") ]] ||
            break
    done
    echo "$port"
}

# --- The network-server simulator ---

device_eui() { printf 'C0FFEE%010X' "$1"; }

# write_counter_devices file count interval: count counter devices (device_eui 1 upwards)
# sending every interval seconds, their counters starting at 1000.
write_counter_devices() {
    local i
    {
        echo '{"gatewayId": "00800000A0001234", "devices": ['
        for ((i = 1; i <= $2; i++)); do
            ((i > 1)) && echo ','
            cat <<DEVICE
  {"devEui": "$(device_eui "$i")", "appEui": "$COUNTER_APP_EUI", "name": "Counter $i",
   "interval": $3, "packets": [{"type": 1, "fields": [
     {"size": 4, "type": "uinteger", "endianness": "be", "generator": "counter",
      "start": 1000, "min": 0, "max": 4294967295, "step": 1},
     {"size": 8, "type": "uinteger", "endianness": "le", "generator": "counter",
      "start": 1000, "min": 0, "max": 4294967295, "step": 1},
     {"size": 2, "type": "uinteger", "endianness": "be", "generator": "constant",
      "start": 23130}]}]}
DEVICE
        done
        echo ']}'
    } >"$1"
}

# start_ns_sim port device-file: the simulator in the background, its pid in NS_PID; its log
# (one line per uplink, login and connection) in $WORK/ns-sim.log.
start_ns_sim() {
    "$NS_SIM" --listen 127.0.0.1 --port "$1" --login "$NS_LOGIN" --password "$NS_PASSWORD" \
        "$2" >>"$WORK/ns-sim.log" 2>&1 &
    NS_PID=$!
    STARTED_PIDS+=("$NS_PID")
    wait_until 30 port_answers "$1"
}

ns_logins() { grep -c 'login accepted' "$WORK/ns-sim.log"; }

# --- Tarvex ---

# write_service_files web-port ns-port [db file]: settings.conf and the counter template in $WORK.
write_service_files() {
    WEB_PORT=$1
    mkdir -p "$WORK/deviceFolder"
    cat >"$WORK/settings.conf" <<SETTINGS
[debug]
log=true
file=history.log
[db]
file=${3:-server.db}
[server]
address=ws://127.0.0.1:$2
login=$NS_LOGIN
password=$NS_PASSWORD
[webui]
ip=127.0.0.1
port=$1
SETTINGS
    cat >"$WORK/deviceFolder/counter.json" <<'TEMPLATE'
{"app_eui": "0102030405060708", "dev_type": "Counter pair", "device_packets": [{
    "packet_type": 1, "packet_size": 15, "packet_fields": [
        {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 32, "data_type": "uinteger",
         "endianness": "be", "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 32,
         "data_name": "A"},
        {"packet_bias": 5, "data_bit_bias": 0, "data_bit_size": 64, "data_type": "uinteger",
         "endianness": "le", "reg_map_bias": 2, "reg_bit_bias": 0, "reg_bit_size": 64,
         "data_name": "B"},
        {"packet_bias": 13, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger",
         "endianness": "be", "reg_map_bias": 6, "reg_bit_bias": 0, "reg_bit_size": 16,
         "data_name": "C"}]}]}
TEMPLATE
}

# start_tarvex [wrapper...]: the service in $WORK (through the wrapper, such as prlimit, when
# given), its pid in TARVEX_PID, standard error appended to $WORK/console.log; true once the
# web interface answers. With TARVEX_USER set it runs as that user, who then owns $WORK, as the
# service's own user owns its working folder.
start_tarvex() {
    if [[ -n ${TARVEX_USER:-} ]]; then
        chown -R "$TARVEX_USER:" "$WORK"
        set -- setpriv --reuid="$TARVEX_USER" --regid="$(id -g "$TARVEX_USER")" --clear-groups "$@"
    fi
    (cd "$WORK" && exec "$@" "$TARVEX") >>"$WORK/console.log" 2>&1 &
    TARVEX_PID=$!
    STARTED_PIDS+=("$TARVEX_PID")
    local deadline=$((SECONDS + 60))
    until web_answers; do
        tarvex_alive && ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

tarvex_alive() {
    kill -0 "$TARVEX_PID" 2>/dev/null && [[ $(awk '{print $3}' "/proc/$TARVEX_PID/stat") != Z ]]
}

# start_counter_service interval [devices] [db file] [wrapper...]: the simulator with that many
# counter devices (1 by default) sending every interval seconds, and tarvex (through the wrapper
# when given) with device d added on Modbus port ${MODBUS_PORTS[d - 1]} ($MODBUS_PORT for the
# first); each step is a check, the last that the service is ONLINE.
start_counter_service() {
    local interval=$1 devices=${2:-1} db_file=${3:-server.db} d
    shift $(($# < 3 ? $# : 3))
    NS_PORT=$(free_port)
    MODBUS_PORTS=()
    for ((d = 1; d <= devices; d++)); do MODBUS_PORTS+=("$(free_port)"); done
    MODBUS_PORT=${MODBUS_PORTS[0]}
    write_counter_devices "$WORK/devices.json" "$devices" "$interval"
    write_service_files "$(free_port)" "$NS_PORT" "$db_file"
    require "the simulator starts" start_ns_sim "$NS_PORT" "$WORK/devices.json"
    require "tarvex starts${*:+ (through $*)} and its web interface answers" start_tarvex "$@"
    require "web login" wait_until 30 web_login
    for ((d = 1; d <= devices; d++)); do
        require "device $d is added on Modbus port ${MODBUS_PORTS[d - 1]}" \
            add_device "$d" "${MODBUS_PORTS[d - 1]}"
    done
    require "the service is ONLINE" wait_until 60 ns_online
}

web_answers() {
    [[ $(curl -s -o /dev/null -w '%{http_code}' --max-time 5 "http://127.0.0.1:$WEB_PORT/") == 200 ]]
}

# api action [json]: posts to the web API with the session of web_login; prints the answer.
api() {
    curl -s --max-time 20 -b "$WORK/cookies" -c "$WORK/cookies" \
        -H 'Content-Type: application/json' --data "${2:-"{}"}" \
        "http://127.0.0.1:$WEB_PORT/api/v1/$1"
}

web_login() {
    [[ $(curl -s --max-time 20 -b "$WORK/cookies" -c "$WORK/cookies" \
        --data "username=$WEB_LOGIN&password=$WEB_PASSWORD" \
        "http://127.0.0.1:$WEB_PORT/api/v1/auth/login") == Ok. ]]
}

ns_online() { api server/reqServerState | grep -q '"status":"ONLINE"'; }

# add_device number modbus-port: registers counter device number with the web API, as the
# add-device page does, at start register 0 of its port.
add_device() {
    local registers='[
        {"source": 1, "data_name": "A", "reg_map_bias": 0, "reg_bit_size": 32,
         "data_type": "uinteger", "addition": 0, "multiplication": 1, "units": ""},
        {"source": 1, "data_name": "B", "reg_map_bias": 2, "reg_bit_size": 64,
         "data_type": "uinteger", "addition": 0, "multiplication": 1, "units": ""},
        {"source": 1, "data_name": "C", "reg_map_bias": 6, "reg_bit_size": 16,
         "data_type": "uinteger", "addition": 0, "multiplication": 1, "units": ""}]'
    api app/addDevice "{\"port\": $2, \"startAddr\": 0, \"devEui\": \"$(device_eui "$1")\",
        \"app_eui\": \"$COUNTER_APP_EUI\", \"dev_type\": \"Counter pair\",
        \"devRegisters\": $registers}" | grep -q '"result":true'
}

# --- Modbus ---

# counter_pair port: "A B" as a master (mbpoll) reads both fields of the device at register 0
# in one request; fails when it gets no answer.
counter_pair() {
    local output w=() word
    output=$(mbpoll -m tcp -p "$1" -a 1 -t 4 -0 -r 0 -c 6 -1 -o 5 127.0.0.1 2>/dev/null) || return 1
    # mbpoll prints signed 16-bit values
    for word in $(grep -E '^\[[0-9]+\]:' <<<"$output" | awk '{print $2}'); do
        w+=($(((word + 65536) % 65536)))
    done
    ((${#w[@]} == 6)) || return 1
    echo "$(((w[0] << 16) | w[1])) $(((w[2] << 48) | (w[3] << 32) | (w[4] << 16) | w[5]))"
}

counter_value() {
    local pair
    pair=($(counter_pair "$1")) || return 1
    echo "${pair[0]}"
}

counter_differs() {
    local now
    now=$(counter_value "$1") && [[ $now != "$2" && $now != 0 ]]
}

# uplinks_flow port: true when the counter read over Modbus changes within 60 s.
uplinks_flow() {
    local before
    before=$(counter_value "$1") || return 1
    wait_until 60 counter_differs "$1" "$before"
}

# modbus_answers port: one master connects, reads register 6 (field C, 0x5A5A, once the device
# has sent an uplink) with modbus_asks and closes, without a process per connection.
modbus_answers() {
    local fd status
    { exec {fd}<>"/dev/tcp/127.0.0.1/$1"; } 2>/dev/null || return 1
    modbus_asks "$fd"
    status=$?
    exec {fd}>&-
    return $status
}

# modbus_asks fd: reads register 6 on an open connection and checks the whole answer. Bash drops
# the zero bytes it reads and takes byte 0x01 for its own quoting mark, so the request uses
# transaction 0x4142 and unit 0x11, and the answer's other eight bytes are compared:
# transaction 0x4142, length 5, unit 0x11, function 3, 2 bytes, 0x5A5A.
modbus_asks() {
    local answer=""
    printf '\x41\x42\x00\x00\x00\x06\x11\x03\x00\x06\x00\x01' >&"$1" 2>/dev/null || return 1
    LC_ALL=C IFS= read -r -N 8 -t 10 -u "$1" answer 2>/dev/null
    [[ $answer == "AB"$'\x05\x11\x03\x02'"ZZ" ]]
}

# --- Files ---

count_in() { grep -cF -- "$2" "$1" 2>/dev/null; }

# stored_pair db-file device-number: "A B" as stored in the file, read with the sqlite3 CLI.
stored_pair() {
    sqlite3 -separator ' ' "$1" "SELECT ifnull(a.full_value, 'none'), ifnull(b.full_value, 'none')
        FROM devices d JOIN dev_data a ON a.device = d.device AND a.name = 'A'
        JOIN dev_data b ON b.device = d.device AND b.name = 'B'
        WHERE d.dev_eui = '$(device_eui "$2")'"
}

descriptor_count() { ls "/proc/$1/fd" | wc -l; }
