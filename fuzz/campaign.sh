#!/usr/bin/env bash
# A long fuzzing campaign of one target on every core, its corpus kept between
# runs so that each run goes on where the last one stopped.
#
#   fuzz/campaign.sh TARGET SECONDS   fuzz TARGET (reply_fuzz or request_fuzz)
#   fuzz/campaign.sh --merge TARGET   add the inputs of the kept corpus that
#                                     reach new code to fuzz/corpus/grown/
#
#   FUZZ_BUILD   build folder (default build/fuzz)
#   FUZZ_JOBS    parallel fuzzing processes (default: the number of cores)
#
# The campaign lives in <build>/campaign-<kind>/: corpus/ (kept), crashes/ and
# campaign.log. A crash, timeout or out-of-memory input does not end the
# campaign: it is kept in crashes/ and the run fails at the end. Run it under
# `nice -n 19` on a shared machine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${FUZZ_BUILD:-$root/build/fuzz}

usage() {
    echo "usage: fuzz/campaign.sh TARGET SECONDS | --merge TARGET" >&2
    exit 2
}
merge=0
if [ "${1:-}" = --merge ]; then
    merge=1
    shift
fi
[ $# -eq $((2 - merge)) ] || usage
target=$1
case $target in reply_fuzz | request_fuzz) ;; *) usage ;; esac
kind=${target%_fuzz}
campaign="$build/campaign-$kind"
captured="$root/fuzz/corpus/$kind"
grown="$root/fuzz/corpus/grown/$kind"
mkdir -p "$campaign/corpus" "$campaign/crashes" "$grown"

. fuzz/build.sh

if [ $merge = 1 ]; then
    # libFuzzer adds to its first folder only what reaches code that folder
    # does not; the seeds the repository holds go there first, and whatever
    # the merge adds becomes the grown corpus.
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    cp "$captured"/* "$scratch"/
    find "$grown" -type f -exec cp {} "$scratch"/ \;
    ls "$scratch" | sort >"$scratch.before"
    "$build/$target" -merge=1 "${fuzz_options[@]}" "$scratch" "$campaign/corpus" \
        >"$campaign/merge.log" 2>&1
    added=0
    for file in $(ls "$scratch" | sort | comm -13 "$scratch.before" -); do
        cp "$scratch/$file" "$grown/$file"
        added=$((added + 1))
    done
    rm -f "$scratch.before"
    echo "$target: $added inputs reaching new code added to fuzz/corpus/grown/$kind" \
        "($(ls "$grown" | wc -l) in all)"
    exit 0
fi

seconds=$2
jobs=${FUZZ_JOBS:-$(nproc)}
before=$(ls "$campaign/crashes" | wc -l)
started=$(date +%s)
"$build/$target" -fork="$jobs" -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -max_total_time="$seconds" "${fuzz_options[@]}" \
    -artifact_prefix="$campaign/crashes/" \
    "$campaign/corpus" "$captured" "$grown" >"$campaign/campaign.log" 2>&1 || true
elapsed=$(($(date +%s) - started))

# Fork mode reports "#<executions>: cov: <edges> ft: <features> corp: <n> ...".
last=$(grep -E '^#[0-9]+: cov:' "$campaign/campaign.log" | tail -1)
executions=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$last")
coverage=$(sed -E 's/.* cov: ([0-9]+) ft: ([0-9]+) corp: ([0-9]+).*/\1 edges, \2 features, \3 inputs/' <<<"$last")
found=$(($(ls "$campaign/crashes" | wc -l) - before))
echo "$target: ${executions:-0} executions in ${elapsed}s on $jobs jobs; $coverage;" \
    "$found new fault inputs in $campaign/crashes"
[ "$found" -eq 0 ]
