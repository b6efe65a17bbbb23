#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan, UBSan) and runs each for SECONDS (default 60) from
# its seed corpus in fuzz/corpus/. New inputs go to a scratch copy of the corpus, never into the
# repository; crashes and broken properties leave their input in build/fuzz/artifacts/.
# Prints executions, executions per second and coverage per target; exits non-zero if any
# target crashed, broke a property, leaked, ran out of time or memory.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
case "$seconds" in
    '' | *[!0-9]* | 0) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac

scripts/deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=build/fuzz
work="$build/work"
logs="$build/logs"
artifacts="$build/artifacts"
mkdir -p "$logs" "$artifacts"

# Longest input per target: enough for several reply lines (and their cut points), an address
# list, a payload, a small settings file, two numbers and a command line.
max_len() {
    case "$1" in
        fuzz_reply_stream) echo 4096 ;;
        fuzz_comma_text) echo 1024 ;;
        fuzz_download_translation) echo 512 ;;
        fuzz_profile_string) echo 4096 ;;
        fuzz_announce_roundtrip) echo 128 ;;
        *) echo 4096 ;;
    esac
}

mapfile -t targets < "$build/fuzz/targets.txt"
failed=0
rows=()
for target in "${targets[@]}"; do
    [ -n "$target" ] || continue
    rm -rf "${work:?}/$target"
    mkdir -p "$work/$target/corpus"
    if [ -d "fuzz/corpus/$target" ]; then
        cp -R "fuzz/corpus/$target/." "$work/$target/corpus/"
    fi
    dict=()
    [ -f "fuzz/dict/$target.dict" ] && dict=("-dict=fuzz/dict/$target.dict")
    stamp="$work/$target/started"
    touch "$stamp"
    log="$logs/$target.log"

    echo "== $target: ${seconds}s"
    status=0
    # The outer time-out only guards against a fuzzer that hangs outside its own time limit.
    timeout --kill-after=10 $((seconds + 120)) \
        "$build/fuzz/$target" "$work/$target/corpus" \
        -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=25 \
        -rss_limit_mb=2048 -print_final_stats=1 "${dict[@]}" \
        -artifact_prefix="$artifacts/$target-" >"$log" 2>&1 || status=$?

    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    last=$(grep -E '^#[0-9]+.*cov: [0-9]+' "$log" | tail -n 1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corpus=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$last")
    crashes=$(find "$artifacts" -maxdepth 1 -name "$target-*" -newer "$stamp" | wc -l)
    result=ok
    if [ "$status" -ne 0 ] || [ "$crashes" -ne 0 ]; then
        result="FAILED (exit $status)"
        failed=1
        grep -E 'property violated|ERROR: |SUMMARY: |runtime error' "$log" | head -n 5 >&2 || true
        echo "   log: $log" >&2
        find "$artifacts" -maxdepth 1 -name "$target-*" -newer "$stamp" \
            -printf '   input: %p\n' >&2
    fi
    rows+=("$(printf '%-26s %12s %10s %6s %7s %14s %8s  %s' "$target" "${runs:-?}" "${rate:-?}" \
        "${cov:-?}" "${ft:-?}" "${corpus:-?}" "$crashes" "$result")")
done

echo
printf '%-26s %12s %10s %6s %7s %14s %8s  %s\n' \
    target executions exec/s cov ft corpus crashes result
printf '%s\n' "${rows[@]}"
exit "$failed"
