#include "targets/xls/cfb_file.h"

#include <algorithm>
#include <cstring>

#include "platform/error.h"
#include "platform/little_endian.h"

namespace qm::xls {

namespace {

constexpr std::string_view kSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr std::uint32_t kHeaderDifatEntries = 109;
constexpr std::size_t kEntrySize = 128;

// Directory names compare as the format orders them: by length, then by upper-cased code
// units (simple case mapping of the Latin letters suffices for stream names we look up).
char16_t UpperCase(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
    return c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperCase(a[i]) != UpperCase(b[i])) return false;
    return true;
}

}  // namespace

bool IsCompoundFile(std::string_view head) {
    return head.size() >= kSignature.size() && head.substr(0, kSignature.size()) == kSignature;
}

void TCompoundFile::Fail(std::u16string_view reason) const {
    throw Error(u"ブックが壊れているため読めません（複合ファイルの" + std::u16string(reason) +
                u"）。\n" + FileName());
}

TCompoundFile::TCompoundFile(std::shared_ptr<const TByteSource> source)
    : source_(std::move(source)) {
    ReadHeader();
    ReadFat();
    ReadDirectory();
    ReadMiniFat();
}

void TCompoundFile::ReadHeader() {
    if (source_->Size() < header_.size())
        throw Error(u"このファイルは Excel ブックではないか、壊れています（短すぎます）。\n" +
                    FileName());
    source_->ReadAt(0, header_.data(), header_.size());
    if (!IsCompoundFile(std::string_view(reinterpret_cast<const char*>(header_.data()), 8)))
        throw Error(u"このファイルは Excel 97-2003 形式のブック（.xls）ではありません。\n" +
                    FileName());
    const std::uint8_t* h = header_.data();
    majorVersion_ = ReadU16(h + 26);
    std::uint16_t byteOrder = ReadU16(h + 28);
    std::uint16_t sectorShift = ReadU16(h + 30);
    std::uint16_t miniShift = ReadU16(h + 32);
    if (byteOrder != 0xFFFE) Fail(u"バイト順の印が不正です");
    if (!((majorVersion_ == 3 && sectorShift == 9) || (majorVersion_ == 4 && sectorShift == 12)))
        Fail(u"版またはセクターの大きさが不正です");
    if (miniShift != 6) Fail(u"ミニセクターの大きさが不正です");
    sectorSize_ = 1u << sectorShift;
    miniSectorSize_ = 1u << miniShift;
    miniCutoff_ = ReadU32(h + 56);
    if (miniCutoff_ != 4096) Fail(u"ミニストリームの境界値が不正です");
    std::uint64_t size = source_->Size();
    if (size <= sectorSize_) Fail(u"セクターがありません");
    std::uint64_t sectors = (size - sectorSize_ + sectorSize_ - 1) / sectorSize_;
    sectorCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, kMaxRegularSector));
}

void TCompoundFile::ReadFat() {
    const std::uint8_t* h = header_.data();
    std::uint32_t fatCount = ReadU32(h + 44);
    std::uint32_t difatStart = ReadU32(h + 68);
    std::uint32_t difatCount = ReadU32(h + 72);
    if (fatCount == 0 || fatCount > sectorCount_) Fail(u"FAT の数が不正です");
    if (difatCount > sectorCount_) Fail(u"DIFAT の数が不正です");
    for (std::uint32_t i = 0; i < kHeaderDifatEntries && fatSectors_.size() < fatCount; ++i)
        fatSectors_.push_back(ReadU32(h + 76 + 4 * i));
    // The DIFAT sectors continue the list: 127 entries (v3) and a link to the next one.
    std::uint32_t perDifat = sectorSize_ / 4 - 1;
    std::vector<std::uint8_t> buffer(sectorSize_);
    std::vector<bool> seen(sectorCount_, false);
    std::uint32_t next = difatStart;
    while (fatSectors_.size() < fatCount) {
        if (next >= sectorCount_ || seen[next]) Fail(u"DIFAT の連鎖が不正です");
        seen[next] = true;
        difatSectors_.push_back(next);
        source_->ReadAt(SectorOffset(next), buffer.data(), sectorSize_);
        for (std::uint32_t i = 0; i < perDifat && fatSectors_.size() < fatCount; ++i)
            fatSectors_.push_back(ReadU32(buffer.data() + 4 * i));
        next = ReadU32(buffer.data() + 4 * perDifat);
    }
    fat_.resize(static_cast<std::size_t>(fatCount) * (sectorSize_ / 4));
    std::vector<bool> used(sectorCount_, false);
    for (std::uint32_t i = 0; i < fatCount; ++i) {
        std::uint32_t sector = fatSectors_[i];
        if (sector >= sectorCount_ || used[sector]) Fail(u"FAT のセクター番号が不正です");
        used[sector] = true;
        source_->ReadAt(SectorOffset(sector), buffer.data(), sectorSize_);
        for (std::uint32_t j = 0; j < sectorSize_ / 4; ++j)
            fat_[static_cast<std::size_t>(i) * (sectorSize_ / 4) + j] =
                ReadU32(buffer.data() + 4 * j);
    }
}

