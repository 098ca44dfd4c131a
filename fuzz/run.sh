#!/usr/bin/env bash
# Runs every fuzz harness built in BUILD_DIR for FUZZ_SECONDS seconds each, on a
# copy of its seed folder (fuzz/corpus/<harness>/, never written to), so that
# what the fuzzer finds stays under BUILD_DIR/corpus-work/. Fails when any
# harness crashes; the crashing input is kept under BUILD_DIR/crashes/.
set -uo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-8}
harnesses=(fuzz_reply fuzz_splice_records fuzz_parameters fuzz_image_list fuzz_ini fuzz_text_codec fuzz_backup fuzz_plan)

mkdir -p "$build/corpus-work" "$build/crashes" "$build/logs"
failed=()
for name in "${harnesses[@]}"; do
    bin="$build/$name"
    work="$build/corpus-work/$name"
    log="$build/logs/$name.log"
    if [ ! -x "$bin" ]; then
        echo "== $name: not built" >&2
        failed+=("$name")
        continue
    fi
    rm -rf "$work"
    mkdir -p "$work"
    cp fuzz/corpus/"$name"/* "$work"/ 2>/dev/null || true
    printf '== %-22s %ss ... ' "$name" "$seconds"
    if nice "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -max_len=4096 \
        -artifact_prefix="$build/crashes/$name-" "$work" >"$log" 2>&1; then
        echo "ok ($(grep -Eo '#[0-9]+' "$log" | tail -1 | tr -d '#') runs, $(ls "$work" | wc -l) inputs)"
    else
        echo "FAILED"
        grep -E 'ERROR|SUMMARY|fuzz check|runtime error|Test unit written' "$log" >&2 || tail -30 "$log" >&2
        failed+=("$name")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz: failed: ${failed[*]} (logs in $build/logs/)" >&2
    exit 1
fi
echo "fuzz: all ${#harnesses[@]} harnesses ran clean"
