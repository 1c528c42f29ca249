#include "targets/xlsx/zip_archive.h"

#include <algorithm>
#include <cstring>

#include "platform/error.h"
#include "platform/little_endian.h"
#include "text/unicode.h"

namespace qm::xlsx {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::size_t kMaxEntries = 1000000;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

TZipArchive::TZipArchive(std::shared_ptr<const TByteSource> source) : source_(std::move(source)) {
    const TByteSource& src = *source_;
    const std::u16string& file = src.Name();
    std::uint64_t size = src.Size();
    if (size < 22) FailCorrupt(file, u"zip 形式ではありません");
    if (src.ReadString(0, 4) != std::string_view("PK\x03\x04", 4) &&
        src.ReadString(0, 4) != std::string_view("PK\x05\x06", 4))
        FailCorrupt(file, u"zip 形式ではありません");

    // The end record lies in the last 22 + 65535 bytes (its comment is at most 65535 long).
    std::uint64_t tailSize = std::min<std::uint64_t>(size, 22 + 65535);
    std::string tail = src.ReadString(size - tailSize, static_cast<std::size_t>(tailSize));
    std::size_t end = std::string::npos;
    for (std::size_t i = tail.size() - 22 + 1; i-- > 0;) {
        if (ReadU32(tail.data() + i) == kEndSignature &&
            i + 22 + ReadU16(tail.data() + i + 20) <= tail.size()) {
            end = i;
            break;
        }
    }
    if (end == std::string::npos)
        FailCorrupt(
            file,
            u"zip の終端レコードが見つかりません。ファイルが途中で切れている可能性があります");
    const char* e = tail.data() + end;
    std::uint64_t endOffset = size - tailSize + end;
    std::uint64_t count = ReadU16(e + 10);
    std::uint64_t directorySize = ReadU32(e + 12);
    std::uint64_t directoryOffset = ReadU32(e + 16);
    if (ReadU16(e + 4) != 0 || ReadU16(e + 6) != 0)
        FailCorrupt(file, u"分割された zip には対応していません");

    if ((count == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) &&
        endOffset >= 20) {
        std::string locator = src.ReadString(endOffset - 20, 20);
        if (ReadU32(locator.data()) == kZip64LocatorSignature) {
            std::uint64_t zip64End = ReadU64(locator.data() + 8);
            std::string record = src.ReadString(zip64End, 56);
            if (ReadU32(record.data()) != kZip64EndSignature)
                FailCorrupt(file, u"zip64 の終端レコードが壊れています");
            count = ReadU64(record.data() + 32);
            directorySize = ReadU64(record.data() + 40);
            directoryOffset = ReadU64(record.data() + 48);
        }
    }
    if (directoryOffset > size || directorySize > size - directoryOffset)
        FailCorrupt(file, u"zip の中央ディレクトリの位置が不正です");
    if (count > kMaxEntries || count * 46 > directorySize)
        FailCorrupt(file, u"zip の項目数が不正です");

    std::string directory =
        src.ReadString(directoryOffset, static_cast<std::size_t>(directorySize));
    std::size_t pos = 0;
    entries_.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t index = 0; index < count; ++index) {
        if (directory.size() - pos < 46 || ReadU32(directory.data() + pos) != kCentralSignature)
            FailCorrupt(file, u"zip の中央ディレクトリが壊れています");
        const char* c = directory.data() + pos;
        std::size_t nameLength = ReadU16(c + 28), extraLength = ReadU16(c + 30),
                    commentLength = ReadU16(c + 32);
        std::size_t recordLength = 46 + nameLength + extraLength + commentLength;
        if (directory.size() - pos < recordLength)
            FailCorrupt(file, u"zip の中央ディレクトリが壊れています");
        TZipEntry entry;
        entry.VersionMadeBy = ReadU16(c + 4);
        entry.Flags = ReadU16(c + 8);
        entry.Method = ReadU16(c + 10);
        entry.ModTime = ReadU16(c + 12);
        entry.ModDate = ReadU16(c + 14);
        entry.Crc32 = ReadU32(c + 16);
        entry.CompressedSize = ReadU32(c + 20);
        entry.UncompressedSize = ReadU32(c + 24);
        entry.ExternalAttributes = ReadU32(c + 38);
        entry.LocalHeaderOffset = ReadU32(c + 42);
        entry.Name.assign(c + 46, nameLength);
        entry.CentralRecord.assign(c, recordLength);

        // Zip64 extra field: the 64-bit values, present only for the fields that are full.
        std::size_t extra = 46 + nameLength;
        std::size_t extraEnd = extra + extraLength;
        while (extra + 4 <= extraEnd) {
            std::uint16_t id = ReadU16(c + extra), length = ReadU16(c + extra + 2);
            if (extra + 4 + length > extraEnd) break;
            if (id == 0x0001) {
                std::size_t field = extra + 4;
                std::size_t fieldEnd = field + length;
                auto take = [&](std::uint64_t& value) {
                    if (value != 0xFFFFFFFF) return;
                    if (field + 8 > fieldEnd)
                        FailCorrupt(file, u"zip64 の拡張フィールドが壊れています");
                    value = ReadU64(c + field);
                    field += 8;
                };
                take(entry.UncompressedSize);
                take(entry.CompressedSize);
                if (entry.LocalHeaderOffset == 0xFFFFFFFF) {
                    entry.Zip64OffsetPosition = field;
                    take(entry.LocalHeaderOffset);
                }
            }
            extra += 4 + length;
        }

        if (entry.Flags & 0x0001) FailCorrupt(file, u"暗号化された zip 項目には対応していません");
        if (entry.Method != 0 && entry.Method != 8)
            FailCorrupt(file, u"未対応の圧縮方式が使われています");
        if (entry.Method == 0 && entry.CompressedSize != entry.UncompressedSize)
            FailCorrupt(file, u"zip 項目のサイズが矛盾しています");

        // The local header: its own name and extra lengths decide where the data starts.
        if (entry.LocalHeaderOffset > directoryOffset ||
            directoryOffset - entry.LocalHeaderOffset < 30)
            FailCorrupt(file, u"zip 項目の位置が不正です");
        std::string local = src.ReadString(entry.LocalHeaderOffset, 30);
        if (ReadU32(local.data()) != kLocalSignature)
            FailCorrupt(file, u"zip 項目のヘッダーが壊れています");
        entry.DataOffset =
            entry.LocalHeaderOffset + 30 + ReadU16(local.data() + 26) + ReadU16(local.data() + 28);
        if (entry.DataOffset > directoryOffset ||
            entry.CompressedSize > directoryOffset - entry.DataOffset)
            FailCorrupt(file, u"zip 項目のデータがファイルの範囲を越えています");
        entry.RecordEnd = entry.DataOffset + entry.CompressedSize;
        if (entry.Flags & 0x0008) {
            // The data descriptor follows the data: CRC and sizes, with or without signature,
            // sizes in 8 bytes when the entry needed zip64.
            bool wide = entry.CompressedSize >= 0xFFFFFFFF ||
                        entry.UncompressedSize >= 0xFFFFFFFF ||
                        ReadU32(local.data() + 18) == 0xFFFFFFFF;
            std::uint64_t length = wide ? 20 : 12;
            if (directoryOffset - entry.RecordEnd >= 4 &&
                ReadU32(src.ReadString(entry.RecordEnd, 4).data()) == kDescriptorSignature)
                length += 4;
            if (directoryOffset - entry.RecordEnd < length)
                FailCorrupt(file, u"zip 項目のデータ記述子が壊れています");
            entry.RecordEnd += length;
        }
        entries_.push_back(std::move(entry));
        pos += recordLength;
    }
}

