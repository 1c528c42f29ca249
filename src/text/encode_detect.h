// Encoding detection over a sample of bytes: byte-order marks, then ISO-2022-JP escapes, then
// a scoring contest between Shift_JIS, EUC-JP, UTF-8 and UTF-7.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/stream.h"

namespace qm {

enum TBOMType : std::uint8_t {
    btNone = 0,
    btUTF8 = 1,
    bt16LE = 2,
    bt16BE = 3,
    bt32LE = 4,
    bt32BE = 5,
};

enum TIgnoreEncode : std::uint8_t {
    ieSJIS = 0,
    ieEUC = 1,
    ieUTF8 = 2,
    ieJIS = 3,
    ieBOM = 4,
    ieUTF7 = 5,
};

// A set of TIgnoreEncode, member n at bit 1 << n.
using TIgnoreEncodes = std::uint8_t;

constexpr TIgnoreEncodes IgnoreSet(TIgnoreEncode e) {
    return static_cast<TIgnoreEncodes>(1u << e);
}

enum TDetectedEncoding : std::int32_t {
    deNone = -1,
    deSJIS = 0,
    deEUC = 1,
    deJIS = 2,
    de16LE = 3,
    de16BE = 4,
    deUTF8 = 5,
    deUTF8BOM = 6,
    de32LE = 7,
    de32BE = 8,
    deUTF7 = 9,
};

// The verdict's name as written in the code ("deSJIS", "deNone", ...).
const char* DetectedEncodingName(TDetectedEncoding encoding);

bool IsASCII(std::uint8_t byte);
TBOMType BOMCheck(const std::uint8_t* sample, std::int64_t n, TIgnoreEncodes ignore);
bool IsJIS(const std::uint8_t* sample, std::int64_t n, TIgnoreEncodes ignore);
bool IsSJIS(const std::uint8_t* sample, std::int64_t n, std::int32_t& counter,
            TIgnoreEncodes ignore);
bool IsEUC(const std::uint8_t* sample, std::int64_t n, std::int32_t& counter,
           TIgnoreEncodes ignore);
bool IsUTF8(const std::uint8_t* sample, std::int64_t n, std::int32_t& counter,
            TIgnoreEncodes ignore);
bool IsUTF7(const std::uint8_t* sample, std::int64_t n, std::int32_t& counter,
            TIgnoreEncodes ignore);

TDetectedEncoding CheckEncoding(const std::uint8_t* sample, std::int64_t n, TIgnoreEncodes ignore);
// What the four scoring tests counted in the last CheckEncodingScored; all 0 when a mark or an
// ISO-2022-JP escape decided before they ran.
struct TEncodingScores {
    std::int32_t sjis = 0;
    std::int32_t euc = 0;
    std::int32_t utf8 = 0;
    std::int32_t utf7 = 0;
};
// CheckEncoding that also reports the counters, so a caller can tell "no multi-byte text at all"
// from a tie.
TDetectedEncoding CheckEncodingScored(const std::uint8_t* sample, std::int64_t n,
                                      TIgnoreEncodes ignore, TEncodingScores& scores);
// Reads up to requestedSize bytes from the start of the stream and judges them.
TDetectedEncoding CheckEncoding(TStream& stream, std::int64_t requestedSize, TIgnoreEncodes ignore);

}  // namespace qm
