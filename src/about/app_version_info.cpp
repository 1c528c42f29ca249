#include "about/app_version_info.h"

#include <array>

#include "about/program_version.h"
#include "about/version_block.h"
#include "platform/error.h"
#include "platform/little_endian.h"

namespace qm {

namespace {

constexpr std::array<std::u16string_view, 11> kKeyTexts = {
    u"Comments",     u"CompanyName",    u"FileDescription", u"FileVersion",
    u"InternalName", u"LegalCopyright", u"LegalTradeMarks", u"OriginalFilename",
    u"PrivateBuild", u"ProductName",    u"ProductVersion",
};

[[noreturn]] void Unreadable() {
    throw Error(u"バージョン情報を取得できません");
}

void AppendHexWord(std::u16string& text, std::uint32_t value) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4)
        text += kDigits[(value >> shift) & 0xF];
}

}  // namespace

std::u16string_view VersionInfoKeyText(TVersionInfoKey key) {
    return kKeyTexts.at(static_cast<std::size_t>(key));
}

TAppVersionInfo::TAppVersionInfo() : TAppVersionInfo(ProgramVersionBlock()) {}

TAppVersionInfo::TAppVersionInfo(std::string block) : FBlock(std::move(block)) {
    if (VersionBlockRootKey(FBlock) != u"VS_VERSION_INFO") Unreadable();
    // Without a translation the string table cannot be named, so no value could be found.
    std::optional<std::string_view> translation =
        QueryVersionValue(FBlock, u"\\VarFileInfo\\Translation");
    if (!translation || translation->size() < 4) Unreadable();
    FTranslation = ReadU32(translation->data());
}

std::u16string TAppVersionInfo::GetValue(TVersionInfoKey key) const {
    std::u16string path = u"\\StringFileInfo\\";
    AppendHexWord(path, FTranslation & 0xFFFF);
    AppendHexWord(path, FTranslation >> 16);
    path += u'\\';
    path += VersionInfoKeyText(key);
    std::optional<std::string_view> value = QueryVersionValue(FBlock, path);
    std::u16string text;
    if (!value) return text;
    for (std::size_t i = 0; i + 1 < value->size(); i += 2) {
        const char16_t unit = ReadU16(value->data() + i);
        if (unit == 0) break;
        text += unit;
    }
    return text;
}

}  // namespace qm
