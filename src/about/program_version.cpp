#include "about/program_version.h"

#include "about/version_block.h"

namespace qm {

namespace {

constexpr char16_t kDescription[] =
    u"ExcelファイルやAccess データファイルにCSVファイルのデータをインポートする";

TVersionBlockContent ProgramVersionContent() {
    TVersionBlockContent content;
    content.FileVersion = {0, 2, 3, 0};
    content.ProductVersion = {0, 2, 3, 0};
    content.Language = 0x0411;  // Japanese
    content.CodePage = 932;     // Shift_JIS: the string table is named 041103A4
    const std::u16string maker(kMakerName);
    // The product version string differs from the fixed one, as in the Windows edition.
    content.Strings = {
        {u"CompanyName", maker},         {u"FileDescription", kDescription},
        {u"FileVersion", u"0.2.3.0"},    {u"InternalName", u""},
        {u"LegalCopyright", maker},      {u"LegalTrademarks", u""},
        {u"OriginalFilename", u""},      {u"ProductName", u"Quillomat"},
        {u"ProductVersion", u"1.0.0.0"}, {u"Comments", kDescription},
    };
    return content;
}

}  // namespace

const std::string& ProgramVersionBlock() {
    static const std::string block = BuildVersionBlock(ProgramVersionContent());
    return block;
}

}  // namespace qm
