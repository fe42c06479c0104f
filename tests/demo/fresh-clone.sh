#!/usr/bin/env bash
# Checks the README's run command the way a newcomer meets it: clones the checkout's HEAD into a
# temporary folder (nothing built, no node_modules), runs scripts/run.sh in a process group of
# its own until it prints "open http://", reports how long that took, then sends Ctrl+C (SIGINT
# to the group) and fails if any process of the group is left 30 seconds later. Takes as long as
# a full build; CI does not run it (tests/demo/tst_demo runs the same command on the test build).
#   tests/demo/fresh-clone.sh [web port] [simulator port]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
web_port=${1:-28899}
ns_port=${2:-28002}
clone=$(mktemp -d)
output="$clone.out"
trap 'rm -rf "$clone" "$output"' EXIT
: >"$output"

git clone -q "$root" "$clone"
start=$SECONDS
TARVEX_WEB_PORT=$web_port TARVEX_NS_PORT=$ns_port setsid "$clone/scripts/run.sh" >"$output" 2>&1 &
group=$!
until grep -q "open http://" "$output"; do
    if ! kill -0 "$group" 2>/dev/null; then
        cat "$output"
        echo "fresh-clone.sh: the run command ended before it printed what to open" >&2
        exit 1
    fi
    sleep 1
done
echo "fresh-clone.sh: \"open http://\" after $((SECONDS - start)) s"

kill -INT -- "-$group"
for _ in $(seq 30); do
    kill -0 -- "-$group" 2>/dev/null || break
    sleep 1
done
if kill -0 -- "-$group" 2>/dev/null; then
    ps -o pid,cmd -g "$group" >&2
    kill -KILL -- "-$group"
    echo "fresh-clone.sh: processes left after Ctrl+C (above)" >&2
    exit 1
fi
echo "fresh-clone.sh: Ctrl+C left no process behind"
