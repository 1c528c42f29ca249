#include <gtest/gtest.h>

#include "about/app_version_info.h"
#include "about/program_version.h"
#include "about/version_block.h"
#include "platform/error.h"
#include "platform/little_endian.h"

namespace qm {
namespace {

constexpr char16_t kDescription[] =
    u"ExcelファイルやAccess データファイルにCSVファイルのデータをインポートする";

TEST(AppVersionInfo, TheProgramsBlockGivesEveryKeyItsValue) {
    const TAppVersionInfo info;
    struct TCase {
        TVersionInfoKey key;
        std::u16string_view text;
        std::u16string_view value;
    };
    const TCase cases[] = {
        {TVersionInfoKey::Comments, u"Comments", kDescription},
        {TVersionInfoKey::CompanyName, u"CompanyName", u"Morvessa"},
        {TVersionInfoKey::FileDescription, u"FileDescription", kDescription},
        {TVersionInfoKey::FileVersion, u"FileVersion", u"0.2.3.0"},
        {TVersionInfoKey::InternalName, u"InternalName", u""},
        {TVersionInfoKey::LegalCopyright, u"LegalCopyright", u"Morvessa"},
        {TVersionInfoKey::LegalTradeMarks, u"LegalTradeMarks", u""},
        {TVersionInfoKey::OriginalFilename, u"OriginalFilename", u""},
        {TVersionInfoKey::PrivateBuild, u"PrivateBuild", u""},  // not in the block at all
        {TVersionInfoKey::ProductName, u"ProductName", u"Quillomat"},
        {TVersionInfoKey::ProductVersion, u"ProductVersion", u"1.0.0.0"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        EXPECT_EQ(VersionInfoKeyText(c.key), c.text);
        EXPECT_EQ(info.GetValue(c.key), c.value);
    }
}

TEST(VersionBlock, HasTheLayoutOfAWindowsVersionResource) {
    const std::string& block = ProgramVersionBlock();
    ASSERT_GE(block.size(), 92u);
    EXPECT_EQ(ReadU16(block.data()), block.size());  // the root spans the block
    EXPECT_EQ(ReadU16(block.data() + 2), 52);        // VS_FIXEDFILEINFO
    EXPECT_EQ(VersionBlockRootKey(block), u"VS_VERSION_INFO");
    // The key's 16 units end at 38; the fixed information starts at the next 4-byte boundary.
    const char* fixed = block.data() + 40;
    EXPECT_EQ(ReadU32(fixed), 0xFEEF04BDu);
    EXPECT_EQ(ReadU32(fixed + 8), 0x00000002u);   // file version 0.2
    EXPECT_EQ(ReadU32(fixed + 12), 0x00030000u);  // .3.0
    EXPECT_EQ(ReadU32(fixed + 16), 0x00000002u);  // product version 0.2.3.0 too
    EXPECT_EQ(ReadU32(fixed + 20), 0x00030000u);
    EXPECT_EQ(QueryVersionValue(block, u"\\"), std::string_view(fixed, 52));

    // Japanese, code page 932; keys are found without regard to letter case.
    EXPECT_EQ(QueryVersionValue(block, u"\\VarFileInfo\\Translation"),
              std::string_view("\x11\x04\xA4\x03", 4));
    const auto version = QueryVersionValue(block, u"\\stringfileinfo\\041103a4\\FILEVERSION");
    ASSERT_TRUE(version);
    EXPECT_EQ(*version, std::string_view("0\0.\0002\0.\0003\0.\0000\0\0\0", 16));
    EXPECT_FALSE(QueryVersionValue(block, u"\\StringFileInfo\\040904B0\\FileVersion"));
}

TEST(AppVersionInfo, AnUnreadableBlockIsAnError) {
    const std::string good = ProgramVersionBlock();
    std::string noTranslation = good;
    const std::size_t at = noTranslation.find(std::string("T\0r\0a\0n\0s", 9));
    ASSERT_NE(at, std::string::npos);
    noTranslation[at] = 'X';
    std::string wrongRoot = good;
    wrongRoot[6] = 'W';
    std::string tooLong = good;
    tooLong[0] = static_cast<char>(tooLong[0] + 4);  // runs past the end of the block

    struct TCase {
        const char* name;
        std::string block;
    };
    const TCase cases[] = {{"empty", ""},
                           {"root only", good.substr(0, 6)},
                           {"no translation", noTranslation},
                           {"another root key", wrongRoot},
                           {"root longer than the block", tooLong}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            TAppVersionInfo info(c.block);
            ADD_FAILURE() << "no error";
        } catch (const Error& error) {
            EXPECT_EQ(error.Message(), u"バージョン情報を取得できません");
        }
    }
}

TEST(AppVersionInfo, CutBlocksNeverReadOutsideThemselves) {
    // Every shorter block is either refused or read within its bounds (ASan watches).
    const std::string& good = ProgramVersionBlock();
    for (std::size_t size = 0; size < good.size(); ++size) {
        std::string cut = good.substr(0, size);
        // The root's length is fitted to the cut, so the nodes inside are what gets cut.
        if (size >= 2) {
            cut[0] = static_cast<char>(size & 0xFF);
            cut[1] = static_cast<char>(size >> 8);
        }
        try {
            const TAppVersionInfo info(cut);
            for (int key = 0; key <= static_cast<int>(TVersionInfoKey::ProductVersion); ++key)
                (void)info.GetValue(static_cast<TVersionInfoKey>(key));
        } catch (const Error&) {
        }
    }
}

}  // namespace
}  // namespace qm
