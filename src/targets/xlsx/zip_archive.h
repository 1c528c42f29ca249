// Reading a zip archive (the container of an Office Open XML package): the central directory,
// each entry's local record, and the entries' content, inflated with zlib. Every offset and
// length read from the file is checked against the file's size; inflated sizes are capped.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "targets/xlsx/byte_source.h"

namespace qm::xlsx {

struct TZipEntry {
    std::string Name;
    std::uint16_t VersionMadeBy = 0;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;  // 0 stored, 8 deflated
    std::uint16_t ModTime = 0;
    std::uint16_t ModDate = 0;
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint32_t ExternalAttributes = 0;
    // The entry's local record (header, data, data descriptor) is [LocalHeaderOffset,
    // RecordEnd); its compressed data starts at DataOffset.
    std::uint64_t LocalHeaderOffset = 0;
    std::uint64_t DataOffset = 0;
    std::uint64_t RecordEnd = 0;
    // The central directory record as stored, copied when the entry is copied.
    std::string CentralRecord;
    // Where in CentralRecord the 64-bit local header offset lies, when a zip64 extra field
    // carries it (0: the 32-bit field carries it).
    std::size_t Zip64OffsetPosition = 0;
};

class TZipArchive {
  public:
    // Reads the directory. Throws Error (a damaged-file message naming the source) when the
    // bytes are not a readable zip archive.
    explicit TZipArchive(std::shared_ptr<const TByteSource> source);

    const std::vector<TZipEntry>& Entries() const noexcept { return entries_; }
    // Part names compare without regard to ASCII letter case, as packages require; a leading
    // "/" is ignored.
    const TZipEntry* Find(std::string_view name) const;
    const TByteSource& Source() const noexcept { return *source_; }
    const std::shared_ptr<const TByteSource>& SharedSource() const noexcept { return source_; }

    // The whole content of an entry, inflated and checked (size and CRC-32). Throws when it
    // would exceed 'limit' bytes.
    std::string ReadAll(const TZipEntry& entry, std::uint64_t limit) const;

  private:
    std::shared_ptr<const TByteSource> source_;
    std::vector<TZipEntry> entries_;
};

// Reads one entry's content piece by piece, so that a large sheet is never held whole.
class TZipEntryReader {
  public:
    TZipEntryReader(const TZipArchive& archive, const TZipEntry& entry);
    ~TZipEntryReader();
    TZipEntryReader(const TZipEntryReader&) = delete;
    TZipEntryReader& operator=(const TZipEntryReader&) = delete;

    // Fills up to 'size' bytes; returns 0 at the end of the entry, where the size and the
    // CRC-32 have been checked. Throws Error on damaged data.
    std::size_t Read(char* out, std::size_t size);

  private:
    void Fail(std::u16string_view reason) const;

    const TZipArchive& archive_;
    const TZipEntry& entry_;
    z_stream z_{};
    bool zInit_ = false;
    std::string input_;
    std::uint64_t compressedRead_ = 0;
    std::uint64_t produced_ = 0;
    std::uint32_t crc_ = 0;
    bool finished_ = false;
};

}  // namespace qm::xlsx
