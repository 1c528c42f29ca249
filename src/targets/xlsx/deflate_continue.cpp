#include "targets/xlsx/deflate_continue.h"

#include <algorithm>
#include <cstring>

#include "platform/error.h"
#include "text/unicode.h"

namespace qm::xlsx {

namespace {

// The farthest a deflate back-reference reaches.
constexpr std::uint64_t kWindow = 32768;
// The first megabytes are kept for the change of the head (a <dimension> lies in the first
// kilobyte; the first block start 32 KB after it lies within a block or two).
constexpr std::uint64_t kHeadKeep = 4u << 20;
// The last megabytes, for the end.
constexpr std::size_t kTailKeep = 8u << 20;
constexpr std::size_t kCopyPiece = 4u << 20;
// What the inflating thread hands over at a time, and how many it may have waiting.
constexpr std::size_t kChunk = 1u << 20;
constexpr std::size_t kChunksAhead = 4;

}  // namespace

bool TStreamMap::Content(std::uint64_t from, std::uint64_t to, std::string_view& out) const {
    if (from > to) return false;
    if (to <= Head.size()) {
        out = std::string_view(Head).substr(static_cast<std::size_t>(from),
                                            static_cast<std::size_t>(to - from));
        return true;
    }
    if (from >= TailOffset && to - TailOffset <= Tail.size()) {
        out = std::string_view(Tail).substr(static_cast<std::size_t>(from - TailOffset),
                                            static_cast<std::size_t>(to - from));
        return true;
    }
    return false;
}

TMappingZipInput::TMappingZipInput(const TZipArchive& archive, const TZipEntry& entry,
                                   TStreamMap& map)
    : archive_(archive), entry_(entry), map_(map) {
    if (entry.Method != 8) throw Error(u"内部エラー: 圧縮されていない部品です。");
    if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) throw Error(u"メモリが足りません。");
    crc_ = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    map_ = TStreamMap();
    map_.Blocks.push_back({0, 0, crc_, false});
    try {
        worker_ = std::thread([this] { Inflate(); });
    } catch (...) {
        inflateEnd(&z_);
        throw;
    }
}

TMappingZipInput::~TMappingZipInput() {
    Stop();
    inflateEnd(&z_);
}

void TMappingZipInput::Stop() noexcept {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void TMappingZipInput::Inflate() {
    try {
        for (;;) {
            std::string chunk;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || ready_.size() < kChunksAhead; });
                if (stop_) return;
                if (!spare_.empty()) {
                    chunk = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            chunk.resize(kChunk);
            chunk.resize(InflateInto(chunk.data(), chunk.size()));
            std::lock_guard<std::mutex> lock(mutex_);
            if (!chunk.empty()) ready_.push_back(std::move(chunk));
            if (finished_) done_ = true;
            changed_.notify_all();
            if (done_) return;
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = std::current_exception();
        done_ = true;
        changed_.notify_all();
    }
}

std::size_t TMappingZipInput::Read(char* out, std::size_t size) {
    std::size_t given = 0;
    while (given < size) {
        if (currentUsed_ == current_.size()) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!current_.empty()) spare_.push_back(std::move(current_));
            current_.clear();
            currentUsed_ = 0;
            changed_.notify_all();
            changed_.wait(lock, [&] { return !ready_.empty() || done_; });
            if (ready_.empty()) {
                std::exception_ptr error = error_;
                lock.unlock();
                if (worker_.joinable()) worker_.join();
                if (error) std::rethrow_exception(error);
                return given;
            }
            current_ = std::move(ready_.front());
            ready_.pop_front();
        }
        std::size_t n = std::min(size - given, current_.size() - currentUsed_);
        std::memcpy(out + given, current_.data() + currentUsed_, n);
        currentUsed_ += n;
        given += n;
    }
    return given;
}

void TMappingZipInput::Fail(std::u16string_view reason) const {
    FailCorrupt(archive_.Source().Name(),
                u"部品「" + Utf8ToUtf16(entry_.Name) + u"」の" + std::u16string(reason));
}

void TMappingZipInput::Keep(const char* data, std::size_t size) {
    std::uint64_t at = map_.Size;
    if (at < kHeadKeep)
        map_.Head.append(data,
                         static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeadKeep - at)));
    // The last kTailKeep bytes by the declared size (the stream may not outgrow it; one that
    // falls short fails at its end).
    const std::uint64_t from =
        entry_.UncompressedSize > kTailKeep ? entry_.UncompressedSize - kTailKeep : 0;
    if (at + size <= from) return;
    std::size_t skip = static_cast<std::size_t>(from > at ? from - at : 0);
    if (map_.Tail.empty()) map_.TailOffset = at + skip;
    map_.Tail.append(data + skip, size - skip);
}

