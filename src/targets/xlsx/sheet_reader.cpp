#include "targets/xlsx/sheet_reader.h"

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

bool TSheetReader::NextRow(TRow& row) {
    if (!inSheetData_ && !doneSheetData_) EnterSheetData();
    if (doneSheetData_) return false;
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
