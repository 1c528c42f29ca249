#!/usr/bin/env bash
# The import of bench_import.sh (1,000,000 CP932 rows into an .xlsx worksheet), whole process,
# with the worksheet compressed on 1 thread and on 2 threads, against the same append done with
# openpyxl, alternating in one run, REPEAT times (default 5). Prints each run's wall-clock and
# CPU (user + system) seconds with the load average at its start, then the medians with their
# spread (min–max) and the ratios. Also checks that 1 and 2 threads wrote the same bytes.
#   bench/bench_import_threads.sh [ROWS]     (default 1000000)
#   REPEAT=5 PEER_REPEAT=5                   runs of ours / of openpyxl (PEER_REPEAT=0: none)
# Goal: 2 threads ≤ 3 s on an idle two-core machine.
set -euo pipefail
cd "$(dirname "$0")/.."
ROWS="${1:-1000000}"
repeat="${REPEAT:-5}"
peer_repeat="${PEER_REPEAT:-$repeat}"

cli="${QM_CLI:-}"
if [ -z "$cli" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench --target quillomat-cli -j "${JOBS:-2}" >/dev/null
    cli=build/bench/src/cli/quillomat-cli
fi
source bench/import-data.sh

# The same append with openpyxl: the workbook loaded, each CSV row converted by its column's
# type (as the relation maps them), appended below the sheet's rows, the workbook saved.
peer="$out/openpyxl-import.py"
cat >"$peer" <<'PY'
import csv, datetime, sys
import openpyxl
workbook_path, csv_path = sys.argv[1], sys.argv[2]
wb = openpyxl.load_workbook(workbook_path)
ws = wb["Data"]
def date(text):
    return datetime.datetime.strptime(text, "%Y-%m-%d")
kinds = [int, int, float, date, str, str, str, str, str, float]
with open(csv_path, encoding="cp932", newline="") as f:
    rows = csv.reader(f)
    next(rows)
    for row in rows:
        ws.append([kind(cell) if cell != "" else None for kind, cell in zip(kinds, row)])
wb.save(workbook_path)
PY

# Runs one import; prints "wall cpu load".
measure() {
    local target=$1
    shift
    cp "$template" "$target"
    local load
    load=$(cut -d' ' -f1 /proc/loadavg)
    /usr/bin/time -f '%e %U %S' -o "$out/threads-time.txt" "$@" >/dev/null
    awk -v load="$load" '{ printf "%.2f %.2f %s\n", $1, $2 + $3, load }' "$out/threads-time.txt"
}
ours() {
    QUILLOMAT_DEFLATE_THREADS=$1 measure "$out/threads-$1.xlsx" \
        "$cli" import "-e=$out/threads-$1.xlsx" "-w=$sheet" "-c=$csv" -f=-1 "-r=$relation"
}

echo "import of $rows rows ($(stat -L -c %s "$csv") bytes), $(nproc) cores"
declare -A wall cpu loads
for ((i = 1; i <= repeat || i <= peer_repeat; ++i)); do
    kinds=()
    ((i <= repeat)) && kinds+=(1 2)
    ((i <= peer_repeat)) && kinds+=(openpyxl)
    for kind in "${kinds[@]}"; do
        if [ "$kind" = openpyxl ]; then
            result=$(measure "$out/threads-openpyxl.xlsx" /usr/bin/python3 "$peer" \
                "$out/threads-openpyxl.xlsx" "$csv")
        else
            result=$(ours "$kind")
        fi
        read -r w c l <<<"$result"
        printf '  run %d  %-9s wall %7.2f s  cpu %7.2f s  load %s\n' "$i" "$kind" "$w" "$c" "$l"
        wall[$kind]+="$w "
        cpu[$kind]+="$c "
        loads[$kind]+="$l "
    done
    if ((i == 1)); then
        if cmp -s "$out/threads-1.xlsx" "$out/threads-2.xlsx"; then
            echo "  1 and 2 threads wrote the same bytes"
        else
            echo "  1 and 2 threads wrote different files" >&2
            exit 1
        fi
    fi
done

# "median (min–max)" of the numbers given.
stats() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
        END { printf "%.2f (%.2f–%.2f)", v[int((NR + 1) / 2)], v[1], v[NR] }'
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "medians (min–max):"
for kind in 1 2 openpyxl; do
    [ -n "${wall[$kind]:-}" ] || continue
    # shellcheck disable=SC2086
    printf '  %-9s wall %s s  cpu %s s  load %s\n' "$kind" "$(stats ${wall[$kind]})" \
        "$(stats ${cpu[$kind]})" "$(stats ${loads[$kind]})"
done
# shellcheck disable=SC2086
one=$(median ${wall[1]}) two=$(median ${wall[2]})
awk -v a="$one" -v b="$two" 'BEGIN { printf "1 thread / 2 threads: %.2f\n", a / b }'
if [ -n "${wall[openpyxl]:-}" ]; then
    # shellcheck disable=SC2086
    peer_wall=$(median ${wall[openpyxl]})
    awk -v a="$peer_wall" -v b="$two" 'BEGIN { printf "openpyxl / 2 threads: %.1f\n", a / b }'
fi
