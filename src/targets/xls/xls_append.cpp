#include "targets/xls/xls_append.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/error.h"
#include "platform/little_endian.h"
#include "targets/target_access.h"
#include "targets/xls/xls_sheet.h"
#include "text/unicode.h"

namespace qm::xls {

namespace {

constexpr std::size_t kMaxRecordBody = 8224;
constexpr std::uint16_t kWorksheetType = 0x0010;
constexpr std::uint16_t kWindow2 = 0x023E;
constexpr std::uint32_t kRowsPerBlock = 32;
constexpr std::uint16_t kDefaultCellXf = 15;
constexpr std::uint16_t kDateFormat = 14;  // built-in "m/d/yy", shown in the local short form

void PutU16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void PutU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void SetU16(std::string& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>(value >> 8);
}

void SetU32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutHeader(std::string& out, std::uint16_t id, std::size_t length) {
    PutU16(out, id);
    PutU16(out, static_cast<std::uint16_t>(length));
}

// The RK form of a number when it holds the value exactly.
bool EncodeRk(double value, std::uint32_t& rk) {
    auto exact = [&](std::uint32_t candidate) {
        double back = DecodeRk(candidate);
        return std::memcmp(&back, &value, sizeof value) == 0;
    };
    for (std::uint32_t scaled = 0; scaled < 2; ++scaled) {
        double v = scaled ? value * 100 : value;
        if (std::isfinite(v) && v == std::floor(v) && v >= -536870912.0 && v <= 536870911.0) {
            std::uint32_t candidate =
                (static_cast<std::uint32_t>(static_cast<std::int32_t>(v)) << 2) | 2u | scaled;
            if (exact(candidate)) {
                rk = candidate;
                return true;
            }
        }
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof v);
        if ((bits & 0x3FFFFFFFFull) == 0) {
            std::uint32_t candidate = static_cast<std::uint32_t>(bits >> 32) | scaled;
            if (exact(candidate)) {
                rk = candidate;
                return true;
            }
        }
    }
    return false;
}

void PutNumberCell(std::string& out, std::uint16_t row, std::uint16_t column, std::uint16_t xf,
                   double value) {
    std::uint32_t rk = 0;
    if (EncodeRk(value, rk)) {
        PutHeader(out, record::kRk, 10);
        PutU16(out, row);
        PutU16(out, column);
        PutU16(out, xf);
        PutU32(out, rk);
        return;
    }
    PutHeader(out, record::kNumber, 14);
    PutU16(out, row);
    PutU16(out, column);
    PutU16(out, xf);
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof value);
    PutU32(out, static_cast<std::uint32_t>(bits));
    PutU32(out, static_cast<std::uint32_t>(bits >> 32));
}

bool NeedsHighBytes(std::u16string_view text) {
    for (char16_t c : text)
        if (c > 0xFF) return true;
    return false;
}

// A NAME record's body with the last row of its one-reference formula set to 'lastRow'
// (0-based); a single-cell reference becomes an area. Empty when the formula is not one 3-D
// reference.
std::string GrownNameBody(std::string_view body, std::uint16_t lastRow) {
    if (body.size() < 15) return {};
    std::uint8_t length = static_cast<std::uint8_t>(body[3]);
    std::uint16_t formulaSize = ReadU16(body.data() + 4);
    std::size_t width = (static_cast<std::uint8_t>(body[14]) & 1) ? 2 : 1;
    std::size_t formula = 15 + length * width;
    if (formula + formulaSize > body.size()) return {};
    std::uint8_t token = static_cast<std::uint8_t>(body[formula]);
    std::string out(body);
    if (formulaSize == 11 && (token == 0x3B || token == 0x5B || token == 0x7B)) {
        SetU16(out, formula + 5, lastRow);
        return out;
    }
    if (formulaSize == 7 && (token == 0x3A || token == 0x5A || token == 0x7A)) {
        std::string area;
        area += static_cast<char>(token + 1);
        area.append(body.substr(formula + 1, 4));  // sheet reference and first row
        PutU16(area, lastRow);
        area.append(body.substr(formula + 5, 2));  // column
        area.append(body.substr(formula + 5, 2));
        out = std::string(body.substr(0, formula)) + area +
              std::string(body.substr(formula + formulaSize));
        SetU16(out, 4, 11);
        return out;
    }
    return {};
}

}  // namespace

struct TXlsAppender::TSstString {
    std::u16string Text;
    std::uint8_t Flags = 0;  // fExtSt (0x04) and fRichSt (0x08)
    std::string Runs;
    std::string Phonetic;
};

struct TXlsAppender::TSheetState {
    int Sheet = -1;
    std::u16string Name;
    std::uint32_t Start = 0, End = 0;  // the substream, BOF to the end of its EOF
    std::uint32_t IndexAt = 0, IndexEnd = 0;
    std::string IndexBody;
    std::uint32_t DimensionsAt = 0, DimensionsEnd = 0;
    std::uint32_t DimFirstRow = 0, DimEndRow = 0;
    std::uint16_t DimFirstColumn = 0, DimEndColumn = 0;
    std::uint32_t InsertAt = 0;  // where the new row blocks go
    // The sheet's last row block when it has room (fewer than 32 rows), so that the first new
    // rows join it as Excel would have put them: its first ROW record, where its cells start,
    // its DBCELL, and where each of its rows' first cell lies (0 when none is open).
    std::uint32_t OpenBlockAt = 0, OpenCellsAt = 0, OpenDbCellAt = 0, OpenDbCellEnd = 0;
    std::vector<std::uint32_t> OpenFirstCells;
    std::uint16_t RowHeight = 0x00FF;
    std::uint32_t OldRowEnd = 0;  // one past the last row that holds a ROW record or a cell
    std::uint32_t NextRow = 0;    // 0-based
    std::uint32_t UsedFirstRow = 0xFFFFFFFF, UsedEndRow = 0;  // of the cells it held
    std::uint32_t UsedFirstColumn = 0xFFFF, UsedEndColumn = 0;
    std::vector<std::uint16_t> XfAbove;  // by column: XF of its lowest cell, 0xFFFF for none
    std::vector<std::uint32_t> RowOfXf;

