#include "text/encode_detect.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <vector>

namespace qm {

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
constexpr std::uint64_t kLowBits = 0x0101010101010101ull;

bool Ignored(TIgnoreEncodes ignore, TIgnoreEncode test) {
    return (ignore & IgnoreSet(test)) != 0;
}

std::uint64_t Load8(const std::uint8_t* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Position of the first byte at or after i that is not 7-bit. Single-byte characters add
// nothing to any counter, so the multi-byte tests stride over ASCII eight bytes at a time; this
// keeps a check over a whole large file (see ReadStreamText) cheap.
std::int64_t SkipAscii(const std::uint8_t* s, std::int64_t i, std::int64_t n) {
    while (i + 8 <= n && (Load8(s + i) & kHighBits) == 0)
        i += 8;
    while (i < n && s[i] < 0x80)
        ++i;
    return i;
}

// Counters are 32-bit; a whole-file check of a huge file must not overflow them.
void AddToCounter(std::int32_t& counter, std::int64_t amount) {
    std::int64_t sum = static_cast<std::int64_t>(counter) + amount;
    counter = static_cast<std::int32_t>(std::min<std::int64_t>(sum, INT32_MAX));
}

bool InRange(std::uint8_t c, std::uint8_t lo, std::uint8_t hi) {
    return c >= lo && c <= hi;
}

// Byte classes of the UTF-7 test.
enum : std::uint8_t { kUtf7Plain = 0, kUtf7Forbidden = 1, kUtf7Base64 = 2 };

constexpr std::array<std::uint8_t, 256> MakeUtf7Classes() {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 0x80; c < 256; ++c)
        classes[c] = kUtf7Forbidden;
    for (int c = 0x21; c <= 0x26; ++c)
        classes[c] = kUtf7Forbidden;
    classes['*'] = kUtf7Forbidden;
    for (int c = 0x3B; c <= 0x3E; ++c)
        classes[c] = kUtf7Forbidden;
    classes['@'] = kUtf7Forbidden;
    for (int c = 0x5B; c <= 0x60; ++c)
        classes[c] = kUtf7Forbidden;
    for (int c = 0x7B; c <= 0x7E; ++c)
        classes[c] = kUtf7Forbidden;
    for (int c = 'A'; c <= 'Z'; ++c)
        classes[c] = kUtf7Base64;
    for (int c = 'a'; c <= 'z'; ++c)
        classes[c] = kUtf7Base64;
    for (int c = '0'; c <= '9'; ++c)
        classes[c] = kUtf7Base64;
    classes['+'] = kUtf7Base64;
    classes['/'] = kUtf7Base64;
    return classes;
}

constexpr std::array<std::uint8_t, 256> kUtf7Classes = MakeUtf7Classes();

bool MatchesAt(const std::uint8_t* s, std::int64_t i, std::int64_t n, const char* sequence,
               std::int64_t length) {
    return i + length <= n && std::memcmp(s + i, sequence, static_cast<std::size_t>(length)) == 0;
}

}  // namespace

const char* DetectedEncodingName(TDetectedEncoding encoding) {
    switch (encoding) {
        case deNone:
            return "deNone";
        case deSJIS:
            return "deSJIS";
        case deEUC:
            return "deEUC";
        case deJIS:
            return "deJIS";
        case de16LE:
            return "de16LE";
        case de16BE:
            return "de16BE";
        case deUTF8:
            return "deUTF8";
        case deUTF8BOM:
            return "deUTF8BOM";
        case de32LE:
            return "de32LE";
        case de32BE:
            return "de32BE";
        case deUTF7:
            return "deUTF7";
    }
    return "deNone";
}

bool IsASCII(std::uint8_t byte) {
    return byte <= 0x7F;
}

TBOMType BOMCheck(const std::uint8_t* sample, std::int64_t n, TIgnoreEncodes ignore) {
    if (Ignored(ignore, ieBOM)) return btNone;
    if (n >= 4) {
        if (MatchesAt(sample, 0, n, "\xFF\xFE\x00\x00", 4)) return bt32LE;
        if (MatchesAt(sample, 0, n, "\x00\x00\xFE\xFF", 4)) return bt32BE;
    }
    if (n >= 2) {
        if (sample[0] == 0xFF && sample[1] == 0xFE) return bt16LE;
        if (sample[0] == 0xFE && sample[1] == 0xFF) return bt16BE;
    }
    if (n >= 3 && MatchesAt(sample, 0, n, "\xEF\xBB\xBF", 3)) return btUTF8;
    return btNone;
}

