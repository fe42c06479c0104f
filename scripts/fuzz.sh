#!/usr/bin/env bash
# Builds the HTTP request parser fuzzer with clang and runs it on a copy of the seed corpus.
#   fuzz.sh [seconds]   run time, 60 by default
# Exits non-zero when the fuzzer finds a crash, a leak or undefined behaviour; the input that
# caused it is kept in build-fuzz/artifacts/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$root/build-fuzz"

"$root/scripts/install-deps.sh" --test
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVEX_BUILD_FUZZERS=ON -DTARVEX_BUILD_TESTS=ON -DTARVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_http_parser -j2

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp "$root"/tests/fuzz/corpus/http/* "$corpus/"
mkdir -p "$build/artifacts"

"$build/tests/fuzz/fuzz_http_parser" -max_total_time="$seconds" -max_len=65536 \
    -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -dict="$root/tests/fuzz/http.dict" -artifact_prefix="$build/artifacts/" "$corpus"