    struct TNewRow {
        std::uint16_t Row = 0, FirstColumn = 0, EndColumn = 0;
        std::uint32_t CellStart = 0, CellSize = 0;
    };
    std::string Cells;  // the cell records of the new rows, one row after another
    std::vector<TNewRow> Rows;
    std::map<int, std::uint16_t> GrownNames;  // defined name -> new last row (0-based)
};

TXlsAppender::~TXlsAppender() = default;

void TXlsAppender::FailUnwritable(std::u16string_view reason) const {
    throw Error(u"このブックには行を追加できません（" + std::u16string(reason) + u"）。\n" +
                book_.FileName());
}

TXlsAppender::TXlsAppender(const TXlsWorkbook& book) : book_(book) {
    const std::u16string& file = book.FileName();
    std::string_view stream = book.Stream();
    TRecordReader reader(stream, 0, file);
    TRecord rec;
    bool ended = false;
    bool sstSeen = false;
    bool preferredDate = false;
    while (reader.Next(rec)) {
        switch (rec.Id) {
            case record::kXf:
                if (rec.Body.size() < 20) FailUnwritable(u"セルの書式が不正です");
                lastXfAt_ = rec.Offset;
                if (xfCount_ == kDefaultCellXf || (baseXf_.empty() && !(rec.Body[4] & 0x04)))
                    baseXf_ = std::string(rec.Body.substr(0, 20));
                if (!(rec.Body[4] & 0x04) && book.XfKind(xfCount_) == TStyleKind::Date) {
                    // The first date XF, better one with the plain short date format.
                    std::uint16_t format = ReadU16(rec.Body.data() + 2);
                    bool preferred = format == 14 || format == 22;
                    if (workbookDateXf_ < 0 || (preferred && !preferredDate)) {
                        workbookDateXf_ = static_cast<int>(xfCount_);
                        preferredDate = preferred;
                    }
                }
                ++xfCount_;
                break;
            case record::kSst: {
                if (sstSeen) FailUnwritable(u"共有文字列の表が二つあります");
                sstSeen = true;
                TBiffCursor cursor(BodyWithContinues(reader, rec), file);
                sstTotal_ = cursor.U32();
                std::uint32_t unique = cursor.U32();
                sst_.reserve(std::min<std::size_t>(unique, stream.size() / 3));
                for (std::uint32_t i = 0; i < unique; ++i) {
                    TSstString s;
                    std::uint16_t count = cursor.U16();
                    std::uint8_t flags = cursor.U8();
                    std::uint16_t runs = (flags & 0x08) ? cursor.U16() : 0;
                    std::uint32_t phonetic = (flags & 0x04) ? cursor.U32() : 0;
                    s.Flags = flags & 0x0C;
                    s.Text = cursor.Chars(count, (flags & 1) != 0);
                    s.Runs = cursor.Bytes(4ull * runs);
                    s.Phonetic = cursor.Bytes(phonetic);
                    sst_.push_back(std::move(s));
                }
                break;
            }
            default:
                break;
        }
        if (rec.Id == record::kEof) {
            ended = true;
            break;
        }
    }
    if (!ended) FailUnwritable(u"ブック全体の設定が EOF レコードで終わっていません");
    globalsEnd_ = static_cast<std::uint32_t>(reader.Position());
    if (xfCount_ <= kDefaultCellXf) FailUnwritable(u"セルの書式が足りません");

    // The sheets' substreams must lie one after another behind the globals.
    const auto& sheets = book.Sheets();
    for (std::uint32_t i = 0; i < sheets.size(); ++i)
        sheetOrder_.push_back(i);
    std::sort(sheetOrder_.begin(), sheetOrder_.end(), [&](std::uint32_t a, std::uint32_t b) {
        return sheets[a].Offset < sheets[b].Offset;
    });
    std::uint32_t previous = globalsEnd_;
    bool first = true;
    for (std::uint32_t i : sheetOrder_) {
        std::uint32_t offset = sheets[i].Offset;
        if (offset < previous || (!first && offset == previous) || offset + 4 > stream.size() ||
            ReadU16(stream.data() + offset) != record::kBof)
            FailUnwritable(u"シートの位置が不正です");
        previous = offset + 1;
        first = false;
    }
}

