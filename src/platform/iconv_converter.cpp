#include "platform/iconv_converter.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "text/unicode.h"

namespace qm {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// char16_t in the machine's own byte order, so iconv writes and reads our strings directly.
constexpr const char* kNativeUtf16 =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

struct TCodePageName {
    std::uint16_t codePage;
    const char* charset;
};

constexpr TCodePageName kCodePageNames[] = {
    {437, "CP437"},         {850, "CP850"},         {866, "CP866"},         {874, "CP874"},
    {932, "CP932"},         {936, "GBK"},           {949, "CP949"},         {950, "BIG5"},
    {1200, "UTF-16LE"},     {1201, "UTF-16BE"},     {1250, "CP1250"},       {1251, "CP1251"},
    {1252, "CP1252"},       {1253, "CP1253"},       {1254, "CP1254"},       {1255, "CP1255"},
    {1256, "CP1256"},       {1257, "CP1257"},       {1258, "CP1258"},       {12000, "UTF-32LE"},
    {12001, "UTF-32BE"},    {20127, "ASCII"},       {20866, "KOI8-R"},      {20932, "EUC-JP-MS"},
    {21866, "KOI8-U"},      {28591, "ISO-8859-1"},  {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},  {28595, "ISO-8859-5"},  {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},  {28599, "ISO-8859-9"},  {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
    {50220, "ISO-2022-JP"}, {50221, "ISO-2022-JP"}, {50222, "ISO-2022-JP"}, {51932, "EUC-JP-MS"},
    {54936, "GB18030"},     {65001, "UTF-8"},
};

// One iconv descriptor, closed on every path.
class TIconv {
  public:
    TIconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            std::string name = from == kNativeUtf16 ? to : from;
            throw Error(u"文字コード変換を開始できません: " + Utf8ToUtf16(name));
        }
    }
    ~TIconv() { iconv_close(cd_); }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    // One iconv(3) call; returns the errno of a failure, or 0.
    int Convert(char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
        if (iconv(cd_, in, inLeft, out, outLeft) != static_cast<std::size_t>(-1)) return 0;
        return errno;
    }

  private:
    iconv_t cd_;
};

}  // namespace

const char* CodePageCharset(std::uint16_t codePage) {
    for (const auto& entry : kCodePageNames)
        if (entry.codePage == codePage) return entry.charset;
    return nullptr;
}

std::u16string IconvDecode(std::string_view bytes, const char* charset,
                           TBadSequenceLength badLength) {
    TIconv cd(kNativeUtf16, charset);
    // No charset we decode yields more UTF-16 units than it has bytes (a replacement stands for
    // at least one byte), so this is the only allocation in practice; E2BIG still grows it.
    std::u16string out(bytes.size() + 4, u'\0');
    std::size_t used = 0;
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    auto put = [&](char16_t unit) {
        if (used == out.size()) out.resize(out.size() * 2);
        out[used++] = unit;
    };
    for (bool flushing = false;;) {
        auto* start = reinterpret_cast<char*>(out.data() + used);
        char* outp = start;
        std::size_t outLeft = (out.size() - used) * sizeof(char16_t);
        int error = flushing ? cd.Convert(nullptr, nullptr, &outp, &outLeft)
                             : cd.Convert(&in, &inLeft, &outp, &outLeft);
        used += static_cast<std::size_t>(outp - start) / sizeof(char16_t);
        if (error == 0) {
            if (flushing) break;
            flushing = true;
        } else if (error == E2BIG) {
            out.resize(out.size() * 2);
        } else if (flushing) {
            break;  // nothing left to decode; a failed reset has no text to give
        } else {
            // An invalid sequence, or one the input ends inside (EINVAL). glibc reports the
            // latter for any lead byte near the end, even when the bytes after it could never
            // continue it, so the charset's own rule decides how much one U+FFFD replaces.
            put(kReplacement);
            std::size_t skip = error == EINVAL ? inLeft : 1;
            if (badLength) skip = badLength(reinterpret_cast<const unsigned char*>(in), inLeft);
            if (skip == 0 || skip > inLeft) skip = error == EINVAL ? inLeft : 1;
            in += skip;
            inLeft -= skip;
        }
    }
    out.resize(used);
    return out;
}

std::string IconvEncode(std::u16string_view text, const char* charset) {
    TIconv cd(charset, kNativeUtf16);
    std::string out(text.size() * 2 + 16, '\0');
    std::size_t used = 0;
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
    std::size_t inLeft = text.size() * sizeof(char16_t);

    // Runs one conversion step into out, growing it as needed; returns the final errno or 0.
    auto step = [&](char** src, std::size_t* srcLeft) {
        for (;;) {
            char* outp = out.data() + used;
            std::size_t outLeft = out.size() - used;
            int error = cd.Convert(src, srcLeft, &outp, &outLeft);
            used = static_cast<std::size_t>(outp - out.data());
            if (error != E2BIG) return error;
            out.resize(out.size() * 2 + 16);
        }
    };
    auto question = [&]() {
        char16_t mark = u'?';
        char* q = reinterpret_cast<char*>(&mark);
        std::size_t qLeft = sizeof mark;
        if (step(&q, &qLeft) != 0) {
            if (used == out.size()) out.resize(out.size() * 2 + 16);
            out[used++] = '?';
        }
    };

    while (inLeft > 0) {
        int error = step(&in, &inLeft);
        if (error == 0) break;
        // Skip the one character (a surrogate pair counts as one) that could not be encoded.
        std::size_t skip = sizeof(char16_t);
        if (error != EINVAL && inLeft >= 2 * sizeof(char16_t)) {
            char16_t first, second;
            std::memcpy(&first, in, sizeof first);
            std::memcpy(&second, in + sizeof first, sizeof second);
            if (first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF)
                skip = 2 * sizeof(char16_t);
        }
        if (skip > inLeft) skip = inLeft;
        in += skip;
        inLeft -= skip;
        question();
    }
    step(nullptr, nullptr);  // back to the initial shift state
    out.resize(used);
    return out;
}

TIconvSequenceDecoder::TIconvSequenceDecoder(const char* charset)
    : cd_(iconv_open(kNativeUtf16, charset)) {
    if (cd_ == reinterpret_cast<void*>(-1))
        throw Error(u"文字コード変換を開始できません: " + Utf8ToUtf16(charset));
}

TIconvSequenceDecoder::~TIconvSequenceDecoder() {
    iconv_close(static_cast<iconv_t>(cd_));
}

char16_t TIconvSequenceDecoder::DecodeUnit(const unsigned char* bytes, std::size_t count) {
    auto cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char16_t units[4] = {};
    char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
    std::size_t inLeft = count;
    char* out = reinterpret_cast<char*>(units);
    std::size_t outLeft = sizeof units;
    if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
        return 0;
    if (iconv(cd, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) return 0;
    if (sizeof units - outLeft != sizeof(char16_t)) return 0;
    return units[0];
}

std::string EncodeToCodePage(std::u16string_view text, std::uint16_t codePage) {
    const char* charset = CodePageCharset(codePage);
    if (charset == nullptr)
        throw Error(u"対応していないコードページです: " + Utf8ToUtf16(std::to_string(codePage)));
    return IconvEncode(text, charset);
}

}  // namespace qm
