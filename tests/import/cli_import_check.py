#!/usr/bin/python3
"""End-to-end check of `quillomat-cli import` on .xlsx workbooks made here with openpyxl and
read back with openpyxl, an independent reader.

Usage: cli_import_check.py PATH-TO-quillomat-cli PATH-TO-qm_import_project
"""
import datetime
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import zipfile

import openpyxl

cli, helper = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def run(*args, **kwargs):
    return subprocess.run([cli, "import", *args], capture_output=True, **kwargs)


def rows_of(path, sheet):
    wb = openpyxl.load_workbook(path)
    return [list(r) for r in wb[sheet].iter_rows(values_only=True)]


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


HEADER = ["日付", "品名", "数量", "単価", "済"]
SAMPLES = [
    [datetime.datetime(2024, 1, 5), "見本", 3, 1.5, True],
    [datetime.datetime(2024, 1, 6), "見本2", 4, 2.25, False],
]


def make_book(path, sheet="売上"):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = sheet
    ws.append(HEADER)
    for row in SAMPLES:
        ws.append(row)
    other = wb.create_sheet("別シート")
    other["A1"] = "触らない"
    wb.save(path)


def write_csv(path, lines, encoding="cp932"):
    with open(path, "wb") as f:
        f.write("\r\n".join(lines).encode(encoding) + b"\r\n")


RELATION = "日付=0,品名=1,数量=2,単価=3,済=4"

