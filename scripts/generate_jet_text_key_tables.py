#!/usr/bin/env python3
"""Generates src/targets/jet/jet_text_key_tables.cpp, the character tables of the text-index key
encoder, from public data (see src/targets/jet/jet_text_key_tables.md for sources and licences):

  --genleg, --ext-genleg  the General (legacy) code lists of Jackcess (Apache-2.0):
             index_codes_genleg.txt (U+0000..U+00FF) and index_codes_ext_genleg.txt
             (U+0100..U+FFFF without the surrogates), one line per character, read from Access
             by Jackcess's authors: X ignored, S<hex> primary bytes, I<hex>,<hex> primary and
             diacritic bytes, U<hex> code kept only in the "unprintable" section, P<hex> added to
             the diacritic weight before it, Z<hex>,<hex>,<flag> a kana (flag 1: small form).
  --gen, --ext-gen  the General (Access 2010 and later) lists in the same form
             (index_codes_gen.txt, index_codes_ext_gen.txt).
  --weights  Microsoft's "Windows 10 Sorting Weight Table.txt" (public domain; Debian's wine
             source package ships it under debian/unicode/): kana weights from its default
             table, which the General (legacy) list's kana lines must equal (a check of the
             transcribed list), and kanji weights from its ja-JP block.
  --golden   text-keys.tsv, keys that Access wrote: the characters outside U+0000..U+00FF of
             its Japanese rows made only of characters the encoder keys are the ones proven
             under 1041 (the encoder's test reproduces every such row byte for byte); all others
             are refused under 1041.

Usage: scripts/generate_jet_text_key_tables.py --genleg F --ext-genleg F --gen F --ext-gen F
           --weights F --golden F > OUT
"""
import argparse
import csv
import re
import sys


def parse_hex_code(text):
    # "803" → 08 03; "2B03" → 2B 03; "7" → 07.
    if len(text) % 2:
        text = "0" + text
    return bytes.fromhex(text)


def read_weights(path):
    """Kana of the default table (alphabetic and diacritic weight, small form) and kanji of the
    ja-JP block (weight with 0x43 taken from its first byte)."""
    kana = {}
    kanji = {}
    section = None
    in_japanese = False
    weight_line = re.compile(r"^0x([0-9a-fA-F]{4})\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)")
    for raw in open(path, encoding="utf-8-sig"):
        stripped = raw.strip()
        if stripped.startswith("SORTTABLES"):
            section = "tables"
        elif stripped.startswith("DEFAULT") and section is None:
            section = "default"
        elif stripped.startswith("SORTGUID"):
            in_japanese = False
        elif stripped.startswith("LOCALENAME") and section == "tables":
            in_japanese = in_japanese or stripped.split()[1] == "ja-JP"
        m = weight_line.match(raw)
        if not m:
            continue
        cp = int(m.group(1), 16)
        sm, aw, dw, cw = (int(m.group(i)) for i in range(2, 6))
        if section == "default" and sm == 3 and aw >= 2:
            is_kana = 0x3041 <= cp <= 0x30F6 or 0xFF66 <= cp <= 0xFF9D
            if is_kana and cp not in kana:
                kana[cp] = (aw, dw, (cw & 2) == 0)
        elif in_japanese and 196 <= sm <= 223 and cp not in kanji:
            kanji[cp] = ((sm - 0x43) << 8) | aw
    return kana, kanji


MARKS = {0x30FC, 0xFF70, 0xFF9E, 0xFF9F, 0x3005}  # ー ｰ ﾞ ﾟ 々


def read_proven(path, kana, kanji, legacy):
    """Characters above U+00FF that the encoder keys under Japanese (1041): those of the
    Japanese rows whose every character it keys, and the kana and kana marks of such General
    (legacy) rows (kana are coded alike under both). The encoder's test reproduces every such
    row byte for byte, so each character listed is checked against a key Access wrote."""

    def keyable(c):
        return c <= 0xFF or c in kana or c in MARKS or c in kanji or legacy[c] is not None

    proven = set()
    with open(path, encoding="utf-8") as f:
        reader = csv.reader(f, delimiter="\t")
        next(reader)
        for lcid, version, value, *_ in reader:
            codes = [ord(c) for c in value]
            if version != "0" or not all(keyable(c) for c in codes):
                continue
            if lcid == "1041":
                proven.update(c for c in codes if c > 0xFF)
            elif lcid == "1033":
                proven.update(c for c in codes if c in kana or c in MARKS - {0x3005})
    return proven


