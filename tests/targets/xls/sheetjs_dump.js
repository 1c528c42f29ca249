#!/usr/bin/env node
// Dumps .xls workbooks as the npm package xlsx (SheetJS) reads them, in the line format of
// xlrd_dump.py (F file, E error, S sheet, C row col kind value) so that the tests parse both
// alike. Kinds: n number (d when its format shows a date), s text, b boolean, e error code.
const XLSX = require("xlsx");

function escape(text) {
  return text.replace(/\\/g, "\\\\").replace(/\t/g, "\\t").replace(/\n/g, "\\n").replace(/\r/g, "\\r");
}

function number(value) {
  const text = String(value);
  return /^-?\d+$/.test(text) ? text + ".0" : text;
}

for (const path of process.argv.slice(2)) {
  console.log("F\t" + escape(path.split("/").pop()));
  let book;
  try {
    book = XLSX.readFile(path, { cellNF: true, cellDates: false });
  } catch (error) {
    console.log("E\t" + escape(String(error)));
    continue;
  }
  book.SheetNames.forEach((name, index) => {
    console.log("S\t" + index + "\t" + escape(name));
    const sheet = book.Sheets[name];
    for (const ref of Object.keys(sheet)) {
      if (ref[0] === "!") continue;
      const cell = sheet[ref];
      const at = XLSX.utils.decode_cell(ref);
      let line = null;
      if (cell.t === "n") {
        const date = cell.z && XLSX.SSF.is_date(cell.z);
        line = (date ? "d" : "n") + "\t" + number(cell.v);
      } else if (cell.t === "s") {
        line = "s\t" + escape(cell.v);
      } else if (cell.t === "b") {
        line = "b\t" + (cell.v ? "1" : "0");
      } else if (cell.t === "e") {
        line = "e\t" + cell.v;
      }
      if (line !== null) console.log("C\t" + at.r + "\t" + at.c + "\t" + line);
    }
  });
}
