// Appending rows to a worksheet: each posted row becomes the XML of a <row> right away and is
// compressed as it comes, so that a million rows cost little memory until the commit.
#include <algorithm>
#include <charconv>

#include "platform/error.h"
#include "platform/file_system.h"
#include "targets/target_access.h"
#include "targets/xlsx/ooxml_names.h"
#include "targets/xlsx/xlsx_internal.h"
#include "text/unicode.h"

namespace qm::xlsx {

namespace {

void AppendNumber(std::string& out, double value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

std::vector<TListObject> ReadListObjects(const TPackage& package, const std::string& sheetPart) {
    std::vector<TListObject> tables;
    for (const auto& rel : package.Relationships(sheetPart)) {
        if (rel.Type != "table" || !package.FindPart(rel.Target)) continue;
        TListObject table;
        table.Part = rel.Target;
        table.Xml = package.ReadPart(rel.Target, 64u << 20);
        TXmlReader reader(table.Xml, package.FileName(), rel.Target);
        std::string value;
        bool valid = false;
        while (reader.Next() != TXmlReader::TToken::End) {
            if (reader.Token() != TXmlReader::TToken::StartElement) continue;
            if (reader.Depth() == 1 && IsSheetElement(reader, "table")) {
                table.TableTagStart = reader.TokenStart();
                table.TableTagEnd = reader.TokenEnd();
                valid = reader.Attribute("ref", value) && ParseAreaRef(value, table.Ref);
                table.HasTotals = reader.Attribute("totalsRowCount", value) && value != "0";
            } else if (reader.Depth() == 2 && IsSheetElement(reader, "autoFilter")) {
                table.HasAutoFilter = true;
                table.AutoFilterTagStart = reader.TokenStart();
                table.AutoFilterTagEnd = reader.TokenEnd();
                reader.SkipElement();
            } else if (reader.Depth() > 1) {
                reader.SkipElement();
            }
        }
        if (valid) tables.push_back(std::move(table));
    }
    return tables;
}

}  // namespace

bool NeedsSpacePreserve(std::u16string_view text) {
    if (text.empty()) return false;
    auto space = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; };
    if (space(text.front()) || space(text.back())) return true;
    return text.find_first_of(u"\t\n\r") != std::u16string_view::npos;
}

// Excel's rules for cell text: "&", "<", ">" as entities; characters XML 1.0 cannot hold
// (controls other than tab and LF, U+FFFE, U+FFFF, lone surrogates) as "_xHHHH_"; a literal
// "_xHHHH_" protected by escaping its "_" as "_x005F_". A CR goes in as the character
// reference "&#13;": XML readers turn a raw CR into LF, but keep a referenced one, and unlike
// Excel's "_x000D_" every reader understands it.
void AppendEscapedText(std::string& out, std::u16string_view text) {
    auto isHex = [](char16_t c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    };
    auto escapeUnit = [&](char16_t c) {
        static const char kHex[] = "0123456789ABCDEF";
        out += "_x";
        out += kHex[(c >> 12) & 0xF];
        out += kHex[(c >> 8) & 0xF];
        out += kHex[(c >> 4) & 0xF];
        out += kHex[c & 0xF];
        out += '_';
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c < 0x80) {
            switch (c) {
                case u'&':
                    out += "&amp;";
                    continue;
                case u'<':
                    out += "&lt;";
                    continue;
                case u'>':
                    out += "&gt;";
                    continue;
                case u'\r':
                    out += "&#13;";
                    continue;
                case u'\t':
                case u'\n':
                    out += static_cast<char>(c);
                    continue;
                case u'_':
                    if (i + 6 < text.size() && (text[i + 1] == u'x' || text[i + 1] == u'X') &&
                        isHex(text[i + 2]) && isHex(text[i + 3]) && isHex(text[i + 4]) &&
                        isHex(text[i + 5]) && text[i + 6] == u'_')
                        out += "_x005F_";
                    else
                        out += '_';
                    continue;
                default:
                    if (c < 0x20)
                        escapeUnit(c);
                    else
                        out += static_cast<char>(c);
                    continue;
            }
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            std::uint32_t cp = 0x10000 + ((static_cast<std::uint32_t>(c) - 0xD800) << 10) +
                               (text[i + 1] - 0xDC00u);
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
            ++i;
            continue;
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) {
            escapeUnit(c);
            continue;
        }
        if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

void AppendEscapedUtf8(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
}

TSheetAppend& TXlsxEngine::AppendState(int sheet) {
    auto found = appends_.find(sheet);
    if (found != appends_.end()) return *found->second;
    const TPackage& package = *package_;
    const TSheetInfo& info = package.Sheets()[static_cast<std::size_t>(sheet)];
    auto state = std::make_unique<TSheetAppend>();
    state->Sheet = sheet;
    state->StyleAbove.assign(kMaxColumns + 1, -1);
    const TZipEntry* entry = package.FindPart(info.PartName);
    std::unique_ptr<TXmlInput> input;
    if (entry && entry->Method == 8) {
        state->Stream = std::make_unique<TStreamMap>();
        input = std::make_unique<TMappingZipInput>(package.Archive(), *entry, *state->Stream);
    }
    TSheetReader reader = input ? TSheetReader(package, info.PartName, std::move(input))
                                : TSheetReader(package, info.PartName);
    // Only each column's last style counts here.
    reader.ShapesOnly();
    TRow row;
    while (reader.NextRow(row)) {
        for (std::size_t i = 0; i < row.CellCount; ++i) {
            const TCell& cell = row.Cells[i];
            state->StyleAbove[cell.Column] = cell.Style;
            state->LastColumn = std::max(state->LastColumn, cell.Column);
        }
    }
    reader.Finish();
    state->Layout = reader.Layout();
    state->LastRow = reader.LastRowNumber();
    state->NextRow = state->LastRow + 1;
    state->Tables = ReadListObjects(package, info.PartName);
    for (const TListObject& table : state->Tables) {
        if (table.HasTotals && table.Ref.Last.Row == state->LastRow)
            throw Error(u"シート「" + info.Name +
                        u"」の最後の行は Excel "
                        u"テーブルの集計行です。集計行のあるテーブルの下には行を追加できません。"
                        u"集計行を外してからやり直してください。\n" +
                        package.FileName());
    }
    state->Rows = std::make_unique<TParallelDeflater>(1);
    return *appends_.emplace(sheet, std::move(state)).first->second;
}

std::uint32_t TXlsxEngine::DateStyle() {
    if (package_->DateStyle() >= 0) return static_cast<std::uint32_t>(package_->DateStyle());
    if (package_->StylesPart().empty() || package_->StyleCount() == 0) return 0;
    if (addedDateStyle_ < 0) addedDateStyle_ = static_cast<std::int64_t>(package_->StyleCount());
    return static_cast<std::uint32_t>(addedDateStyle_);
}

void TXlsxEngine::BeginTransaction() {
    if (inTransaction_) throw Error(u"トランザクションはすでに開始されています。");
    // Say so before any row is prepared when the file cannot be written at all.
    RefuseIfLockedByOtherProgram(info_.DataSource);
    RefuseIfNotWritable(info_.DataSource);
    // The layer holds the writers' lock from here on: when another import replaced the file
    // since it was read, read it again so that the rows go below that import's.
    TFileIdentity now;
    if (appends_.empty() && CurrentIdentity(ResolvedNativePath(info_.DataSource), now) &&
        !(now == source_->Identity()))
        Load();
    inTransaction_ = true;
}

void TXlsxEngine::CommitTransaction(const std::atomic<bool>* cancel) {
    if (!inTransaction_) throw Error(u"開始されたトランザクションがありません。");
    inTransaction_ = false;
    try {
        Commit(cancel);
    } catch (...) {
        Discard();
        throw;
    }
    Discard();
}

void TXlsxEngine::RollbackTransaction() {
    inTransaction_ = false;
    Discard();
}

void TXlsxEngine::Discard() {
    appends_.clear();
    addedDateStyle_ = -1;
}

void TXlsxEngine::AfterAppend() {
    if (inTransaction_) return;
    try {
        Commit(nullptr);
    } catch (...) {
        Discard();
        throw;
    }
    Discard();
}

void AppendCells(TXlsxEngine& engine, const TTableDef& table,
                 const std::vector<std::uint32_t>& columns, const std::vector<TFieldDef>& fields,
                 const std::vector<TValue>& values) {
    const TPackage& package = engine.Package();
    if (!engine.InTransaction()) {
        RefuseIfLockedByOtherProgram(package.FileName());
        RefuseIfNotWritable(package.FileName());
    }
    TSheetAppend& state = engine.AppendState(table.Sheet);
    std::uint32_t rowNumber = state.NextRow;
    TAreaRef area = table.Area;
    if (table.DefinedName >= 0) {
        auto grown = state.GrownNames.find(table.DefinedName);
        if (grown != state.GrownNames.end()) area = grown->second;
        if (area.Last.Row + 1 != rowNumber)
            throw Error(
                u"名前付き範囲「" + table.Name +
                u"」の下のシートの行にデータがあるため、範囲を広げて行を追加できません。\n" +
                package.FileName());
    }
    if (rowNumber > kMaxRows)
        throw Error(
            u"シートの行数の上限（1,048,576 行）を超えるため、これ以上行を追加できません。\n" +
            package.FileName());

    const std::string& p = state.Layout.Prefix;
    std::string pre = p.empty() ? std::string() : p + ":";
    // Built in a buffer that the state keeps, so that a million rows allocate nothing here.
    std::string& row = state.RowBuffer;
    row.clear();
    char rowDigits[16];
    std::string_view rowText(
        rowDigits,
        static_cast<std::size_t>(
            std::to_chars(rowDigits, rowDigits + sizeof rowDigits, rowNumber).ptr - rowDigits));
    if (state.ColumnLetters.empty()) state.ColumnLetters.resize(kMaxColumns + 1);
    row += '<';
    row += pre;
    row += "row r=\"";
    row += rowText;
    row += "\">";
    std::uint32_t minColumn = state.MinColumn, maxColumn = state.MaxColumn;
    bool wroteCell = false;
    for (std::size_t i = 0; i < values.size() && i < columns.size(); ++i) {
        const TValue& value = values[i];
        if (IsNull(value)) continue;
        std::uint32_t column = columns[i];
        std::int64_t style = state.StyleAbove[column];
        std::string& letters = state.ColumnLetters[column];
        if (letters.empty()) letters = ColumnName(column);
        auto open = [&](const char* type, std::int64_t s) {
            row += '<';
            row += pre;
            row += "c r=\"";
            row += letters;
            row += rowText;
            row += '"';
            if (s > 0) {
                char digits[24];
                row += " s=\"";
                row.append(digits, std::to_chars(digits, digits + sizeof digits, s).ptr);
                row += '"';
            }
            if (type) {
                row += " t=\"";
                row += type;
                row += '"';
            }
            row += '>';
        };
        auto number = [&](auto&& writeValue, std::int64_t s) {
            open(nullptr, s);
            row += '<';
            row += pre;
            row += "v>";
            writeValue();
            row += "</";
            row += pre;
            row += "v></";
            row += pre;
            row += "c>";
        };
        if (const auto* text = std::get_if<std::u16string>(&value)) {
            open("inlineStr", style);
            row += '<';
            row += pre;
            row += "is><";
            row += pre;
            row += NeedsSpacePreserve(*text) ? "t xml:space=\"preserve\">" : "t>";
            AppendEscapedText(row, *text);
            row += "</";
            row += pre;
            row += "t></";
            row += pre;
            row += "is></";
            row += pre;
            row += "c>";
        } else if (const auto* d = std::get_if<double>(&value)) {
            number([&] { AppendNumber(row, *d); }, style);
        } else if (const auto* n = std::get_if<std::int64_t>(&value)) {
            number(
                [&] {
                    char digits[24];
                    row.append(digits, std::to_chars(digits, digits + sizeof digits, *n).ptr);
                },
                style);
        } else if (const auto* c = std::get_if<TCurrency>(&value)) {
            number([&] { row += FormatCurrency(*c); }, style);
        } else if (const auto* dec = std::get_if<TDecimal>(&value)) {
            number([&] { row += dec->Text; }, style);
        } else if (const auto* b = std::get_if<bool>(&value)) {
            open("b", style);
            row += '<';
            row += pre;
            row += *b ? "v>1</" : "v>0</";
            row += pre;
            row += "v></";
            row += pre;
            row += "c>";
        } else if (const auto* date = std::get_if<TDateTime>(&value)) {
            double serial = 0;
            if (!DaysToSerial(date->Days, package.Date1904(), serial))
                throw Error(u"値「" + ValueToDisplayText(value) + u"」をフィールド「" +
                            fields[i].Name + u"」（" + GetFieldTypeName(fields[i].DataType) +
                            u"）に書き込めません。Excel の日付の範囲外です。");
            std::int64_t dateStyle =
                style >= 0 &&
                        package.StyleKind(static_cast<std::uint32_t>(style)) == TStyleKind::Date
                    ? style
                    : static_cast<std::int64_t>(engine.DateStyle());
            number([&] { AppendNumber(row, serial); }, dateStyle);
        } else {
            throw Error(u"フィールド「" + fields[i].Name + u"」（" +
                        GetFieldTypeName(fields[i].DataType) +
                        u"）にはバイナリ データを書き込めません。");
        }
        if (minColumn == 0 || column < minColumn) minColumn = column;
        maxColumn = std::max(maxColumn, column);
        wroteCell = true;
    }
    row += "</";
    row += pre;
    row += "row>";

    // Nothing above can fail any more: commit the row to the state.
    // A row without values keeps its place but needs no element.
    state.MinColumn = minColumn;
    state.MaxColumn = maxColumn;
    state.NextRow = rowNumber + 1;
    ++state.RowCount;
    if (table.DefinedName >= 0) {
        area.Last.Row = rowNumber;
        state.GrownNames[table.DefinedName] = area;
    }
    if (wroteCell) state.Rows->Add(row);
    engine.AfterAppend();
}

}  // namespace qm::xlsx
