// Little-endian integers read from raw file bytes (zip headers, database pages). Callers check
// bounds first; these helpers only assemble the bytes, so unaligned reads stay well-defined.
#pragma once

#include <cstdint>

namespace qm {

inline std::uint16_t ReadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t ReadU24(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16);
}
inline std::uint32_t ReadU32(const std::uint8_t* p) {
    return ReadU24(p) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t ReadU64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(ReadU32(p)) |
           (static_cast<std::uint64_t>(ReadU32(p + 4)) << 32);
}

// The same over char buffers (std::string contents).
inline std::uint16_t ReadU16(const char* p) {
    return ReadU16(reinterpret_cast<const std::uint8_t*>(p));
}
inline std::uint32_t ReadU32(const char* p) {
    return ReadU32(reinterpret_cast<const std::uint8_t*>(p));
}
inline std::uint64_t ReadU64(const char* p) {
    return ReadU64(reinterpret_cast<const std::uint8_t*>(p));
}

}  // namespace qm