def read_lines(path):
    # Lines are kept as they stand (a list's lines are never empty).
    return [line.rstrip("\r\n") for line in open(path, encoding="ascii")]


# Lines of a full list: U+0100..U+FFFF without the 2,048 surrogates, one per character.
EXT_LINES = 0x10000 - 0x100 - 0x800
# Primary and extra bytes of one code: kMaxCodeBytes in jet_text_key_tables.h.
MAX_CODE_BYTES = 12


def read_code_list(base_path, ext_path, what):
    """The 65,536 entries of one sort order's list (None for the surrogates), parsed."""
    base = read_lines(base_path)
    ext = read_lines(ext_path)
    if ext and ext[-1] == "":
        ext.pop()
    if len(base) != 256 or len(ext) != EXT_LINES:
        raise SystemExit("%s list: expected 256 + %d lines, found %d + %d"
                         % (what, EXT_LINES, len(base), len(ext)))
    codes = [parse_code(line) for line in base]
    lines = iter(ext)
    for cp in range(0x100, 0x10000):
        codes.append(None if 0xD800 <= cp <= 0xDFFF else parse_code(next(lines)))
    return codes


def parse_code(line):
    """(kind, primary bytes, extra bytes, small-kana flag) of one line of a code list:
    X ignored; S<primary>; I<primary>,<extra>; U<unprintable code>; P<modifier added to the
    diacritic weight before it>; Z<primary>,<extra or nothing>,<1 for a small kana>."""
    kind, rest = line[:1], line[1:]
    parts = rest.split(",")
    if kind == "X" and rest == "":
        return ("Ignore", b"", b"", 0)
    if kind == "S" and len(parts) == 1:
        return ("Simple", parse_hex_code(parts[0]), b"", 0)
    if kind == "I" and len(parts) == 2 and parts[1]:
        return ("International", parse_hex_code(parts[0]), parse_hex_code(parts[1]), 0)
    if kind == "U" and len(parts) == 1:
        return ("Unprintable", b"", parse_hex_code(parts[0]), 0)
    if kind == "P" and len(parts) == 1 and len(parse_hex_code(parts[0])) == 1:
        return ("Modifier", b"", parse_hex_code(parts[0]), 0)
    if kind == "Z" and len(parts) == 3:
        extra = parse_hex_code(parts[1]) if parts[1] else b""
        return ("Kana", parse_hex_code(parts[0]), extra, 2 if parts[2] == "1" else 3)
    raise SystemExit("unknown entry " + repr(line))


def successor(code):
    """The primary code after this one: the last byte counts up through 02..FF, then carries
    into the byte before it (codes never hold 00 or 01, which end sections of a key)."""
    b = bytearray(code)
    i = len(b) - 1
    while i >= 0:
        if b[i] < 0xFF:
            b[i] += 1
            return bytes(b)
        b[i] = 0x02
        i -= 1
    return None


def make_runs(codes):
    """Runs of consecutive code points: same kind, extra bytes and flag, and each primary code
    either equal to the one before (step 0) or its successor (step 1)."""
    runs = []
    for cp, code in enumerate(codes):
        if code is None:
            continue
        last = runs[-1] if runs else None
        if last and last["first"] + last["count"] == cp and last["code"][0] == code[0] \
                and last["code"][2:] == code[2:]:
            previous = last["current"]
            step = None
            if code[1] == previous:
                step = 0
            elif code[1] and successor(previous) == code[1]:
                step = 1
            if step is not None and (last["count"] == 1 or last["step"] == step):
                last["count"] += 1
                last["step"] = step
                last["current"] = code[1]
                continue
        runs.append({"first": cp, "count": 1, "step": 0, "code": code, "current": code[1]})
    return runs


