#!/usr/bin/env bash
# Runs libFuzzer programs one after the other, each for a bounded time.
# Usage: tools/run-fuzz.sh BUILD_DIR SECONDS TARGET...
#   BUILD_DIR/bin/fuzz_<target> must exist (make fuzz builds them). Each target starts from its
#   seeds (fuzz/corpus/<target>) and kept regressions (fuzz/regressions/<target>); new inputs
#   go to BUILD_DIR/corpus/<target>, so the committed seed folders stay small. A crash, hang,
#   leak or sanitizer report stops the run; the input is left in BUILD_DIR/artifacts/<target>/
#   (copy it to fuzz/regressions/<target>/ once fixed, so the replay suite keeps it).
set -euo pipefail

build=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)

for target in "$@"; do
    program="$build/bin/fuzz_$target"
    work="$build/corpus/$target"
    artifacts="$build/artifacts/$target"
    mkdir -p "$work" "$artifacts"
    inputs=("$work" "$root/fuzz/corpus/$target")
    [ -d "$root/fuzz/regressions/$target" ] && inputs+=("$root/fuzz/regressions/$target")
    echo "== fuzz_$target for ${seconds}s"
    log="$build/fuzz_$target.log"
    if ! "$program" -max_total_time="$seconds" -timeout=30 -max_len=65536 \
            -print_final_stats=1 -artifact_prefix="$artifacts/" "${inputs[@]}" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz_$target found a fault; the input is in $artifacts/ (log: $log)" >&2
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "   ${runs:-?} executions, ${rate:-?}/s, corpus $(ls "$work" | wc -l) inputs"
done