bool TMappingZipInput::StoredBlockAt(std::uint64_t bit) {
    // The block header's type: bits 1 and 2 after 'bit', from the data read or from the file.
    const std::uint64_t first = bit / 8;
    const std::uint64_t bufferStart = compressedRead_ - input_.size();
    unsigned char bytes[2] = {0, 0};
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::uint64_t>(2, entry_.CompressedSize - std::min(entry_.CompressedSize, first)));
    for (std::size_t i = 0; i < n; ++i) {
        if (first + i >= bufferStart && first + i < compressedRead_)
            bytes[i] = static_cast<unsigned char>(input_[first + i - bufferStart]);
        else
            archive_.Source().ReadAt(entry_.DataOffset + first + i, bytes + i, 1);
    }
    const unsigned header = (bytes[0] | (static_cast<unsigned>(bytes[1]) << 8)) >> (bit % 8);
    return ((header >> 1) & 3) == 0;
}

std::size_t TMappingZipInput::InflateInto(char* out, std::size_t size) {
    if (finished_ || size == 0) return 0;
    const std::size_t asked = std::min<std::size_t>(size, 1u << 30);
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(asked);
    while (z_.avail_out > 0) {
        // With all the data read, inflate may still hold the last bits of the stream.
        std::uint64_t left = entry_.CompressedSize - compressedRead_;
        if (z_.avail_in == 0 && left > 0) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, 256 * 1024));
            input_.resize(n);
            archive_.Source().ReadAt(entry_.DataOffset + compressedRead_, input_.data(), n);
            compressedRead_ += n;
            z_.next_in = reinterpret_cast<Bytef*>(input_.data());
            z_.avail_in = static_cast<uInt>(n);
        }
        // Z_BLOCK: inflate stops at every block start, where the position is noted.
        Bytef* before = z_.next_out;
        int status = inflate(&z_, Z_BLOCK);
        std::size_t produced = static_cast<std::size_t>(z_.next_out - before);
        if (produced > 0) {
            if (map_.Size + produced > entry_.UncompressedSize) Fail(u"サイズが宣言と異なります");
            crc_ = static_cast<std::uint32_t>(crc32_z(crc_, before, produced));
            Keep(reinterpret_cast<const char*>(before), produced);
            map_.Size += produced;
        }
        if (status == Z_STREAM_END) {
            finished_ = true;
            break;
        }
        if (status == Z_BUF_ERROR && z_.avail_in == 0 && left == 0)
            Fail(u"圧縮データが途中で終わっています");
        if (status != Z_OK && status != Z_BUF_ERROR) Fail(u"圧縮データが壊れています");
        if (status == Z_BUF_ERROR && z_.avail_in != 0) Fail(u"圧縮データが壊れています");
        // data_type: the unused bits of the last byte read, plus 128 at a block start.
        int bits = z_.data_type & 63;
        if ((z_.data_type & 128) && bits < 8) {
            std::uint64_t bit = (compressedRead_ - z_.avail_in) * 8 - static_cast<unsigned>(bits);
            if (map_.Blocks.back().Bit != bit)
                map_.Blocks.push_back({bit, map_.Size, crc_, StoredBlockAt(bit)});
        }
    }
    if (finished_) {
        if (map_.Size != entry_.UncompressedSize) Fail(u"サイズが宣言と異なります");
        if (crc_ != entry_.Crc32) Fail(u"CRC が一致しません");
        map_.Complete = true;
    }
    return asked - z_.avail_out;
}

