#!/usr/bin/env bash
# Requests per second and p99 latency of app/getRegisterValues (one device, 20 registers) at 1
# and 50 connections while 1000 uplinks/s arrive, beside the bare HTTP server's echo handler.
#   bench/web/run.sh [build-dir] [seconds per case]     (defaults: build, 10)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
seconds=${2:-10}
command -v wrk >/dev/null || { echo "wrk is missing: scripts/install-deps.sh --test" >&2; exit 1; }
cmake --build "$build" --target web_bench -j2 >/dev/null
"$build/bench/web/web_bench" --seconds "$seconds"
