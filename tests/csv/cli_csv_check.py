#!/usr/bin/env python3
"""Runs `quillomat-cli csv` on small files and checks its output, exit status and messages.

Usage: cli_csv_check.py PATH-TO-quillomat-cli
"""
import json
import os
import subprocess
import sys
import tempfile

cli = sys.argv[1]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(*args):
    return subprocess.run([cli, "csv", *args], capture_output=True)


with tempfile.TemporaryDirectory() as tmp:
    # UTF-16LE with a mark: a quoted cell with a comma and a line break, a Japanese cell, a
    # lone surrogate, a ragged second row.
    text = '"a,b\r\nc",\u3042\ud800\r\nx\r\n'
    path = os.path.join(tmp, "small.csv")
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le", "surrogatepass"))

    result = run(path, "--json")
    check(result.returncode == 0, "--json exits with 0")
    raw = result.stdout.decode("utf-8")  # must be valid UTF-8
    check("\\ud800" in raw, "a lone surrogate is written as an escape")
    doc = json.loads(raw)
    check(doc.get("encoding") == "de16LE", "encoding name: %r" % doc.get("encoding"))
    check(doc.get("codePage") == 1200, "code page: %r" % doc.get("codePage"))
    check(doc.get("rows") == 2, "rows: %r" % doc.get("rows"))
    check(doc.get("fields") == 2, "fields: %r" % doc.get("fields"))
    check(doc.get("cells") == [["a,b\nc", "\u3042\ud800"], ["x", ""]],
          "cells: %r" % doc.get("cells"))

    result = run(path)
    check(result.returncode == 0, "plain output exits with 0")
    lines = result.stdout.decode("utf-8").splitlines()
    check(lines == ["encoding: de16LE", "codePage: 1200", "rows: 2", "fields: 2"],
          "plain output: %r" % lines)

    # Escapes JSON needs, and a UTF-8 file with a mark.
    path2 = os.path.join(tmp, "utf8.csv")
    with open(path2, "wb") as f:
        f.write(b'\xef\xbb\xbfback\\slash,"say ""hi""",tab\there,\xf0\x9f\x98\x80\n')
    doc = json.loads(run("--json", path2).stdout.decode("utf-8"))
    check(doc["encoding"] == "deUTF8BOM" and doc["codePage"] == 65001, "UTF-8 mark verdict")
    check(doc["cells"] == [["back\\slash", 'say "hi"', "tab\there", "\U0001F600"]],
          "escaped cells: %r" % doc["cells"])

    # An empty file loads as an empty table.
    empty = os.path.join(tmp, "empty.csv")
    open(empty, "wb").close()
    doc = json.loads(run(empty, "--json").stdout.decode("utf-8"))
    check(doc == {"encoding": "deNone", "codePage": 65535, "rows": 0, "fields": 0, "cells": []},
          "empty file: %r" % doc)

    # A file that cannot be loaded.
    missing = os.path.join(tmp, "missing.csv")
    result = run(missing, "--json")
    check(result.returncode == 1, "failure exits with 1")
    check(result.stdout == b"", "failure prints nothing on stdout")
    err = result.stderr.decode("utf-8")
    check("CSVファイルの読み込みに失敗しました。" in err and missing in err,
          "failure message: %r" % err)
    check(run(tmp).returncode == 1, "a folder fails to load")

    result = run("--help")
    out = result.stdout.decode("utf-8")
    check(result.returncode == 0 and "使い方" in out and "Usage" in out, "--help")
    check(run().returncode == 2, "no file is a usage error")
    check(run(path, "--bogus").returncode == 2, "an unknown option is a usage error")

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
