#!/usr/bin/env bash
# The demo: installs what is missing, builds Tarvex and the network-server simulator, and runs
# both until Ctrl+C: the simulator on loopback with the sample devices of
# samples/ns-sim-devices.json, Tarvex in its own working directory (run/) with the sample
# templates of samples/deviceFolder/ and a settings.conf that points it at the simulator.
# Running it again starts the same demo again; the devices added before are kept in run/server.db.
#
# These variables move the demo, for the tests and for a second demo beside the first:
#   TARVEX_BUILD_DIR (build/), TARVEX_RUN_DIR (run/), TARVEX_WEB_PORT (8899),
#   TARVEX_NS_PORT (8002, the simulator), TARVEX_MODBUS_PORT (5020, the port the instructions
#   suggest for the first device).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVEX_BUILD_DIR:-$root/build}
rundir=${TARVEX_RUN_DIR:-$root/run}
web_port=${TARVEX_WEB_PORT:-8899}
ns_port=${TARVEX_NS_PORT:-8002}
modbus_port=${TARVEX_MODBUS_PORT:-5020}
ns_login=gateway
ns_password=secret
# Where the temperature of the first sample device (the hall climate sensor) lands when it is
# added at start register 0.
temperature_register=4

children=()

# Stops what this script started: SIGTERM first (Tarvex shuts down in order), SIGKILL for
# whatever still runs after 10 seconds.
stop_children() {
    local pid alive
    for pid in "${children[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for _ in $(seq 100); do
        alive=0
        for pid in "${children[@]}"; do
            if kill -0 "$pid" 2>/dev/null; then alive=1; fi
        done
        ((alive)) || break
        sleep 0.1
    done
    for pid in "${children[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap stop_children EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

port_answers() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Waits up to 30 seconds for the child pid to answer on the port; false when it ends first.
wait_for_port() {
    local pid=$1 port=$2
    for _ in $(seq 300); do
        port_answers "$port" && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

fail() {
    echo "run.sh: $*" >&2
    exit 1
}

"$root/scripts/install-deps.sh"
# An existing build keeps its configuration (tests on or off); a new one builds only what runs.
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_BUILD_TESTS=OFF \
          -DTARVEX_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target tarvex tarvex-ns-sim -j"$(nproc)"

for port in "$web_port" "$ns_port"; do
    if port_answers "$port"; then
        fail "port $port is in use: is another demo running? (TARVEX_WEB_PORT, TARVEX_NS_PORT move it)"
    fi
done

mkdir -p "$rundir/deviceFolder"
cp "$root"/samples/deviceFolder/*.json "$rundir/deviceFolder/"
cat >"$rundir/settings.conf" <<SETTINGS
[debug]
log=true
file=history.log

[server]
address=ws://127.0.0.1:$ns_port
login=$ns_login
password=$ns_password

[webui]
port=$web_port
SETTINGS

"$build/tools/ns-sim/tarvex-ns-sim" --listen 127.0.0.1 --port "$ns_port" --login "$ns_login" \
    --password "$ns_password" "$root/samples/ns-sim-devices.json" >"$rundir/ns-sim.log" 2>&1 &
children+=($!)
wait_for_port "${children[0]}" "$ns_port" || {
    cat "$rundir/ns-sim.log" >&2
    fail "the network-server simulator did not start (log above)"
}

(cd "$rundir" && exec "$build/app/tarvex") >"$rundir/tarvex.log" 2>&1 &
children+=($!)
wait_for_port "${children[1]}" "$web_port" || {
    tail -n 20 "$rundir/tarvex.log" >&2
    fail "Tarvex did not start (last lines of $rundir/tarvex.log above)"
}

cat <<INSTRUCTIONS

Tarvex demo is running.
  Web interface:  open http://127.0.0.1:$web_port/ and log in as admin, password 6273
  Network server: the simulator at ws://127.0.0.1:$ns_port (login $ns_login, password $ns_password);
                  Tarvex logs in to it by itself, the page's connection form takes the same values
  Add a device:   "Добавить устройство", pick "Hall climate sensor", TCP port $modbus_port,
                  start register 0; its values change every 5 seconds
  Modbus TCP:     port $modbus_port; the temperature (0.1 °C) of that sensor:
                  mbpoll -m tcp -p $modbus_port -a 1 -t 4 -0 -r $temperature_register -c 1 127.0.0.1
  Logs:           $rundir/tarvex.log, $rundir/history.log, $rundir/ns-sim.log
  Stop:           Ctrl+C stops Tarvex and the simulator
INSTRUCTIONS

# Ctrl+C reaches Tarvex too, which may end before the shell notices the signal: a Tarvex that
# ended with status 0 was told to stop.
interrupted=0
trap 'interrupted=130' INT
trap 'interrupted=143' TERM
status=0
wait -n || status=$?
if ((interrupted)); then
    exit "$interrupted"
elif ((status == 0)); then
    exit 0
fi
fail "a demo process ended by itself (status $status); see $rundir/tarvex.log and $rundir/ns-sim.log"
