// Little-endian integers in raw file bytes (zip headers, database pages, BIFF records, version
// blocks): read from a buffer, appended to one, or written over bytes already in place. Callers
// check bounds first; these helpers only take apart or assemble the bytes, so unaligned access
// stays well-defined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Appends the value's bytes, lowest first.
inline void PutU16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}
inline void PutU32(std::string& out, std::uint32_t value) {
    PutU16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    PutU16(out, static_cast<std::uint16_t>(value >> 16));
}
inline void PutU64(std::string& out, std::uint64_t value) {
    PutU32(out, static_cast<std::uint32_t>(value & 0xFFFFFFFF));
    PutU32(out, static_cast<std::uint32_t>(value >> 32));
}

// Writes the value over the bytes at `at`, which the caller has already made room for.
inline void SetU16(std::string& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>(value >> 8);
}
inline void SetU32(std::string& out, std::size_t at, std::uint32_t value) {
    SetU16(out, at, static_cast<std::uint16_t>(value & 0xFFFF));
    SetU16(out, at + 2, static_cast<std::uint16_t>(value >> 16));
}
inline void SetU64(std::string& out, std::size_t at, std::uint64_t value) {
    SetU32(out, at, static_cast<std::uint32_t>(value & 0xFFFFFFFF));
    SetU32(out, at + 4, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace qm
