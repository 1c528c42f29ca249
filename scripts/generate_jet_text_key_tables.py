#!/usr/bin/env python3
"""Generates src/targets/jet/jet_text_key_tables.cpp, the character tables of the text-index key
encoder, from public data (see src/targets/jet/jet_text_key_tables.md for sources and licences):

  --genleg   the General (legacy) code list for U+0000..U+00FF, one line per character, as
             published with Jackcess (index_codes_genleg.txt, Apache-2.0): X ignored,
             S<hex> primary bytes, I<hex>,<hex> primary and diacritic bytes, U<hex> code of a
             character kept only in the "unprintable" section.
  --gen      the General (Access 2010 and later) code list for U+0000..U+00FF in the same form,
             as published with Jackcess (index_codes_gen.txt, Apache-2.0); its primary codes may
             be four bytes long (letters expanded to two, as Æ to "ae").
  --weights  Microsoft's "Windows 10 Sorting Weight Table.txt" (public domain; Debian's wine
             source package ships it under debian/unicode/): kana weights from its default
             table, kanji weights from its ja-JP block; the General list is checked against the
             default table (differences are listed on standard error).
  --golden   text-keys.tsv, keys that Access wrote: the characters outside U+0000..U+00FF that
             occur there, in rows made only of characters with a table entry, are the ones
             whose keys are proven (the encoder's test reproduces every such row byte for byte
             and checks that each listed character is in a reproduced row); all others are
             refused.

  --check-ext  a transcription of lines of Jackcess's index_codes_ext_gen.txt and the code point
             of its first line (repeatable): every General code above U+00FF that the
             generator derives must equal its line there.

Usage: scripts/generate_jet_text_key_tables.py --genleg F --gen F --weights F --golden F
           --check-ext F FIRST [--check-ext F FIRST] > OUT
"""
import argparse
import csv
import re
import sys
import unicodedata


def parse_hex_code(text):
    # "803" → 08 03; "2B03" → 2B 03; "7" → 07.
    if len(text) % 2:
        text = "0" + text
    return bytes.fromhex(text)


def read_weights(path):
    kana = {}
    kanji = {}
    latin_weights = {}
    default_weights = {}
    expansions = {}
    section = None
    in_japanese = False
    expansion_line = re.compile(r"^0x([0-9a-fA-F]{4})\s+0x([0-9a-fA-F]{4})\s+0x([0-9a-fA-F]{4})\s*;")
    weight_line = re.compile(r"^0x([0-9a-fA-F]{4})\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)")
    for raw in open(path, encoding="utf-8-sig"):
        line = raw.rstrip("\r\n")
        stripped = line.strip()
        if stripped.startswith("SORTTABLES"):
            section = "tables"
        elif stripped.startswith("DEFAULT") and section is None:
            section = "default"
        elif stripped.startswith("EXPANSION") and not expansions:
            section = "expansion"
        elif section == "expansion" and stripped and not stripped.startswith(("0x", ";")):
            section = "tables"
        elif stripped.startswith("SORTGUID"):
            in_japanese = False
        elif stripped.startswith("LOCALENAME"):
            name = stripped.split()[1]
            if name == "ja-JP" and section == "tables":
                in_japanese = True
        if section == "expansion":
            m = expansion_line.match(line)
            if m:
                expansions[int(m.group(1), 16)] = (int(m.group(2), 16), int(m.group(3), 16))
            continue
        m = weight_line.match(line)
        if not m:
            continue
        cp = int(m.group(1), 16)
        sm, aw, dw, cw = (int(m.group(i)) for i in range(2, 6))
        if section == "default" and cp <= 0xFF and cp not in latin_weights:
            latin_weights[cp] = (sm, aw, dw)
        if section == "default" and cp not in default_weights:
            default_weights[cp] = (sm, aw, dw, cw)
        if section == "default" and sm == 3 and aw >= 2:
            is_kana = 0x3041 <= cp <= 0x30F6 or 0xFF66 <= cp <= 0xFF9D
            if is_kana and cp not in kana:
                kana[cp] = (aw, dw, (cw & 2) == 0)
        elif in_japanese and 196 <= sm <= 223 and cp not in kanji:
            kanji[cp] = ((sm - 0x43) << 8) | aw
    return kana, kanji, latin_weights, (default_weights, expansions)


