#!/usr/bin/env bash
# Requests per second and latency of small keep-alive GETs against the HTTP server with the
# echo handler, at 1 and at 50 connections.
#   bench/http/run.sh [build-dir] [seconds]     (defaults: build, 10)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
seconds=${2:-10}
server="$build/bench/http/http_bench_server"
if [[ ! -x "$server" ]]; then
    cmake --build "$build" --target http_bench_server -j2
fi

output=$(mktemp)
"$server" 0 >"$output" &
pid=$!
trap 'kill "$pid" 2>/dev/null; rm -f "$output"' EXIT
for _ in $(seq 50); do
    [[ -s "$output" ]] && break
    sleep 0.1
done
url="http://127.0.0.1:$(cat "$output")/bench?x=1"

for connections in 1 50; do
    threads=$((connections < 2 ? 1 : 2))
    echo "== $connections connection(s), $threads wrk thread(s), ${seconds}s: $url"
    wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency "$url"
done
