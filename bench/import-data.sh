# Sourced by the import benchmarks: makes (once) the 1,000,000-row CP932 CSV file and the
# target workbook, and sets csv, template, sheet and relation.
#   ROWS    rows of the CSV file (default 1000000)
# The data lives in build/bench/data/ (never committed).
rows="${ROWS:-1000000}"
# The generator lives in the shared folder beside the checkout (the callers run from the
# repository's root), not in the repository.
gen=../shared/tools/gen-csv.py
if [ ! -f "$gen" ]; then
    echo "bench: the data generator $gen (beside the checkout) is missing" >&2
    exit 1
fi
out=build/bench/data
mkdir -p "$out"

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
sheet='Data$'
relation="番号=0,整数=1,金額=2,日付=3,英字=4,名称=5,カナ=6,備考英字=7,備考=8,金額2=9"
