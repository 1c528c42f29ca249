#include "targets/xls/biff_reader.h"

#include "platform/error.h"
#include "platform/little_endian.h"

namespace qm::xls {

bool TRecordReader::Next(TRecord& record) {
    if (stream_.size() - position_ < 4) return false;
    const char* p = stream_.data() + position_;
    std::uint16_t id = ReadU16(p);
    std::uint16_t length = ReadU16(p + 2);
    if (id == 0 && length == 0) return false;  // the padding some writers leave after EOF
    if (stream_.size() - position_ - 4 < length)
        throw Error(
            u"ブックが壊れているため読めません（レコードがストリームの終わりを越えています）。\n" +
            file_);
    record.Id = id;
    record.Offset = static_cast<std::uint32_t>(position_);
    record.Body = stream_.substr(position_ + 4, length);
    position_ += 4u + length;
    return true;
}

std::uint16_t TRecordReader::PeekId() const {
    if (stream_.size() - position_ < 4) return 0;
    return ReadU16(stream_.data() + position_);
}

std::vector<std::string_view> BodyWithContinues(TRecordReader& reader, const TRecord& first) {
    std::vector<std::string_view> pieces{first.Body};
    TRecord next;
    while (reader.PeekId() == record::kContinue && reader.Next(next))
        pieces.push_back(next.Body);
    return pieces;
}

TBiffCursor::TBiffCursor(std::vector<std::string_view> pieces, const std::u16string& file)
    : pieces_(std::move(pieces)), file_(file) {}

void TBiffCursor::Fail() const {
    throw Error(u"ブックが壊れているため読めません（レコードの中身が途中で終わっています）。\n" +
                file_);
}

bool TBiffCursor::NextPiece() {
    while (piece_ < pieces_.size() && at_ >= pieces_[piece_].size()) {
        if (piece_ + 1 >= pieces_.size()) return false;
        ++piece_;
        at_ = 0;
    }
    return piece_ < pieces_.size();
}

bool TBiffCursor::AtEnd() {
    return !NextPiece();
}

std::uint8_t TBiffCursor::U8() {
    if (!NextPiece()) Fail();
    return static_cast<std::uint8_t>(pieces_[piece_][at_++]);
}

std::uint16_t TBiffCursor::U16() {
    std::uint16_t low = U8();
    return static_cast<std::uint16_t>(low | (U8() << 8));
}

std::uint32_t TBiffCursor::U32() {
    std::uint32_t low = U16();
    return low | (static_cast<std::uint32_t>(U16()) << 16);
}

void TBiffCursor::Skip(std::uint64_t count) {
    while (count > 0) {
        if (!NextPiece()) Fail();
        std::uint64_t take = std::min<std::uint64_t>(count, pieces_[piece_].size() - at_);
        at_ += static_cast<std::size_t>(take);
        count -= take;
    }
}

std::string TBiffCursor::Bytes(std::uint64_t count) {
    std::string bytes;
    while (count > 0) {
        if (!NextPiece()) Fail();
        std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, pieces_[piece_].size() - at_));
        bytes.append(pieces_[piece_].data() + at_, take);
        at_ += take;
        count -= take;
    }
    return bytes;
}

std::u16string TBiffCursor::Chars(std::uint32_t count, bool high) {
    std::u16string text;
    text.reserve(count);
    while (count > 0) {
        if (piece_ >= pieces_.size()) Fail();
        if (at_ >= pieces_[piece_].size()) {
            // The characters go on in the next piece, which first repeats the width flag.
            if (piece_ + 1 >= pieces_.size()) Fail();
            ++piece_;
            at_ = 0;
            if (pieces_[piece_].empty()) continue;
            high = (static_cast<std::uint8_t>(pieces_[piece_][at_++]) & 1) != 0;
            continue;
        }
        std::string_view piece = pieces_[piece_];
        std::size_t width = high ? 2 : 1;
        std::size_t available = (piece.size() - at_) / width;
        if (available == 0) Fail();  // half a character before the boundary
        std::size_t take = std::min<std::size_t>(available, count);
        const char* p = piece.data() + at_;
        for (std::size_t i = 0; i < take; ++i)
            text += high ? static_cast<char16_t>(ReadU16(p + 2 * i))
                         : static_cast<char16_t>(static_cast<std::uint8_t>(p[i]));
        at_ += take * width;
        count -= static_cast<std::uint32_t>(take);
    }
    return text;
}

std::u16string TBiffCursor::UnicodeString() {
    std::uint16_t count = U16();
    std::uint8_t flags = U8();
    return Chars(count, (flags & 1) != 0);
}

std::u16string TBiffCursor::ShortUnicodeString() {
    std::uint8_t count = U8();
    std::uint8_t flags = U8();
    return Chars(count, (flags & 1) != 0);
}

std::u16string TBiffCursor::RichExtendedString() {
    std::uint16_t count = U16();
    std::uint8_t flags = U8();
    std::uint16_t runs = (flags & 0x08) ? U16() : 0;
    std::uint32_t phonetic = (flags & 0x04) ? U32() : 0;
    std::u16string text = Chars(count, (flags & 1) != 0);
    Skip(4ull * runs);
    Skip(phonetic);
    return text;
}

}  // namespace qm::xls
