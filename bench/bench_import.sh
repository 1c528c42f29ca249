#!/usr/bin/env bash
# The whole `quillomat-cli import` of a 1,000,000-row, 10-column CSV file (CP932, about
# 100 MB, with quoted fields over several lines) into an .xlsx worksheet, timed end to end with
# /usr/bin/time -v: wall-clock time and peak memory. Goal: under 8 s and under 1.5 GB.
#   bench/bench_import.sh [ROWS]      (default 1000000)
# The data lives in build/bench/data/ (never committed); the release build in build/bench.
set -euo pipefail
cd "$(dirname "$0")/.."
rows="${1:-1000000}"
gen=../shared/tools/gen-csv.py
[ -f "$gen" ] || gen=/work/shared/tools/gen-csv.py
out=build/bench/data
mkdir -p "$out"

# QM_CLI names another build of the program to time (e.g. build/default/src/cli/quillomat-cli).
cli="${QM_CLI:-}"
if [ -z "$cli" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target quillomat-cli -j "${JOBS:-2}" >/dev/null
    cli=build/bench/src/cli/quillomat-cli
fi

csv="$out/import-cp932-$rows.csv"
if [ ! -s "$csv" ]; then
    echo "bench data: $csv"
    python3 "$gen" --rows "$rows" --encoding cp932 --header ja -o "$csv.part"
    mv "$csv.part" "$csv"
fi

# The target: a worksheet whose header names the ten fields and whose first rows give them
# their types (number, date, text), as a user's own workbook would.
template="$out/import-target.xlsx"
/usr/bin/python3 - "$template" <<'PY'
import datetime, sys
import openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Data"
ws.append(["番号", "整数", "金額", "日付", "英字", "名称", "カナ", "備考英字", "備考", "金額2"])
ws.append([0, 1, 1.5, datetime.datetime(2024, 1, 1), "a", "名", "ｶﾅ", "x", "y", 2.5])
wb.save(sys.argv[1])
PY
target="$out/import-target-run.xlsx"
cp "$template" "$target"

relation="番号=0,整数=1,金額=2,日付=3,英字=4,名称=5,カナ=6,備考英字=7,備考=8,金額2=9"
echo "quillomat-cli import: $(stat -c %s "$csv") bytes, $rows rows, 10 columns -> $target"
/usr/bin/time -v "$cli" import "-e=$target" "-w=Data$" "-c=$csv" -f=-1 "-r=$relation" \
    2> "$out/import-time.txt"
grep -E 'Elapsed \(wall clock\)|Maximum resident set size|User time|System time' \
    "$out/import-time.txt"
echo "target: $(stat -c %s "$target") bytes"