def expand_runs(runs):
    codes = [None] * 0x10000
    for run in runs:
        kind, primary, extra, flag = run["code"]
        for i in range(run["count"]):
            codes[run["first"] + i] = (kind, primary, extra, flag)
            if run["step"] == 1:
                primary = successor(primary)
    return codes


def check_kana(legacy, kana):
    """The Windows kana weights against the General (legacy) list's kana lines, which the
    encoder keys kana by."""
    differences = []
    for cp, (aw, dw, small) in sorted(kana.items()):
        expected = ("Kana", bytes([0x7F, aw]), bytes([dw]) if dw != 2 else b"", 2 if small else 3)
        if legacy[cp] != expected:
            differences.append(cp)
            sys.stderr.write("  U+%04X list %s, weights %s\n" % (cp, legacy[cp], expected))
    sys.stderr.write("kana whose list line is not their Windows weight: %d of %d\n"
                     % (len(differences), len(kana)))
    return differences


def write_runs(out, name, runs):
    out.write("const TCodeRun %s[] = {\n" % name)
    for run in runs:
        kind, primary, extra, flag = run["code"]
        data = primary + extra
        if len(data) > MAX_CODE_BYTES:
            raise SystemExit("code too long at U+%04X" % run["first"])
        out.write("    {0x%04X, %d, TCodeKind::%s, %d, %d, %d, %d, {%s}},\n"
                  % (run["first"], run["count"], kind, run["step"], len(primary), len(extra),
                     flag, ", ".join("0x%02X" % b for b in data)))
    out.write("};\nconst std::size_t %sCount = sizeof %s / sizeof %s[0];\n\n" % (name, name, name))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--genleg", required=True)
    parser.add_argument("--ext-genleg", required=True)
    parser.add_argument("--gen", required=True)
    parser.add_argument("--ext-gen", required=True)
    parser.add_argument("--weights", required=True)
    parser.add_argument("--golden", required=True)
    args = parser.parse_args()

    legacy = read_code_list(args.genleg, args.ext_genleg, "General (legacy)")
    general = read_code_list(args.gen, args.ext_gen, "General")
    kana, kanji = read_weights(args.weights)
    # Kana newer than Access's table (ゕ ゖ) carry no weight in its list: they are left to the list.
    for d in check_kana(legacy, kana):
        if legacy[d][0] != "Ignore":
            raise SystemExit("the kana of the list and of the weights differ")
        del kana[d]
    proven = read_proven(args.golden, kana, kanji, legacy)

    tables = []
    for name, codes in (("kLegacyRuns", legacy), ("kGeneralRuns", general)):
        runs = make_runs(codes)
        if expand_runs(runs) != codes:
            raise SystemExit("runs of %s do not give back the list" % name)
        sys.stderr.write("%s: %d runs\n" % (name, len(runs)))
        tables.append((name, runs))

    out = sys.stdout
    out.write("// Generated by scripts/generate_jet_text_key_tables.py from public data (sources and\n")
    out.write("// licences: jet_text_key_tables.md). Do not edit by hand.\n")
    out.write('#include "targets/jet/jet_text_key_tables.h"\n\nnamespace qm::jet::text_key {\n\n')

    for name, runs in tables:
        write_runs(out, name, runs)

    out.write("const TKanjiWeight kJapaneseKanji[] = {\n")
    for cp in sorted(kanji):
        out.write("    {0x%04X, 0x%04X},\n" % (cp, kanji[cp]))
    out.write("};\nconst std::size_t kJapaneseKanjiCount = sizeof kJapaneseKanji / sizeof kJapaneseKanji[0];\n\n")

    chars = sorted(proven)
    out.write("const char16_t kProvenJapanese[] = {\n")
    for i in range(0, len(chars), 10):
        out.write("    " + " ".join("0x%04X," % c for c in chars[i:i + 10]) + "\n")
    out.write("};\nconst std::size_t kProvenJapaneseCount = %d;\n\n" % len(chars))

    out.write("}  // namespace qm::jet::text_key\n")


if __name__ == "__main__":
    main()