# General (legacy) codes of punctuation above U+00FF used in Japanese text, copied from the lines
# for these characters in Jackcess's index_codes_ext_genleg.txt (same commit, Apache-2.0).
EXTRA_PUNCTUATION = {0x3001: "1B03", 0x30FB: "34B2"}  # 、 ・

MARKS = {0x30FC, 0xFF70, 0xFF9E, 0xFF9F, 0x3005}  # ー ｰ ﾞ ﾟ 々


def read_proven(path, kana, kanji):
    """Characters above U+00FF of the rows whose every character has a table entry: those rows
    are reproduced by the encoder's test, so each character listed is checked against a key
    Access wrote."""

    def keyable(c, lcid):
        if c <= 0xFF or c in kana or c in EXTRA_PUNCTUATION or c in MARKS - {0x3005}:
            return True
        return lcid == "1041" and (c in kanji or c == 0x3005)

    proven = {"1041": set(), "1033": set()}
    with open(path, encoding="utf-8") as f:
        reader = csv.reader(f, delimiter="\t")
        next(reader)
        for lcid, version, value, *_ in reader:
            if version != "0" or lcid not in proven:
                continue
            codes = [ord(c) for c in value]
            if all(keyable(c, lcid) for c in codes):
                proven[lcid].update(c for c in codes if c > 0xFF)
    return proven


def read_lines(path):
    lines = []
    for line in open(path, encoding="ascii"):
        line = line.strip()
        if line:
            lines.append(line)
    return lines


def read_code_list(path, what):
    lines = read_lines(path)
    if len(lines) != 256:
        raise SystemExit("expected 256 lines in the %s list" % what)
    return lines


def parse_code(line):
    """(kind, primary bytes, extra byte) of one line of a code list."""
    kind = line[0]
    if kind == "X":
        return "Ignore", b"", 0
    if kind == "S":
        return "Simple", parse_hex_code(line[1:]), 0
    if kind == "I":
        p, e = line[1:].split(",")
        return "Diacritic", parse_hex_code(p), int(e, 16)
    if kind == "U":
        return "Unprintable", b"", int(line[1:], 16)
    if kind in "PZ":  # above U+00FF only, never keyed here: compared as written
        return "Other", line.encode(), 0
    raise SystemExit("unknown entry " + line)


def write_code_table(out, name, lines):
    out.write("const TLatinCode %s[256] = {\n" % name)
    for cp, line in enumerate(lines):
        kind, primary, extra = parse_code(line)
        if len(primary) > 4 or extra > 0xFF:
            raise SystemExit("entry too long: " + line)
        p = list(primary) + [0] * (4 - len(primary))
        out.write("    {TLatinKind::%s, %d, {0x%02X, 0x%02X, 0x%02X, 0x%02X}, 0x%02X},  // U+%04X\n"
                  % (kind, len(primary), p[0], p[1], p[2], p[3], extra, cp))
    out.write("};\n\n")


def compare_with_windows(lines, weights):
    """Lists on standard error the characters whose General code is not their Windows default
    weight (script member and alphabetic weight as the primary code, the diacritic weight as the
    extra byte, 2 meaning none)."""
    differences = []
    for cp, line in enumerate(lines):
        kind, primary, extra = parse_code(line)
        if kind not in ("Simple", "Diacritic"):
            continue
        w = weights.get(cp)
        derived = None
        if w and len(primary) == 2:
            sm, aw, dw = w
            derived = (bytes([sm, aw]), dw if dw != 2 else 0)
        if derived != (primary, extra if kind == "Diacritic" else 0):
            differences.append("U+%04X %s (Windows: %s)" % (cp, line, w))
    sys.stderr.write("General codes of U+0000..U+00FF that are not the Windows default weight: "
                     "%d\n" % len(differences))
    for d in differences:
        sys.stderr.write("  " + d + "\n")


