#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer), replays every input that once found a fault,
# then fuzzes each target from its seed corpus for a bounded time.
#
#   FUZZ_SECONDS   seconds of fuzzing per target (default 60)
#   FUZZ_BUILD     build folder (default build/fuzz)
#   FUZZ_TARGETS   targets to run (default "reply_fuzz request_fuzz")
#
# New inputs go to a corpus inside the build folder, never into the
# repository; a crash leaves its input in <build>/crashes and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-$root/build/fuzz}
targets=${FUZZ_TARGETS:-"reply_fuzz request_fuzz"}

. fuzz/build.sh

mkdir -p "$build/crashes"
status=0
for target in $targets; do
    kind=${target%_fuzz}
    echo "=== $target ==="
    regressions=("$root/fuzz/regressions/$kind"/*)
    if [ -e "${regressions[0]}" ]; then
        "$build/$target" -artifact_prefix="$build/crashes/$kind-" "${regressions[@]}" \
            >"$build/$target.regressions.log" 2>&1 || {
            echo "$target: a regression input fails again"
            tail -40 "$build/$target.regressions.log"
            status=1
            continue
        }
        echo "${#regressions[@]} regression inputs pass"
    fi
    work="$build/corpus-$kind"
    mkdir -p "$work"
    seeds=("$root/fuzz/corpus/$kind")
    if [ -d "$root/fuzz/corpus/grown/$kind" ]; then
        seeds+=("$root/fuzz/corpus/grown/$kind")
    fi
    if "$build/$target" -max_total_time="$seconds" "${fuzz_options[@]}" \
        -print_final_stats=1 -artifact_prefix="$build/crashes/$kind-" \
        "$work" "${seeds[@]}" >"$build/$target.log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$target.log")
        echo "$target: $runs executions in ${seconds}s, no fault"
    else
        echo "$target: fault found (input in $build/crashes)"
        grep -E "ERROR|runtime error|SUMMARY|reply_fuzz:|request_fuzz:" "$build/$target.log" | head -20
        status=1
    fi
done
exit $status
