#include "targets/xls/cfb_writer.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace qm::xls {

namespace {

constexpr std::uint32_t kMiniCutoff = 4096;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::uint32_t kHeaderDifatEntries = 109;

void SetU32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void SetU64(std::uint8_t* p, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

}  // namespace

void WriteCompoundFile(const TCompoundFile& file, std::uint32_t entry, std::string_view data,
                       const TByteSink& sink, const std::function<void()>& turn) {
    const std::uint32_t sectorSize = file.SectorSize();
    const std::uint32_t perSector = sectorSize / 4;
    std::vector<TDirectoryEntry> directory = file.Directory();

    // Small streams are gathered into the new mini stream now; big ones are read as they are
    // written, so that only one of them is in memory at a time.
    std::vector<std::uint64_t> sizes(directory.size(), 0);
    std::vector<std::uint32_t> miniFat;
    std::string miniStream;
    std::vector<std::uint32_t> bigStreams;
    for (std::uint32_t i = 0; i < directory.size(); ++i) {
        TDirectoryEntry& e = directory[i];
        if (e.Type != TEntryType::Stream) continue;
        std::uint64_t size = i == entry ? data.size() : e.Size;
        sizes[i] = size;
        if (size == 0) {
            e.StartSector = kEndOfChain;
        } else if (size < kMiniCutoff) {
            std::string content = i == entry ? std::string(data) : file.ReadStream(i);
            std::uint32_t first = static_cast<std::uint32_t>(miniStream.size() / kMiniSectorSize);
            std::uint32_t count = static_cast<std::uint32_t>(CeilDiv(size, kMiniSectorSize));
            for (std::uint32_t s = 0; s < count; ++s)
                miniFat.push_back(s + 1 == count ? kEndOfChain : first + s + 1);
            miniStream += content;
            miniStream.resize(static_cast<std::size_t>(first + count) * kMiniSectorSize, '\0');
            e.StartSector = first;
        } else {
            bigStreams.push_back(i);
        }
    }

    // Sector layout: big streams, mini stream, mini FAT, directory, FAT, DIFAT.
    std::uint32_t next = 0;
    std::vector<std::uint32_t> fat;
    auto allocate = [&](std::uint64_t bytes) {
        std::uint32_t first = next;
        std::uint32_t count = static_cast<std::uint32_t>(CeilDiv(bytes, sectorSize));
        for (std::uint32_t s = 0; s < count; ++s)
            fat.push_back(s + 1 == count ? kEndOfChain : first + s + 1);
        next += count;
        return count == 0 ? kEndOfChain : first;
    };
    for (std::uint32_t i : bigStreams)
        directory[i].StartSector = allocate(sizes[i]);
    directory[0].StartSector = allocate(miniStream.size());
    directory[0].Size = miniStream.size();
    if (miniStream.empty()) directory[0].StartSector = kEndOfChain;
    std::uint64_t miniFatBytes = static_cast<std::uint64_t>(miniFat.size()) * 4;
    std::uint32_t miniFatCount = static_cast<std::uint32_t>(CeilDiv(miniFatBytes, sectorSize));
    std::uint32_t miniFatStart = allocate(miniFatBytes);
    std::uint64_t directoryBytes = static_cast<std::uint64_t>(directory.size()) * 128;
    std::uint32_t directoryCount = static_cast<std::uint32_t>(CeilDiv(directoryBytes, sectorSize));
    std::uint32_t directoryStart = allocate(directoryBytes);

    // The FAT covers itself and the DIFAT sectors too.
    std::uint32_t fatCount = 0, difatCount = 0;
    for (;;) {
        std::uint64_t total = static_cast<std::uint64_t>(next) + fatCount + difatCount;
        std::uint32_t needFat = static_cast<std::uint32_t>(CeilDiv(total, perSector));
        std::uint32_t needDifat =
            needFat > kHeaderDifatEntries
                ? static_cast<std::uint32_t>(CeilDiv(needFat - kHeaderDifatEntries, perSector - 1))
                : 0;
        if (needFat == fatCount && needDifat == difatCount) break;
        fatCount = needFat;
        difatCount = needDifat;
    }
    std::uint32_t fatStart = next;
    for (std::uint32_t s = 0; s < fatCount; ++s)
        fat.push_back(kFatSector);
    std::uint32_t difatStart = next + fatCount;
    for (std::uint32_t s = 0; s < difatCount; ++s)
        fat.push_back(kDifatSector);
    fat.resize(static_cast<std::size_t>(fatCount) * perSector, kFreeSector);

    // Header: the original's, with the new places and counts.
    std::string headerSector(sectorSize, '\0');
    std::memcpy(headerSector.data(), file.Header().data(), file.Header().size());
    auto* h = reinterpret_cast<std::uint8_t*>(headerSector.data());
    SetU32(h + 40, file.MajorVersion() == 4 ? directoryCount : 0);
    SetU32(h + 44, fatCount);
    SetU32(h + 48, directoryStart);
    SetU32(h + 60, miniFatCount ? miniFatStart : kEndOfChain);
    SetU32(h + 64, miniFatCount);
    SetU32(h + 68, difatCount ? difatStart : kEndOfChain);
    SetU32(h + 72, difatCount);
    for (std::uint32_t i = 0; i < kHeaderDifatEntries; ++i)
        SetU32(h + 76 + 4 * i, i < fatCount ? fatStart + i : kFreeSector);
    sink(headerSector);

    auto writePadded = [&](std::string_view bytes) {
        for (std::size_t at = 0; at < bytes.size(); at += 1u << 20) {
            sink(bytes.substr(at, 1u << 20));
            turn();
        }
        std::size_t tail = bytes.size() % sectorSize;
        if (tail) sink(std::string(sectorSize - tail, '\0'));
    };
    for (std::uint32_t i : bigStreams) {
        if (i == entry) {
            writePadded(data);
        } else {
            std::string content = file.ReadStream(i);
            writePadded(content);
        }
    }
    writePadded(miniStream);
    {
        std::string table(static_cast<std::size_t>(miniFatCount) * sectorSize, '\xFF');
        for (std::size_t i = 0; i < miniFat.size(); ++i)
            SetU32(reinterpret_cast<std::uint8_t*>(table.data()) + 4 * i, miniFat[i]);
        writePadded(table);
    }
    {
        std::string bytes(static_cast<std::size_t>(directoryCount) * sectorSize, '\0');
        for (std::size_t i = 0; i < directory.size(); ++i) {
            TDirectoryEntry& e = directory[i];
            std::uint8_t* raw = e.Raw.data();
            if (e.Type == TEntryType::Stream || e.Type == TEntryType::Root) {
                SetU32(raw + 116, e.StartSector);
                SetU64(raw + 120, e.Type == TEntryType::Root ? e.Size : sizes[i]);
            }
            std::memcpy(bytes.data() + i * 128, raw, 128);
        }
        // Entries that fill the last directory sector are unused ones.
        for (std::size_t i = directory.size(); i < bytes.size() / 128; ++i) {
            std::uint8_t* raw = reinterpret_cast<std::uint8_t*>(bytes.data()) + i * 128;
            SetU32(raw + 68, kNoStream);
            SetU32(raw + 72, kNoStream);
            SetU32(raw + 76, kNoStream);
        }
        writePadded(bytes);
    }
    {
        std::string bytes(static_cast<std::size_t>(fatCount) * sectorSize, '\0');
        for (std::size_t i = 0; i < fat.size(); ++i)
            SetU32(reinterpret_cast<std::uint8_t*>(bytes.data()) + 4 * i, fat[i]);
        writePadded(bytes);
    }
    if (difatCount) {
        std::string bytes(static_cast<std::size_t>(difatCount) * sectorSize, '\xFF');
        auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
        std::uint32_t listed = kHeaderDifatEntries;
        for (std::uint32_t d = 0; d < difatCount; ++d) {
            std::uint8_t* sector = p + static_cast<std::size_t>(d) * sectorSize;
            for (std::uint32_t i = 0; i < perSector - 1 && listed < fatCount; ++i, ++listed)
                SetU32(sector + 4 * i, fatStart + listed);
            SetU32(sector + 4 * (perSector - 1),
                   d + 1 == difatCount ? kEndOfChain : difatStart + d + 1);
        }
        writePadded(bytes);
    }
}

}  // namespace qm::xls
