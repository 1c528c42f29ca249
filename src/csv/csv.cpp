#include "csv/csv.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "platform/yield.h"

namespace qm {

namespace {

// What the parser does with a code unit below U+0100; every unit above is ordinary text.
enum TUnitClass : std::uint8_t {
    kOrdinary,     // text in any field
    kQuote,        // U+0022
    kComma,        // U+002C
    kLineFeed,     // U+000A
    kVerticalTab,  // U+000B, read as a line feed
    kDropped,      // CR, other controls, U+007F and U+0080: removed before parsing
};

constexpr std::array<TUnitClass, 256> MakeClassTable() {
    std::array<TUnitClass, 256> table{};
    for (unsigned c = 0; c < 256; ++c) {
        TUnitClass cls = kOrdinary;
        if (c <= 0x80 && c != 0x09 && c != 0x0A && c != 0x0B && (c < 0x20 || c > 0x7E))
            cls = kDropped;
        else if (c == 0x0A)
            cls = kLineFeed;
        else if (c == 0x0B)
            cls = kVerticalTab;
        else if (c == 0x22)
            cls = kQuote;
        else if (c == 0x2C)
            cls = kComma;
        table[c] = cls;
    }
    return table;
}

constexpr std::array<TUnitClass, 256> kClass = MakeClassTable();

// Units that a plain field copies unchanged (quotes are text there).
constexpr std::array<bool, 256> MakePlainRunTable() {
    std::array<bool, 256> table{};
    for (unsigned c = 0; c < 256; ++c)
        table[c] = kClass[c] == kOrdinary || kClass[c] == kQuote;
    return table;
}

// Units that the inside of quotes copies unchanged (separators are text there).
constexpr std::array<bool, 256> MakeQuotedRunTable() {
    std::array<bool, 256> table{};
    for (unsigned c = 0; c < 256; ++c)
        table[c] = kClass[c] == kOrdinary || kClass[c] == kComma || kClass[c] == kLineFeed;
    return table;
}

constexpr std::array<bool, 256> kPlainRun = MakePlainRunTable();
constexpr std::array<bool, 256> kQuotedRun = MakeQuotedRunTable();

inline TUnitClass ClassOf(char16_t c) {
    return c < 0x100 ? kClass[c] : kOrdinary;
}

// Length of the run at text[from..end) whose units all belong to the run table.
inline std::size_t RunLength(const char16_t* text, std::size_t from, std::size_t end,
                             const std::array<bool, 256>& run) {
    std::size_t i = from;
    while (i < end) {
        char16_t c = text[i];
        if (c < 0x100 && !run[c]) break;
        ++i;
    }
    return i - from;
}

// The state machine over one buffer. Output is written into the same buffer behind the read
// position: every unit read yields at most one unit written, so writing never overtakes
// reading.
class TInPlaceParser {
  public:
    TInPlaceParser(char16_t* text, std::size_t size, TOffsetList& cellStarts,
                   TOffsetList& rowFirstCell)
        : text_(text), size_(size), cellStarts_(cellStarts), rowFirstCell_(rowFirstCell) {}

    // Returns the length of the cells' text and the widest row's field count.
    std::pair<std::size_t, std::uint32_t> Run() {
        while (read_ < size_) {
            if (cellOpen_) CopyRun();
            if (read_ < size_) Step(text_[read_++]);
        }
        return {write_, fieldCount_};
    }

  private:
    // Copies a run of units that the current state appends unchanged. Inside quotes that is
    // only allowed when nobody waits for a turn per character.
    void CopyRun() {
        std::size_t length = 0;
        if (plain_)
            length = RunLength(text_, read_, size_, kPlainRun);
        else if (inQuotes_ && !HasYieldHook())
            length = RunLength(text_, read_, size_, kQuotedRun);
        if (length == 0) return;
        if (write_ != read_) std::memmove(text_ + write_, text_ + read_, length * sizeof(char16_t));
        read_ += length;
        write_ += length;
    }

