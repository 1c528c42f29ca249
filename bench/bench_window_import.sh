#!/usr/bin/env bash
# The import from the window against the same import from the command line, in one run: the
# 1,000,000-row CP932 file of bench_import.sh into a fresh copy of the same workbook, by
#   quillomat-cli import -e=… -w=… -c=… -f=-1 -r=…
#   quillomat        -e=… -w=… -c=… -f=-1 -r=… -a      (the window, closing when committed)
# each timed end to end (start-up, reading the CSV file, the rows, the commit), alternating,
# REPEAT times (default 3); prints the medians and their ratio (goal: window ≤ 1.10 × CLI).
# Then window_import_probe drives one window through cancelled runs and a whole run and prints
# how long the window went without a turn, how long a repaint waited and how soon Cancel ended
# a run (goal: a tenth of a second).
# The window runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
#   bench/bench_window_import.sh [ROWS]      (default 1000000)
set -euo pipefail
cd "$(dirname "$0")/.."
ROWS="${1:-1000000}"
repeat="${REPEAT:-3}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

cmake --preset bench >/dev/null
cmake --build --preset bench --target quillomat quillomat-cli window_import_probe \
    -j "${JOBS:-2}" >/dev/null
source bench/import-data.sh

# The window saves its settings on closing: keep them away from the user's own.
config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT
export XDG_CONFIG_HOME="$config"
target="$out/window-target.xlsx"

# Prints the wall-clock seconds of one run; fails when the run failed or wrote nothing.
timed() {
    cp "$template" "$target"
    local start end
    start=$(date +%s.%N)
    timeout 600 "$@" >/dev/null 2>"$out/window-bench-err.txt" || {
        cat "$out/window-bench-err.txt" >&2
        echo "failed: $*" >&2
        return 1
    }
    end=$(date +%s.%N)
    if cmp -s "$template" "$target"; then
        echo "nothing was written: $*" >&2
        return 1
    fi
    awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

echo "import of $rows rows ($(stat -L -c %s "$csv") bytes) into $target, $repeat times each"
options=("-e=$target" "-w=$sheet" "-c=$csv" -f=-1 "-r=$relation")
cli_times=()
window_times=()
for ((i = 1; i <= repeat; ++i)); do
    c=$(timed build/bench/src/cli/quillomat-cli import "${options[@]}")
    w=$(timed build/bench/src/app/quillomat "${options[@]}" -a)
    printf '  run %d: quillomat-cli %.2f s, window %.2f s\n' "$i" "$c" "$w"
    cli_times+=("$c")
    window_times+=("$w")
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
c=$(median "${cli_times[@]}")
w=$(median "${window_times[@]}")
printf 'median: quillomat-cli %.2f s, window %.2f s, ratio %.3f\n' "$c" "$w" \
    "$(awk -v a="$w" -v b="$c" 'BEGIN { print a / b }')"

echo "the window during runs (cancelled at 5 %, 50 %, 95 % and in the commit; then whole):"
cp "$template" "$target"
build/bench/bench/window_import_probe "$target" "$sheet" "$csv" "$relation" \
    0.05 0.5 0.95 1 2>/dev/null
