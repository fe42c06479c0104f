#!/usr/bin/env bash
# Installs what is missing, builds Tarvex and runs it in its own working directory, run/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_BUILD_TESTS=OFF \
      -DTARVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build" --target tarvex -j"$(nproc)"

mkdir -p "$root/run/deviceFolder"
cp -n "$root"/tools/templates/*.json "$root/run/deviceFolder/" 2>/dev/null || true
cd "$root/run"
exec "$root/build/app/tarvex"