# Characters above U+00FF whose General codes are derived from the Windows default table: Latin
# Extended-A but for ı (U+0131) and ĸ (U+0138), whose lines in Jackcess's index_codes_ext_gen.txt
# give them diacritic weight 3 where the Windows 10 table has 4.
GENERAL_DERIVED_RANGES = [(0x0100, 0x0130), (0x0132, 0x0137), (0x0139, 0x017F)]
# Full-width forms of Latin-1 characters (Unicode decomposition <wide>), coded as the character
# they are a form of: the width makes no difference under General.
GENERAL_WIDE_RANGES = [(0xFF01, 0xFF5E), (0xFFE0, 0xFFE5)]


def derive_general(cp, windows):
    """General code of a character from its Windows default weight, in parse_code's form: primary
    code = script member and alphabetic weight, extra byte = the diacritic weight unless it is the
    default 2; a character the table expands into two is coded as both. None when the rule does
    not apply."""
    weights, expansions = windows
    if cp in expansions:
        parts = [derive_general(c, windows) for c in expansions[cp]]
        if any(p is None or p[0] not in ("Simple", "Diacritic") for p in parts):
            return None
        if any(p[0] != "Simple" for p in parts):
            return None  # an extra byte per letter: not one weight per character
        return "Simple", b"".join(p[1] for p in parts), 0
    w = weights.get(cp)
    if w is None:
        return None
    sm, aw, dw, cw = w
    if (sm, aw, dw, cw) == (0, 0, 0, 0):
        return "Ignore", b"", 0
    if sm < 7:
        return None  # punctuation and marks: not derived
    if dw == 2:
        return "Simple", bytes([sm, aw]), 0
    return "Diacritic", bytes([sm, aw]), dw


def derive_wide(cp, general):
    """General code of a full-width form: that of the Latin-1 character it is a form of."""
    decomposition = unicodedata.decomposition(chr(cp)).split()
    if len(decomposition) != 2 or decomposition[0] != "<wide>":
        return None
    narrow = int(decomposition[1], 16)
    return parse_code(general[narrow]) if narrow <= 0xFF else None


def derived_codes(general, windows):
    """The General codes keyed above U+00FF, by code point."""
    codes = {}
    for lo, hi in GENERAL_DERIVED_RANGES:
        for cp in range(lo, hi + 1):
            codes[cp] = derive_general(cp, windows)
    for lo, hi in GENERAL_WIDE_RANGES:
        for cp in range(lo, hi + 1):
            codes[cp] = derive_wide(cp, general)
    if any(code is None or code[0] not in ("Simple", "Diacritic", "Unprintable")
           for code in codes.values()):
        raise SystemExit("a derived range holds a character the rules do not code")
    return codes


