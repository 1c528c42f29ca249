// The Compound File Binary container (OLE2 structured storage) that holds .xls workbooks:
// header, DIFAT, FAT and mini FAT, the directory, and reading streams by their sector chains.
//
// Every sector number, chain and size is checked against the file before it is used; damaged
// content throws Error with a Japanese message that names the file. The allocation tables,
// the DIFAT and the directory entries stay available as read, so that a writer can later
// relink a grown stream without rebuilding what it does not touch.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "targets/xlsx/byte_source.h"

namespace qm::xls {

inline constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

using xlsx::TByteSource;

enum class TEntryType : std::uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };

struct TDirectoryEntry {
    std::u16string Name;
    TEntryType Type = TEntryType::Unused;
    std::uint32_t Left = kNoStream, Right = kNoStream, Child = kNoStream;
    std::uint32_t StartSector = kEndOfChain;
    std::uint64_t Size = 0;
    std::array<std::uint8_t, 128> Raw{};  // the entry as stored (CLSID, state bits, times)
};

class TCompoundFile {
  public:
    // Reads and checks the header, the allocation tables and the directory. Throws Error when
    // the source is not a compound file or its structure is damaged.
    explicit TCompoundFile(std::shared_ptr<const TByteSource> source);

    const std::u16string& FileName() const noexcept { return source_->Name(); }
    const TByteSource& Source() const noexcept { return *source_; }
    std::uint16_t MajorVersion() const noexcept { return majorVersion_; }
    std::uint32_t SectorSize() const noexcept { return sectorSize_; }
    // Sectors that start inside the file.
    std::uint32_t SectorCount() const noexcept { return sectorCount_; }

    const std::vector<TDirectoryEntry>& Directory() const noexcept { return directory_; }
    const std::vector<std::uint32_t>& Fat() const noexcept { return fat_; }
    const std::vector<std::uint32_t>& MiniFat() const noexcept { return miniFat_; }
    // The FAT's own sectors in order, and the DIFAT sectors that list those past the header.
    const std::vector<std::uint32_t>& FatSectors() const noexcept { return fatSectors_; }
    const std::vector<std::uint32_t>& DifatSectors() const noexcept { return difatSectors_; }
    const std::array<std::uint8_t, 512>& Header() const noexcept { return header_; }

    // The entries directly inside the root storage, in the directory tree's order.
    std::vector<std::uint32_t> RootChildren() const;
    // The stream of that name directly inside the root storage (names compare without regard
    // to case, as the format orders them), or -1.
    int FindRootStream(std::u16string_view name) const;
    // The whole content of a stream entry. Throws Error when its chain is damaged.
    std::string ReadStream(std::uint32_t entry) const;

  private:
    void ReadHeader();
    void ReadFat();
    void ReadDirectory();
    void ReadMiniFat();
    // The sectors of a chain in order, at most 'limit' of them (the whole chain when the limit
    // is not reached first). Throws on a bad sector number or a loop.
    std::vector<std::uint32_t> Chain(std::uint32_t start, std::uint64_t limit,
                                     const std::vector<std::uint32_t>& table, std::uint32_t count,
                                     std::u16string_view what) const;
    std::uint64_t SectorOffset(std::uint32_t sector) const {
        return (static_cast<std::uint64_t>(sector) + 1) * sectorSize_;
    }
    [[noreturn]] void Fail(std::u16string_view reason) const;

    std::shared_ptr<const TByteSource> source_;
    std::array<std::uint8_t, 512> header_{};
    std::uint16_t majorVersion_ = 3;
    std::uint32_t sectorSize_ = 512;
    std::uint32_t miniSectorSize_ = 64;
    std::uint32_t miniCutoff_ = 4096;
    std::uint32_t sectorCount_ = 0;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<std::uint32_t> fatSectors_;
    std::vector<std::uint32_t> difatSectors_;
    std::vector<TDirectoryEntry> directory_;
};

// True when the bytes start with the compound file signature.
bool IsCompoundFile(std::string_view head);

}  // namespace qm::xls
