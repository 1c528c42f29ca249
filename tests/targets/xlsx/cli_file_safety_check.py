#!/usr/bin/python3
"""`quillomat-cli import` against what other processes and the file system do to a workbook:
concurrent imports into one .xlsx, a writer that holds the file too long, owners, links,
FIFOs and devices. Workbooks are made and read back with openpyxl.

Usage: cli_file_safety_check.py PATH-TO-quillomat-cli
"""
import fcntl
import os
import subprocess
import sys
import tempfile
import time

import openpyxl

cli = sys.argv[1]
failures = []
BUSY = "別のインポートがこのファイルに書き込んでいます"
RELATION = "id=0,n=1"


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def make_book(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "S"
    ws.append(["id", "n"])
    wb.save(path)


def write_csv(path, tag, count):
    with open(path, "w", encoding="utf-8") as f:
        f.write("id,n\n")
        for i in range(count):
            f.write("%s-%d,%d\n" % (tag, i, i))


def import_args(book, csv):
    return [cli, "import", "-e=" + book, "-w=S$", "-c=" + csv, "-f=-1", "-r=" + RELATION]


def run_import(book, csv, timeout=30):
    return subprocess.run(import_args(book, csv), capture_output=True, text=True, timeout=timeout)


def ids_of(book):
    ws = openpyxl.load_workbook(book, read_only=True)["S"]
    return [row[0] for row in ws.iter_rows(min_row=2, values_only=True)]


def blocks_of(ids):
    """The rows as (tag, [ids]) runs of one import each."""
    blocks = []
    for value in ids:
        tag = str(value).rsplit("-", 1)[0]
        if blocks and blocks[-1][0] == tag:
            blocks[-1][1].append(value)
        else:
            blocks.append((tag, [value]))
    return blocks


def concurrent_round(folder, sizes, label):
    book = os.path.join(folder, "book.xlsx")
    make_book(book)
    csvs = []
    for k, size in enumerate(sizes):
        csv = os.path.join(folder, "in%d.csv" % k)
        write_csv(csv, "w%d" % k, size)
        csvs.append(csv)
    procs = [subprocess.Popen(import_args(book, csv), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True) for csv in csvs]
    outcomes = [p.communicate(timeout=120) + (p.returncode,) for p in procs]
    succeeded = set()
    for k, (out, err, status) in enumerate(outcomes):
        if status == 0:
            check("登録しました" in out, "%s: import %d succeeded without saying so" % (label, k))
            succeeded.add("w%d" % k)
        else:
            check(status == 1 and BUSY in err and book in err,
                  "%s: import %d failed otherwise: %d %r" % (label, k, status, err))
    blocks = blocks_of(ids_of(book))
    tags = [tag for tag, _ in blocks]
    check(sorted(tags) == sorted(succeeded),
          "%s: the rows are not exactly those of the imports that succeeded: %s vs %s"
          % (label, tags, sorted(succeeded)))
    for tag, ids in blocks:
        size = sizes[int(tag[1:])]
        check(ids == ["%s-%d" % (tag, i) for i in range(size)],
              "%s: the rows of %s are not complete and in order" % (label, tag))
    leftovers = sorted(set(os.listdir(folder)) - {"book.xlsx"} - {os.path.basename(c) for c in csvs})
    check(leftovers == [], "%s: files left beside the workbook: %s" % (label, leftovers))
    for csv in csvs:
        os.unlink(csv)
    return len(succeeded)


with tempfile.TemporaryDirectory() as tmp:
    # 1. Two, then eight imports at once, several times, with different sizes: every import
    #    that reports success has all its rows, in one run, and no other rows arrive.
    rounds = [[1, 4000], [2500, 3], [1, 1], [700, 1200],
              [1, 3000, 40, 800, 5, 2000, 150, 1],
              [1200, 1, 1, 300, 2500, 60, 9, 700],
              [10, 20, 30, 40, 50, 60, 70, 80]]
    for n, sizes in enumerate(rounds):
        folder = os.path.join(tmp, "round%d" % n)
        os.mkdir(folder)
        got = concurrent_round(folder, sizes, "round %d (%d writers)" % (n, len(sizes)))
        print("round %d: %d of %d imports got the workbook" % (n, got, len(sizes)))

    # 2. A writer that keeps the file past the wait: the others fail after a few seconds with
    #    the message and leave the workbook byte for byte as it was; once it is done, an
    #    import succeeds and removes what was beside the workbook for the lock.
    folder = os.path.join(tmp, "held")
    os.mkdir(folder)
    book = os.path.join(folder, "book.xlsx")
    make_book(book)
    csv = os.path.join(folder, "in.csv")
    write_csv(csv, "h", 3)
    before = open(book, "rb").read()
    holder = open(os.path.join(folder, ".book.xlsx.quillomat-lock"), "w")
    fcntl.flock(holder, fcntl.LOCK_EX)
    started = time.monotonic()
    waiting = [subprocess.Popen(import_args(book, csv), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True) for _ in range(2)]
    for p in waiting:
        out, err = p.communicate(timeout=60)
        check(p.returncode == 1 and BUSY in err and book in err,
              "a writer kept out did not fail with the message: %d %r" % (p.returncode, err))
    waited = time.monotonic() - started
    check(2 <= waited < 20, "the wait for the lock took %.1f s" % waited)
    check(open(book, "rb").read() == before, "a writer kept out changed the workbook")
    fcntl.flock(holder, fcntl.LOCK_UN)
    holder.close()
    result = run_import(book, csv)
    check(result.returncode == 0, "the import after the holder failed: %r" % result.stderr)
    check(ids_of(book) == ["h-0", "h-1", "h-2"], "rows after the holder: %r" % ids_of(book))
    check(sorted(os.listdir(folder)) == ["book.xlsx", "in.csv"],
          "left beside the workbook: %r" % os.listdir(folder))

    # 3. Owner, group, mode and extended attributes stay; a hard-linked workbook is refused.
    folder = os.path.join(tmp, "owner")
    os.mkdir(folder)
    book = os.path.join(folder, "book.xlsx")
    make_book(book)
    if os.geteuid() == 0:
        os.chown(book, 12345, 23456)
        os.chmod(book, 0o640)
        try:
            os.setxattr(book, "user.quillomat-test", b"kept")
            attributes = True
        except OSError:
            attributes = False
        result = run_import(book, csv)
        check(result.returncode == 0, "import into another user's workbook: %r" % result.stderr)
        st = os.stat(book)
        check((st.st_uid, st.st_gid, st.st_mode & 0o7777) == (12345, 23456, 0o640),
              "owner, group or mode changed: %d %d %o" % (st.st_uid, st.st_gid, st.st_mode))
        if attributes:
            try:
                kept = os.getxattr(book, "user.quillomat-test")
            except OSError:
                kept = None
            check(kept == b"kept", "an attribute was lost")
        check(len(ids_of(book)) == 3, "rows in another user's workbook")
    else:
        print("not the superuser: owner and group of another user not checked")
    other = os.path.join(folder, "other name.xlsx")
    os.link(book, other)
    before = open(book, "rb").read()
    result = run_import(book, csv)
    check(result.returncode == 1 and "ハードリンク" in result.stderr and book in result.stderr,
          "a hard-linked workbook: %d %r" % (result.returncode, result.stderr))
    check(open(book, "rb").read() == before and os.stat(book).st_nlink == 2,
          "a hard-linked workbook was changed")

    # 4. A symbolic link to a workbook: the workbook it leads to is written, the link stays.
    folder = os.path.join(tmp, "kinds")
    os.mkdir(folder)
    real = os.path.join(folder, "real.xlsx")
    make_book(real)
    link = os.path.join(folder, "link.xlsx")
    os.symlink(real, link)
    result = run_import(link, csv)
    check(result.returncode == 0 and os.path.islink(link) and len(ids_of(real)) == 3,
          "import through a symbolic link: %r" % result.stderr)

    # 5. FIFOs and devices as the workbook, the CSV file and the project file: refused at
    #    once, saying what they are.
    fifo_book = os.path.join(folder, "pipe.xlsx")
    os.mkfifo(fifo_book)
    fifo_csv = os.path.join(folder, "pipe.csv")
    os.mkfifo(fifo_csv)
    fifo_project = os.path.join(folder, "pipe.QLM")
    os.mkfifo(fifo_project)
    zero_book = os.path.join(folder, "zero.xlsx")
    os.symlink("/dev/zero", zero_book)
    cases = [
        ([cli, "tables", fifo_book], "名前付きパイプ", fifo_book),
        (import_args(fifo_book, csv), "名前付きパイプ", fifo_book),
        (import_args(zero_book, csv), "デバイス", zero_book),
        (import_args(real, fifo_csv), "名前付きパイプ", fifo_csv),
        (import_args(real, "/dev/null"), "デバイス", "/dev/null"),
        ([cli, "csv", fifo_csv], "名前付きパイプ", fifo_csv),
        ([cli, "import", "--project", fifo_project], "名前付きパイプ", fifo_project),
    ]
    for args, kind, named in cases:
        try:
            result = subprocess.run(args, capture_output=True, text=True, timeout=10)
            check(result.returncode == 1 and "通常のファイルではありません（" + kind in result.stderr
                  and named in result.stderr,
                  "%s: %d %r" % (args[1:], result.returncode, result.stderr))
        except subprocess.TimeoutExpired:
            check(False, "%s hangs" % args[1:])

if failures:
    print("%d failure(s)" % len(failures), file=sys.stderr)
    sys.exit(1)
print("ok")
