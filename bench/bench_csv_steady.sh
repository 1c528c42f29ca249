#!/usr/bin/env bash
# How steady CSV loading is: `quillomat-cli csv` on 1,000,000-row UTF-8 and CP932 files, RUNS
# times each (default 10), alternating. Prints every run's MB/s, wall and CPU time (user +
# system), peak resident memory as a multiple of the file, and the load average of the
# machine, then the median and the minimum speed per file.
#   bench/bench_csv_steady.sh                 (the build/bench binary)
#   BIN=path/to/quillomat-cli RUNS=5 PAUSE=0 bench/bench_csv_steady.sh
#   BIN="old/quillomat-cli new/quillomat-cli" bench/bench_csv_steady.sh
# With several binaries they take turns run by run, so that they meet the same load.
# PAUSE (default 3 s) is slept before every run: on virtual machines that hand freed memory back
# to their host, memory freed by the previous run is then gone again, and the run pays the full
# price of fresh memory, as a user's first load of the day does. PAUSE=0 measures back to back.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${RUNS:-10}"
pause="${PAUSE:-3}"
read -r -a bins <<<"${BIN:-build/bench/src/cli/quillomat-cli}"
for bin in "${bins[@]}"; do
    if [ ! -x "$bin" ]; then
        echo "bench: $bin is missing (cmake --preset bench && cmake --build --preset bench --target quillomat-cli)" >&2
        exit 1
    fi
done
gen=../shared/tools/gen-csv.py
if [ ! -f "$gen" ]; then
    echo "bench: the data generator $gen (beside the checkout) is missing" >&2
    exit 1
fi
out=build/bench/data
mkdir -p "$out"
for encoding in utf-8 cp932; do
    file="$out/import-${encoding//-/}-1000000.csv"
    if [ ! -s "$file" ]; then
        echo "bench data: $file"
        python3 "$gen" --rows 1000000 --encoding "$encoding" --header ja -o "$file.part"
        mv "$file.part" "$file"
    fi
done

results=$(mktemp)
trap 'rm -f "$results"' EXIT
for i in "${!bins[@]}"; do echo "binary $i: ${bins[$i]}"; done
echo "runs: $runs   pause: ${pause}s   cores: $(nproc)"
printf '%-3s %-6s %4s %8s %7s %7s %7s %8s %6s  %s\n' bin file run MB/s wall user sys peakMB xfile load
for run in $(seq 1 "$runs"); do
    for name in utf8 cp932; do
      for i in "${!bins[@]}"; do
        bin=${bins[$i]}
        file="$out/import-$name-1000000.csv"
        bytes=$(stat -c %s "$file")
        sleep "$pause"
        load=$(cut -d' ' -f1 /proc/loadavg)
        timing=$( { /usr/bin/time -f '%e %U %S %M' "$bin" csv "$file" >/dev/null; } 2>&1 | tail -1)
        read -r wall user sys rss <<<"$timing"
        awk -v i="$i" -v n="$name" -v r="$run" -v b="$bytes" -v w="$wall" -v u="$user" \
            -v s="$sys" -v m="$rss" -v l="$load" 'BEGIN {
                mbs = w > 0 ? b / 1e6 / w : 0
                printf "%-3d %-6s %4d %8.0f %7.2f %7.2f %7.2f %8.0f %6.2f  %s\n", i, n, r, mbs, w, u, s, m / 1024, m * 1024 / b, l
            }'
        awk -v i="$i" -v n="$name" -v b="$bytes" -v w="$wall" \
            'BEGIN { if (w > 0) print i "-" n, b / 1e6 / w }' >>"$results"
      done
    done
done
echo
for i in "${!bins[@]}"; do
    for name in utf8 cp932; do
        grep "^$i-$name " "$results" | cut -d' ' -f2 | sort -g | awk -v i="$i" -v n="$name" '
            { v[NR] = $1 }
            END {
                median = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
                printf "binary %d %-6s median %6.0f MB/s   min %6.0f MB/s   max %6.0f MB/s\n", i, n, median, v[1], v[NR]
            }'
    done
done
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
