#!/usr/bin/env bash
# 100 rows appended by `quillomat-cli import` to an .accdb database of about 1 GB, with the
# kernel's copy shortcuts (a copy-on-write clone by FICLONE where the file system has them,
# else copy_file_range) and without them (bench/no_copy_shortcuts.cpp preloaded: the copy
# reads and writes). Beside them, as the yardstick, a plain copy of the database with
# `dd ... conv=fsync` (read, write, flush to disk), which is what a commit may cost at most
# besides writing what changed. The three alternate, RUNS times each, on one working copy that
# grows by 100 rows per append. Prints every run, then medians, spread (min–max), peak memory
# and the load average.
#   bench/bench_access_small_append.sh [DIR] [RUNS]      (default: build/bench/data 5)
# DIR holds the 1 GB database (made once, by importing the benchmark CSV file five times) and
# the working copy: give a folder on XFS (mkfs.xfs -m reflink=1) or btrfs to measure clones.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build/bench/data}"
runs="${2:-5}"
mkdir -p "$dir"

cmake --preset bench >/dev/null
cmake --build --preset bench --target quillomat-cli make_access_target no_copy_shortcuts \
    -j "${JOBS:-2}" >/dev/null
cli=build/bench/src/cli/quillomat-cli
shim="$PWD/build/bench/bench/libno_copy_shortcuts.so"

source bench/import-data.sh
big_csv="$csv"
big="$dir/access-1gb.accdb"
if [ ! -s "$big" ]; then
    echo "bench data: $big (the $rows-row CSV file imported until the file passes 1 GB)"
    part="$dir/access-1gb-part.accdb"
    build/bench/bench/make_access_target "$part" autonumber
    while [ "$(stat -c %s "$part")" -lt 1000000000 ]; do
        "$cli" import "-e=$part" -w=Data "-c=$big_csv" -f=-1 "-r=$relation" >/dev/null
    done
    mv "$part" "$big"
fi
ROWS=100 source bench/import-data.sh
small_csv="$csv"

work="$dir/access-1gb-run.accdb"
cp "$big" "$work"
fs=$(stat -f -c %T "$dir")
probe="$dir/.reflink-probe"
echo x >"$probe"
if cp --reflink=always "$probe" "$probe.clone" 2>/dev/null; then clones=yes; else clones=no; fi
rm -f "$probe" "$probe.clone"
echo "100 rows into $work ($(stat -c %s "$work") bytes; file system $fs, clones: $clones)"

timed() {
    local log="$out/small-append-time.txt" load wall peak
    load=$(cut -d' ' -f1 /proc/loadavg)
    env "$@" >/dev/null 2>"$log" || {
        cat "$log" >&2
        exit 1
    }
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log" |
        awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
    echo "$wall $peak $load"
}
append() { # extra environment, if any, first
    timed "$@" /usr/bin/time -v "$cli" import "-e=$work" -w=Data "-c=$small_csv" -f=-1 \
        "-r=$relation"
}

names=(shortcuts read-write dd-copy)
for name in "${names[@]}"; do : >"$out/small-append-$name.txt"; done
for ((i = 1; i <= runs; i++)); do
    # A different one leads each run.
    for ((k = 0; k < 3; k++)); do
        name=${names[$(((i + k) % 3))]}
        case $name in
        shortcuts) r=$(append) ;;
        read-write) r=$(append LD_PRELOAD="$shim") ;;
        dd-copy)
            r=$(timed /usr/bin/time -v dd if="$work" of="$work.copy" bs=1M conv=fsync)
            rm -f "$work.copy"
            ;;
        esac
        echo "$r" >>"$out/small-append-$name.txt"
        printf 'run %d %-10s %s (seconds, peak KB, load)\n' "$i" "$name" "$r"
    done
done
echo "rows: $("$cli" check --strict "$work" | sed -n 's/^Data: \([0-9]*\) 行.*/\1/p')"

for name in "${names[@]}"; do
    sort -n -k1,1 "$out/small-append-$name.txt" | awk -v name="$name" '
        { t[NR] = $1; if ($2 > peak) peak = $2; load += $3 }
        END {
            med = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
            printf "%-10s median %6.2f s  (min %.2f, max %.2f)  peak %5d MB  mean load %.2f\n",
                   name, med, t[1], t[NR], peak / 1024, load / NR
        }'
done
