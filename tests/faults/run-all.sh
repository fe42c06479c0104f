#!/usr/bin/env bash
# Runs every fault script against the built binaries, one after the other, and prints each
# script's result and run time. Exits non-zero when a script failed.
#
# Usage: tests/faults/run-all.sh [build folder]   (default: build)
dir=$(cd "$(dirname "$0")" && pwd)
results=()
failed=0
for name in network-server kill-during-ingest storage idle-http modbus-churn descriptor-limit; do
    echo "=== $name"
    started=$SECONDS
    "$dir/$name.sh" "${1:-build}"
    case $? in
        0) result=PASS ;;
        77) result=SKIP ;;
        *) result=FAIL failed=$((failed + 1)) ;;
    esac
    results+=("$(printf '%-4s  %-20s %4d s' "$result" "$name" $((SECONDS - started)))")
    echo
done
echo "=== summary"
printf '%s\n' "${results[@]}"
((failed == 0))
