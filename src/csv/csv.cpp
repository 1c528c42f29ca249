#include "csv/csv.h"

#include <limits>
#include <stdexcept>
#include <utility>

#include "csv/csv_parser.h"

namespace qm {

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
    csv_detail::TInPlaceParser parser(text.data(), cellStarts, rowFirstCell);
    parser.Feed(text.size(), true);
    auto [length, fieldCount] = parser.Result();
    if (rowFirstCell.empty()) return true;  // nothing but separators: still empty

    text.resize(length);
    text_ = std::move(text);
    Adopt(text_.data(), length, fieldCount, cellStarts, rowFirstCell);
    return true;
}

void TCsv::Adopt(const char16_t* text, std::size_t length, std::uint32_t fieldCount,
                 TOffsetList& cellStarts, TOffsetList& rowFirstCell) {
    cellStarts.push_back(static_cast<std::uint32_t>(length));
    rowFirstCell.push_back(static_cast<std::uint32_t>(cellStarts.size() - 1));
    rowCount_ = static_cast<std::uint32_t>(rowFirstCell.size() - 1);
    fieldCount_ = fieldCount;
    cells_ = text;
    cellStarts_ = std::move(cellStarts);
    rowFirstCell_ = std::move(rowFirstCell);
}

void TCsv::Clear() noexcept {
    rowCount_ = 0;
    fieldCount_ = 0;
    cells_ = nullptr;
    text_.clear();
    text_.shrink_to_fit();
    pages_.Release();
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
    return std::u16string_view(cells_ + begin, cellStarts_[cell + 1] - begin);
}

std::u16string TCsv::GetCell(std::uint32_t row, std::uint32_t field) const {
    return std::u16string(GetCellView(row, field));
}

}  // namespace qm
