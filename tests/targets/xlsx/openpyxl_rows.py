#!/usr/bin/python3
"""Prints the cells of one worksheet as openpyxl reads them, one line per row, for the tests.

usage: openpyxl_rows.py WORKBOOK SHEET
Each cell: "~" (empty), "b:True", "n:<float repr>", "d:<ISO date-time>", "s:<JSON string>",
separated by tabs.
"""
import datetime
import json
import sys
import warnings

import openpyxl

# openpyxl warns about extension lists it drops on reading (data validations, sparklines); the
# test reads stderr with the rows, and the warnings say nothing about the cells.
warnings.simplefilter("ignore")

wb = openpyxl.load_workbook(sys.argv[1], data_only=True)
ws = wb[sys.argv[2]]


def cell(v):
    if v is None:
        return "~"
    if isinstance(v, bool):
        return "b:%s" % v
    if isinstance(v, (int, float)):
        return "n:%r" % float(v)
    if isinstance(v, datetime.datetime):
        return "d:" + v.isoformat()
    if isinstance(v, (datetime.date, datetime.time)):
        return "d:" + v.isoformat()
    return "s:" + json.dumps(str(v), ensure_ascii=False)


for row in ws.iter_rows(values_only=True):
    print("\t".join(cell(v) for v in row))