with tempfile.TemporaryDirectory() as tmp:
    folder = os.path.join(tmp, "売上 フォルダ")
    os.mkdir(folder)
    book = os.path.join(folder, "ブック 1.xlsx")

    # 1. All rows arrive in order and typed; the header line is skipped; empty cells leave
    #    their fields untouched; a quoted field over two lines arrives with CR LF.
    make_book(book)
    csv = os.path.join(folder, "入力.csv")
    write_csv(csv, [
        "日付,品名,数量,単価,済",
        "2024/02/01,りんご,10,120.5,True",
        '2024-02-02,"二行の\r\n品名",1,\"1,000\",False',
        ",空きあり,,,",
        "2024年2月4日,最後,-3,0.25,yes",
    ])
    r = run("-e=" + book, "-w=売上$", "-c=" + csv, "-f=-1", "-r=" + RELATION)
    check(r.returncode == 0, "typed import exits 0: %r" % (r.stderr.decode(),))
    check("登録しました。" in r.stdout.decode(), "typed import prints the outcome")
    rows = rows_of(book, "売上")
    expected = [HEADER] + SAMPLES + [
        [datetime.datetime(2024, 2, 1), "りんご", 10, 120.5, True],
        [datetime.datetime(2024, 2, 2), "二行の\r\n品名", 1, 1000, False],
        [None, "空きあり", None, None, None],
        [datetime.datetime(2024, 2, 4), "最後", -3, 0.25, True],
    ]
    check(rows == expected, "typed rows read back by openpyxl: %r" % (rows,))
    check(rows_of(book, "別シート") == [["触らない"]], "the other sheet is untouched")

    # 2. Without the header flag every line is a row.
    make_book(book)
    write_csv(csv, ["2024/03/01,a,1,1,0", "2024/03/02,b,2,2,1"])
    r = run("-e=" + book, "-w=売上$", "-c=" + csv, "-f=0", "-r=" + RELATION)
    check(r.returncode == 0, "no header: exit 0")
    rows = rows_of(book, "売上")
    check([row[1] for row in rows[3:]] == ["a", "b"], "no header: both lines imported")

    # 3. A failing row rolls everything back: the file is byte-identical, and the message
    #    names the CSV line (counting the header and the two-line field) and the field.
    make_book(book)
    before = read_bytes(book)
    write_csv(csv, [
        "日付,品名,数量,単価,済",
        '2024/02/01,"改行\r\nあり",1,1,1',
        "2024/02/02,b,2,2,1",
        "2024/02/03,c,多い,3,1",
    ])
    r = run("-e=" + book, "-w=売上$", "-c=" + csv, "-f=-1", "-r=" + RELATION)
    err = r.stderr.decode()
    check(r.returncode == 1, "failing row exits 1")
    check("CSVファイルの5行目" in err and "数量" in err, "failing row message: %r" % (err,))
    check(read_bytes(book) == before, "failing row leaves the file byte-identical")

    # 4. A relation naming a field the table lacks: the field lookup fails, rolled back.
    r = run("-e=" + book, "-w=売上$", "-c=" + csv, "-f=-1", "-r=無い=1")
    check(r.returncode == 1 and "無い" in r.stderr.decode(), "missing field is reported")
    check(read_bytes(book) == before, "missing field leaves the file byte-identical")

    # 5. The dry run lists every failing row and writes nothing.
    write_csv(csv, [
        "日付,品名,数量,単価,済",
        "2024/02/01,a,x,1,1",
        '2024/02/02,"b\r\nc",2,2,1',
        "2024/13/01,d,3,y,1",
        "2024/02/04,e,4,4,1",
    ])
    r = run("-e=" + book, "-w=売上$", "-c=" + csv, "-f=-1", "-r=" + RELATION, "--dry-run")
    out = r.stdout.decode()
    check(r.returncode == 1, "dry run with failures exits 1")
    lines = [line for line in out.splitlines() if "行目:" in line]
    check(len(lines) == 3, "dry run lists every failing cell: %r" % (out,))
    check(lines and lines[0].startswith("2行目:") and lines[1].startswith("5行目:")
          and lines[2].startswith("5行目:"), "dry run line numbers: %r" % (lines,))
    check(read_bytes(book) == before, "dry run writes nothing")
    write_csv(csv, ["日付,品名,数量,単価,済", "2024/02/01,a,1,1,1"])
    r = run("-e=" + book, "-w=売上$", "-c=" + csv, "-f=-1", "-r=" + RELATION, "--dry-run")
    check(r.returncode == 0, "clean dry run exits 0")
    check(read_bytes(book) == before, "clean dry run writes nothing")

    # 6. Wrong worksheet name: refused, nothing written.
    r = run("-e=" + book, "-w=無いシート", "-c=" + csv, "-f=-1", "-r=" + RELATION)
    check(r.returncode == 1 and "無いシート" in r.stderr.decode(), "unknown sheet is refused")

    # 7. Ctrl-C cancels: rolled back, exit 130. Standard error is a terminal so that the
    #    progress bar shows when the rows have started.
    big = os.path.join(tmp, "big.csv")
    with open(big, "w", encoding="ascii") as f:
        f.write("h1,h2,h3,h4,h5\n")
        for i in range(400000):
            f.write("2024/01/01,r%d,%d,1.5,1\n" % (i, i))
    master, slave = pty.openpty()
    p = subprocess.Popen([cli, "import", "-e=" + book, "-w=売上$", "-c=" + big, "-f=-1",
                          "-r=" + RELATION], stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    seen = b""
    while b"[" not in seen:
        ready, _, _ = select.select([master], [], [], 30)
        if not ready:
            break
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    p.send_signal(signal.SIGINT)
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    p.wait(timeout=60)
    os.close(master)
    check(p.returncode == 130, "Ctrl-C exits 130, got %r" % (p.returncode,))
    check("キャンセルされました。" in seen.decode(errors="replace"), "Ctrl-C message")
    check(read_bytes(book) == before, "Ctrl-C leaves the file byte-identical")

    # 8. Round trip: a project file and the same project's argument list give the same import;
    #    the auto-run script, read back by sh, yields exactly those arguments.
    names = ["氏名", "My Field", 'a"b', "x=y", "数,量"]
    trip = os.path.join(folder, "往復 'q'.xlsx")
    wb = openpyxl.Workbook()
    wb.active.title = "名簿 $"
    wb.active.append(names)
    wb.save(trip)
    trip_csv = os.path.join(folder, "名簿.csv")
    write_csv(trip_csv, ["見出し,1,2,3,4", "山田,\"a b\",\"c\"\"d\",e=f,\"1,2\""], "utf-8")
    relation = '氏名=0,"My Field=1","a""b=2",x=y=3,"数,量=4"'
    qlm = os.path.join(folder, "プロジェクト.QLM")
    print_script = os.path.join(tmp, "print.sh")
    import_script = os.path.join(tmp, "import.sh")
    # The worksheet "名簿 $" is listed, as the desktop drivers list it, as '名簿 $$'.
    made = subprocess.run([helper, "make", qlm, print_script, import_script, cli, trip,
                           "'名簿 $$'", trip_csv, "1", relation], capture_output=True)
    check(made.returncode == 0, "project helper: %r" % (made.stderr,))

    def split(data):
        items = []
        while data:
            length, _, rest = data.partition(b":")
            items.append(rest[: int(length)])
            data = rest[int(length):]
        return items

    arguments = split(made.stdout)
    check(len(arguments) == 7 and arguments[-1] == b"-a", "GetArguments shape: %r" % arguments)
    printed = subprocess.run(["sh", print_script], capture_output=True)
    check(split(printed.stdout) == arguments, "sh reads the script back exactly")

    copies = {}
    for way in ("project", "options", "script"):
        copy = os.path.join(tmp, way + ".xlsx")
        shutil.copyfile(trip, copy)
        copies[way] = copy
    saved = read_bytes(trip)
    # Each way imports into its own copy: point the target at it by overriding -e=.
    r1 = run("--project", qlm, "-e=" + copies["project"])
    r2 = subprocess.run([cli, "import", *[a.decode() for a in arguments],
                         "-e=" + copies["options"]], capture_output=True)
    r3 = subprocess.run(["sh", import_script], capture_output=True)  # into trip itself
    check(r1.returncode == 0, "import --project: %r" % (r1.stderr.decode(),))
    check(r2.returncode == 0, "import with the arguments: %r" % (r2.stderr.decode(),))
    check(r3.returncode == 0, "import through the auto-run script: %r" % (r3.stderr.decode(),))
    want = [names, ["山田", "a b", 'c"d', "e=f", "1,2"]]
    got = [rows_of(copies["project"], "名簿 $"), rows_of(copies["options"], "名簿 $"),
           rows_of(trip, "名簿 $")]
    check(got == [want, want, want], "the three ways give the same rows: %r" % (got,))
    check(read_bytes(trip) != saved, "the script imported into the project's own target")

    # 9. A worksheet name with a line break and what looks like a key (a hostile workbook can
    #    hold one) and a field name with a line break: the project file keeps them as values,
    #    so import --project reads the CSV file the project names, into that worksheet, with
    #    both mappings.
    hostile = os.path.join(folder, "hostile.xlsx")
    wb = openpyxl.Workbook()
    wb.active.title = "HOSTILE"
    wb.active.append(["氏名", "品名\n(税込)"])
    wb.save(hostile + ".tmp")
    with zipfile.ZipFile(hostile + ".tmp") as zin, \
            zipfile.ZipFile(hostile, "w", zipfile.ZIP_DEFLATED) as zout:
        for item in zin.infolist():
            data = zin.read(item.filename)
            if item.filename == "xl/workbook.xml":
                data = data.replace(b'name="HOSTILE"', 'name="名簿&#10;CsvFile=evil"'.encode())
            zout.writestr(item, data)
    right_csv = os.path.join(folder, "right.csv")
    write_csv(right_csv, ["氏名,品名", "正しい,行"], "utf-8")
    write_csv(os.path.join(tmp, "evil"), ["氏名,品名", "偽,行"], "utf-8")
    listed = subprocess.run([cli, "tables", hostile], capture_output=True).stdout.decode()
    listed = listed[:-1] if listed.endswith("\n") else listed
    hostile_qlm = os.path.join(folder, "hostile.QLM")
    made = subprocess.run([helper, "make", hostile_qlm, print_script, import_script, cli, hostile,
                           listed, right_csv, "1", '氏名=0,"品名\n(税込)=1"'],
                          capture_output=True)
    check(made.returncode == 0, "hostile project helper: %r" % (made.stderr,))
    r = run("--project", hostile_qlm, cwd=tmp)
    check(r.returncode == 0, "import --project, hostile sheet: %r" % (r.stderr.decode(),))
    rows = rows_of(hostile, "名簿\nCsvFile=evil")
    check(rows == [["氏名", "品名\n(税込)"], ["正しい", "行"]],
          "the project's own CSV, both mappings: %r" % (rows,))

if failures:
    print("%d check(s) failed" % len(failures), file=sys.stderr)
    sys.exit(1)
print("all checks passed")
