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

. .ci/packages.sh
packages=(clang libclang-rt-14-dev cmake libssl-dev libsqlite3-dev)
if [ "$(command -v python3)" = /usr/bin/python3 ]; then
    packages+=(python3-dev python3-venv)
fi
install_missing_packages "${packages[@]}"
clangxx=$(command -v clang++-14 || command -v clang++)

# The reply target embeds the interpreter: it needs NumPy importable and its
# headers, taken from a virtual environment of its own.
venv="$build/venv"
if [ ! -x "$venv/bin/python" ]; then
    python3 -m venv "$venv"
    "$venv/bin/pip" install -q numpy
fi
cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$clangxx" \
    -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
cmake --build "$build" -j2 >/dev/null

python_home=$("$venv/bin/python" -c 'import sys; print(sys.base_prefix)')
site_packages=$("$venv/bin/python" -c 'import numpy, os; print(os.path.dirname(os.path.dirname(numpy.__file__)))')
export PYTHONHOME="$python_home" PYTHONPATH="$site_packages"
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1"

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
    # A reply may announce up to 4 GiB and the module may allocate that much
    # (never more): only a larger allocation is a fault.
    if "$build/$target" -max_total_time="$seconds" -max_len=65536 -timeout=20 -malloc_limit_mb=4097 \
        -print_final_stats=1 -artifact_prefix="$build/crashes/$kind-" \
        "$work" "$root/fuzz/corpus/$kind" >"$build/$target.log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$target.log")
        echo "$target: $runs executions in ${seconds}s, no fault"
    else
        echo "$target: fault found (input in $build/crashes)"
        grep -E "ERROR|runtime error|SUMMARY|reply_fuzz:|request_fuzz:" "$build/$target.log" | head -20
        status=1
    fi
done
exit $status