bool PlanSplice(const TStreamMap& map, std::uint64_t headEnd, std::uint64_t tailStart,
                TSplicePlan& plan) {
    if (!map.Complete || headEnd > tailStart) return false;
    // The last block that starts before the tail's change.
    auto resume = std::find_if(map.Blocks.rbegin(), map.Blocks.rend(),
                               [&](const TBlockStart& b) { return b.Offset < tailStart; });
    if (resume == map.Blocks.rend()) return false;
    const std::size_t resumeAt = static_cast<std::size_t>(map.Blocks.rend() - resume) - 1;
    // A stored block pins the blocks from it on to their bit position modulo 8 (its data
    // starts on a byte boundary, and the head compressed again ends on one): blocks that start
    // within a byte are kept only up to the next stored block. Of the blocks far enough from
    // the head's change that none can refer to it, the start that keeps the most is chosen.
    const std::size_t count = map.Blocks.size();
    std::vector<std::size_t> nextStored(count + 1, count);
    for (std::size_t i = count; i-- > 0;)
        nextStored[i] = map.Blocks[i].Stored ? i : nextStored[i + 1];
    std::size_t keepAt = count, stopAt = count;
    std::uint64_t best = 0;
    for (std::size_t i = 0; i < resumeAt; ++i) {
        const TBlockStart& b = map.Blocks[i];
        if (b.Offset < headEnd + kWindow) continue;
        if (b.Offset > map.Head.size()) break;
        std::size_t stop = b.Bit % 8 == 0 ? resumeAt : std::min(resumeAt, nextStored[i]);
        std::string_view rest;
        if (stop <= i || map.Blocks[stop].Offset < kWindow ||
            !map.Content(map.Blocks[stop].Offset - kWindow, map.Size, rest))
            continue;
        if (map.Blocks[stop].Bit - b.Bit > best) {
            best = map.Blocks[stop].Bit - b.Bit;
            keepAt = i;
            stopAt = stop;
        }
    }
    if (best == 0) return false;
    plan.Keep = map.Blocks[keepAt];
    plan.Resume = map.Blocks[stopAt];
    return true;
}

std::uint32_t CrcBetween(const TBlockStart& from, const TBlockStart& to) {
    // CRC-32 is linear: crc(AB) = combine(crc(A), 0, |B|) ^ crc(B).
    return static_cast<std::uint32_t>(
        to.Crc ^ crc32_combine64(from.Crc, 0, static_cast<z_off64_t>(to.Offset - from.Offset)));
}

TKeptBlocks CopyKeptBlocks(const TZipArchive& archive, const TZipEntry& entry,
                           const TSplicePlan& plan, const std::function<void()>& turn) {
    const std::uint64_t fromBit = plan.Keep.Bit, toBit = plan.Resume.Bit;
    if (toBit < fromBit || (toBit + 7) / 8 > entry.CompressedSize)
        FailCorrupt(archive.Source().Name(), u"シートの部品が途中で変わりました");
    const unsigned shift = static_cast<unsigned>(fromBit % 8);
    const std::uint64_t firstByte = fromBit / 8, endByte = (toBit + 7) / 8;
    const std::uint64_t whole = (toBit - fromBit) / 8;
    TKeptBlocks kept;
    std::string input;
    // Output byte i is made of the input bits from fromBit + 8 i on: input bytes i and i + 1.
    for (std::uint64_t done = 0; done < whole;) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(whole - done, kCopyPiece));
        std::uint64_t inStart = firstByte + done;
        std::size_t inSize =
            static_cast<std::size_t>(std::min<std::uint64_t>(n + 1, endByte - inStart));
        input.resize(inSize);
        archive.Source().ReadAt(entry.DataOffset + inStart, input.data(), inSize);
        std::string piece(n, '\0');
        const auto* in = reinterpret_cast<const unsigned char*>(input.data());
        if (shift == 0) {
            std::copy(input.data(), input.data() + n, piece.data());
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                unsigned next = i + 1 < inSize ? in[i + 1] : 0u;
                piece[i] = static_cast<char>((in[i] >> shift) | (next << (8 - shift)));
            }
        }
        kept.Pieces.push_back(std::move(piece));
        done += n;
        if (turn) turn();
    }
    // The bits after the last whole byte.
    const std::uint64_t restBit = fromBit + whole * 8;
    kept.LastBitCount = static_cast<int>(toBit - restBit);
    if (kept.LastBitCount > 0) {
        std::uint64_t at = restBit / 8;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(2, endByte - at));
        unsigned char bytes[2] = {0, 0};
        archive.Source().ReadAt(entry.DataOffset + at, bytes, n);
        unsigned value = bytes[0] | (static_cast<unsigned>(bytes[1]) << 8);
        kept.LastBits = (value >> (restBit % 8)) & ((1u << kept.LastBitCount) - 1);
    }
    kept.Crc = CrcBetween(plan.Keep, plan.Resume);
    kept.Size = plan.Resume.Offset - plan.Keep.Offset;
    return kept;
}

}  // namespace qm::xlsx
