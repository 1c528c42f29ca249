// Changing the start and the end of a long deflate stream without compressing its middle again.
//
// Reading the stream once notes where each deflate block starts (a bit position in the
// compressed data, with the offset and CRC-32 of the content before it) and keeps the first
// and the last megabytes of the content. A changed stream is then made of three runs: the head
// compressed again with its changes, up to a block start far enough after the last change that
// no back-reference of a kept block (at most 32 KB back) reaches a changed byte; the old blocks
// from there copied as they are, shifted to start on a byte; and the end compressed again,
// continuing the old blocks' last bits with the 32 KB of content before it as dictionary. The
// CRC-32 of the kept content comes from those noted at the block starts.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "targets/xlsx/xml_reader.h"
#include "targets/xlsx/zip_archive.h"

namespace qm::xlsx {

struct TBlockStart {
    std::uint64_t Bit = 0;     // position in the compressed data
    std::uint64_t Offset = 0;  // of the content
    std::uint32_t Crc = 0;     // CRC-32 of the content before Offset
    // The block is stored (type 0): its data starts on the next byte boundary, so that it
    // cannot be moved by a number of bits that is not a multiple of 8.
    bool Stored = false;
};

// What one reading of a zip entry's raw deflate stream noted.
struct TStreamMap {
    std::vector<TBlockStart> Blocks;  // in stream order, the first at bit 0
    std::string Head;                 // content [0, Head.size())
    std::uint64_t TailOffset = 0;     // content [TailOffset, TailOffset + Tail.size())
    std::string Tail;
    std::uint64_t Size = 0;
    bool Complete = false;  // read to its end, size and CRC-32 checked

    // Content [from, to) when it lies in Head or in Tail; false otherwise.
    bool Content(std::uint64_t from, std::uint64_t to, std::string_view& out) const;
};

// The XML reader's input from a deflated zip entry that fills a TStreamMap as it inflates.
// A second thread inflates a few megabytes ahead of the reader, so that inflating and reading
// share the two cores; the map is complete once Read has returned 0.
class TMappingZipInput : public TXmlInput {
  public:
    // The entry must be deflated (method 8); 'map' must outlive the input.
    TMappingZipInput(const TZipArchive& archive, const TZipEntry& entry, TStreamMap& map);
    ~TMappingZipInput() override;
    TMappingZipInput(const TMappingZipInput&) = delete;
    TMappingZipInput& operator=(const TMappingZipInput&) = delete;

    // Throws what the inflating thread met (a damaged stream, a failed read).
    std::size_t Read(char* out, std::size_t size) override;

  private:
    void Inflate();  // the inflating thread
    std::size_t InflateInto(char* out, std::size_t size);
    void Keep(const char* data, std::size_t size);
    bool StoredBlockAt(std::uint64_t bit);
    [[noreturn]] void Fail(std::u16string_view reason) const;
    void Stop() noexcept;

    const TZipArchive& archive_;
    const TZipEntry& entry_;
    TStreamMap& map_;
    z_stream z_{};
    std::string input_;
    std::uint64_t compressedRead_ = 0;
    std::uint32_t crc_ = 0;
    bool finished_ = false;

    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> ready_;  // inflated, not yet read
    std::vector<std::string> spare_;
    bool done_ = false, stop_ = false;
    std::exception_ptr error_;
    std::string current_;  // being read
    std::size_t currentUsed_ = 0;
};

// The old blocks a changed stream keeps: from Keep up to (not including) Resume.
struct TSplicePlan {
    TBlockStart Keep, Resume;
};

// Chooses the blocks to keep when the content changes before 'headEnd' and from 'tailStart'
// on (content offsets of the old stream); false when no block can be kept.
bool PlanSplice(const TStreamMap& map, std::uint64_t headEnd, std::uint64_t tailStart,
                TSplicePlan& plan);

// The kept blocks' compressed data shifted to start on a byte: whole bytes in Pieces, the
// LastBitCount (0..7) bits that end it in LastBits; with the CRC-32 and size of their content.
struct TKeptBlocks {
    std::vector<std::string> Pieces;
    int LastBitCount = 0;
    unsigned LastBits = 0;
    std::uint32_t Crc = 0;
    std::uint64_t Size = 0;
};

// Reads the kept blocks from the entry's data. turn: called after every few megabytes (it may
// throw to stop).
TKeptBlocks CopyKeptBlocks(const TZipArchive& archive, const TZipEntry& entry,
                           const TSplicePlan& plan, const std::function<void()>& turn);

// The CRC-32 of the content between two block starts.
std::uint32_t CrcBetween(const TBlockStart& from, const TBlockStart& to);

}  // namespace qm::xlsx
