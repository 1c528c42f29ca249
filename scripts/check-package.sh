#!/usr/bin/env bash
# Checks the Debian package made by 'make package':
#   - lintian reports no errors;
#   - the desktop entry passes desktop-file-validate, the AppStream metadata appstreamcli
#     validate, and every manual page renders with man -l without a warning;
#   - as root only (CI runs as root), the package is installed with apt-get into this machine,
#     the installed quillomat-cli imports a CSV file into an .xlsx workbook, the installed
#     quillomat starts offscreen, xdg-mime names its desktop entry for project files, and the
#     package is removed again, leaving none of its files behind. Removal runs on every exit.
# Usage: scripts/check-package.sh build/default/quillomat_VERSION_ARCH.deb
set -euo pipefail

[ $# -eq 1 ] && [ -f "$1" ] || { echo "usage: $0 PACKAGE.deb" >&2; exit 2; }
deb=$(realpath "$1")
work=$(mktemp -d)
installed=
cleanup() {
    if [ -n "$installed" ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quillomat >/dev/null 2>&1 ||
            dpkg --purge quillomat >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "check-package: FAILED: $*" >&2
    exit 1
}

# ---- the package's own checks ----
echo "check-package: lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

dpkg-deb -x "$deb" "$work/root"
echo "check-package: desktop-file-validate"
desktop-file-validate "$work/root/usr/share/applications/quillomat.desktop" ||
    fail "desktop entry"
echo "check-package: appstreamcli validate"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/"*.metainfo.xml ||
    fail "AppStream metadata"
echo "check-package: man -l"
pages=("$work"/root/usr/share/man/man1/*.1.gz "$work"/root/usr/share/man/ja/man1/*.1.gz)
[ ${#pages[@]} -eq 6 ] || fail "expected 6 manual pages, found ${#pages[@]}"
for page in "${pages[@]}"; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) ||
        fail "man -l $page"
    [ -z "$warnings" ] || fail "man -l $page: $warnings"
done

# ---- installing, using and removing it ----
if [ "$(id -u)" -ne 0 ]; then
    echo "check-package: not root, so the package is not installed here (skipped)"
    exit 0
fi
if dpkg-query -W -f='${Status}' quillomat 2>/dev/null | grep -q 'install ok installed'; then
    echo "check-package: a quillomat package is already installed; not touching it (skipped)"
    exit 0
fi
mapfile -t files < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|')

echo "check-package: apt-get install"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" \
    >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install"; }

# A home of its own, so that no settings or associations of this machine's users count.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"

/usr/bin/quillomat-cli --version | grep -q '^quillomat-cli (Quillomat) [0-9]' ||
    fail "quillomat-cli --version"
/usr/bin/quillomat --version | grep -q '^quillomat (Quillomat) [0-9]' ||
    fail "quillomat --version"

echo "check-package: import with the installed quillomat-cli"
/usr/bin/python3 - "$work" <<'PY' || fail "making the workbook"
import sys, openpyxl
wb = openpyxl.Workbook()
wb.active.title = "売上"
wb.active.append(["品名", "数量"])
wb.save(sys.argv[1] + "/book.xlsx")
PY
printf '品名,数量\r\nりんご,3\r\nみかん,5\r\n' >"$work/in.csv"
/usr/bin/quillomat-cli import "-e=$work/book.xlsx" '-w=売上$' "-c=$work/in.csv" -f=-1 \
    '-r=品名=0,数量=1' || fail "quillomat-cli import"
/usr/bin/python3 - "$work" <<'PY' || fail "the imported rows"
import sys, openpyxl
rows = [list(r) for r in openpyxl.load_workbook(sys.argv[1] + "/book.xlsx")["売上"].values]
assert rows == [["品名", "数量"], ["りんご", "3"], ["みかん", "5"]], rows
PY

echo "check-package: the installed quillomat, offscreen"
status=0
QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/quillomat >"$work/gui.log" 2>&1 || status=$?
# Still running when the time was up (124): it started and waited for the user.
[ "$status" -eq 124 ] || { cat "$work/gui.log" >&2; fail "quillomat ended with $status"; }

echo "check-package: xdg-mime"
default=$(xdg-mime query default application/x-quillomat-project)
[ "$default" = "quillomat.desktop" ] || fail "xdg-mime names '$default'"
# The system's MIME database knows the type (the shared-mime-info trigger has run).
grep -q '^[0-9]*:application/x-quillomat-project:\*\.qlm$' /usr/share/mime/globs2 ||
    fail "*.qlm is not in the system's MIME database"

echo "check-package: apt-get purge"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quillomat >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get purge"; }
installed=
for f in "${files[@]}" /usr/share/mime/application/x-quillomat-project.xml; do
    [ ! -e "$f" ] || fail "left behind: $f"
done
! grep -qs quillomat /usr/share/applications/mimeinfo.cache || fail "left in mimeinfo.cache"
echo "check-package: all checks passed"
