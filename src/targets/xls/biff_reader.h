// Records of a BIFF8 Workbook stream and the strings inside them.
//
// A record is a 16-bit id, a 16-bit length and its body. Bodies longer than 8,224 bytes go on
// in CONTINUE records; strings that cross into one restart there with a byte that gives the
// width of the remaining characters. Every read is checked against the stream and the record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::xls {

namespace record {
inline constexpr std::uint16_t kFormula = 0x0006;
inline constexpr std::uint16_t kEof = 0x000A;
inline constexpr std::uint16_t kProtect = 0x0012;
inline constexpr std::uint16_t kExternSheet = 0x0017;
inline constexpr std::uint16_t kName = 0x0018;
inline constexpr std::uint16_t kDateMode = 0x0022;
inline constexpr std::uint16_t kFilePass = 0x002F;
inline constexpr std::uint16_t kContinue = 0x003C;
inline constexpr std::uint16_t kCodePage = 0x0042;
inline constexpr std::uint16_t kBoundSheet = 0x0085;
inline constexpr std::uint16_t kMulRk = 0x00BD;
inline constexpr std::uint16_t kMulBlank = 0x00BE;
inline constexpr std::uint16_t kDbCell = 0x00D7;
inline constexpr std::uint16_t kRichString = 0x00D6;
inline constexpr std::uint16_t kExtSst = 0x00FF;
inline constexpr std::uint16_t kDefaultRowHeight = 0x0225;
inline constexpr std::uint16_t kSharedFormula = 0x04BC;
inline constexpr std::uint16_t kArray = 0x0221;
inline constexpr std::uint16_t kTable = 0x0236;
inline constexpr std::uint16_t kXf = 0x00E0;
inline constexpr std::uint16_t kSst = 0x00FC;
inline constexpr std::uint16_t kLabelSst = 0x00FD;
inline constexpr std::uint16_t kSupBook = 0x01AE;
inline constexpr std::uint16_t kDimensions = 0x0200;
inline constexpr std::uint16_t kBlank = 0x0201;
inline constexpr std::uint16_t kNumber = 0x0203;
inline constexpr std::uint16_t kLabel = 0x0204;
inline constexpr std::uint16_t kBoolErr = 0x0205;
inline constexpr std::uint16_t kString = 0x0207;
inline constexpr std::uint16_t kRow = 0x0208;
inline constexpr std::uint16_t kIndex = 0x020B;
inline constexpr std::uint16_t kRk = 0x027E;
inline constexpr std::uint16_t kFormat = 0x041E;
inline constexpr std::uint16_t kBof = 0x0809;
}  // namespace record

// The records that hold one cell (or a run of cells) of a worksheet.
inline bool IsCellRecord(std::uint16_t id) {
    switch (id) {
        case record::kNumber:
        case record::kRk:
        case record::kMulRk:
        case record::kLabelSst:
        case record::kLabel:
        case record::kRichString:
        case record::kBoolErr:
        case record::kFormula:
        case record::kBlank:
        case record::kMulBlank:
            return true;
        default:
            return false;
    }
}

struct TRecord {
    std::uint16_t Id = 0;
    std::uint32_t Offset = 0;  // of the record header in the stream
    std::string_view Body;
};

// Walks the records of a stream from an offset. Throws Error (naming the file) when a record
// runs past the end of the stream.
class TRecordReader {
  public:
    TRecordReader(std::string_view stream, std::size_t offset, const std::u16string& file)
        : stream_(stream), position_(offset), file_(file) {}

    // The next record; false at the end of the stream or at the zero padding after the last
    // record.
    bool Next(TRecord& record);
    // The id of the record that Next would return, or 0 at the end.
    std::uint16_t PeekId() const;
    std::size_t Position() const noexcept { return position_; }

  private:
    std::string_view stream_;
    std::size_t position_;
    const std::u16string& file_;
};

// The body of a record and of the CONTINUE records that follow it.
std::vector<std::string_view> BodyWithContinues(TRecordReader& reader, const TRecord& first);

// Reads the pieces of a continued record as one sequence of bytes, except that character data
// crossing into a new piece starts with the width byte the format repeats there.
class TBiffCursor {
  public:
    TBiffCursor(std::vector<std::string_view> pieces, const std::u16string& file);
    explicit TBiffCursor(std::string_view body, const std::u16string& file)
        : TBiffCursor(std::vector<std::string_view>{body}, file) {}

    bool AtEnd();
    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    void Skip(std::uint64_t count);
    // 'count' raw bytes, which cross into the next piece without a width byte (formatting
    // runs and phonetic data of SST strings).
    std::string Bytes(std::uint64_t count);
    // 'count' characters, 16-bit when 'high', else 8-bit (the low byte of UTF-16).
    std::u16string Chars(std::uint32_t count, bool high);

    // XLUnicodeString (16-bit count), ShortXLUnicodeString (8-bit count) and
    // XLUnicodeRichExtendedString (the SST's strings; runs and phonetic data skipped).
    std::u16string UnicodeString();
    std::u16string ShortUnicodeString();
    std::u16string RichExtendedString();

  private:
    [[noreturn]] void Fail() const;
    bool NextPiece();

    std::vector<std::string_view> pieces_;
    std::size_t piece_ = 0;
    std::size_t at_ = 0;
    const std::u16string& file_;
};

}  // namespace qm::xls