void TXlsAppender::FindOpenBlock(TSheetState& state, std::uint32_t dbCell) const {
    // Taken only when it is exactly as Excel writes a block: up to 31 ROW records, then cell
    // records in the rows' order, every row with a cell, then the DBCELL.
    std::string_view stream = book_.Stream();
    std::uint32_t back = ReadU32(stream.data() + dbCell + 4);
    if (back > dbCell || dbCell - back < state.Start) return;
    std::uint32_t first = dbCell - back;
    if (first < state.DimensionsEnd || first < state.IndexEnd) return;
    TRecordReader reader(stream.substr(0, dbCell), first, book_.FileName());
    TRecord rec;
    std::vector<std::uint16_t> rows;
    std::vector<std::uint32_t> firstCells;
    std::uint32_t cellsAt = 0;
    while (reader.Next(rec)) {
        if (rec.Id == record::kRow && !cellsAt) {
            if (rec.Body.size() != 16) return;
            rows.push_back(ReadU16(rec.Body.data()));
            continue;
        }
        if (!cellsAt) cellsAt = rec.Offset;
        if (rec.Id == record::kString || rec.Id == record::kSharedFormula ||
            rec.Id == record::kArray || rec.Id == record::kTable)
            continue;
        if (!IsCellRecord(rec.Id) || rec.Body.size() < 6) return;
        std::uint16_t row = ReadU16(rec.Body.data());
        if (firstCells.size() < rows.size() && rows[firstCells.size()] == row) {
            firstCells.push_back(rec.Offset);
        } else if (firstCells.empty() || rows[firstCells.size() - 1] != row) {
            return;  // a row out of order, or one without a ROW record in the block
        }
    }
    if (reader.Position() != dbCell || rows.empty() || rows.size() >= kRowsPerBlock ||
        firstCells.size() != rows.size())
        return;
    // The DBCELL's offsets are 16-bit: the block must stay within their reach when it is full.
    if ((kRowsPerBlock - 1) * 20u + (firstCells[0] - cellsAt) > 0xFFFF ||
        dbCell - firstCells.back() > 0xFFFF)
        return;
    state.OpenBlockAt = first;
    state.OpenCellsAt = cellsAt;
    state.OpenDbCellAt = dbCell;
    state.OpenDbCellEnd = dbCell + 4 + ReadU16(stream.data() + dbCell + 2);
    state.OpenFirstCells = std::move(firstCells);
}

TXlsAppender::TSheetState& TXlsAppender::SheetState(int sheet) {
    auto found = sheets_.find(sheet);
    if (found != sheets_.end()) return *found->second;
    const std::u16string& file = book_.FileName();
    const TXlsSheetInfo& info = book_.Sheets()[static_cast<std::size_t>(sheet)];
    auto state = std::make_unique<TSheetState>();
    state->Sheet = sheet;
    state->Name = info.Name;
    state->Start = info.Offset;
    state->XfAbove.assign(kXlsMaxColumns, 0xFFFF);
    state->RowOfXf.assign(kXlsMaxColumns, 0);
    std::string_view stream = book_.Stream();
    TRecordReader reader(stream, info.Offset, file);
    TRecord rec;
    if (!reader.Next(rec) || rec.Id != record::kBof || rec.Body.size() < 4 ||
        ReadU16(rec.Body.data() + 2) != kWorksheetType)
        FailUnwritable(u"ワークシートではありません");
    int depth = 0;
    std::uint32_t cellTableEnd = 0, window2 = 0, lastDbCell = 0;
    while (reader.Next(rec)) {
        std::uint32_t end = rec.Offset + 4 + static_cast<std::uint32_t>(rec.Body.size());
        if (rec.Id == record::kBof) {
            ++depth;
            continue;
        }
        if (rec.Id == record::kEof) {
            if (depth-- > 0) continue;
            state->End = end;
            break;
        }
        if (depth > 0) continue;
        std::string_view body = rec.Body;
        switch (rec.Id) {
            case record::kIndex:
                if (body.size() < 16 || (body.size() - 16) % 4 != 0 || state->IndexAt)
                    FailUnwritable(u"シートの INDEX レコードが不正です");
                state->IndexAt = rec.Offset;
                state->IndexEnd = end;
                state->IndexBody = std::string(body);
                continue;
            case record::kDimensions:
                if (body.size() < 14 || state->DimensionsAt)
                    FailUnwritable(u"シートの DIMENSIONS レコードが不正です");
                state->DimensionsAt = rec.Offset;
                state->DimensionsEnd = end;
                state->DimFirstRow = ReadU32(body.data());
                state->DimEndRow = ReadU32(body.data() + 4);
                state->DimFirstColumn = ReadU16(body.data() + 8);
                state->DimEndColumn = ReadU16(body.data() + 10);
                continue;
            case record::kDefaultRowHeight:
                if (body.size() >= 4) state->RowHeight = ReadU16(body.data() + 2);
                continue;
            case record::kProtect:
                if (body.size() >= 2 && ReadU16(body.data()) != 0)
                    throw Error(u"シート「" + info.Name +
                                u"」は保護されているため、行を追加できません。"
                                u"シートの保護を解除してからやり直してください。\n" +
                                file);
                continue;
            case kWindow2:
                if (!window2) window2 = rec.Offset;
                continue;
            case record::kRow:
                if (body.size() >= 2)
                    state->OldRowEnd =
                        std::max<std::uint32_t>(state->OldRowEnd, ReadU16(body.data()) + 1u);
                cellTableEnd = end;
                continue;
            case record::kDbCell:
                lastDbCell = rec.Offset;
                cellTableEnd = end;
                continue;
            case record::kString:
            case record::kSharedFormula:
            case record::kArray:
            case record::kTable:
                cellTableEnd = end;
                continue;
            default:
                break;
        }
        if (!IsCellRecord(rec.Id) || body.size() < 6) continue;
        cellTableEnd = end;
        std::uint32_t row = ReadU16(body.data());
        std::uint32_t column = ReadU16(body.data() + 2);
        state->OldRowEnd = std::max(state->OldRowEnd, row + 1);
        state->UsedFirstRow = std::min(state->UsedFirstRow, row);
        state->UsedEndRow = std::max(state->UsedEndRow, row + 1);
        auto note = [&](std::uint32_t c, std::uint16_t xf) {
            if (c >= kXlsMaxColumns) return;
            if (state->XfAbove[c] == 0xFFFF || row >= state->RowOfXf[c]) {
                state->XfAbove[c] = xf;
                state->RowOfXf[c] = row;
            }
            state->UsedFirstColumn = std::min(state->UsedFirstColumn, c);
            state->UsedEndColumn = std::max(state->UsedEndColumn, c + 1);
        };
        if (rec.Id == record::kMulRk) {
            for (std::size_t i = 0; 4 + 6 * i + 6 <= body.size() - 2; ++i)
                note(column + static_cast<std::uint32_t>(i), ReadU16(body.data() + 4 + 6 * i));
        } else if (rec.Id == record::kMulBlank) {
            for (std::size_t i = 0; 4 + 2 * i + 2 <= body.size() - 2; ++i)
                note(column + static_cast<std::uint32_t>(i), ReadU16(body.data() + 4 + 2 * i));
        } else {
            note(column, ReadU16(body.data() + 4));
        }
    }
    if (!state->End) FailUnwritable(u"シートが EOF レコードで終わっていません");
    if (state->IndexAt && state->DimensionsAt && state->IndexAt > state->DimensionsAt)
        FailUnwritable(u"シートのレコードの順序が不正です");
    state->InsertAt = cellTableEnd           ? cellTableEnd
                      : state->DimensionsEnd ? state->DimensionsEnd
                      : window2              ? window2
                                             : state->End - 4;
    if (state->InsertAt < state->DimensionsEnd || state->InsertAt < state->IndexEnd)
        FailUnwritable(u"シートのレコードの順序が不正です");
    state->NextRow = state->OldRowEnd;
    if (lastDbCell && ReadU16(stream.data() + lastDbCell + 2) + 4u + lastDbCell == cellTableEnd)
        FindOpenBlock(*state, lastDbCell);
    return *sheets_.emplace(sheet, std::move(state)).first->second;
}

