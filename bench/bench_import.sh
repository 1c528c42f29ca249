#!/usr/bin/env bash
# The whole `quillomat-cli import` of a 1,000,000-row, 10-column CSV file (CP932, about
# 100 MB, with quoted fields over several lines) into an .xlsx worksheet, timed end to end with
# /usr/bin/time -v: wall-clock time and peak memory. Goal: under 8 s and under 1.5 GB.
#   bench/bench_import.sh [ROWS]      (default 1000000)
# The data lives in build/bench/data/ (never committed); the release build in build/bench.
set -euo pipefail
cd "$(dirname "$0")/.."
ROWS="${1:-1000000}"

# QM_CLI names another build of the program to time (e.g. build/default/src/cli/quillomat-cli).
cli="${QM_CLI:-}"
if [ -z "$cli" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target quillomat-cli -j "${JOBS:-2}" >/dev/null
    cli=build/bench/src/cli/quillomat-cli
fi
source bench/import-data.sh

target="$out/import-target-run.xlsx"
cp "$template" "$target"
echo "quillomat-cli import: $(stat -L -c %s "$csv") bytes, $rows rows, 10 columns -> $target"
/usr/bin/time -v "$cli" import "-e=$target" "-w=$sheet" "-c=$csv" -f=-1 "-r=$relation" \
    2> "$out/import-time.txt"
grep -E 'Elapsed \(wall clock\)|Maximum resident set size|User time|System time' \
    "$out/import-time.txt"
echo "target: $(stat -c %s "$target") bytes"