    void Step(char16_t c) {
        TUnitClass cls = ClassOf(c);
        if (cls == kDropped) return;
        if (cls == kVerticalTab) {
            c = u'\n';
            cls = kLineFeed;
        }
        if (fieldStart_) {
            plain_ = cls != kQuote;
            inQuotes_ = false;
        }
        if (plain_) {
            if (cls == kLineFeed)
                NextRow();
            else if (cls == kComma)
                NextField();
            else
                Append(c);
            return;
        }
        if (cls == kQuote) inQuotes_ = !inQuotes_;
        if (inQuotes_) {
            if (!(cls == kQuote && fieldStart_)) Append(c);
            fieldStart_ = false;
        } else if (cls == kComma) {
            NextField();
        } else if (cls == kLineFeed) {
            NextRow();
        } else if (cls != kQuote) {
            Append(c);
        }
        ProcessMessages();
    }

    void NextRow() {
        ++row_;
        field_ = 0;
        fieldStart_ = true;
        cellOpen_ = false;
    }

    void NextField() {
        ++field_;
        fieldStart_ = true;
        cellOpen_ = false;
    }

    void Append(char16_t c) {
        if (!cellOpen_) OpenCell();
        text_[write_++] = c;
        fieldStart_ = false;
    }

    // Creates the missing rows up to the current one and the missing cells of the current row
    // up to the current field, all empty and starting at the write position.
    void OpenCell() {
        while (rowFirstCell_.size() <= row_)
            rowFirstCell_.push_back(static_cast<std::uint32_t>(cellStarts_.size()));
        std::size_t cellsInRow = cellStarts_.size() - rowFirstCell_.back();
        for (; cellsInRow <= field_; ++cellsInRow)
            cellStarts_.push_back(static_cast<std::uint32_t>(write_));
        fieldCount_ = std::max(fieldCount_, static_cast<std::uint32_t>(field_ + 1));
        cellOpen_ = true;
    }

    char16_t* text_;
    std::size_t size_;
    TOffsetList& cellStarts_;
    TOffsetList& rowFirstCell_;

    std::size_t read_ = 0;
    std::size_t write_ = 0;
    std::size_t row_ = 0;
    std::size_t field_ = 0;
    bool fieldStart_ = true;
    bool plain_ = false;
    bool inQuotes_ = false;
    // The cell (row_, field_) exists, so appending needs no bookkeeping.
    bool cellOpen_ = false;
    std::uint32_t fieldCount_ = 0;
};

}  // namespace

TCsv::TCsv() = default;

TCsv::~TCsv() {
    Clear();
}

bool TCsv::Parse(std::u16string text) {
    if (!IsEmpty()) return false;
    // Offsets are 32-bit; the last one may equal the text's length.
    if (text.size() >= std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("CSV text too long");

    TOffsetList cellStarts;
    TOffsetList rowFirstCell;
    TInPlaceParser parser(text.data(), text.size(), cellStarts, rowFirstCell);
    auto [length, fieldCount] = parser.Run();
    if (rowFirstCell.empty()) return true;  // nothing but separators: still empty

    text.resize(length);
    cellStarts.push_back(static_cast<std::uint32_t>(length));
    rowFirstCell.push_back(static_cast<std::uint32_t>(cellStarts.size() - 1));
    rowCount_ = static_cast<std::uint32_t>(rowFirstCell.size() - 1);
    fieldCount_ = fieldCount;
    text_ = std::move(text);
    cellStarts_ = std::move(cellStarts);
    rowFirstCell_ = std::move(rowFirstCell);
    return true;
}

void TCsv::Clear() noexcept {
    rowCount_ = 0;
    fieldCount_ = 0;
    text_.clear();
    text_.shrink_to_fit();
    cellStarts_.clear();
    rowFirstCell_.clear();
}

bool TCsv::IsEmpty() const noexcept {
    return rowCount_ == 0 && fieldCount_ == 0 && rowFirstCell_.empty();
}

std::u16string_view TCsv::GetCellView(std::uint32_t row, std::uint32_t field) const noexcept {
    if (row >= rowCount_ || field >= fieldCount_) return {};
    std::size_t cell = std::size_t{rowFirstCell_[row]} + field;
    if (cell >= rowFirstCell_[row + 1]) return {};  // padding beyond the row's own cells
    std::size_t begin = cellStarts_[cell];
    return std::u16string_view(text_).substr(begin, cellStarts_[cell + 1] - begin);
}

std::u16string TCsv::GetCell(std::uint32_t row, std::uint32_t field) const {
    return std::u16string(GetCellView(row, field));
}

}  // namespace qm