std::uint16_t TXlsAppender::DateXf() {
    if (workbookDateXf_ >= 0) return static_cast<std::uint16_t>(workbookDateXf_);
    addDateXf_ = true;
    return static_cast<std::uint16_t>(xfCount_);
}

std::size_t TXlsAppender::StringCount() const noexcept {
    return sst_.size() + addedEnds_.size();
}

std::u16string_view TXlsAppender::StringAt(std::size_t index) const {
    if (index < sst_.size()) return sst_[index].Text;
    index -= sst_.size();
    std::uint32_t start = index == 0 ? 0 : addedEnds_[index - 1];
    return std::u16string_view(added_).substr(start, addedEnds_[index] - start);
}

namespace {

// 32 bits of FNV-1a over the text, mixed so that the low bits pick a slot well.
std::uint64_t HashText(std::u16string_view text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (char16_t c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return (hash ^ (hash >> 32)) & 0xFFFFFFFFu;
}

}  // namespace

std::uint32_t TXlsAppender::StringIndex(const std::u16string& text) {
    // Each slot holds the SST index + 1 in its low half and the string's hash in its high
    // half, so that probing compares texts only when the hashes agree and growing needs no
    // hashing. The table is built at the first string and doubles when half full.
    auto place = [](std::vector<std::uint64_t>& slots, std::uint64_t entry) {
        std::size_t mask = slots.size() - 1;
        std::size_t slot = static_cast<std::size_t>(entry >> 32) & mask;  // the hash
        while (slots[slot] != 0)
            slot = (slot + 1) & mask;
        slots[slot] = entry;
    };
    auto entryOf = [](std::uint64_t hash, std::size_t index) {
        return (hash << 32) | (static_cast<std::uint64_t>(index) + 1);
    };
    if (stringSlots_.empty()) {
        std::size_t size = 1024;
        while (size < 4 * (StringCount() + 1))
            size *= 2;
        stringSlots_.assign(size, 0);
        for (std::size_t i = 0; i < StringCount(); ++i)
            place(stringSlots_, entryOf(HashText(StringAt(i)), i));
    } else if (2 * (StringCount() + 1) > stringSlots_.size()) {
        std::vector<std::uint64_t> grown(stringSlots_.size() * 2, 0);
        for (std::uint64_t entry : stringSlots_)
            if (entry) place(grown, entry);
        stringSlots_.swap(grown);
    }
    std::uint64_t hash = HashText(text);
    std::size_t mask = stringSlots_.size() - 1;
    for (std::size_t slot = static_cast<std::size_t>(hash) & mask;; slot = (slot + 1) & mask) {
        std::uint64_t found = stringSlots_[slot];
        if (found == 0) break;
        std::uint32_t index = static_cast<std::uint32_t>(found) - 1;
        if ((found >> 32) == (hash & 0xFFFFFFFFu) && StringAt(index) == text) return index;
    }
    std::uint32_t index = static_cast<std::uint32_t>(StringCount());
    added_ += text;
    addedEnds_.push_back(static_cast<std::uint32_t>(added_.size()));
    place(stringSlots_, entryOf(hash & 0xFFFFFFFFu, index));
    return index;
}

void TXlsAppender::AppendRow(const TAppendTarget& target, const std::vector<std::uint32_t>& columns,
                             const std::vector<TFieldDef>& fields,
                             const std::vector<TValue>& values) {
    const std::u16string& file = book_.FileName();
    TSheetState& state = SheetState(target.Sheet);
    std::uint32_t row = state.NextRow;  // 0-based
    if (target.DefinedName >= 0) {
        auto grown = state.GrownNames.find(target.DefinedName);
        std::uint32_t lastRow =
            grown != state.GrownNames.end() ? grown->second + 1u : target.Area.LastRow;
        if (lastRow != row)
            throw Error(
                u"名前付き範囲「" + target.TableName +
                u"」の下のシートの行にデータがあるため、範囲を広げて行を追加できません。\n" + file);
    }
    if (row >= kXlsMaxRows)
        throw Error(u"シート「" + state.Name +
                    u"」の行数の上限（65,536 行）を超えるため、これ以上行を追加できません。"
                    u"Excel 97-2003 形式（.xls）のシートに入る行はここまでです。\n" +
                    file);

    // Every value is checked before anything is kept, so that a refused row leaves no trace.
    bool anyValue = false;
    for (std::size_t i = 0; i < values.size() && i < columns.size(); ++i) {
        const TValue& value = values[i];
        if (IsNull(value)) continue;
        anyValue = true;
        const std::u16string& fieldName = i < fields.size() ? fields[i].Name : std::u16string();
        int fieldType = i < fields.size() ? fields[i].DataType : 0;
        if (columns[i] < 1 || columns[i] > kXlsMaxColumns)
            throw Error(u"シート「" + state.Name + u"」の列数の上限（256 列）を超える列に" +
                        u"フィールド「" + fieldName + u"」を書き込めません。\n" + file);
        if (const auto* text = std::get_if<std::u16string>(&value)) {
            if (text->size() > static_cast<std::size_t>(sheet::kCellTextLimit))
                throw Error(u"フィールド「" + fieldName +
                            u"」の値がセルに入る文字数の上限（32,767 文字）を超えるため、シート「" +
                            state.Name + u"」に書き込めません（" +
                            Utf8ToUtf16(std::to_string(text->size())) + u" 文字）。\n" + file);
        } else if (const auto* date = std::get_if<TDateTime>(&value)) {
            double serial = 0;
            if (!sheet::DaysToSerial(date->Days, book_.Date1904(), serial))
                throw Error(u"値「" + ValueToDisplayText(value) + u"」をフィールド「" + fieldName +
                            u"」（" + GetFieldTypeName(fieldType) +
                            u"）に書き込めません。Excel の日付の範囲外です。");
        } else if (std::holds_alternative<TBytes>(value)) {
            throw Error(u"フィールド「" + fieldName + u"」（" + GetFieldTypeName(fieldType) +
                        u"）にはバイナリ データを書き込めません。");
        }
    }

    // A row without values keeps its place but needs no record.
    std::uint16_t row16 = static_cast<std::uint16_t>(row);
    if (anyValue) {
        // Cells in column order, as Excel keeps them.
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < values.size() && i < columns.size(); ++i)
            if (!IsNull(values[i])) order.push_back(i);
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return columns[a] < columns[b]; });
        TSheetState::TNewRow newRow;
        newRow.Row = row16;
        newRow.CellStart = static_cast<std::uint32_t>(state.Cells.size());
        newRow.FirstColumn = static_cast<std::uint16_t>(columns[order.front()] - 1);
        newRow.EndColumn = static_cast<std::uint16_t>(columns[order.back()]);
        std::string& out = state.Cells;
        for (std::size_t i : order) {
            const TValue& value = values[i];
            std::uint16_t column = static_cast<std::uint16_t>(columns[i] - 1);
            std::uint16_t xf = state.XfAbove[column];
            if (xf == 0xFFFF) xf = kDefaultCellXf;
            if (const auto* text = std::get_if<std::u16string>(&value)) {
                PutHeader(out, record::kLabelSst, 10);
                PutU16(out, row16);
                PutU16(out, column);
                PutU16(out, xf);
                PutU32(out, StringIndex(*text));
                ++addedReferences_;
            } else if (const auto* d = std::get_if<double>(&value)) {
                PutNumberCell(out, row16, column, xf, *d);
            } else if (const auto* n = std::get_if<std::int64_t>(&value)) {
                PutNumberCell(out, row16, column, xf, static_cast<double>(*n));
            } else if (const auto* c = std::get_if<TCurrency>(&value)) {
                PutNumberCell(out, row16, column, xf, static_cast<double>(c->Scaled) / 10000.0);
            } else if (const auto* dec = std::get_if<TDecimal>(&value)) {
                PutNumberCell(out, row16, column, xf, std::strtod(dec->Text.c_str(), nullptr));
            } else if (const auto* b = std::get_if<bool>(&value)) {
                PutHeader(out, record::kBoolErr, 8);
                PutU16(out, row16);
                PutU16(out, column);
                PutU16(out, xf);
                out += static_cast<char>(*b ? 1 : 0);
                out += '\0';
            } else if (const auto* date = std::get_if<TDateTime>(&value)) {
                double serial = 0;
                sheet::DaysToSerial(date->Days, book_.Date1904(), serial);
                std::uint16_t dateXf = book_.XfKind(xf) == TStyleKind::Date ? xf : DateXf();
                PutNumberCell(out, row16, column, dateXf, serial);
            }
        }
        newRow.CellSize = static_cast<std::uint32_t>(out.size()) - newRow.CellStart;
        state.Rows.push_back(newRow);
    }
    state.NextRow = row + 1;
    if (target.DefinedName >= 0) state.GrownNames[target.DefinedName] = row16;
}

