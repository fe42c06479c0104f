#!/usr/bin/env bash
# Builds Tarvex and its tests with sanitizers in a build folder of their own and runs the tests
# there; the tests that start the service start the sanitized executable.
#   sanitize.sh [address] [--build-only]
#       AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/, every test but the soak
#       test
#   sanitize.sh thread [--build-only]
#       ThreadSanitizer in build-tsan/, the tests where the database thread, the web thread and
#       the main thread serve Modbus, HTTP and network-server traffic at once (only these are
#       built)
# --build-only builds and runs nothing; SANITIZE_JOBS (2) is how many compilers run at once.
# A sanitizer report ends the process that made it (halt_on_error). Every report, the tests'
# own and those of the service processes they start, is also written to <build>/sanitizer/, and
# the script fails when that folder is not empty after the run, so a report from a child
# process whose exit status a test does not look at fails the run too.
# Suppressions, each with its reason: tests/lsan.supp (leaks), tests/tsan.supp (races).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=address
build_only=false
for option in "$@"; do
    case "$option" in
        address | thread) mode=$option ;;
        --build-only) build_only=true ;;
        *) echo "usage: $0 [address|thread] [--build-only]" >&2; exit 2 ;;
    esac
done
jobs=${SANITIZE_JOBS:-2}

# The tests of the ThreadSanitizer run: each runs more than one of our threads (the database
# thread, the web thread, a client calling in from a thread of its own) or starts the service,
# which runs them all. The other suites run our code in one thread only.
tsan_tests=(tst_registry tst_storagefailures tst_servercontroller tst_appcontroller
            tst_cserverhandler tst_service tst_startupfailures tst_demo)

case "$mode" in
    address)
        build="$root/build-asan"
        sanitize=address,undefined
        ;;
    thread)
        build="$root/build-tsan"
        sanitize=thread
        ;;
esac
reports="$build/sanitizer"

"$root/scripts/install-deps.sh" --test
# -O1 builds faster than -O2 and still finds what the sanitizers look for; -g1 (line tables and
# inlined frames, no local variables) builds a third faster than -g and the reports read the
# same. The benchmarks and fuzzers have runs of their own.
flags="-O1 -g1 -DNDEBUG"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" \
    -DTARVEX_SANITIZE="$sanitize" -DTARVEX_BUILD_TESTS=ON -DTARVEX_BUILD_BENCH=OFF \
    -DTARVEX_BUILD_FUZZERS=OFF >/dev/null

start=$SECONDS
targets=()
if [[ "$mode" == thread ]]; then
    targets=(--target tarvex tarvex-ns-sim "${tsan_tests[@]}")
fi
cmake --build "$build" -j"$jobs" "${targets[@]}"
echo "sanitize: $mode build in $((SECONDS - start)) s"
if $build_only; then
    exit 0
fi

rm -rf "$reports"
mkdir -p "$reports"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:log_path=$reports/asan"
# QtCore is not instrumented: what it reads and writes in the interceptors (memcpy, free) says
# nothing ThreadSanitizer can order, so only our code's accesses count.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$root/tests/tsan.supp:print_suppressions=0:log_path=$reports/tsan"

# ThreadSanitizer's memory layout leaves no room for more than 28 bits of mmap randomisation
# (some kernels use 32): the tests then run with address randomisation off.
run=()
if [[ "$mode" == thread && $(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28) -gt 28 ]]; then
    run=(setarch "$(uname -m)" -R)
fi

tests=(-LE soak)
if [[ "$mode" == thread ]]; then
    tests=(-R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$")
fi
start=$SECONDS
status=0
"${run[@]}" ctest --test-dir "$build" --output-on-failure -j2 "${tests[@]}" || status=$?
echo "sanitize: $mode tests in $((SECONDS - start)) s"

if [[ -n "$(ls -A "$reports")" ]]; then
    for report in "$reports"/*; do
        echo "== sanitizer report $report"
        cat "$report"
    done
    echo "sanitize: $(ls "$reports" | wc -l) sanitizer report(s) in $reports" >&2
    status=1
fi
exit "$status"
