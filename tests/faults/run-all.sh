#!/usr/bin/env bash
# Runs every fault script against the built binaries, one after the other, and prints a summary
# with each script's result and run time. Exits non-zero when a script failed.
#
# Usage: tests/faults/run-all.sh [build folder]   (default: build)
set -uo pipefail
dir=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}

scripts=(network-server kill-during-ingest storage idle-http modbus-churn descriptor-limit)
results=()
failed=0
for name in "${scripts[@]}"; do
    echo "=== $name"
    started=$SECONDS
    "$dir/$name.sh" "$build"
    status=$?
    case $status in
        0) result=PASS ;;
        77) result=SKIP ;;
        *)
            result=FAIL
            failed=$((failed + 1))
            ;;
    esac
    results+=("$(printf '%-4s  %-20s %4d s' "$result" "$name" $((SECONDS - started)))")
    echo
done

echo "=== summary"
printf '%s\n' "${results[@]}"
if ((failed)); then
    echo "$failed of ${#scripts[@]} fault scripts FAILED"
    exit 1
fi
echo "no fault script failed"