void TXlsAppender::WriteGlobals(std::string& out, std::vector<std::uint32_t>& boundSheetAt) const {
    std::string_view stream = book_.Stream();
    const std::u16string& file = book_.FileName();
    bool rewriteSst = addedReferences_ > 0;
    // Defined names that grow: those used as targets, and each sheet's AutoFilter range when
    // it ended at the sheet's old last row.
    std::map<std::uint32_t, std::uint16_t> grownNames;  // NAME record offset -> last row
    const auto& names = book_.DefinedNames();
    for (const auto& [sheet, state] : sheets_) {
        if (state->NextRow <= state->OldRowEnd) continue;
        std::uint16_t last = static_cast<std::uint16_t>(state->NextRow - 1);
        for (const auto& [index, row] : state->GrownNames)
            grownNames[names[static_cast<std::size_t>(index)].RecordOffset] = row;
        for (const TXlsDefinedName& name : names) {
            if (name.BuiltIn && name.Name == u"_FilterDatabase" && name.LocalSheet == sheet &&
                name.AreaSheet == sheet && name.Area.LastRow == state->OldRowEnd)
                grownNames.emplace(name.RecordOffset, last);
        }
    }

    TRecordReader reader(stream, 0, file);
    TRecord rec;
    bool sstWritten = false;
    auto writeSst = [&] {
        // Excel's split: a string's fixed part and its first character share a record; the
        // characters go on in CONTINUE records that start with the width flag; a formatting
        // run is never split; phonetic data continues anywhere.
        std::uint32_t dsst =
            std::max<std::uint32_t>(8, static_cast<std::uint32_t>((StringCount() + 127) / 128));
        std::vector<std::pair<std::uint32_t, std::uint16_t>> buckets;
        std::size_t record = out.size();
        PutHeader(out, record::kSst, 0);
        PutU32(out, sstTotal_ + addedReferences_);
        PutU32(out, static_cast<std::uint32_t>(StringCount()));
        auto room = [&] { return kMaxRecordBody - (out.size() - record - 4); };
        auto next = [&] {
            SetU16(out, record + 2, static_cast<std::uint16_t>(out.size() - record - 4));
            record = out.size();
            PutHeader(out, record::kContinue, 0);
        };
        static const TSstString kPlain;
        for (std::size_t i = 0; i < StringCount(); ++i) {
            const TSstString& s = i < sst_.size() ? sst_[i] : kPlain;
            std::u16string_view text = StringAt(i);
            bool high = NeedsHighBytes(text);
            std::size_t width = high ? 2 : 1;
            std::size_t fixed = 3 + ((s.Flags & 0x08) ? 2 : 0) + ((s.Flags & 0x04) ? 4 : 0);
            if (room() < fixed + (text.empty() ? 0 : width)) next();
            if (i % dsst == 0)
                buckets.emplace_back(static_cast<std::uint32_t>(out.size()),
                                     static_cast<std::uint16_t>(out.size() - record));
            PutU16(out, static_cast<std::uint16_t>(text.size()));
            out += static_cast<char>(s.Flags | (high ? 1 : 0));
            if (s.Flags & 0x08) PutU16(out, static_cast<std::uint16_t>(s.Runs.size() / 4));
            if (s.Flags & 0x04) PutU32(out, static_cast<std::uint32_t>(s.Phonetic.size()));
            std::size_t at = 0;
            while (at < text.size()) {
                std::size_t take = std::min(text.size() - at, room() / width);
                if (take == 0) {
                    next();
                    out += static_cast<char>(high ? 1 : 0);
                    continue;
                }
                std::size_t base = out.size();
                out.resize(base + take * width);
                char* p = out.data() + base;
                for (std::size_t k = at; k < at + take; ++k) {
                    *p++ = static_cast<char>(text[k] & 0xFF);
                    if (high) *p++ = static_cast<char>(text[k] >> 8);
                }
                at += take;
            }
            for (std::size_t r = 0; r < s.Runs.size(); r += 4) {
                if (room() < 4) next();
                out.append(s.Runs, r, 4);
            }
            for (std::size_t p = 0; p < s.Phonetic.size();) {
                if (room() == 0) next();
                std::size_t take = std::min(room(), s.Phonetic.size() - p);
                out.append(s.Phonetic, p, take);
                p += take;
            }
        }
        SetU16(out, record + 2, static_cast<std::uint16_t>(out.size() - record - 4));
        PutHeader(out, record::kExtSst, 2 + 8 * buckets.size());
        PutU16(out, static_cast<std::uint16_t>(dsst));
        for (const auto& [position, offset] : buckets) {
            PutU32(out, position);
            PutU16(out, offset);
            PutU16(out, 0);
        }
        sstWritten = true;
    };
    auto copy = [&](const TRecord& r) { out.append(stream.substr(r.Offset, 4 + r.Body.size())); };
    while (reader.Next(rec)) {
        switch (rec.Id) {
            case record::kBoundSheet:
                boundSheetAt.push_back(static_cast<std::uint32_t>(out.size() + 4));
                copy(rec);
                break;
            case record::kSst:
                if (!rewriteSst) {
                    copy(rec);
                    break;
                }
                BodyWithContinues(reader, rec);  // the old CONTINUE records are left behind
                writeSst();
                break;
            case record::kExtSst:
                if (!rewriteSst) copy(rec);
                break;
            case record::kName: {
                auto grown = grownNames.find(rec.Offset);
                std::string body = grown == grownNames.end()
                                       ? std::string()
                                       : GrownNameBody(rec.Body, grown->second);
                if (body.empty() || reader.PeekId() == record::kContinue) {
                    copy(rec);
                    break;
                }
                PutHeader(out, record::kName, body.size());
                out += body;
                break;
            }
            case record::kXf:
                copy(rec);
                if (addDateXf_ && rec.Offset == lastXfAt_) {
                    std::string xf = baseXf_;
                    SetU16(xf, 2, kDateFormat);
                    xf[4] = static_cast<char>(xf[4] & ~0x04);  // a cell XF
                    xf[9] = static_cast<char>(xf[9] | 0x04);   // with its own number format
                    PutHeader(out, record::kXf, xf.size());
                    out += xf;
                }
                break;
            case record::kEof:
                if (rewriteSst && !sstWritten) writeSst();
                copy(rec);
                break;
            default:
                copy(rec);
                break;
        }
        if (rec.Id == record::kEof) break;
    }
}