const TZipEntry* TZipArchive::Find(std::string_view name) const {
    if (!name.empty() && name.front() == '/') name.remove_prefix(1);
    for (const TZipEntry& entry : entries_) {
        std::string_view own = entry.Name;
        if (!own.empty() && own.front() == '/') own.remove_prefix(1);
        if (EqualsIgnoringCase(own, name)) return &entry;
    }
    return nullptr;
}

std::string TZipArchive::ReadAll(const TZipEntry& entry, std::uint64_t limit) const {
    if (entry.UncompressedSize > limit)
        FailCorrupt(source_->Name(), u"部品「" + Utf8ToUtf16(entry.Name) + u"」が大きすぎます");
    std::string out;
    out.resize(static_cast<std::size_t>(entry.UncompressedSize));
    TZipEntryReader reader(*this, entry);
    std::size_t filled = 0;
    for (;;) {
        if (filled == out.size()) {
            // The declared size is checked at the end; one more byte proves a lie.
            char probe;
            if (reader.Read(&probe, 1) != 0)
                FailCorrupt(source_->Name(),
                            u"部品「" + Utf8ToUtf16(entry.Name) + u"」のサイズが不正です");
            break;
        }
        std::size_t n = reader.Read(out.data() + filled, out.size() - filled);
        if (n == 0) break;
        filled += n;
    }
    return out;
}

