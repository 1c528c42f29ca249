#!/usr/bin/env bash
# Appending 100 rows to a workbook of 1,000,000 rows (about 126 MB, made by our own import of
# the benchmark CSV file): `quillomat-cli import` timed end to end, RUNS times (default 5),
# alternating with the program named in QM_CLI_BEFORE when it is given (an older build, for a
# before/after comparison). Prints each run, then per program the median wall-clock time with
# its range, the median user and system time and the peak memory, and the load average.
# With PEER=1, openpyxl does the same append once (load, append 100 rows, save) and the ratio
# to our median is printed.
#   bench/bench_xlsx_tail_append.sh
#   QM_CLI=build/default/src/cli/quillomat-cli QM_CLI_BEFORE=old/quillomat-cli PEER=1 bench/...
# The data lives in build/bench/data/ (never committed); the release build in build/bench.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS="${RUNS:-5}"

cli="${QM_CLI:-}"
if [ -z "$cli" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target quillomat-cli -j "${JOBS:-2}" >/dev/null
    cli=build/bench/src/cli/quillomat-cli
fi
ROWS=1000000
source bench/import-data.sh

# The million-row workbook, made once by importing the benchmark CSV file into the template.
big="$out/tail-million.xlsx"
if [ ! -s "$big" ]; then
    echo "bench data: $big"
    cp "$template" "$out/tail-building.xlsx"
    "$cli" import "-e=$out/tail-building.xlsx" "-w=$sheet" "-c=$csv" -f=-1 "-r=$relation" >/dev/null
    mv "$out/tail-building.xlsx" "$big"
fi
few="$out/tail-100.csv"
if [ ! -s "$few" ]; then
    python3 "$gen" --rows 100 --encoding cp932 --header ja --seed 7 -o "$few.part"
    mv "$few.part" "$few"
fi
echo "appending 100 rows to $big ($(stat -c %s "$big") bytes, 1,000,001 rows)"

target="$out/tail-run.xlsx"
declare -A walls users systems peaks
run_one() {  # label program
    cp "$big" "$target"
    sync "$target"
    /usr/bin/time -f "%e %U %S %M" -o "$out/tail-time.txt" "$2" import "-e=$target" "-w=$sheet" \
        "-c=$few" -f=-1 "-r=$relation" >/dev/null
    read -r wall user system peak <"$out/tail-time.txt"
    printf '%-7s wall %6.2f s  user %6.2f s  sys %5.2f s  peak %5d MB  load %s\n' "$1" "$wall" \
        "$user" "$system" $((peak / 1024)) "$(cut -d' ' -f1 /proc/loadavg)"
    walls[$1]+="$wall "
    users[$1]+="$user "
    systems[$1]+="$system "
    peaks[$1]+="$((peak / 1024)) "
}
labels=(after)
[ -n "${QM_CLI_BEFORE:-}" ] && labels=(before after)
for ((i = 1; i <= RUNS; ++i)); do
    [ -n "${QM_CLI_BEFORE:-}" ] && run_one before "$QM_CLI_BEFORE"
    run_one after "$cli"
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
range() { tr ' ' '\n' | grep -v '^$' | sort -g | awk 'NR==1{lo=$1} {hi=$1} END {print lo "-" hi}'; }
for label in "${labels[@]}"; do
    echo "$label: median wall $(median <<<"${walls[$label]}") s (range $(range <<<"${walls[$label]}") s)," \
        "user $(median <<<"${users[$label]}") s, sys $(median <<<"${systems[$label]}") s," \
        "peak $(median <<<"${peaks[$label]}") MB"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

if [ "${PEER:-0}" = 1 ]; then
    cp "$big" "$target"
    start=$(date +%s.%N)
    /usr/bin/python3 - "$target" "$few" <<'PY'
import csv, sys
import openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb["Data"]
with open(sys.argv[2], encoding="cp932", newline="") as f:
    rows = csv.reader(f)
    next(rows)
    for row in rows:
        ws.append(row)
wb.save(sys.argv[1])
PY
    end=$(date +%s.%N)
    peer=$(echo "$end - $start" | bc)
    ours=$(median <<<"${walls[after]}")
    echo "openpyxl: $peer s (one run); openpyxl / ours = $(echo "scale=1; $peer / $ours" | bc)"
fi