bool IsJIS(const std::uint8_t* s, std::int64_t n, TIgnoreEncodes ignore) {
    if (Ignored(ignore, ieJIS)) return false;
    constexpr std::uint64_t kEscapes = 0x1Bull * kLowBits;
    std::int64_t i = 0;
    while (i < n) {
        // Stride over words holding neither an 8-bit byte nor an ESC.
        if (i + 8 <= n) {
            std::uint64_t word = Load8(s + i);
            std::uint64_t x = word ^ kEscapes;
            bool hasEscape = ((x - kLowBits) & ~x & kHighBits) != 0;
            if (((word & kHighBits) | static_cast<std::uint64_t>(hasEscape)) == 0) {
                i += 8;
                continue;
            }
        }
        std::uint8_t c = s[i];
        if (c > 0x7F) return false;
        if (c == 0x1B && (MatchesAt(s, i, n, "\x1B(B", 3) || MatchesAt(s, i, n, "\x1B(J", 3) ||
                          MatchesAt(s, i, n, "\x1B(I", 3) || MatchesAt(s, i, n, "\x1B$@", 3) ||
                          MatchesAt(s, i, n, "\x1B$B", 3) || MatchesAt(s, i, n, "\x1B$(D", 4) ||
                          MatchesAt(s, i, n, "\x1B&@\x1B$B", 6)))
            return true;
        ++i;
    }
    return false;
}

bool IsSJIS(const std::uint8_t* s, std::int64_t n, std::int32_t& counter, TIgnoreEncodes ignore) {
    if (Ignored(ignore, ieSJIS)) return false;
    std::int64_t count = 0;
    bool valid = true;
    for (std::int64_t i = SkipAscii(s, 0, n); i < n; i = SkipAscii(s, i, n)) {
        std::uint8_t c = s[i];
        if (InRange(c, 0xA1, 0xDF)) {  // half-width katakana: single-byte, counts nothing
            ++i;
        } else if (c == 0x80 || c == 0xA0 || c >= 0xFD) {
            valid = false;
            break;
        } else if (i + 1 >= n) {  // a lead byte cut by the end: accepted, not counted
            ++i;
        } else if (std::uint8_t t = s[i + 1]; InRange(t, 0x40, 0x7E) || InRange(t, 0x80, 0xFC)) {
            count += 2;
            i += 2;
        } else {
            valid = false;
            break;
        }
    }
    AddToCounter(counter, count);
    return valid;
}

bool IsEUC(const std::uint8_t* s, std::int64_t n, std::int32_t& counter, TIgnoreEncodes ignore) {
    if (Ignored(ignore, ieEUC)) return false;
    std::int64_t count = 0;
    bool valid = true;
    for (std::int64_t i = SkipAscii(s, 0, n); i < n; i = SkipAscii(s, i, n)) {
        std::uint8_t c = s[i];
        std::int64_t length;
        std::uint8_t lo = 0xA1, hi = 0xFE;
        if (c == 0x8E) {
            length = 2;
            hi = 0xDF;
        } else if (c == 0x8F) {
            length = 3;
        } else if (InRange(c, 0xA1, 0xFE)) {
            length = 2;
        } else {
            valid = false;
            break;
        }
        std::int64_t k = 1;
        for (; k < length && i + k < n; ++k) {
            if (!InRange(s[i + k], lo, hi)) {
                valid = false;
                break;
            }
        }
        if (!valid) break;
        if (k == length) {
            count += length;
            i += length;
        } else {
            // Cut by the end of the sample: accepted, not counted. The walk goes on at the next
            // byte, so a three-byte character cut after its second byte has that byte read as a
            // two-byte lead standing at the end.
            ++i;
        }
    }
    AddToCounter(counter, count);
    return valid;
}

