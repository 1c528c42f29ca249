#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz for a bounded time each.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]     (default 20)
# Seeds come from fuzz/corpus/<target>/; new inputs go to a scratch copy, so the committed
# corpus stays as it is. A crash leaves its input in build/fuzz/crashes/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
bin=build/fuzz/fuzz
crashes=build/fuzz/crashes
mkdir -p "$crashes"
shopt -s nullglob
targets=("$bin"/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no fuzz targets built" >&2
    exit 1
fi
for target in "${targets[@]}"; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    work=$(mktemp -d)
    if [ -d "fuzz/corpus/$name" ]; then cp -r "fuzz/corpus/$name/." "$work/"; fi
    echo "fuzz: $name for ${seconds}s"
    if ! "$target" "$work" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
            -print_final_stats=0 -artifact_prefix="$crashes/$name-" >"$crashes/$name.log" 2>&1; then
        tail -n 40 "$crashes/$name.log" >&2
        rm -rf "$work"
        echo "fuzz: $name FAILED (input kept in $crashes)" >&2
        exit 1
    fi
    grep -E '^#[0-9]+ +DONE' "$crashes/$name.log" | tail -n 1 || true
    rm -rf "$work"
done
echo "fuzz: all targets ran clean"
