#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Quillomat need.
# The package names live in scripts/packages/*.txt (one per line, '#' starts a comment),
# so each subsystem keeps its own list. Safe to run again: only missing packages are installed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

wanted=$(cat "$here"/packages/*.txt | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
missing=()
for pkg in $wanted; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
apt_updated=
if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    apt_updated=1
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# npm packages used by tests as independent readers (if any are listed).
if [ -f "$here/npm/package.json" ]; then
    if ! command -v npm >/dev/null 2>&1; then
        echo "install-deps: installing npm"
        [ -n "$apt_updated" ] || "${sudo_cmd[@]}" apt-get update -qq
        "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends npm
    fi
    if [ ! -d "$here/npm/node_modules" ] || [ "$here/npm/package.json" -nt "$here/npm/node_modules" ]; then
        (cd "$here/npm" && npm install --no-audit --no-fund --silent && touch node_modules)
    fi
fi
