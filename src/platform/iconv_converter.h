// Code-page conversion through glibc iconv, the Linux counterpart of MultiByteToWideChar and
// WideCharToMultiByte. Neither direction fails on bad data: undecodable bytes become U+FFFD and
// characters the target charset cannot hold become '?'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// The glibc charset name that decodes a Windows code page the way Windows does, or nullptr
// when there is none. 932 is "CP932", 20932 and 51932 "EUC-JP-MS", the UTF-16 and UTF-32 code
// pages their explicit-endian names, 50220/50221/50222 "ISO-2022-JP"; single-byte Windows and
// ISO code pages their usual names. (glibc's ISO-2022-JP decoder lacks the CP932 extensions and
// half-width katakana that Windows accepts, so the text module decodes those code pages itself;
// the name is still right for encoding.)
const char* CodePageCharset(std::uint16_t codePage);

// How many bytes at p (of which available >= 1 are readable) form the one undecodable sequence
// that a single U+FFFD replaces. Lets multi-byte charsets skip a whole unmapped character instead
// of reading its trail byte as the start of the next one.
using TBadSequenceLength = std::size_t (*)(const unsigned char* p, std::size_t available);

// Decodes bytes in the given iconv charset to UTF-16. Each invalid or unmapped sequence becomes
// one U+FFFD (its length from badLength, else one byte) and decoding resumes after it; a sequence
// cut by the end of the input becomes one U+FFFD. Throws Error only for an unknown charset.
std::u16string IconvDecode(std::string_view bytes, const char* charset,
                           TBadSequenceLength badLength = nullptr);

// Encodes UTF-16 text in the given iconv charset. A character the charset cannot represent, and
// a lone surrogate, becomes '?' (encoded in the charset, so stateful charsets stay consistent).
// Throws Error only for an unknown charset.
std::string IconvEncode(std::u16string_view text, const char* charset);

// Decodes one complete byte sequence at a time, for callers that build lookup tables from
// glibc's mapping. Throws Error for an unknown charset.
class TIconvSequenceDecoder {
  public:
    explicit TIconvSequenceDecoder(const char* charset);
    ~TIconvSequenceDecoder();
    TIconvSequenceDecoder(const TIconvSequenceDecoder&) = delete;
    TIconvSequenceDecoder& operator=(const TIconvSequenceDecoder&) = delete;

    // The single UTF-16 unit that exactly these bytes decode to (from the initial shift state),
    // or 0 when they are invalid, incomplete, unmapped, or give anything but one unit.
    char16_t DecodeUnit(const unsigned char* bytes, std::size_t count);

  private:
    void* cd_;
};

// The same by Windows code page (CodePageCharset); throws Error for a code page without one.
std::string EncodeToCodePage(std::u16string_view text, std::uint16_t codePage);

}  // namespace qm
