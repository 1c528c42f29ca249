// The hot loop shared by the decoders: most CSV text is ASCII, which every supported
// byte-oriented encoding but UTF-16/32 maps one to one, so runs of it are widened in blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

// Widens the run of 7-bit bytes that starts at s[i] into o (o[0] for s[i]); returns its length,
// which is 0 when s[i] is not 7-bit.
inline std::size_t CopyAsciiRun(const unsigned char* s, std::size_t i, std::size_t n, char16_t* o) {
    const std::size_t start = i;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        int high = _mm_movemask_epi8(chunk);
        if (high != 0) {
            auto ascii = static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(high)));
            for (std::size_t k = 0; k < ascii; ++k)
                o[i - start + k] = s[i + k];
            return i + ascii - start;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + (i - start)),
                         _mm_unpacklo_epi8(chunk, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + (i - start) + 8),
                         _mm_unpackhi_epi8(chunk, zero));
        i += 16;
    }
#else
    while (i + 8 <= n) {
        std::uint64_t word;
        std::memcpy(&word, s + i, sizeof word);
        if ((word & 0x8080808080808080ull) != 0) break;
        for (std::size_t k = 0; k < 8; ++k)
            o[i - start + k] = s[i + k];
        i += 8;
    }
#endif
    while (i < n && s[i] < 0x80) {
        o[i - start] = s[i];
        ++i;
    }
    return i - start;
}

}  // namespace qm
