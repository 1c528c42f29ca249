#!/usr/bin/env bash
# Runs every benchmark executable of build/bench.
set -euo pipefail
cd "$(dirname "$0")/.."
shopt -s nullglob
for b in build/bench/bench/bench_*; do
    [ -x "$b" ] && "$b" "$@"
done