void TXlsAppender::WriteSheet(std::string& out, const TSheetState& state, std::uint32_t end,
                              const std::function<void()>& turn) const {
    std::string_view stream = book_.Stream();
    const std::uint32_t newStart = static_cast<std::uint32_t>(out.size());
    // The first new rows fill the sheet's open block; the others form blocks of their own.
    const std::size_t kept = state.OpenFirstCells.size();
    const std::size_t joined =
        state.OpenBlockAt ? std::min<std::size_t>(kRowsPerBlock - kept, state.Rows.size()) : 0;
    const std::size_t rest = state.Rows.size() - joined;
    const std::uint32_t blocks =
        static_cast<std::uint32_t>((rest + kRowsPerBlock - 1) / kRowsPerBlock);
    const std::uint32_t indexGrowth = state.IndexAt ? 4 * blocks : 0;
    std::uint32_t joinedCells = 0;
    for (std::size_t r = 0; r < joined; ++r)
        joinedCells += state.Rows[r].CellSize;
    const std::uint32_t dbCellGrowth = joined ? 8 + 2 * static_cast<std::uint32_t>(kept + joined) -
                                                    (state.OpenDbCellEnd - state.OpenDbCellAt)
                                              : 0;
    std::uint32_t inserted = 0;
    for (std::size_t r = joined; r < state.Rows.size(); ++r)
        inserted += 20 + state.Rows[r].CellSize;
    inserted += blocks * 8 + static_cast<std::uint32_t>(rest) * 2;
    // Where a position of the old substream lies in the new one.
    auto moved = [&](std::uint32_t p) {
        std::uint32_t at = newStart + (p - state.Start);
        if (state.IndexAt && p >= state.IndexEnd) at += indexGrowth;
        if (joined && p >= state.OpenCellsAt) at += 20 * static_cast<std::uint32_t>(joined);
        if (joined && p >= state.OpenDbCellEnd) at += joinedCells + dbCellGrowth;
        if (p >= state.InsertAt) at += inserted;
        return at;
    };
    auto copyRange = [&](std::uint32_t from, std::uint32_t to) {
        out.append(stream.substr(from, to - from));
    };

    std::uint32_t firstNew = state.Rows.empty() ? state.NextRow : state.Rows.front().Row;
    std::uint32_t endNew = state.Rows.empty() ? 0 : state.Rows.back().Row + 1u;
    std::uint32_t newFirstColumn = 0xFFFF, newEndColumn = 0;
    for (const auto& row : state.Rows) {
        newFirstColumn = std::min<std::uint32_t>(newFirstColumn, row.FirstColumn);
        newEndColumn = std::max<std::uint32_t>(newEndColumn, row.EndColumn);
    }

    std::uint32_t at = state.Start;
    std::size_t indexBodyAt = 0;
    if (state.IndexAt) {
        copyRange(at, state.IndexAt);
        PutHeader(out, record::kIndex, state.IndexBody.size() + indexGrowth);
        indexBodyAt = out.size();
        out += state.IndexBody;
        out.append(indexGrowth, '\0');
        at = state.IndexEnd;
    }
    if (state.DimensionsAt) {
        copyRange(at, state.DimensionsAt);
        // The used range covers every cell the sheet held and the new rows.
        std::uint32_t firstRow = 0xFFFFFFFF, endRow = 0, firstColumn = 0xFFFF, endColumn = 0;
        auto cover = [&](std::uint32_t r0, std::uint32_t r1, std::uint32_t c0, std::uint32_t c1) {
            if (r1 <= r0 || c1 <= c0) return;
            firstRow = std::min(firstRow, r0);
            endRow = std::max(endRow, r1);
            firstColumn = std::min(firstColumn, c0);
            endColumn = std::max(endColumn, c1);
        };
        cover(state.DimFirstRow, state.DimEndRow, state.DimFirstColumn, state.DimEndColumn);
        cover(state.UsedFirstRow, state.UsedEndRow, state.UsedFirstColumn, state.UsedEndColumn);
        cover(firstNew, endNew, newFirstColumn, newEndColumn);
        if (endRow == 0) {
            firstRow = state.DimFirstRow;
            endRow = state.DimEndRow;
            firstColumn = state.DimFirstColumn;
            endColumn = state.DimEndColumn;
        }
        PutHeader(out, record::kDimensions, 14);
        PutU32(out, firstRow);
        PutU32(out, endRow);
        PutU16(out, static_cast<std::uint16_t>(firstColumn));
        PutU16(out, static_cast<std::uint16_t>(endColumn));
        out.append(stream.substr(state.DimensionsAt + 16, 2));
        at = state.DimensionsEnd;
    }
    auto putRow = [&](const TSheetState::TNewRow& row) {
        PutHeader(out, record::kRow, 16);
        PutU16(out, row.Row);
        PutU16(out, row.FirstColumn);
        PutU16(out, row.EndColumn);
        PutU16(out, state.RowHeight);
        PutU32(out, 0);
        PutU32(out, 0x000F0100);  // default XF, and the bit that is always set
    };
    // A DBCELL: back to the block's first ROW, then each row's first cell from the previous
    // one (the first from the end of the first ROW record).
    auto putDbCell = [&](std::uint32_t blockStart, const std::vector<std::uint32_t>& firstCells) {
        std::uint32_t dbCell = static_cast<std::uint32_t>(out.size());
        PutHeader(out, record::kDbCell, 4 + 2 * firstCells.size());
        PutU32(out, dbCell - blockStart);
        PutU16(out, static_cast<std::uint16_t>(firstCells[0] - (blockStart + 20)));
        for (std::size_t i = 1; i < firstCells.size(); ++i)
            PutU16(out, static_cast<std::uint16_t>(firstCells[i] - firstCells[i - 1]));
        return dbCell;
    };
    std::uint32_t openDbCell = 0;
    if (joined) {
        copyRange(at, state.OpenCellsAt);
        for (std::size_t r = 0; r < joined; ++r)
            putRow(state.Rows[r]);
        std::uint32_t cellsAt = static_cast<std::uint32_t>(out.size());
        copyRange(state.OpenCellsAt, state.OpenDbCellAt);
        std::vector<std::uint32_t> firstCells;
        for (std::uint32_t cell : state.OpenFirstCells)
            firstCells.push_back(cellsAt + (cell - state.OpenCellsAt));
        for (std::size_t r = 0; r < joined; ++r) {
            firstCells.push_back(static_cast<std::uint32_t>(out.size()));
            out.append(state.Cells, state.Rows[r].CellStart, state.Rows[r].CellSize);
        }
        openDbCell = putDbCell(moved(state.OpenBlockAt), firstCells);
        at = state.OpenDbCellEnd;
    }
    copyRange(at, state.InsertAt);

    std::vector<std::uint32_t> dbCells;
    for (std::size_t b = joined; b < state.Rows.size(); b += kRowsPerBlock) {
        std::size_t count = std::min<std::size_t>(kRowsPerBlock, state.Rows.size() - b);
        std::uint32_t blockStart = static_cast<std::uint32_t>(out.size());
        for (std::size_t r = b; r < b + count; ++r)
            putRow(state.Rows[r]);
        std::vector<std::uint32_t> firstCells;
        for (std::size_t r = b; r < b + count; ++r) {
            const auto& row = state.Rows[r];
            firstCells.push_back(static_cast<std::uint32_t>(out.size()));
            out.append(state.Cells, row.CellStart, row.CellSize);
        }
        dbCells.push_back(putDbCell(blockStart, firstCells));
        if ((b / kRowsPerBlock) % 256 == 255) turn();
    }
    copyRange(state.InsertAt, end);

    if (state.IndexAt) {
        // rwMic, rwMac, the DEFCOLWIDTH position and one DBCELL position per block.
        std::uint32_t first = ReadU32(state.IndexBody.data() + 4);
        std::uint32_t last = ReadU32(state.IndexBody.data() + 8);
        if (!state.Rows.empty()) {
            if (last <= first) first = firstNew;
            SetU32(out, indexBodyAt + 4, std::min(first, firstNew));
            SetU32(out, indexBodyAt + 8, std::max(last, endNew));
        }
        std::uint32_t defColWidth = ReadU32(state.IndexBody.data() + 12);
        if (defColWidth >= state.Start && defColWidth < end)
            SetU32(out, indexBodyAt + 12, moved(defColWidth));
        std::size_t oldBlocks = (state.IndexBody.size() - 16) / 4;
        for (std::size_t i = 0; i < oldBlocks; ++i) {
            std::uint32_t p = ReadU32(state.IndexBody.data() + 16 + 4 * i);
            if (joined && p == state.OpenDbCellAt)
                SetU32(out, indexBodyAt + 16 + 4 * i, openDbCell);
            else if (p >= state.Start && p < end)
                SetU32(out, indexBodyAt + 16 + 4 * i, moved(p));
        }
        for (std::size_t i = 0; i < dbCells.size(); ++i)
            SetU32(out, indexBodyAt + 16 + 4 * (oldBlocks + i), dbCells[i]);
    }
}

