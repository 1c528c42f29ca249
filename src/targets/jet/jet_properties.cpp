#include "targets/jet/jet_properties.h"

#include <cstring>
#include <vector>

#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_text.h"

namespace qm::jet {
namespace {

constexpr std::uint16_t kChunkNames = 0x80;
constexpr std::uint16_t kChunkTable = 0x00;
constexpr std::uint16_t kChunkColumn = 0x01;

}  // namespace

TJetProperties ParseProperties(std::span<const std::uint8_t> blob) {
    TJetProperties properties;
    if (blob.size() < 4 || std::memcmp(blob.data(), "MR2", 4) != 0) return properties;
    const std::uint8_t* b = blob.data();
    const std::size_t size = blob.size();
    std::vector<std::u16string> names;
    for (std::size_t pos = 4; pos + 6 <= size;) {
        const std::uint32_t length = ReadU32(b + pos);
        const std::uint16_t type = ReadU16(b + pos + 4);
        if (length < 6 || length > size - pos) break;
        const std::size_t end = pos + length;
        if (type == kChunkNames) {
            for (std::size_t p = pos + 6; p + 2 <= end;) {
                const std::uint16_t n = ReadU16(b + p);
                if (n > end - p - 2) break;
                names.push_back(DecodeJetText({b + p + 2, n}));
                p += 2u + n;
            }
        } else if ((type == kChunkTable || type == kChunkColumn) && pos + 12 <= end) {
            // A header (its length counts itself) naming the table or column, then properties:
            // length, DDL flag, data type, index into the names, value length, value.
            const std::uint32_t header = ReadU32(b + pos + 6);
            const std::uint16_t nameLength = ReadU16(b + pos + 10);
            if (header < 6 || header > length - 6 || 6u + nameLength > header) {
                pos = end;
                continue;
            }
            auto& values = type == kChunkTable
                               ? properties.table
                               : properties.columns[DecodeJetText({b + pos + 12, nameLength})];
            for (std::size_t p = pos + 6 + header; p + 8 <= end;) {
                const std::uint16_t propertyLength = ReadU16(b + p);
                const std::uint16_t nameIndex = ReadU16(b + p + 4);
                const std::uint16_t valueLength = ReadU16(b + p + 6);
                if (propertyLength < 8 || propertyLength > end - p ||
                    8u + valueLength > propertyLength)
                    break;
                if (nameIndex < names.size())
                    values[names[nameIndex]].assign(reinterpret_cast<const char*>(b + p + 8),
                                                    valueLength);
                p += propertyLength;
            }
        }
        pos = end;
    }
    return properties;
}

}  // namespace qm::jet
