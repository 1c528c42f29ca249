// Writing a zip archive entry by entry: entries of the old archive copied byte for byte, and
// new or changed entries given as raw deflate data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "targets/xlsx/zip_archive.h"

namespace qm::xlsx {

class TZipWriter {
  public:
    // turn: called after every megabyte written (the user interface's turn; it may throw to
    // stop the writing).
    explicit TZipWriter(TAtomicFile& out, std::function<void()> turn = {})
        : out_(out), turn_(std::move(turn)) {}

    // Copies the entry's local record and central record unchanged (only the record's offset
    // is updated).
    void CopyEntry(const TZipArchive& archive, const TZipEntry& entry);
    // Writes an entry that takes the name, times and attributes of 'like' with new content:
    // 'pieces' are consecutive raw deflate data that together form one stream.
    void AddDeflatedEntry(const TZipEntry& like, const std::vector<std::string_view>& pieces,
                          std::uint32_t crc, std::uint64_t uncompressedSize);
    // Writes the central directory and the end record.
    void Finish();

  private:
    void Write(std::string_view bytes);

    TAtomicFile& out_;
    std::function<void()> turn_;
    std::string directory_;
    std::uint64_t count_ = 0;
};

// Raw deflate (no zlib header) into a string. Several compressors whose outputs were each
// ended with Flush(false) and the last with Flush(true) concatenate into one valid stream.
class TDeflater {
  public:
    explicit TDeflater(int level);
    ~TDeflater();
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;

    // Before the first Add: continues a stream whose content so far ends with 'dictionary'
    // (its last 32 KB are used) and whose data ends with 'bitCount' (0..7) bits that do not
    // fill a byte, given in the low bits of 'bits'.
    void Continue(std::string_view dictionary, int bitCount, unsigned bits);
    void Add(std::string_view data);
    // final: ends the stream; otherwise ends the segment on a byte boundary (sync flush).
    void Flush(bool final);
    // The compressed data so far, in consecutive pieces of a few megabytes: one string growing
    // to the size of a million-row sheet would be copied whole each time it outgrew its memory.
    const std::vector<std::string>& Output() const noexcept { return output_; }
    std::vector<std::string> TakeOutput() noexcept { return std::move(output_); }
    std::uint32_t Crc() const noexcept { return crc_; }
    std::uint64_t InputSize() const noexcept { return inputSize_; }

  private:
    void Run(int flush);
    void* stream_;
    std::vector<std::string> output_;
    std::uint32_t crc_ = 0;
    std::uint64_t inputSize_ = 0;
};

// The CRC-32 of two pieces from theirs.
std::uint32_t CombineCrc(std::uint32_t first, std::uint32_t second, std::uint64_t secondSize);

}  // namespace qm::xlsx
