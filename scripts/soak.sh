#!/usr/bin/env bash
# Installs what is missing, builds Tarvex and its soak, and runs the soak for [seconds] (default
# 120) of load after the set-up and warm-up: 200 uplinks/s over 1,000 devices, 50 Modbus masters
# at 10 Hz, 20 web clients at 1 Hz. Exits non-zero when a check fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-120}

"$root/scripts/install-deps.sh" --test
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_BUILD_TESTS=ON >/dev/null
cmake --build "$root/build" --target tarvex tarvex-soak -j"$(nproc)"
TARVEX_BINARY="$root/build/app/tarvex" QT_QPA_PLATFORM=offscreen \
    "$root/build/tests/soak/tarvex-soak" --duration "$seconds"
