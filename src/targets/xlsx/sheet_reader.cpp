#include "targets/xlsx/sheet_reader.h"

#include <array>

#include "platform/error.h"
#include "targets/xlsx/ooxml_names.h"
#include "targets/xlsx/zip_xml_input.h"
#include "text/unicode.h"

namespace qm::xlsx {

namespace {

std::uint32_t ParseUnsigned(std::string_view text, bool& ok) {
    std::uint64_t value = 0;
    ok = !text.empty() && text.size() <= 10;
    for (char c : text) {
        if (c < '0' || c > '9') {
            ok = false;
            return 0;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu) ok = false;
    return static_cast<std::uint32_t>(value);
}

}  // namespace

TSheetReader::TSheetReader(const TPackage& package, const std::string& part)
    : package_(package), part_(part) {
    const TZipEntry* entry = package.FindPart(part);
    if (!entry) FailCorrupt(package.FileName(), u"部品「" + Utf8ToUtf16(part) + u"」がありません");
    input_ = std::make_unique<TZipXmlInput>(package.Archive(), *entry);
    reader_ = std::make_unique<TXmlReader>(*input_, package.FileName(), part);
}

TSheetReader::TSheetReader(const TPackage& package, const std::string& part,
                           std::unique_ptr<TXmlInput> input)
    : package_(package), part_(part), input_(std::move(input)) {
    reader_ = std::make_unique<TXmlReader>(*input_, package.FileName(), part);
}

TSheetReader::~TSheetReader() = default;

void TSheetReader::EnterSheetData() {
    TXmlReader& r = *reader_;
    std::string value;
    while (!inSheetData_ && !doneSheetData_) {
        if (r.Next() == TXmlReader::TToken::End) {
            FailCorrupt(package_.FileName(), u"シートにセルのデータ（sheetData）がありません");
        }
        if (r.Token() == TXmlReader::TToken::EndElement) {
            if (r.Depth() == 1 && IsSheetElement(r, "sheetPr"))
                layout_.DimensionInsert = r.TokenEnd();
            continue;
        }
        if (r.Token() != TXmlReader::TToken::StartElement) continue;
        if (r.Depth() == 1) {
            if (!IsSheetElement(r, "worksheet"))
                FailCorrupt(package_.FileName(), u"ワークシートの部品の形式が不正です");
            layout_.Prefix = std::string(r.Prefix());
            layout_.DimensionInsert = r.TokenEnd();
            if (r.SelfClosing())
                FailCorrupt(package_.FileName(), u"シートにセルのデータがありません");
            continue;
        }
        // Only the worksheet's own children count; the content of <sheetPr> and every other
        // element (extension lists, markup-compatibility blocks) is skipped.
        if (r.Depth() != 2) {
            r.SkipElement();
            continue;
        }
        if (IsSheetElement(r, "dimension")) {
            layout_.HasDimension = true;
            layout_.DimensionStart = r.TokenStart();
            if (r.Attribute("ref", value))
                layout_.DimensionValid = ParseAreaRef(value, layout_.Dimension);
            if (!r.SelfClosing())
                r.SkipElement();
            else
                r.Next();
            layout_.DimensionEnd = r.TokenEnd();
        } else if (IsSheetElement(r, "sheetData")) {
            std::string prefix = r.Prefix().empty() ? std::string() : std::string(r.Prefix()) + ":";
            rowName_ = prefix + "row";
            cellName_ = prefix + "c";
            layout_.SheetDataStart = r.TokenStart();
            layout_.SheetDataEnd = r.TokenEnd();
            if (r.SelfClosing()) {
                layout_.SheetDataSelfClosing = true;
                r.Next();
                doneSheetData_ = true;
            } else {
                inSheetData_ = true;
            }
        } else if (IsSheetElement(r, "sheetPr")) {
            if (r.SelfClosing()) {
                r.Next();
                layout_.DimensionInsert = r.TokenEnd();
            }
        } else {
            r.SkipElement();
        }
    }
}

void TSheetReader::ReadCell(TCell& cell, std::uint32_t row) {
    TXmlReader& r = *reader_;
    cell.Column = 0;
    cell.Style = 0;
    cell.Type = 'n';
    cell.HasValue = false;
    cell.HasFormula = false;
    cell.Value.clear();
    bool ok = true;
    if (r.Attribute("r", scratch_)) {
        TCellRef ref;
        if (!ParseCellRef(scratch_, ref) || ref.Column == 0)
            FailCorrupt(package_.FileName(),
                        u"セル参照「" + Utf8ToUtf16(scratch_) + u"」が不正です");
        if (ref.Row != 0 && ref.Row != row)
            FailCorrupt(package_.FileName(),
                        u"セル参照「" + Utf8ToUtf16(scratch_) + u"」が行と一致しません");
        cell.Column = ref.Column;
    }
    if (r.Attribute("s", scratch_)) {
        cell.Style = ParseUnsigned(scratch_, ok);
        if (!ok) FailCorrupt(package_.FileName(), u"セルの書式番号が不正です");
    }
    if (r.Attribute("t", scratch_)) {
        if (scratch_ == "s")
            cell.Type = 's';
        else if (scratch_ == "b")
            cell.Type = 'b';
        else if (scratch_ == "e")
            cell.Type = 'e';
        else if (scratch_ == "inlineStr")
            cell.Type = 'i';
        else if (scratch_ == "str")
            cell.Type = 'f';
        else if (scratch_ == "d")
            cell.Type = 'd';
        else
            cell.Type = 'n';
    }
    if (r.SelfClosing()) {
        r.Next();
        return;
    }
    // <c> holds <v> (the value), <f> (a formula) and, for inline strings, <is> with the text in
    // <t> or in the <t> of each rich-text run <r>; phonetic guides (<rPh>) and anything else are
    // skipped.
    int cellDepth = r.Depth();
    bool inValue = false, inText = false;
    while (r.Next() != TXmlReader::TToken::End) {
        if (r.Token() == TXmlReader::TToken::StartElement) {
            int depth = r.Depth() - cellDepth;
            if (depth == 1 && IsSheetElement(r, "v")) {
                inValue = true;
                cell.HasValue = true;
            } else if (depth == 1 && IsSheetElement(r, "f")) {
                cell.HasFormula = true;
                r.SkipElement();
            } else if (depth == 1 && IsSheetElement(r, "is")) {
                cell.HasValue = cell.Type == 'i';
            } else if (cell.Type == 'i' && (depth == 2 || depth == 3) && IsSheetElement(r, "t")) {
                inText = true;
            } else if (depth != 2 || !IsSheetElement(r, "r")) {
                r.SkipElement();
            }
        } else if (r.Token() == TXmlReader::TToken::EndElement) {
            if (r.Depth() + 1 == cellDepth) return;
            inValue = inText = false;
        } else if (r.Token() == TXmlReader::TToken::Text) {
            if ((inValue && cell.Type != 'i') || inText) cell.Value += r.Text();
        }
    }
}

namespace {

// One tag of the quick scan: its name, attributes and end, as TXmlReader would parse it.
struct TSkimTag {
    std::string_view Name;
    bool End = false, SelfClosing = false;
    std::size_t Next = 0;  // just after the ">"
    std::string_view R, S;
    bool HasR = false, HasS = false;
};

inline bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Short names compared in line (a call to memcmp costs more than the comparison).
inline bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Parses the tag at text[at] ('<') in one pass. False for what the quick scan leaves to the
// reader: a tag not wholly in 'text', comments, CDATA, instructions, namespace declarations,
// references, and anything unusual the reader might read otherwise or refuse.
bool SkimTag(std::string_view text, std::size_t at, TSkimTag& tag) {
    const char* p = text.data();
    const std::size_t n = text.size();
    // Field by field: assigning a fresh TSkimTag stalls on its copy through the stack.
    tag.End = tag.SelfClosing = tag.HasR = tag.HasS = false;
    std::size_t i = at + 1;
    if (i >= n) return false;
    auto odd = [](char c) { return c == '<' || c == '&' || c == '"' || c == '\'' || c == '='; };
    if (p[i] == '/') {
        std::size_t start = ++i;
        while (i < n && p[i] != '>' && !IsXmlSpace(p[i])) {
            if (odd(p[i]) || p[i] == '/') return false;
            ++i;
        }
        std::size_t nameEnd = i;
        while (i < n && IsXmlSpace(p[i]))
            ++i;
        if (i >= n || p[i] != '>' || nameEnd == start) return false;
        tag.End = true;
        tag.Name = std::string_view(p + start, nameEnd - start);
        tag.Next = i + 1;
        return true;
    }
    std::size_t start = i;
    while (i < n && p[i] != '>' && p[i] != '/' && !IsXmlSpace(p[i])) {
        if (odd(p[i]) || p[i] == '!' || p[i] == '?') return false;
        ++i;
    }
    if (i == start) return false;
    tag.Name = std::string_view(p + start, i - start);
    for (;;) {
        while (i < n && IsXmlSpace(p[i]))
            ++i;
        if (i >= n) return false;
        if (p[i] == '>') break;
        if (p[i] == '/') {
            if (i + 1 >= n || p[i + 1] != '>') return false;
            tag.SelfClosing = true;
            ++i;
            break;
        }
        std::size_t nameStart = i;
        while (i < n && p[i] != '=' && !IsXmlSpace(p[i])) {
            if (odd(p[i]) || p[i] == '>' || p[i] == '/') return false;
            ++i;
        }
        std::string_view name(p + nameStart, i - nameStart);
        while (i < n && IsXmlSpace(p[i]))
            ++i;
        if (i >= n || p[i] != '=') return false;
        ++i;
        while (i < n && IsXmlSpace(p[i]))
            ++i;
        if (i >= n || (p[i] != '"' && p[i] != '\'')) return false;
        const char quote = p[i++];
        std::size_t valueStart = i;
        while (i < n && p[i] != quote) {
            if (p[i] == '<' || p[i] == '&') return false;
            ++i;
        }
        if (i >= n) return false;
        std::string_view value(p + valueStart, i - valueStart);
        ++i;
        // Attributes must be apart, as the reader reads them.
        if (i < n && !IsXmlSpace(p[i]) && p[i] != '>' && p[i] != '/') return false;
        if (name.size() >= 5 && SameName(name.substr(0, 5), "xmlns")) return false;
        if (name.size() == 1 && name[0] == 'r' && !tag.HasR) {
            tag.R = value;
            tag.HasR = true;
        } else if (name.size() == 1 && name[0] == 's' && !tag.HasS) {
            tag.S = value;
            tag.HasS = true;
        }
    }
    tag.Next = i + 1;
    return true;
}

// Whether every reference in the text is one the reader decodes (as TXmlReader::Decode).
bool ReferencesDecode(std::string_view text) {
    for (std::size_t amp = text.find('&'); amp != std::string_view::npos;
         amp = text.find('&', amp + 1)) {
        std::size_t semi = text.find(';', amp);
        if (semi == std::string_view::npos || semi - amp > 12) return false;
        std::string_view entity = text.substr(amp + 1, semi - amp - 1);
        if (entity == "lt" || entity == "gt" || entity == "amp" || entity == "quot" ||
            entity == "apos")
            continue;
        if (entity.size() < 2 || entity[0] != '#') return false;
        bool hex = entity[1] == 'x';
        std::string_view digits = entity.substr(hex ? 2 : 1);
        if (digits.empty()) return false;
        std::uint32_t cp = 0;
        for (char d : digits) {
            std::uint32_t v;
            if (d >= '0' && d <= '9')
                v = static_cast<std::uint32_t>(d - '0');
            else if (hex && d >= 'a' && d <= 'f')
                v = static_cast<std::uint32_t>(d - 'a' + 10);
            else if (hex && d >= 'A' && d <= 'F')
                v = static_cast<std::uint32_t>(d - 'A' + 10);
            else
                return false;
            cp = cp * (hex ? 16 : 10) + v;
            if (cp > 0x10FFFF) return false;
        }
        if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    }
    return true;
}

}  // namespace

bool TSheetReader::SkimRow(TRow& row) {
    // Rows longer than this are read by the reader.
    constexpr std::size_t kLook = 64 * 1024;
    std::string_view text = reader_->Buffered(kLook);
    std::size_t i = 0;
    while (i < text.size() && IsXmlSpace(text[i]))
        ++i;
    TSkimTag tag;
    if (i >= text.size() || text[i] != '<' || !SkimTag(text, i, tag) || tag.End ||
        !SameName(tag.Name, rowName_))
        return false;
    bool ok = true;
    std::uint32_t number = previousRow_ + 1;
    if (tag.HasR) number = ParseUnsigned(tag.R, ok);
    if (!ok || number == 0 || number > kMaxRows) return false;
    std::size_t count = 0;
    i = tag.Next;
    // Elements open inside a cell (made once a row: clearing it is not free).
    std::string_view open[8];
    if (!tag.SelfClosing) {
        std::uint32_t previousColumn = 0;
        for (;;) {
            while (i < text.size() && IsXmlSpace(text[i]))
                ++i;
            if (i >= text.size() || text[i] != '<' || !SkimTag(text, i, tag)) return false;
            i = tag.Next;
            if (tag.End) {
                if (!SameName(tag.Name, rowName_)) return false;
                break;
            }
            if (!SameName(tag.Name, cellName_)) return false;
            std::uint32_t column = previousColumn + 1, style = 0;
            if (tag.HasR) {
                TCellRef ref;
                if (!ParseCellRef(tag.R, ref) || ref.Column == 0 ||
                    (ref.Row != 0 && ref.Row != number))
                    return false;
                column = ref.Column;
            }
            if (tag.HasS) {
                style = ParseUnsigned(tag.S, ok);
                if (!ok) return false;
            }
            if (column > kMaxColumns || count >= kMaxColumns) return false;
            if (!tag.SelfClosing) {
                // The cell's content up to its end tag: text without references, elements
                // whose end tags match.
                std::size_t depth = 0;
                for (;;) {
                    // Text runs in cells are short: scanned in line, references checked
                    // only where there are some.
                    std::size_t lt = i;
                    bool references = false;
                    while (lt < text.size() && text[lt] != '<')
                        references |= text[lt++] == '&';
                    if (lt >= text.size() ||
                        (references && !ReferencesDecode(text.substr(i, lt - i))) ||
                        !SkimTag(text, lt, tag))
                        return false;
                    i = tag.Next;
                    if (tag.End) {
                        if (depth == 0) {
                            if (!SameName(tag.Name, cellName_)) return false;
                            break;
                        }
                        if (!SameName(tag.Name, open[depth - 1])) return false;
                        --depth;
                    } else if (!tag.SelfClosing) {
                        if (depth == std::size(open)) return false;
                        open[depth++] = tag.Name;
                    }
                }
            }
            if (count == row.Cells.size()) row.Cells.emplace_back();
            TCell& cell = row.Cells[count++];
            cell.Column = column;
            cell.Style = style;
            cell.Type = 'n';
            cell.HasValue = cell.HasFormula = false;
            cell.Value.clear();
            previousColumn = column;
        }
    }
    reader_->Skip(i);
    row.Number = number;
    row.CellCount = count;
    previousRow_ = number;
    if (number > lastRow_) lastRow_ = number;
    return true;
}

bool TSheetReader::NextRow(TRow& row) {
    if (!inSheetData_ && !doneSheetData_) EnterSheetData();
    if (doneSheetData_) return false;
    if (shapesOnly_ && SkimRow(row)) return true;
    TXmlReader& r = *reader_;
    for (;;) {
        if (r.Next() == TXmlReader::TToken::End)
            FailCorrupt(package_.FileName(), u"シートが途中で終わっています");
        if (r.Token() == TXmlReader::TToken::EndElement && r.Depth() == 1) {
            // </sheetData>
            layout_.SheetDataClose = r.TokenStart();
            inSheetData_ = false;
            doneSheetData_ = true;
            return false;
        }
        if (r.Token() == TXmlReader::TToken::StartElement && r.Depth() == 3 &&
            IsSheetElement(r, "row"))
            break;
        if (r.Token() == TXmlReader::TToken::StartElement) r.SkipElement();
    }
    bool ok = true;
    if (r.Attribute("r", scratch_)) {
        row.Number = ParseUnsigned(scratch_, ok);
        if (!ok || row.Number == 0 || row.Number > kMaxRows)
            FailCorrupt(package_.FileName(),
                        u"行番号「" + Utf8ToUtf16(scratch_) +
                            u"」が不正です（シートの大きさの上限を超えています）");
    } else {
        row.Number = previousRow_ + 1;
        if (row.Number > kMaxRows)
            FailCorrupt(package_.FileName(), u"シートの行数が上限を超えています");
    }
    previousRow_ = row.Number;
    if (row.Number > lastRow_) lastRow_ = row.Number;
    row.CellCount = 0;
    if (r.SelfClosing()) {
        r.Next();
        return true;
    }
    std::uint32_t previousColumn = 0;
    while (r.Next() != TXmlReader::TToken::End) {
        if (r.Token() == TXmlReader::TToken::EndElement && r.Depth() == 2) return true;
        if (r.Token() != TXmlReader::TToken::StartElement) continue;
        if (r.Depth() != 4 || !IsSheetElement(r, "c")) {
            r.SkipElement();
            continue;
        }
        if (row.CellCount == row.Cells.size()) {
            if (row.Cells.size() >= kMaxColumns)
                FailCorrupt(package_.FileName(), u"行のセルが多すぎます");
            row.Cells.emplace_back();
        }
        TCell& cell = row.Cells[row.CellCount++];
        ReadCell(cell, row.Number);
        if (cell.Column == 0) cell.Column = previousColumn + 1;
        if (cell.Column > kMaxColumns)
            FailCorrupt(package_.FileName(), u"シートの列数が上限を超えています");
        previousColumn = cell.Column;
    }
    FailCorrupt(package_.FileName(), u"シートが途中で終わっています");
}

void TSheetReader::Finish() {
    TRow row;
    while (NextRow(row)) {
    }
    TXmlReader& r = *reader_;
    std::string value;
    while (r.Next() != TXmlReader::TToken::End) {
        if (r.Token() == TXmlReader::TToken::StartElement && r.Depth() == 2 &&
            IsSheetElement(r, "autoFilter")) {
            layout_.HasAutoFilter = true;
            layout_.AutoFilterStart = r.TokenStart();
            layout_.AutoFilterEnd = r.TokenEnd();
            if (r.Attribute("ref", value))
                layout_.HasAutoFilter = ParseAreaRef(value, layout_.AutoFilter);
            else
                layout_.HasAutoFilter = false;
        }
    }
}

}  // namespace qm::xlsx
