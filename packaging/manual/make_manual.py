#!/usr/bin/env python3
"""Builds the programs' --help texts and their manual pages from one description per program
(a JSON file beside this script), so that the two never say different things.

  make_manual.py help OUT.cpp PROGRAM.json...   C++ source with qm::ProgramHelpText()
  make_manual.py man LANG PROGRAM.json OUT.1    a manual page in roff, LANG "en" or "ja"
"""
import json
import sys
import textwrap
import unicodedata

HEADINGS = {
    "en": {"name": "NAME", "synopsis": "SYNOPSIS", "description": "DESCRIPTION",
           "commands": "COMMANDS", "options": "OPTIONS", "exit": "EXIT STATUS",
           "files": "FILES", "see_also": "SEE ALSO"},
    "ja": {"name": "名前", "synopsis": "書式", "description": "説明",
           "commands": "コマンド", "options": "オプション", "exit": "終了ステータス",
           "files": "ファイル", "see_also": "関連項目"},
}
HELP_HEADINGS = {"options": "オプション / Options:", "commands": "コマンド / Commands:"}


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


# ---- --help ----

def wide(c):
    return unicodedata.east_asian_width(c) in ("W", "F")


def wrap(text, width=78):
    """Lines of at most width columns: at blanks for Latin text, and anywhere between wide
    characters, which Japanese text allows."""
    if not any(wide(c) for c in text):
        return textwrap.wrap(text, width)
    lines, line, columns = [], "", 0
    for c in text:
        step = 2 if wide(c) else 1
        if columns + step > width:
            cut = len(line)
            if not wide(c) and not wide(line[-1:]):
                # Latin text inside Japanese: break at its last blank when there is one.
                blank = line.rfind(" ")
                cut = blank + 1 if blank > 0 else cut
            lines.append(line[:cut].rstrip())
            line = line[cut:]
            columns = sum(2 if wide(x) else 1 for x in line)
        line += c
        columns += step
    lines.append(line.rstrip())
    return lines


def help_text(page):
    """Japanese first, then English, as every help text of the programs reads."""
    lines = ["使い方: " + u for u in page["usage"]["ja"]]
    lines += ["Usage: " + u for u in page["usage"]["en"]]
    for lang in ("ja", "en"):
        lines.append("")
        for para in page["description"][lang]:
            lines += wrap(para)
    if page.get("options"):
        lines += ["", HELP_HEADINGS["options"]]
        width = max(len(o["name"]) for o in page["options"])
        for o in page["options"]:
            lines.append("  %-*s  %s / %s" % (width, o["name"], o["ja"], o["en"]))
    return "\n".join(lines) + "\n"


def c_string(text):
    out = []
    for line in text.splitlines(keepends=True):
        escaped = line.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
        out.append('"%s"' % escaped)
    return "\n        ".join(out)


def write_help_source(out, paths):
    pages = [load(p) for p in paths]
    with open(out, "w", encoding="utf-8") as f:
        f.write("// Made by packaging/manual/make_manual.py from the programs' descriptions.\n")
        f.write('#include "about/program_info_options.h"\n\n')
        f.write("namespace qm {\n\nconst char* ProgramHelpText(std::string_view program) {\n")
        for page in pages:
            f.write('    if (program == "%s")\n        return %s;\n'
                    % (page["name"], c_string(help_text(page))))
        f.write("    return nullptr;\n}\n\n}  // namespace qm\n")


# ---- manual pages ----

def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    # groff breaks lines only at blanks: give it a break point after every wide character,
    # where Japanese text may break.
    text = "".join(c + "\\:" if wide(c) else c for c in text)
    lines = []
    for line in text.split("\n"):
        if line.startswith((".", "'")):
            line = "\\&" + line
        lines.append(line)
    return "\n".join(lines)


def write_man(lang, path, out):
    page = load(path)
    h = HEADINGS[lang]
    name = page["name"]
    r = ['.TH %s 1 "" "Quillomat %s" "%s"' % (
        roff(name.upper()), page.get("version", ""),
        "Quillomat のマニュアル" if lang == "ja" else "Quillomat Manual")]
    if lang == "ja":
        r.append(".na")  # ragged right: Japanese lines have no blanks to stretch
    r += [".SH " + h["name"], "%s \\- %s" % (roff(name), roff(page["summary"][lang]))]
    r.append(".SH " + h["synopsis"])
    for u in page["usage"][lang]:
        r += [".PP", roff(u)]
    r.append(".SH " + h["description"])
    for para in page["description"][lang]:
        r += [".PP", roff(para)]
    for key in ("commands", "options", "exit", "files"):
        items = page.get(key)
        if not items:
            continue
        r.append(".SH " + h[key])
        for item in items:
            r += [".TP", ".B " + roff(item["name"]), roff(item[lang])]
    if page.get("see_also"):
        r.append(".SH " + h["see_also"])
        refs = page["see_also"]
        for i, ref in enumerate(refs):
            title, section = ref[:-1].split("(")
            r.append(".BR %s (%s)%s" % (roff(title), section, "," if i + 1 < len(refs) else ""))
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(r) + "\n")


def main(argv):
    if len(argv) >= 3 and argv[1] == "help":
        write_help_source(argv[2], argv[3:])
    elif len(argv) == 5 and argv[1] == "man":
        write_man(argv[2], argv[3], argv[4])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