std::vector<std::uint32_t> TCompoundFile::Chain(std::uint32_t start, std::uint64_t limit,
                                                const std::vector<std::uint32_t>& table,
                                                std::uint32_t count,
                                                std::u16string_view what) const {
    std::vector<std::uint32_t> chain;
    std::vector<bool> seen(std::min<std::size_t>(table.size(), count), false);
    std::uint32_t sector = start;
    while (chain.size() < limit) {
        if (sector == kEndOfChain) break;
        if (sector >= seen.size() || seen[sector])
            Fail(std::u16string(what) + u"のセクターの連鎖が不正です");
        seen[sector] = true;
        chain.push_back(sector);
        sector = table[sector];
    }
    return chain;
}

void TCompoundFile::ReadDirectory() {
    std::uint32_t start = ReadU32(header_.data() + 48);
    std::vector<std::uint32_t> sectors =
        Chain(start, sectorCount_, fat_, sectorCount_, u"ディレクトリ");
    if (sectors.empty()) Fail(u"ディレクトリがありません");
    std::vector<std::uint8_t> buffer(sectorSize_);
    for (std::uint32_t sector : sectors) {
        source_->ReadAt(SectorOffset(sector), buffer.data(), sectorSize_);
        for (std::size_t at = 0; at + kEntrySize <= sectorSize_; at += kEntrySize) {
            TDirectoryEntry entry;
            std::memcpy(entry.Raw.data(), buffer.data() + at, kEntrySize);
            const std::uint8_t* e = entry.Raw.data();
            std::uint16_t nameBytes = ReadU16(e + 64);
            std::uint8_t type = e[66];
            if (type == 1 || type == 2 || type == 5) {
                entry.Type = static_cast<TEntryType>(type);
                if (nameBytes > 64 || nameBytes % 2 != 0) Fail(u"ディレクトリの名前が不正です");
                for (std::uint16_t i = 0; i + 2 < nameBytes; i += 2)
                    entry.Name += static_cast<char16_t>(ReadU16(e + i));
            }
            entry.Left = ReadU32(e + 68);
            entry.Right = ReadU32(e + 72);
            entry.Child = ReadU32(e + 76);
            entry.StartSector = ReadU32(e + 116);
            entry.Size = ReadU64(e + 120);
            // Version 3 files keep the size in 32 bits; some writers leave garbage above.
            if (majorVersion_ == 3) entry.Size &= 0xFFFFFFFFu;
            directory_.push_back(std::move(entry));
        }
    }
    if (directory_[0].Type != TEntryType::Root) Fail(u"ルートの項目がありません");
}

void TCompoundFile::ReadMiniFat() {
    std::uint32_t start = ReadU32(header_.data() + 60);
    std::uint32_t count = ReadU32(header_.data() + 64);
    if (start == kEndOfChain || count == 0) return;
    std::vector<std::uint32_t> sectors = Chain(start, count, fat_, sectorCount_, u"ミニ FAT");
    std::vector<std::uint8_t> buffer(sectorSize_);
    for (std::uint32_t sector : sectors) {
        source_->ReadAt(SectorOffset(sector), buffer.data(), sectorSize_);
        for (std::uint32_t j = 0; j < sectorSize_ / 4; ++j)
            miniFat_.push_back(ReadU32(buffer.data() + 4 * j));
    }
}

