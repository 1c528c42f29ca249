// One CSV file as a rectangular table of UTF-16 strings.
//
// The text is split by a small state machine: commas separate fields and line ends (LF, CR LF,
// a lone CR, or a vertical tab) separate rows; a field that begins with a double quote is
// quoted (doubled quotes stand for one, separators inside the quotes are text, and a line end
// there becomes one LF of the cell, so cells never hold a CR); most other control characters
// are dropped, and separators alone create no cells. Rows are padded to the widest row.
//
// Storage is compact: the parse works in place on the decoded text, dropping characters and
// moving each cell's text left, so that every cell is a range of one UTF-16 buffer. One offset
// list holds where each cell starts, another where each row's cells start. Padding is never
// stored: a field beyond a row's own cells reads as the empty string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "csv/offset_list.h"
#include "platform/stream.h"
#include "text/encode_detect.h"
#include "text/page_buffer.h"
#include "text/string_utility.h"

namespace qm {

// How a loaded file was decoded.
struct TCsvLoadInfo {
    TDetectedEncoding encoding = deNone;
    TCodePage codePage = kNoCodePage;
};

// How a load goes through a file: in pieces of pieceBytes, decoded on a second thread while the
// calling thread reads the next piece and splits the text decoded so far (parallel), or all on
// the calling thread. Either way gives the same table; the defaults suit every file, and tests
// set small pieces to put many seams between pieces into small inputs.
struct TCsvLoadPieces {
    std::size_t pieceBytes = std::size_t{4} << 20;
    bool parallel = true;
};

class TCsv {
  public:
    TCsv();
    ~TCsv();
    TCsv(const TCsv&) = delete;
    TCsv& operator=(const TCsv&) = delete;

    // Reads the file whole, detects its encoding, decodes and parses it. False on any failure
    // (missing, unreadable, out of memory) and when the table is already loaded; never throws.
    // When info is given and the file was read, it receives the detection verdict and code page.
    bool LoadFromFile(const std::u16string& path, TCsvLoadInfo* info = nullptr) noexcept;
    // The same for a stream, read from its start.
    bool LoadFromStream(TStream& stream, TCsvLoadInfo* info = nullptr,
                        const TCsvLoadPieces& pieces = {}) noexcept;

    // Parses decoded text into the table. False, with nothing changed, when the table is not
    // empty. The text is taken by value and becomes the table's storage: move it in to avoid
    // a copy. Throws std::length_error for a text of 2^32 or more code units.
    bool Parse(std::u16string text);

    void Clear() noexcept;
    bool IsEmpty() const noexcept;
    std::uint32_t GetRowCount() const noexcept { return rowCount_; }
    std::uint32_t GetFieldCount() const noexcept { return fieldCount_; }

    // The cell's text; the empty string outside the table.
    std::u16string GetCell(std::uint32_t row, std::uint32_t field) const;
    // The same without a copy; valid until the table is cleared or destroyed.
    std::u16string_view GetCellView(std::uint32_t row, std::uint32_t field) const noexcept;

  private:
    // Takes the parse's result as the table's; text holds the cells' texts.
    void Adopt(const char16_t* text, std::size_t length, std::uint32_t fieldCount,
               TOffsetList& cellStarts, TOffsetList& rowFirstCell);

    std::uint32_t rowCount_ = 0;
    std::uint32_t fieldCount_ = 0;
    // The cells' texts, back to back, in text_ or in pages_ (a loaded file's).
    const char16_t* cells_ = nullptr;
    std::u16string text_;
    TPageBuffer pages_;
    // Start of each cell in text_, row by row, plus one entry for the end of the last cell.
    TOffsetList cellStarts_;
    // Index in cellStarts_ of each row's first cell, plus one entry for the end.
    TOffsetList rowFirstCell_;
};

}  // namespace qm
