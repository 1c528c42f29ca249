#include "platform/system_code_page.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include "platform/iconv_converter.h"
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
    return IconvDecode(bytes, CodePageName().c_str());
}

std::string EncodeSystemText(std::u16string_view text) {
    if (SystemCodePageIsUtf8()) return Utf16ToUtf8(text);
    return IconvEncode(text, CodePageName().c_str());
}

}  // namespace qm