TZipEntryReader::TZipEntryReader(const TZipArchive& archive, const TZipEntry& entry)
    : archive_(archive), entry_(entry) {
    if (entry.Method == 8) {
        if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) throw Error(u"メモリが足りません。");
        zInit_ = true;
    }
    crc_ = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
}

TZipEntryReader::~TZipEntryReader() {
    if (zInit_) inflateEnd(&z_);
}

void TZipEntryReader::Fail(std::u16string_view reason) const {
    FailCorrupt(archive_.Source().Name(),
                u"部品「" + Utf8ToUtf16(entry_.Name) + u"」の" + std::u16string(reason));
}

std::size_t TZipEntryReader::Read(char* out, std::size_t size) {
    if (finished_ || size == 0) return 0;
    std::size_t produced = 0;
    if (entry_.Method == 0) {
        std::uint64_t left = entry_.CompressedSize - compressedRead_;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, size));
        archive_.Source().ReadAt(entry_.DataOffset + compressedRead_, out, n);
        compressedRead_ += n;
        produced = n;
        if (compressedRead_ == entry_.CompressedSize && n < size) finished_ = true;
        if (n == 0) finished_ = true;
    } else {
        z_.next_out = reinterpret_cast<Bytef*>(out);
        z_.avail_out = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        while (z_.avail_out > 0) {
            if (z_.avail_in == 0) {
                std::uint64_t left = entry_.CompressedSize - compressedRead_;
                if (left == 0) Fail(u"圧縮データが途中で終わっています");
                std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, 256 * 1024));
                input_.resize(n);
                archive_.Source().ReadAt(entry_.DataOffset + compressedRead_, input_.data(), n);
                compressedRead_ += n;
                z_.next_in = reinterpret_cast<Bytef*>(input_.data());
                z_.avail_in = static_cast<uInt>(n);
            }
            int status = inflate(&z_, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                finished_ = true;
                break;
            }
            if (status != Z_OK && status != Z_BUF_ERROR) Fail(u"圧縮データが壊れています");
            if (status == Z_BUF_ERROR && z_.avail_in != 0) Fail(u"圧縮データが壊れています");
        }
        produced = size - z_.avail_out;
    }
    if (produced_ + produced > entry_.UncompressedSize) Fail(u"サイズが宣言と異なります");
    produced_ += produced;
    crc_ = static_cast<std::uint32_t>(
        crc32(crc_, reinterpret_cast<const Bytef*>(out), static_cast<uInt>(produced)));
    if (finished_) {
        if (produced_ != entry_.UncompressedSize) Fail(u"サイズが宣言と異なります");
        if (crc_ != entry_.Crc32) Fail(u"CRC が一致しません");
    }
    return produced;
}

}  // namespace qm::xlsx
