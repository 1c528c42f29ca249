#include "targets/xls/xls_sheet.h"

#include <algorithm>
#include <cstring>

#include "platform/little_endian.h"
#include "targets/sheet/sheet_table.h"

namespace qm::xls {

namespace {

constexpr std::uint16_t kWorksheetType = 0x0010;

double ReadDouble(const char* p) {
    std::uint64_t bits = ReadU64(p);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

double DecodeRk(std::uint32_t rk) {
    double value = 0;
    if (rk & 2) {
        value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    } else {
        std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 1) ? value / 100 : value;
}

std::u16string ErrorText(std::uint8_t code) {
    switch (code) {
        case 0x00:
            return u"#NULL!";
        case 0x07:
            return u"#DIV/0!";
        case 0x0F:
            return u"#VALUE!";
        case 0x17:
            return u"#REF!";
        case 0x1D:
            return u"#NAME?";
        case 0x24:
            return u"#NUM!";
        case 0x2A:
            return u"#N/A";
        case 0x2B:
            return u"#GETTING_DATA";
        default:
            return u"#ERR";
    }
}

TXlsSheet::TXlsSheet(const TXlsWorkbook& book, std::size_t sheet) : book_(book) {
    const auto& sheets = book.Sheets();
    if (sheet >= sheets.size()) FailBiffCorrupt(book.FileName(), u"シートの番号が不正です");
    Scan(sheets[sheet].Offset);
}

void TXlsSheet::Scan(std::uint32_t offset) {
    const std::u16string& file = book_.FileName();
    std::string_view stream = book_.Stream();
    if (offset >= stream.size()) FailBiffCorrupt(file, u"シートの位置がストリームの外です");
    TRecordReader reader(stream, offset, file);
    TRecord rec;
    if (!reader.Next(rec) || rec.Id != record::kBof || rec.Body.size() < 4)
        FailBiffCorrupt(file, u"シートが BOF レコードで始まっていません");
    if (ReadU16(rec.Body.data() + 2) != kWorksheetType) return;  // a chart or macro sheet
    int depth = 0;  // charts embedded in the sheet bring their own BOF..EOF
    while (reader.Next(rec)) {
        if (rec.Id == record::kBof) {
            ++depth;
            continue;
        }
        if (rec.Id == record::kEof) {
            if (depth == 0) break;
            --depth;
            continue;
        }
        if (depth > 0) continue;
        if (rec.Id == record::kRow) {
            if (rec.Body.size() >= 2)
                rowEnd_ = std::max<std::uint32_t>(rowEnd_, ReadU16(rec.Body.data()) + 1u);
            continue;
        }
        if (!IsCellRecord(rec.Id) || rec.Body.size() < 6) continue;
        std::uint32_t row = ReadU16(rec.Body.data());
        if (row >= spans_.size()) spans_.resize(row + 1);
        TSpan& span = spans_[row];
        if (span.End == 0) span.First = rec.Offset;
        span.End = rec.Offset + 4 + static_cast<std::uint32_t>(rec.Body.size());
        rowEnd_ = std::max(rowEnd_, row + 1);
    }
}

bool TXlsSheet::NextRowWithCells(std::uint32_t from, std::uint32_t& row) const {
    for (std::uint32_t r = from; r < spans_.size(); ++r) {
        if (spans_[r].End != 0) {
            row = r;
            return true;
        }
    }
    return false;
}

void TXlsSheet::ReadRow(std::uint32_t row, std::vector<TXlsCell>& cells) const {
    cells.clear();
    if (row >= spans_.size() || spans_[row].End == 0) return;
    const TSpan& span = spans_[row];
    std::string_view stream = book_.Stream().substr(0, span.End);
    TRecordReader reader(stream, span.First, book_.FileName());
    TRecord rec;
    while (reader.Next(rec)) {
        if (!IsCellRecord(rec.Id) || rec.Body.size() < 6 || ReadU16(rec.Body.data()) != row)
            continue;
        DecodeRecord(rec, row, cells);
    }
    // Cells are stored in column order; a file that does otherwise still reads right, and a
    // column given twice keeps its last cell.
    std::stable_sort(cells.begin(), cells.end(),
                     [](const TXlsCell& a, const TXlsCell& b) { return a.Column < b.Column; });
    auto last = std::unique(cells.rbegin(), cells.rend(), [](const TXlsCell& a, const TXlsCell& b) {
        return a.Column == b.Column;
    });
    cells.erase(cells.begin(), last.base());
}

void TXlsSheet::MarkColumnsWithValues(std::uint32_t fromRow, std::vector<bool>& used) const {
    // One pass over the records from the first cell of those rows to the end of their last.
    std::uint32_t begin = 0, end = 0;
    for (std::uint32_t r = fromRow; r < spans_.size(); ++r) {
        if (spans_[r].End == 0) continue;
        begin = end == 0 ? spans_[r].First : std::min(begin, spans_[r].First);
        end = std::max(end, spans_[r].End);
    }
    if (end == 0) return;
    auto mark = [&used](std::uint32_t column) {  // 0-based
        if (column + 1 >= used.size()) used.resize(column + 2);
        used[column + 1] = true;
    };
    const std::u16string& file = book_.FileName();
    TRecordReader reader(book_.Stream().substr(0, end), begin, file);
    TRecord rec;
    int depth = 0;  // an embedded chart's records are not the sheet's cells
    while (reader.Next(rec)) {
        if (rec.Id == record::kBof) ++depth;
        if (rec.Id == record::kEof && depth > 0) --depth;
        if (depth > 0 || !IsCellRecord(rec.Id) || rec.Body.size() < 6) continue;
        const char* p = rec.Body.data();
        if (ReadU16(p) < fromRow) continue;
        std::uint16_t column = ReadU16(p + 2);
        switch (rec.Id) {
            case record::kNumber:
            case record::kRk:
            case record::kBoolErr:  // a truth value or an error's text
                mark(column);
                break;
            case record::kMulRk:
                for (std::size_t i = 0; i < (rec.Body.size() - 6) / 6; ++i)
                    mark(column + static_cast<std::uint32_t>(i));
                break;
            case record::kLabelSst:
                if (rec.Body.size() < 10) FailBiffCorrupt(file, u"文字列のセルが短すぎます");
                if (!book_.SharedString(ReadU32(p + 6)).empty()) mark(column);
                break;
            case record::kLabel:
            case record::kRichString:  // the character count comes first
                if (rec.Body.size() < 8) FailBiffCorrupt(file, u"文字列のセルが短すぎます");
                if (ReadU16(p + 6) != 0) mark(column);
                break;
            case record::kFormula:
                if (rec.Body.size() < 14) FailBiffCorrupt(file, u"数式のセルが短すぎます");
                if (FormulaHoldsValue(rec)) mark(column);
                break;
            default:  // BLANK and MULBLANK: formatted, empty cells
                break;
        }
    }
}

TValue TXlsSheet::NumberValue(double number, std::uint16_t xf) const {
    return sheet::NumberCellValue(number, book_.XfKind(xf) == TStyleKind::Date, book_.Date1904());
}

void TXlsSheet::DecodeRecord(const TRecord& rec, std::uint32_t,
                             std::vector<TXlsCell>& cells) const {
    std::string_view body = rec.Body;
    const char* p = body.data();
    std::uint16_t column = ReadU16(p + 2);
    std::uint16_t xf = ReadU16(p + 4);
    const std::u16string& file = book_.FileName();
    switch (rec.Id) {
        case record::kNumber:
            if (body.size() < 14) FailBiffCorrupt(file, u"数値のセルが短すぎます");
            cells.push_back({column, xf, NumberValue(ReadDouble(p + 6), xf)});
            break;
        case record::kRk:
            if (body.size() < 10) FailBiffCorrupt(file, u"数値のセルが短すぎます");
            cells.push_back({column, xf, NumberValue(DecodeRk(ReadU32(p + 6)), xf)});
            break;
        case record::kMulRk: {
            // Row, first column, then (XF, RK) pairs, then the last column.
            std::size_t count = (body.size() - 6) / 6;
            for (std::size_t i = 0; i < count; ++i) {
                const char* item = p + 4 + 6 * i;
                std::uint16_t itemXf = ReadU16(item);
                cells.push_back({static_cast<std::uint16_t>(column + i), itemXf,
                                 NumberValue(DecodeRk(ReadU32(item + 2)), itemXf)});
            }
            break;
        }
        case record::kMulBlank: {
            std::size_t count = (body.size() - 6) / 2;
            for (std::size_t i = 0; i < count; ++i)
                cells.push_back({static_cast<std::uint16_t>(column + i), ReadU16(p + 4 + 2 * i),
                                 std::monostate{}});
            break;
        }
        case record::kBlank:
            cells.push_back({column, xf, std::monostate{}});
            break;
        case record::kLabelSst:
            if (body.size() < 10) FailBiffCorrupt(file, u"文字列のセルが短すぎます");
            cells.push_back({column, xf, book_.SharedString(ReadU32(p + 6))});
            break;
        case record::kLabel:
        case record::kRichString: {
            TBiffCursor cursor(body.substr(6), file);
            cells.push_back({column, xf, cursor.UnicodeString()});
            break;
        }
        case record::kBoolErr: {
            if (body.size() < 8) FailBiffCorrupt(file, u"論理値のセルが短すぎます");
            std::uint8_t value = static_cast<std::uint8_t>(p[6]);
            if (p[7] != 0)
                cells.push_back({column, xf, ErrorText(value)});
            else
                cells.push_back({column, xf, value != 0});
            break;
        }
        case record::kFormula:
            if (body.size() < 14) FailBiffCorrupt(file, u"数式のセルが短すぎます");
            cells.push_back({column, xf, FormulaValue(rec)});
            break;
        default:
            break;
    }
}

// As FormulaValue, without building the value: a number, truth value or error holds one; a text
// result only when its STRING record holds characters.
bool TXlsSheet::FormulaHoldsValue(const TRecord& rec) const {
    const char* p = rec.Body.data();
    if (ReadU16(p + 12) != 0xFFFF) return true;
    switch (static_cast<std::uint8_t>(p[6])) {
        case 0: {
            TRecordReader reader(book_.Stream(), rec.Offset + 4 + rec.Body.size(),
                                 book_.FileName());
            TRecord next;
            while (reader.Next(next)) {
                if (next.Id == record::kSharedFormula || next.Id == record::kArray ||
                    next.Id == record::kTable)
                    continue;
                return next.Id == record::kString && next.Body.size() >= 2 &&
                       ReadU16(next.Body.data()) != 0;
            }
            return false;
        }
        case 1:
        case 2:
            return true;
        default:
            return false;
    }
}

TValue TXlsSheet::FormulaValue(const TRecord& rec) const {
    const char* p = rec.Body.data();
    std::uint16_t xf = ReadU16(p + 4);
    if (ReadU16(p + 12) != 0xFFFF) return NumberValue(ReadDouble(p + 6), xf);
    switch (static_cast<std::uint8_t>(p[6])) {
        case 0: {
            // The text follows in a STRING record, after the formula's shared or array parts.
            TRecordReader reader(book_.Stream(), rec.Offset + 4 + rec.Body.size(),
                                 book_.FileName());
            TRecord next;
            while (reader.Next(next)) {
                if (next.Id == record::kSharedFormula || next.Id == record::kArray ||
                    next.Id == record::kTable)
                    continue;
                if (next.Id != record::kString) break;
                TBiffCursor cursor(BodyWithContinues(reader, next), book_.FileName());
                return cursor.UnicodeString();
            }
            return std::u16string();
        }
        case 1:
            return p[8] != 0;
        case 2:
            return ErrorText(static_cast<std::uint8_t>(p[8]));
        default:
            return std::u16string();  // an empty text result
    }
}

}  // namespace qm::xls
