#!/usr/bin/env bash
# Cross-builds Tarvex for arm64 in build-arm64/, makes and checks its Debian package there
# (scripts/package-check.sh) and runs the unit and integration suites under qemu-user (CTest
# starts each test through the emulator).
# Not run for arm64:
#   tst_pages                 the browser page tests: node and the host's Chromium drive the
#                             service's pages, which hold no arm64 code of their own
#   tst_hostilenetworkserver  its peak-RSS bound on the service would measure qemu's own memory
#                             (translated code, its heap) along with the service's
#   the benchmarks            figures under an emulator say nothing of a controller (the README's
#                             emulated arm64 Modbus figures come from bench/modbus run by hand)
# The tests run one at a time: emulated, the service answers some requests slowly enough that
# two suites side by side can overrun its own fixed waits (2 s for the device list).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-arm64"

"$root/scripts/install-deps.sh" --test --arm64
start=$SECONDS
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DTARVEX_BUILD_TESTS=ON -DTARVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2
"$root/scripts/package-check.sh" "$build"
echo "arm64: built and packaged in $((SECONDS - start)) s"
ctest --test-dir "$build" --output-on-failure -E '^(tst_pages|tst_hostilenetworkserver)$'
