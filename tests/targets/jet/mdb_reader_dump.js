#!/usr/bin/env node
// Prints every user table of an Access database as read by the npm package mdb-reader, in a
// line format the engine's comparison test parses without a JSON library:
//   T <table>            a table (or "E <table> <message>" when mdb-reader cannot read it)
//   C <name> <name> ...  its column names
//   R <cell> <cell> ...  one row
// Fields are separated by tabs; a cell is \N for NULL, otherwise text with \\, \t, \n, \r
// escaped. Dates are milliseconds since 1970 (UTC), binary data is lower-case hex, booleans
// are 1 or 0.
const fs = require("fs");
const MDBReader = require("mdb-reader").default || require("mdb-reader");

function escape(text) {
  return text.replace(/\\/g, "\\\\").replace(/\t/g, "\\t").replace(/\n/g, "\\n").replace(/\r/g, "\\r");
}

function cell(value) {
  if (value === null || value === undefined) return "\\N";
  if (value instanceof Date) return String(value.getTime());
  if (Buffer.isBuffer(value)) return value.toString("hex");
  if (typeof value === "boolean") return value ? "1" : "0";
  if (typeof value === "object") return escape(JSON.stringify(value));
  return escape(String(value));
}

const reader = new MDBReader(fs.readFileSync(process.argv[2]));
const out = [];
for (const name of reader.getTableNames()) {
  try {
    const table = reader.getTable(name);
    const columns = table.getColumnNames();
    const rows = table.getData();
    out.push("T\t" + escape(name));
    out.push(["C", ...columns.map(escape)].join("\t"));
    for (const row of rows) out.push(["R", ...columns.map((c) => cell(row[c]))].join("\t"));
  } catch (e) {
    out.push("E\t" + escape(name) + "\t" + escape(String(e.message)));
  }
}
process.stdout.write(out.join("\n") + "\n");
