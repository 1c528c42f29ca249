#!/usr/bin/env bash
# Makes the 100 MB CSV files that bench_csv_load reads, in build/bench/data/ (never committed).
#   bench/make-data.sh [MEGABYTES]     (default 100)
# UTF-8 and CP932, each with and without quoted fields; files already there are kept.
set -euo pipefail
cd "$(dirname "$0")/.."
megabytes="${1:-100}"
# The generator lives in the shared folder beside the checkout, not in the repository.
gen=../shared/tools/gen-csv.py
if [ ! -f "$gen" ]; then
    echo "bench/make-data.sh: the data generator $gen (beside the checkout) is missing" >&2
    exit 1
fi
out=build/bench/data
mkdir -p "$out"

plain_columns=id,int,dec,date,ascii,ja,kana,dec
quoted_columns=id,int,dec,date,ascii,ja,kana,quoted,ja_quoted,dec

make_one() {
    local name=$1 encoding=$2 columns=$3
    local file="$out/$name.csv"
    [ -s "$file" ] && return
    # Rows for the size wanted, from the size of a sample of the same columns.
    local sample_rows=20000
    local sample_bytes
    sample_bytes=$(python3 "$gen" --rows $sample_rows --columns "$columns" --encoding "$encoding" | wc -c)
    local rows=$((megabytes * 1000000 * sample_rows / sample_bytes))
    echo "bench data: $file ($rows rows)"
    python3 "$gen" --rows "$rows" --columns "$columns" --encoding "$encoding" -o "$file.part"
    mv "$file.part" "$file"
}

make_one utf8-plain utf-8 "$plain_columns"
make_one utf8-quoted utf-8 "$quoted_columns"
make_one cp932-plain cp932 "$plain_columns"
make_one cp932-quoted cp932 "$quoted_columns"
