#!/usr/bin/env node
// Prints the rows of one table of an Access database as the npm package mdb-reader reads them,
// one line per row, in the notation of tests/targets/xlsx/openpyxl_rows.py, so that the engine
// contract suite compares every engine's rows with its independent reader the same way:
//   "~" (NULL), "b:True", "n:<number, always with a fraction or exponent>",
//   "d:<ISO date-time, UTC>", "s:<JSON string>", separated by tabs.
// usage: node mdb_reader_rows.js DATABASE TABLE
const fs = require("fs");
const MDBReader = require("mdb-reader").default || require("mdb-reader");

function number(value) {
  const text = String(value);
  return "n:" + (/^-?\d+$/.test(text) ? text + ".0" : text);
}

function two(n) {
  return String(n).padStart(2, "0");
}

function cell(value, type) {
  if (value === null || value === undefined) return "~";
  if (typeof value === "boolean") return value ? "b:True" : "b:False";
  if (value instanceof Date) {
    return `d:${value.getUTCFullYear()}-${two(value.getUTCMonth() + 1)}-${two(value.getUTCDate())}` +
      `T${two(value.getUTCHours())}:${two(value.getUTCMinutes())}:${two(value.getUTCSeconds())}`;
  }
  if (typeof value === "number" || typeof value === "bigint") return number(value);
  // Currency and decimal values come as decimal text.
  if (type === "currency" || type === "numeric") return number(Number(value));
  return "s:" + JSON.stringify(String(value));
}

const reader = new MDBReader(fs.readFileSync(process.argv[2]));
const table = reader.getTable(process.argv[3]);
const columns = table.getColumns();
const lines = table.getData().map((row) => columns.map((c) => cell(row[c.name], c.type)).join("\t"));
process.stdout.write(lines.map((line) => line + "\n").join(""));