bool IsUTF8(const std::uint8_t* s, std::int64_t n, std::int32_t& counter, TIgnoreEncodes ignore) {
    if (Ignored(ignore, ieUTF8)) return false;
    std::int64_t count = 0;
    bool valid = true;
    for (std::int64_t i = SkipAscii(s, 0, n); i < n; i = SkipAscii(s, i, n)) {
        std::uint8_t c = s[i];
        std::int64_t length;
        if (InRange(c, 0xC0, 0xDF)) {
            length = 2;
        } else if (InRange(c, 0xE0, 0xEF)) {
            length = 3;
        } else if (InRange(c, 0xF0, 0xF7)) {
            length = 4;
        } else {
            valid = false;
            break;
        }
        std::int64_t k = 1;
        for (; k < length && i + k < n; ++k) {
            if (!InRange(s[i + k], 0x80, 0xBF)) {
                valid = false;
                break;
            }
        }
        if (!valid) break;
        if (k < length)
            break;  // a character cut by the end of the sample, wherever it is cut,
                    // is accepted and not counted
        count += length;
        i += length;
    }
    AddToCounter(counter, count);
    return valid;
}

bool IsUTF7(const std::uint8_t* s, std::int64_t n, std::int32_t& counter, TIgnoreEncodes ignore) {
    if (Ignored(ignore, ieUTF7)) return false;
    std::int64_t count = 0;
    bool valid = true;
    bool inRun = false;
    for (std::int64_t i = 0; i < n; ++i) {
        std::uint8_t c = s[i];
        std::uint8_t kind = kUtf7Classes[c];
        if (kind == kUtf7Forbidden) {
            valid = false;
            break;
        }
        if (!inRun) {
            if (c != '+') continue;
            inRun = true;  // the '+' that opens a run counts as part of it
        } else if (c == '-') {
            inRun = false;
            continue;
        } else if (kind != kUtf7Base64) {
            valid = false;
            break;
        }
        count += 2;
    }
    AddToCounter(counter, count);
    return valid;
}

TDetectedEncoding CheckEncodingScored(const std::uint8_t* sample, std::int64_t n,
                                      TIgnoreEncodes ignore, TEncodingScores& scores) {
    scores = TEncodingScores{};
    if (n <= 0) return deNone;
    switch (BOMCheck(sample, n, ignore)) {
        case btUTF8:
            return deUTF8BOM;
        case bt16LE:
            return de16LE;
        case bt16BE:
            return de16BE;
        case bt32LE:
            return de32LE;
        case bt32BE:
            return de32BE;
        case btNone:
            break;
    }
    if (IsJIS(sample, n, ignore)) return deJIS;

    struct Contender {
        TDetectedEncoding verdict;
        bool passed;
    };
    const Contender contenders[] = {
        {deEUC, IsEUC(sample, n, scores.euc, ignore)},
        {deSJIS, IsSJIS(sample, n, scores.sjis, ignore)},
        {deUTF8, IsUTF8(sample, n, scores.utf8, ignore)},
        {deUTF7, IsUTF7(sample, n, scores.utf7, ignore)},
    };
    const std::int32_t counts[] = {scores.euc, scores.sjis, scores.utf8, scores.utf7};
    std::int32_t best = *std::max_element(std::begin(counts), std::end(counts));
    if (best <= 0) return deNone;  // no multi-byte text at all

    int holders = 0;
    const Contender* winner = nullptr;
    bool utf8Holds = false;
    for (std::size_t k = 0; k < std::size(contenders); ++k) {
        if (counts[k] != best) continue;
        ++holders;
        winner = &contenders[k];
        if (contenders[k].verdict == deUTF8 && contenders[k].passed) utf8Holds = true;
    }
    if (holders == 1) return winner->passed ? winner->verdict : deNone;
    // A shared highest count goes to UTF-8 when its test passed: real UTF-8 text often passes
    // the Shift_JIS test with the same count, while Shift_JIS text is rarely valid UTF-8.
    return utf8Holds ? deUTF8 : deNone;
}

TDetectedEncoding CheckEncoding(const std::uint8_t* sample, std::int64_t n, TIgnoreEncodes ignore) {
    TEncodingScores scores;
    return CheckEncodingScored(sample, n, ignore, scores);
}

TDetectedEncoding CheckEncoding(TStream& stream, std::int64_t requestedSize,
                                TIgnoreEncodes ignore) {
    std::int64_t size = stream.GetSize();
    if (size <= 0) return deNone;
    stream.SetPosition(0);
    std::int64_t length = requestedSize > 0 && requestedSize <= size ? requestedSize : size;
    length = std::min<std::int64_t>(length, INT32_MAX);
    std::vector<std::uint8_t> sample(static_cast<std::size_t>(length));
    stream.ReadBuffer(sample.data(), sample.size());
    return CheckEncoding(sample.data(), length, ignore);
}

}  // namespace qm
