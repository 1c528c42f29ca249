#!/usr/bin/python3
"""Prints the cells of one worksheet of a .xls workbook as xlrd reads them, one line per row, in
the notation of openpyxl_rows.py (so that the engine contract suite compares every engine's
rows with its independent reader the same way).

usage: xlrd_rows.py WORKBOOK SHEET
Each cell: "~" (empty), "b:True", "n:<float repr>", "d:<ISO date-time>", "s:<JSON string>",
"e:<error code>", separated by tabs.
"""
import json
import sys

import xlrd

book = xlrd.open_workbook(sys.argv[1], logfile=open("/dev/null", "w"))
sheet = book.sheet_by_name(sys.argv[2])


def cell(c):
    if c.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
        return "~"
    if c.ctype == xlrd.XL_CELL_BOOLEAN:
        return "b:%s" % bool(c.value)
    if c.ctype == xlrd.XL_CELL_NUMBER:
        return "n:%r" % float(c.value)
    if c.ctype == xlrd.XL_CELL_DATE:
        return "d:" + xlrd.xldate.xldate_as_datetime(c.value, book.datemode).isoformat()
    if c.ctype == xlrd.XL_CELL_ERROR:
        return "e:%d" % c.value
    return "s:" + json.dumps(str(c.value), ensure_ascii=False)


for r in range(sheet.nrows):
    print("\t".join(cell(c) for c in sheet.row(r)))
