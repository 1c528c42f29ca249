#!/usr/bin/env bash
# The whole `quillomat-cli import` of the 1,000,000-row CP932 CSV file of bench/import-data.sh
# into an empty .accdb table with two indexes, against sqlite3's `.import` of the same file
# into a table with the same two indexes (the file converted to UTF-8 by iconv on the way, as
# sqlite3 reads only UTF-8). The two alternate, RUNS times each; each run starts from an empty
# table. Prints every run, then the medians with their spread (min–max), the ratio of the
# medians and the peak memory (/usr/bin/time -v), with the load average seen at each run and
# the processor time (user + system), which depends less on what else the machine runs.
#   bench/bench_access_import.sh [autonumber|textkey] [RUNS]     (default: autonumber 5)
#     autonumber  an AutoNumber primary key and an index on a Long Integer field
#     textkey     a Short Text primary key (the CSV's row number as text) and an index on a
#                 Short Text field of Japanese names (kanji and kana)
# ROWS=N takes a CSV file of N rows (default 1000000); QM_CLI names another build of the
# program to time. The data lives in build/bench/data/ (never committed).
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-autonumber}"
runs="${2:-5}"
case "$kind" in
autonumber | textkey) ;;
*)
    echo "usage: bench/bench_access_import.sh [autonumber|textkey] [RUNS]" >&2
    exit 2
    ;;
esac
for tool in sqlite3 iconv /usr/bin/time; do
    command -v "$tool" >/dev/null || {
        echo "bench: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 1
    }
done

cmake --preset bench >/dev/null
targets=(make_access_target)
[ -n "${QM_CLI:-}" ] || targets+=(quillomat-cli)
cmake --build --preset bench --target "${targets[@]}" -j "${JOBS:-2}" >/dev/null
cli="${QM_CLI:-build/bench/src/cli/quillomat-cli}"
source bench/import-data.sh

template="$out/access-$kind.accdb"
build/bench/bench/make_access_target "$template" "$kind"
target="$out/access-$kind-run.accdb"
sqlite_db="$out/sqlite-$kind-run.db"

fields='"番号", "整数", "金額", "日付", "英字", "名称", "カナ", "備考英字", "備考", "金額2"'
if [ "$kind" = autonumber ]; then
    # The AutoNumber is the rowid, filled in by SQLite; the CSV's ten fields come through a
    # temporary table, since .import fills every column of its table.
    sqlite_script=$(
        cat <<SQL
CREATE TABLE "Data"("ID" INTEGER PRIMARY KEY, "番号" INTEGER, "整数" INTEGER, "金額" NUMERIC,
  "日付" TEXT, "英字" TEXT, "名称" TEXT, "カナ" TEXT, "備考英字" TEXT, "備考" TEXT, "金額2" REAL);
CREATE INDEX "整数" ON "Data"("整数");
PRAGMA temp_store = MEMORY;
CREATE TEMP TABLE "Source"($fields);
.import --csv --skip 1 --schema temp '|iconv -f CP932 -t UTF-8 $csv' Source
INSERT INTO "Data"($fields) SELECT * FROM "Source";
SQL
    )
else
    sqlite_script=$(
        cat <<SQL
CREATE TABLE "Data"("番号" TEXT PRIMARY KEY, "整数" INTEGER, "金額" NUMERIC, "日付" TEXT,
  "英字" TEXT, "名称" TEXT, "カナ" TEXT, "備考英字" TEXT, "備考" TEXT, "金額2" REAL);
CREATE INDEX "名称" ON "Data"("名称");
.import --csv --skip 1 '|iconv -f CP932 -t UTF-8 $csv' Data
SQL
    )
fi

# One timed run: "seconds peak-kilobytes load-average cpu-seconds" on standard output.
timed() {
    local log="$out/access-bench-time.txt"
    local load
    load=$(cut -d' ' -f1 /proc/loadavg)
    /usr/bin/time -v "$@" >/dev/null 2>"$log" || {
        cat "$log" >&2
        exit 1
    }
    local wall peak cpu
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log" |
        awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
    cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$log")
    echo "$wall $peak $load $cpu"
}

run_quillomat() {
    cp "$template" "$target"
    timed "$cli" import "-e=$target" -w=Data "-c=$csv" -f=-1 "-r=$relation"
}
run_sqlite() {
    rm -f "$sqlite_db"
    timed sqlite3 -bail "$sqlite_db" <<<"$sqlite_script"
}

echo "Access import ($kind): $csv ($(stat -L -c %s "$csv") bytes, $rows rows), $runs runs"
: >"$out/access-bench-q.txt"
: >"$out/access-bench-s.txt"
for ((i = 1; i <= runs; i++)); do
    # Alternate which goes first, so that neither always meets a warm or a cold cache.
    if ((i % 2)); then order=(q s); else order=(s q); fi
    for who in "${order[@]}"; do
        if [ "$who" = q ]; then
            r=$(run_quillomat)
            echo "$r" >>"$out/access-bench-q.txt"
            echo "run $i quillomat-cli: $r (seconds, peak KB, load, cpu seconds)"
        else
            r=$(run_sqlite)
            echo "$r" >>"$out/access-bench-s.txt"
            echo "run $i sqlite3:       $r (seconds, peak KB, load, cpu seconds)"
        fi
    done
done

# What each wrote: the rows of the table, and the Access file checked page by page.
check=$("$cli" check --strict "$target")
q_rows=$(sed -n 's/^Data: \([0-9]*\) 行.*/\1/p' <<<"$check")
s_rows=$(sqlite3 "$sqlite_db" 'SELECT count(*) FROM "Data"')
echo "rows: quillomat-cli $q_rows ($(tail -1 <<<"$check")), sqlite3 $s_rows"

python3 - "$out/access-bench-q.txt" "$out/access-bench-s.txt" <<'PY'
import statistics, sys
rows = {}
for name, path in (("quillomat-cli", sys.argv[1]), ("sqlite3", sys.argv[2])):
    runs = [list(map(float, line.split())) for line in open(path) if line.strip()]
    wall, peak, load, cpu = (sorted(r[i] for r in runs) for i in range(4))
    rows[name] = (statistics.median(wall), statistics.median(cpu))
    print(f"{name:14} median {rows[name][0]:6.2f} s  (min {wall[0]:.2f}, max {wall[-1]:.2f})"
          f"  peak {peak[-1] / 1024:5.0f} MB  mean load {statistics.mean(load):.2f}")
    print(f"{'':14} cpu    {rows[name][1]:6.2f} s  (min {cpu[0]:.2f}, max {cpu[-1]:.2f})")
q, s = rows["quillomat-cli"], rows["sqlite3"]
print(f"ratio quillomat-cli / sqlite3: {q[0] / s[0]:.2f} (cpu {q[1] / s[1]:.2f})")
PY