def check_derivation(transcriptions, general, windows, codes):
    """Compares the derivations with transcribed lines of index_codes_ext_gen.txt (each a file
    and the code point of its first line): every character keyed above U+00FF must be among them
    and agree; differences elsewhere are listed."""
    confirmed = set()
    for path, first in transcriptions:
        lines = read_lines(path)
        agree = 0
        for i, line in enumerate(lines):
            cp = first + i
            code = parse_code(line)
            derived = codes.get(cp) or derive_general(cp, windows) or derive_wide(cp, general)
            if derived == code:
                agree += 1
                confirmed.add(cp)
            else:
                sys.stderr.write("U+%04X: Jackcess %s, derived %s%s\n"
                                 % (cp, line, derived, " (KEYED)" if cp in codes else ""))
        sys.stderr.write("%s: %d lines from U+%04X, %d agree with the derivation\n"
                         % (path, len(lines), first, agree))
    missing = sorted(set(codes) - confirmed)
    sys.stderr.write("%d characters keyed above U+00FF, %d of them not confirmed\n"
                     % (len(codes), len(missing)))
    if missing:
        raise SystemExit("the derivation does not hold for every character it is used for")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--genleg", required=True)
    parser.add_argument("--gen", required=True)
    parser.add_argument("--weights", required=True)
    parser.add_argument("--golden", required=True)
    parser.add_argument("--check-ext", nargs=2, metavar=("FILE", "FIRST"), action="append",
                        required=True,
                        help="lines of index_codes_ext_gen.txt from code point FIRST (hex) to "
                             "check the derived General codes against (repeatable)")
    args = parser.parse_args()

    legacy = read_code_list(args.genleg, "General (legacy)")
    general = read_code_list(args.gen, "General")
    kana, kanji, latin_weights, windows = read_weights(args.weights)
    proven = read_proven(args.golden, kana, kanji)
    compare_with_windows(general, latin_weights)
    derived = derived_codes(general, windows)
    check_derivation([(path, int(first, 16)) for path, first in args.check_ext], general, windows,
                     derived)

    out = sys.stdout
    out.write("// Generated by scripts/generate_jet_text_key_tables.py from public data (sources and\n")
    out.write("// licences: jet_text_key_tables.md). Do not edit by hand.\n")
    out.write('#include "targets/jet/jet_text_key_tables.h"\n\nnamespace qm::jet::text_key {\n\n')

    write_code_table(out, "kLatin", legacy)
    write_code_table(out, "kGeneralLatin", general)

    out.write("const TGeneralCode kGeneralDerived[] = {\n")
    for cp in sorted(derived):
        kind, primary, extra = derived[cp]
        p = list(primary) + [0] * (4 - len(primary))
        out.write("    {0x%04X, {TLatinKind::%s, %d, {0x%02X, 0x%02X, 0x%02X, 0x%02X}, 0x%02X}},\n"
                  % (cp, kind, len(primary), p[0], p[1], p[2], p[3], extra))
    out.write("};\nconst std::size_t kGeneralDerivedCount = sizeof kGeneralDerived / "
              "sizeof kGeneralDerived[0];\n\n")

    out.write("const TWideCode kPunctuation[] = {\n")
    for cp in sorted(EXTRA_PUNCTUATION):
        code = parse_hex_code(EXTRA_PUNCTUATION[cp])
        out.write("    {0x%04X, {0x%02X, 0x%02X}},\n" % (cp, code[0], code[1]))
    out.write("};\nconst std::size_t kPunctuationCount = sizeof kPunctuation / sizeof kPunctuation[0];\n\n")

    out.write("const TKanaWeight kKana[] = {\n")
    for cp in sorted(kana):
        aw, dw, small = kana[cp]
        out.write("    {0x%04X, 0x%02X, 0x%02X, %s},\n" % (cp, aw, dw, "true" if small else "false"))
    out.write("};\nconst std::size_t kKanaCount = sizeof kKana / sizeof kKana[0];\n\n")

    out.write("const TKanjiWeight kJapaneseKanji[] = {\n")
    for cp in sorted(kanji):
        out.write("    {0x%04X, 0x%04X},\n" % (cp, kanji[cp]))
    out.write("};\nconst std::size_t kJapaneseKanjiCount = sizeof kJapaneseKanji / sizeof kJapaneseKanji[0];\n\n")

    for name, key in (("kProvenJapanese", "1041"), ("kProvenGeneralLegacy", "1033")):
        chars = sorted(proven[key])
        out.write("const char16_t %s[] = {\n" % name)
        for i in range(0, len(chars), 10):
            out.write("    " + " ".join("0x%04X," % c for c in chars[i:i + 10]) + "\n")
        if not chars:
            out.write("    0,\n")
        out.write("};\nconst std::size_t %sCount = %d;\n\n" % (name, len(chars)))

    out.write("}  // namespace qm::jet::text_key\n")


if __name__ == "__main__":
    main()
