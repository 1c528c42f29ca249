#include "targets/xlsx/zip_writer.h"

#include <zlib.h>

#include <algorithm>

#include "platform/error.h"
#include "platform/little_endian.h"
#include "text/unicode.h"

namespace qm::xlsx {

namespace {

[[noreturn]] void TooLarge() {
    throw Error(
        u"ブックが大きすぎるため書き込めません（4 GB を超える zip には対応していません）。");
}

}  // namespace

void TZipWriter::CopyEntry(const TZipArchive& archive, const TZipEntry& entry) {
    std::uint64_t offset = out_.Size();
    std::string record = entry.CentralRecord;
    if (entry.Zip64OffsetPosition) {
        SetU64(record, entry.Zip64OffsetPosition, offset);
    } else {
        if (offset >= 0xFFFFFFFFu) TooLarge();
        SetU32(record, 42, static_cast<std::uint32_t>(offset));
    }
    std::uint64_t at = entry.LocalHeaderOffset;
    std::string buffer;
    while (at < entry.RecordEnd) {
        std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(entry.RecordEnd - at, 1u << 20));
        buffer.resize(n);
        archive.Source().ReadAt(at, buffer.data(), n);
        out_.Write(buffer);
        at += n;
        if (turn_) turn_();
    }
    directory_ += record;
    ++count_;
}

void TZipWriter::AddDeflatedEntry(const TZipEntry& like,
                                  const std::vector<std::string_view>& pieces, std::uint32_t crc,
                                  std::uint64_t uncompressedSize) {
    std::uint64_t compressed = 0;
    for (std::string_view piece : pieces)
        compressed += piece.size();
    std::uint64_t offset = out_.Size();
    if (compressed >= 0xFFFFFFFFu || uncompressedSize >= 0xFFFFFFFFu || offset >= 0xFFFFFFFFu)
        TooLarge();
    std::uint16_t flags = like.Flags & 0x0800;  // keep only "name is UTF-8"
    std::string header;
    PutU32(header, 0x04034b50);
    PutU16(header, 20);
    PutU16(header, flags);
    PutU16(header, 8);
    PutU16(header, like.ModTime);
    PutU16(header, like.ModDate);
    PutU32(header, crc);
    PutU32(header, static_cast<std::uint32_t>(compressed));
    PutU32(header, static_cast<std::uint32_t>(uncompressedSize));
    PutU16(header, static_cast<std::uint32_t>(like.Name.size()));
    PutU16(header, 0);
    header += like.Name;
    out_.Write(header);
    for (std::string_view piece : pieces)
        Write(piece);

    std::string& c = directory_;
    PutU32(c, 0x02014b50);
    PutU16(c, like.VersionMadeBy);
    PutU16(c, 20);
    PutU16(c, flags);
    PutU16(c, 8);
    PutU16(c, like.ModTime);
    PutU16(c, like.ModDate);
    PutU32(c, crc);
    PutU32(c, static_cast<std::uint32_t>(compressed));
    PutU32(c, static_cast<std::uint32_t>(uncompressedSize));
    PutU16(c, static_cast<std::uint32_t>(like.Name.size()));
    PutU16(c, 0);
    PutU16(c, 0);
    PutU16(c, 0);
    PutU16(c, 0);
    PutU32(c, like.ExternalAttributes);
    PutU32(c, static_cast<std::uint32_t>(offset));
    c += like.Name;
    ++count_;
}

void TZipWriter::Write(std::string_view bytes) {
    constexpr std::size_t kSlice = 1u << 20;
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), kSlice);
        out_.Write(bytes.substr(0, n));
        bytes.remove_prefix(n);
        if (turn_) turn_();
    }
}

void TZipWriter::Finish() {
    std::uint64_t offset = out_.Size();
    if (offset >= 0xFFFFFFFFu || directory_.size() >= 0xFFFFFFFFu || count_ > 0xFFFF) TooLarge();
    out_.Write(directory_);
    std::string end;
    PutU32(end, 0x06054b50);
    PutU16(end, 0);
    PutU16(end, 0);
    PutU16(end, static_cast<std::uint32_t>(count_));
    PutU16(end, static_cast<std::uint32_t>(count_));
    PutU32(end, static_cast<std::uint32_t>(directory_.size()));
    PutU32(end, static_cast<std::uint32_t>(offset));
    PutU16(end, 0);
    out_.Write(end);
}

TDeflater::TDeflater(int level) {
    auto* z = new z_stream{};
    if (deflateInit2(z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete z;
        throw Error(u"メモリが足りません。");
    }
    stream_ = z;
    crc_ = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
}

TDeflater::~TDeflater() {
    auto* z = static_cast<z_stream*>(stream_);
    deflateEnd(z);
    delete z;
}

void TDeflater::Run(int flush) {
    auto* z = static_cast<z_stream*>(stream_);
    constexpr std::size_t kPiece = 4u << 20;
    for (;;) {
        if (output_.empty() || output_.back().size() >= kPiece) output_.emplace_back();
        std::string& out = output_.back();
        std::size_t before = out.size();
        std::size_t room =
            std::min<std::size_t>(std::max<std::size_t>(64 * 1024, z->avail_in / 2 + 1024), kPiece);
        out.resize(before + room);
        z->next_out = reinterpret_cast<Bytef*>(out.data() + before);
        z->avail_out = static_cast<uInt>(room);
        int status = deflate(z, flush);
        out.resize(before + room - z->avail_out);
        if (status == Z_STREAM_ERROR) throw Error(u"データを圧縮できません。");
        if (z->avail_out != 0 && z->avail_in == 0) {
            if (flush != Z_FINISH || status == Z_STREAM_END) return;
        }
    }
}

void TDeflater::Continue(std::string_view dictionary, int bitCount, unsigned bits) {
    auto* z = static_cast<z_stream*>(stream_);
    if (dictionary.size() > 32768) dictionary.remove_prefix(dictionary.size() - 32768);
    if (deflateSetDictionary(z, reinterpret_cast<const Bytef*>(dictionary.data()),
                             static_cast<uInt>(dictionary.size())) != Z_OK ||
        (bitCount > 0 && deflatePrime(z, bitCount, static_cast<int>(bits)) != Z_OK))
        throw Error(u"データを圧縮できません。");
}

void TDeflater::Add(std::string_view data) {
    if (data.empty()) return;
    auto* z = static_cast<z_stream*>(stream_);
    crc_ = static_cast<std::uint32_t>(
        crc32_z(crc_, reinterpret_cast<const Bytef*>(data.data()), data.size()));
    inputSize_ += data.size();
    while (!data.empty()) {
        std::size_t n = std::min<std::size_t>(data.size(), 1u << 30);
        z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z->avail_in = static_cast<uInt>(n);
        Run(Z_NO_FLUSH);
        data.remove_prefix(n);
    }
}

void TDeflater::Flush(bool final) {
    auto* z = static_cast<z_stream*>(stream_);
    z->next_in = nullptr;
    z->avail_in = 0;
    Run(final ? Z_FINISH : Z_SYNC_FLUSH);
}

std::uint32_t CombineCrc(std::uint32_t first, std::uint32_t second, std::uint64_t secondSize) {
    return static_cast<std::uint32_t>(
        crc32_combine64(first, second, static_cast<z_off64_t>(secondSize)));
}

}  // namespace qm::xlsx
