#include "platform/system_code_page.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>

#include "text/unicode.h"

namespace qm {

namespace {

bool IsUtf8Name(std::string_view name) {
    return name == "UTF-8" || name == "utf-8" || name == "UTF8" || name == "utf8";
}

std::string DetectCodePageName() {
    locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (user == static_cast<locale_t>(nullptr)) return "UTF-8";  // an unusable LANG setting
    std::string name = ::nl_langinfo_l(CODESET, user);
    ::freelocale(user);
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII") {
        return "UTF-8";
    }
    // An iconv without this character set could neither read nor write such files.
    iconv_t probe = ::iconv_open("UTF-16LE", name.c_str());
    if (probe == reinterpret_cast<iconv_t>(-1)) return "UTF-8";
    ::iconv_close(probe);
    return IsUtf8Name(name) ? "UTF-8" : name;
}

std::string& CodePageName() {
    static std::string name = DetectCodePageName();
    return name;
}

class TIconv {
  public:
    TIconv(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~TIconv() {
        if (ok()) ::iconv_close(cd_);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

// One iconv pass; 'onInvalid' is called with the input position of a sequence iconv refuses
// and returns how many input bytes to skip after writing its own replacement to the output.
template <typename OnInvalid>
std::string Convert(TIconv& cd, std::string_view input, OnInvalid onInvalid) {
    std::string out;
    out.resize(input.size() * 2 + 16);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    std::size_t used = 0;
    while (inLeft > 0) {
        if (out.size() - used < 16) out.resize(out.size() * 2);
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        std::size_t rc = ::iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
        used = out.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ or an incomplete sequence at the end (EINVAL).
        std::size_t skip = onInvalid(out, used, in, inLeft);
        in += skip;
        inLeft -= skip;
        ::iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    // A stateful character set returns to its initial shift state at the end.
    out.resize(used + 16);
    char* outPtr = out.data() + used;
    std::size_t outLeft = out.size() - used;
    ::iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
    used = out.size() - outLeft;
    out.resize(used);
    return out;
}

void Append(std::string& out, std::size_t& used, std::string_view bytes) {
    if (out.size() < used + bytes.size()) out.resize(used + bytes.size() + out.size());
    std::memcpy(out.data() + used, bytes.data(), bytes.size());
    used += bytes.size();
}

}  // namespace

const std::string& SystemCodePageName() {
    return CodePageName();
}

bool SystemCodePageIsUtf8() {
    return CodePageName() == "UTF-8";
}

void SetSystemCodePage(std::string_view iconvName) {
    CodePageName() = iconvName.empty() ? DetectCodePageName() : std::string(iconvName);
}

std::u16string DecodeSystemText(std::string_view bytes) {
    if (SystemCodePageIsUtf8()) return Utf8ToUtf16(bytes);
    TIconv cd("UTF-16LE", CodePageName().c_str());
    if (!cd.ok()) return Utf8ToUtf16(bytes);
    std::string units =
        Convert(cd, bytes, [](std::string& out, std::size_t& used, const char*, std::size_t) {
            Append(out, used, std::string_view("\xFD\xFF", 2));  // U+FFFD, little-endian
            return std::size_t{1};
        });
    std::u16string text(units.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(units[2 * i]) |
                                        (static_cast<unsigned char>(units[2 * i + 1]) << 8));
    }
    return text;
}

std::string EncodeSystemText(std::u16string_view text) {
    if (SystemCodePageIsUtf8()) return Utf16ToUtf8(text);
    TIconv cd(CodePageName().c_str(), "UTF-16LE");
    if (!cd.ok()) return Utf16ToUtf8(text);
    std::string units(text.size() * 2, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        units[2 * i] = static_cast<char>(text[i] & 0xFF);
        units[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return Convert(
        cd, units, [](std::string& out, std::size_t& used, const char* at, std::size_t left) {
            Append(out, used, "?");
            // A whole surrogate pair is one character; anything else is one unit.
            if (left >= 4) {
                unsigned high =
                    static_cast<unsigned char>(at[0]) | (static_cast<unsigned char>(at[1]) << 8);
                unsigned low =
                    static_cast<unsigned char>(at[2]) | (static_cast<unsigned char>(at[3]) << 8);
                if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
                    return std::size_t{4};
                }
            }
            return left < 2 ? left : std::size_t{2};
        });
}

}  // namespace qm