std::string TXlsAppender::BuildStream(const std::function<void()>& turn) const {
    std::string_view stream = book_.Stream();
    std::size_t grows = 1024 + 8 * StringCount() + 2 * added_.size();
    for (const auto& [sheet, state] : sheets_)
        grows += state->Cells.size() + 22 * state->Rows.size() + 8;
    std::string out;
    out.reserve(stream.size() + grows);
    std::vector<std::uint32_t> boundSheetAt;
    WriteGlobals(out, boundSheetAt);
    turn();
    const auto& sheets = book_.Sheets();
    if (boundSheetAt.size() != sheets.size()) FailUnwritable(u"シートの一覧が不正です");
    std::uint32_t at = globalsEnd_;
    for (std::size_t k = 0; k < sheetOrder_.size(); ++k) {
        std::uint32_t index = sheetOrder_[k];
        std::uint32_t start = sheets[index].Offset;
        std::uint32_t end = k + 1 < sheetOrder_.size() ? sheets[sheetOrder_[k + 1]].Offset
                                                       : static_cast<std::uint32_t>(stream.size());
        out.append(stream.substr(at, start - at));  // anything between substreams
        std::uint32_t newStart = static_cast<std::uint32_t>(out.size());
        SetU32(out, boundSheetAt[index], newStart);
        auto state = sheets_.find(static_cast<int>(index));
        if (state != sheets_.end()) {
            WriteSheet(out, *state->second, end, turn);
        } else {
            out.append(stream.substr(start, end - start));
            // The INDEX record that follows the BOF holds absolute positions.
            std::int64_t delta = static_cast<std::int64_t>(newStart) - start;
            std::uint32_t bofLength = ReadU16(stream.data() + start + 2);
            std::uint32_t index2 = start + 4 + bofLength;
            if (delta != 0 && index2 + 4 <= end &&
                ReadU16(stream.data() + index2) == record::kIndex) {
                std::uint32_t length = ReadU16(stream.data() + index2 + 2);
                if (length >= 16 && index2 + 4 + length <= end) {
                    std::size_t body = newStart + (index2 - start) + 4;
                    auto shift = [&](std::size_t p) {
                        std::uint32_t v = ReadU32(out.data() + p);
                        if (v >= start && v < end)
                            SetU32(out, p, static_cast<std::uint32_t>(v + delta));
                    };
                    shift(body + 12);
                    for (std::size_t p = body + 16; p + 4 <= body + length; p += 4)
                        shift(p);
                }
            }
        }
        at = end;
        turn();
    }
    return out;
}

}  // namespace qm::xls
