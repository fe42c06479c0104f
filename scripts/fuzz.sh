#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ with clang and runs each on a copy of its seed
# corpus tests/fuzz/corpus/<name>/ (with tests/fuzz/<name>.dict when there is one).
#   fuzz.sh [seconds] [name]   seconds per target, 60 by default; every target, or the one named
#                              (http_parser, modbus, template, payload_decoder, server_messages,
#                              new_device)
# Every target runs even after a finding; the script then exits non-zero. The input that caused
# a crash, a leak or undefined behaviour is kept in build-fuzz/artifacts/<name>/.
# With FUZZ_CORPUS_DIR set, the corpora grow in <FUZZ_CORPUS_DIR>/<name>/ from one run to the
# next instead of starting from the seeds each time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$root/build-fuzz"

targets=(http_parser modbus template payload_decoder server_messages new_device)
if [[ -n "${2:-}" ]]; then
    targets=("$2")
fi

# Modbus inputs are sent to a socket in pieces; longer ones only slow the fuzzer down.
max_len() {
    if [[ "$1" == modbus ]]; then echo 8192; else echo 65536; fi
}

"$root/scripts/install-deps.sh" --test
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVEX_BUILD_FUZZERS=ON -DTARVEX_BUILD_TESTS=ON -DTARVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

findings=()
for name in "${targets[@]}"; do
    seeds="$root/tests/fuzz/corpus/$name"
    corpus="$scratch/$name"
    if [[ -n "${FUZZ_CORPUS_DIR:-}" ]]; then
        corpus="$FUZZ_CORPUS_DIR/$name"
    fi
    mkdir -p "$corpus" "$build/artifacts/$name"
    cp "$seeds"/* "$corpus/"
    options=(-max_total_time="$seconds" -max_len="$(max_len "$name")" -rss_limit_mb=2048
        -timeout=10 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name/")
    dict="$root/tests/fuzz/$name.dict"
    if [[ -f "$dict" ]]; then
        options+=(-dict="$dict")
    fi
    echo "== fuzz_$name for $seconds s"
    if ! "$build/tests/fuzz/fuzz_$name" "${options[@]}" "$corpus"; then
        findings+=("$name")
    fi
done

if ((${#findings[@]} > 0)); then
    echo "Findings in: ${findings[*]} (inputs in $build/artifacts/)" >&2
    exit 1
fi
