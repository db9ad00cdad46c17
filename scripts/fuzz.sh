#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one.
#
#   scripts/fuzz.sh [SECONDS]    each target for SECONDS (default 60), as many at once as there
#                                are cores; new inputs go to build-fuzz/corpus/, crashes to
#                                build-fuzz/crashes/
#   scripts/fuzz.sh --corpus     each target over its seed corpus only (seconds; what CI runs)
#
# Prints the executions and crashes of each target; fails when any target crashed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

mode=time
seconds=60
case "${1:-}" in
--corpus) mode=corpus ;;
'') ;;
*[!0-9]* | 0)
    echo "usage: scripts/fuzz.sh [SECONDS | --corpus]" >&2
    exit 2
    ;;
*) seconds=$1 ;;
esac

build="$root/build-fuzz"
echo "== Build $build (clang, fuzzer + address + undefined)"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBRISAL_BUILD_FUZZ=ON -DBRISAL_BUILD_TESTS=OFF -DBRISAL_BUILD_APP=ON -DBRISAL_SANITIZE= >/dev/null
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export QT_QPA_PLATFORM=offscreen

targets=(ServerLinesFuzz LineReaderFuzz SocksReplyFuzz CommandFileFuzz)
mkdir -p "$build/logs" "$build/crashes"

# Paths are absolute: the command-file target changes its working directory.
run_target() {
    local target=$1 log="$build/logs/$1.log"
    local seeds="$root/fuzz/corpus/$target"
    # An input that takes a minute has hung (inputs take milliseconds): a crash, not a wait.
    local flags=(-artifact_prefix="$build/crashes/$target-" -timeout=60)
    # No leak check after each input for two targets; leaks are still checked when the run
    # ends. The window's log keeps what each input adds (it is emptied every 256 inputs), so
    # the check would scan the whole heap every time. The component's reader thread lets go
    # of its last bytes a moment after the component is gone, which the check can catch
    # midway (once in about 100,000 inputs).
    case $target in CommandFileFuzz | ServerLinesFuzz) flags+=(-detect_leaks=0) ;; esac
    if [ "$mode" = corpus ]; then
        "$build/fuzz/$target" -runs=0 "${flags[@]}" "$seeds" >"$log" 2>&1
    else
        mkdir -p "$build/corpus/$target"
        "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 "${flags[@]}" \
            "$build/corpus/$target" "$seeds" >"$log" 2>&1
    fi
}

echo "== Run ($([ "$mode" = corpus ] && echo "seed corpora only" || echo "$seconds s each"))"
pids=()
for target in "${targets[@]}"; do
    run_target "$target" &
    pids+=($!)
    # No more targets at once than cores.
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
done
status=0
failed=()
for i in "${!targets[@]}"; do
    wait "${pids[$i]}" || failed+=("${targets[$i]}")
done

for target in "${targets[@]}"; do
    log="$build/logs/$target.log"
    runs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$log" | grep -oE '[0-9]+$' || true)
    [ -n "$runs" ] || runs=$(grep -oE '^Done [0-9]+ runs' "$log" | grep -oE '[0-9]+' | tail -1 || true)
    crashes=0
    if [[ " ${failed[*]} " == *" $target "* ]]; then
        crashes=1
        status=1
    fi
    printf '%-16s %12s executions  %d crashes\n' "$target" "${runs:-?}" "$crashes"
    if [ "$crashes" -ne 0 ]; then
        grep -E 'ERROR|SUMMARY|what\(\)|Test unit written' "$log" | head -5 | sed 's/^/    /'
    fi
done
exit $status