std::vector<std::uint32_t> TCompoundFile::RootChildren() const {
    std::vector<std::uint32_t> children;
    std::vector<bool> seen(directory_.size(), false);
    // An explicit stack: a damaged tree may be as deep as the directory is long.
    std::vector<std::uint32_t> stack;
    std::uint32_t node = directory_[0].Child;
    while (node != kNoStream || !stack.empty()) {
        while (node != kNoStream) {
            if (node >= directory_.size() || seen[node]) Fail(u"ディレクトリの木が不正です");
            seen[node] = true;
            stack.push_back(node);
            node = directory_[node].Left;
        }
        node = stack.back();
        stack.pop_back();
        children.push_back(node);
        node = directory_[node].Right;
    }
    return children;
}

int TCompoundFile::FindRootStream(std::u16string_view name) const {
    for (std::uint32_t child : RootChildren()) {
        const TDirectoryEntry& entry = directory_[child];
        if (entry.Type == TEntryType::Stream && SameName(entry.Name, name))
            return static_cast<int>(child);
    }
    return -1;
}

std::string TCompoundFile::ReadStream(std::uint32_t index) const {
    if (index >= directory_.size()) Fail(u"ストリームの番号が不正です");
    const TDirectoryEntry& entry = directory_[index];
    if (entry.Type != TEntryType::Stream && entry.Type != TEntryType::Root)
        Fail(u"ストリームではない項目です");
    std::uint64_t size = entry.Size;
    if (size == 0) return {};
    if (entry.Type == TEntryType::Stream && size < miniCutoff_) {
        // A small stream lives in 64-byte sectors of the root's mini stream.
        std::uint64_t needed = (size + miniSectorSize_ - 1) / miniSectorSize_;
        std::string mini = ReadStream(0);
        std::uint32_t miniCount = static_cast<std::uint32_t>(mini.size() / miniSectorSize_);
        std::vector<std::uint32_t> chain =
            Chain(entry.StartSector, needed, miniFat_, miniCount, u"ミニストリーム");
        if (chain.size() < needed) Fail(u"ミニストリームが途中で終わっています");
        std::string data;
        data.reserve(static_cast<std::size_t>(size));
        for (std::uint32_t sector : chain) {
            std::size_t take = static_cast<std::size_t>(
                std::min<std::uint64_t>(miniSectorSize_, size - data.size()));
            data.append(mini, static_cast<std::size_t>(sector) * miniSectorSize_, take);
        }
        return data;
    }
    if (size > source_->Size()) Fail(u"ストリームの大きさが不正です");
    std::uint64_t needed = (size + sectorSize_ - 1) / sectorSize_;
    std::vector<std::uint32_t> chain =
        Chain(entry.StartSector, needed, fat_, sectorCount_,
              entry.Type == TEntryType::Root ? u"ミニストリーム" : u"ストリーム");
    if (chain.size() < needed) Fail(u"ストリームが途中で終わっています");
    std::string data(static_cast<std::size_t>(size), '\0');
    // Neighbouring sectors are read together: a big workbook is mostly one contiguous run.
    std::uint64_t done = 0;
    for (std::size_t i = 0; i < chain.size();) {
        std::size_t run = 1;
        while (i + run < chain.size() && chain[i + run] == chain[i] + run)
            ++run;
        std::uint64_t bytes = std::min<std::uint64_t>(run * sectorSize_, size - done);
        if (SectorOffset(chain[i]) + bytes > source_->Size())
            Fail(u"ストリームがファイルの終わりを越えています");
        source_->ReadAt(SectorOffset(chain[i]), data.data() + done,
                        static_cast<std::size_t>(bytes));
        done += bytes;
        i += run;
    }
    return data;
}

}  // namespace qm::xls
