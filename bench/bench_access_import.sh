#!/usr/bin/env bash
# The whole `quillomat-cli import` of the 1,000,000-row CP932 CSV file of bench/import-data.sh
# into an empty .accdb table with two indexes, against sqlite3's `.import` of the same file
# into a table with the same two indexes (the file converted to UTF-8 by iconv on the way, as
# sqlite3 reads only UTF-8). The two alternate, RUNS times each; each run starts from an empty
# table. Prints every run, then the medians with their spread (min–max), the ratio of the
# medians and the peak memory (/usr/bin/time -v), with the load average seen at each run.
#   bench/bench_access_import.sh [autonumber|textkey] [RUNS]     (default: autonumber 5)
#     autonumber  an AutoNumber primary key and an index on a Long Integer field
#     textkey     a Short Text primary key (the CSV's row number as text) and an index on a
#                 Short Text field of ASCII words
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
CREATE INDEX "英字" ON "Data"("英字");
.import --csv --skip 1 '|iconv -f CP932 -t UTF-8 $csv' Data
SQL
    )
fi

# One timed run: "seconds peak-kilobytes load-average" on standard output.
timed() {
    local log="$out/access-bench-time.txt"
    local load
    load=$(cut -d' ' -f1 /proc/loadavg)
    /usr/bin/time -v "$@" >/dev/null 2>"$log" || {
        cat "$log" >&2
        exit 1
    }
    local wall peak
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log" |
        awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
    echo "$wall $peak $load"
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
            echo "run $i quillomat-cli: $r (seconds, peak KB, load)"
        else
            r=$(run_sqlite)
            echo "$r" >>"$out/access-bench-s.txt"
            echo "run $i sqlite3:       $r (seconds, peak KB, load)"
        fi
    done
done

# What each wrote: the rows of the table, and the Access file checked page by page.
q_rows=$("$cli" check --strict "$target" | sed -n 's/^Data: \([0-9]*\) 行.*/\1/p')
s_rows=$(sqlite3 "$sqlite_db" 'SELECT count(*) FROM "Data"')
echo "rows: quillomat-cli $q_rows, sqlite3 $s_rows"

summary() {
    sort -n -k1,1 "$1" | awk -v name="$2" '
        { t[NR] = $1; m[NR] = $2; l[NR] = $3; if ($2 > peak) peak = $2 }
        END {
            med = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
            lsum = 0; for (i = 1; i <= NR; i++) lsum += l[i]
            printf "%s %.2f %.2f %.2f %d %.2f\n", name, med, t[1], t[NR], peak / 1024, lsum / NR
        }'
}
{
    summary "$out/access-bench-q.txt" quillomat-cli
    summary "$out/access-bench-s.txt" sqlite3
} | awk '
    { name[NR] = $1; med[NR] = $2
      printf "%-14s median %6.2f s  (min %.2f, max %.2f)  peak %5d MB  mean load %.2f\n",
             $1, $2, $3, $4, $5, $6 }
    END { printf "ratio quillomat-cli / sqlite3: %.2f\n", med[1] / med[2] }'
