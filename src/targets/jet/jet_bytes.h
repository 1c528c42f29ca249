// Big-endian and floating-point reads from raw page bytes; little-endian integers come from
// platform/little_endian.h. Callers check bounds first; these helpers only assemble the bytes
// (memcpy keeps unaligned reads well-defined).
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/little_endian.h"

namespace qm::jet {

inline double ReadDouble(const std::uint8_t* p) {
    double value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
inline float ReadFloat(const std::uint8_t* p) {
    float value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
inline std::uint32_t ReadBigU24(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) |
           p[2];
}
inline std::uint32_t ReadBigU32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | ReadBigU24(p + 1);
}

// A row pointer as the format stores it: row number in the low byte, page in the upper three.
struct TRowPointer {
    std::uint32_t page = 0;
    std::uint8_t row = 0;
    static TRowPointer FromRaw(std::uint32_t raw) {
        return {raw >> 8, static_cast<std::uint8_t>(raw & 0xFF)};
    }
    friend bool operator==(const TRowPointer&, const TRowPointer&) = default;
    friend auto operator<=>(const TRowPointer&, const TRowPointer&) = default;
};

}  // namespace qm::jet
