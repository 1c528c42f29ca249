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
    // Every shorter block, with the root's length fitted to the cut so that the nodes inside
    // are what gets cut: a node runs past its parent's end from the cut on, so a value is
    // found whole exactly while its enclosing nodes end before the cut, and never in part.
    const std::string& good = ProgramVersionBlock();
    const std::u16string_view stringsKey = u"StringFileInfo";
    const std::size_t stringsNode =
        good.find(
            std::string(reinterpret_cast<const char*>(stringsKey.data()), stringsKey.size() * 2)) -
        6;
    ASSERT_LT(stringsNode, good.size());
    const std::size_t stringsEnd = stringsNode + ReadU16(good.data() + stringsNode);
    constexpr std::size_t kFixedInfoEnd = 40 + 52;  // the root's key, then VS_FIXEDFILEINFO
    const auto fixedInfo = QueryVersionValue(good, u"\\");
    const auto fileVersion = QueryVersionValue(good, u"\\StringFileInfo\\041103A4\\FileVersion");
    ASSERT_TRUE(fixedInfo && fileVersion);
    for (std::size_t size = 0; size < good.size(); ++size) {
        SCOPED_TRACE(size);
        std::string cut = good.substr(0, size);
        if (size >= 2) SetU16(cut, 0, static_cast<std::uint16_t>(size));
        // The translation list comes last: no cut block can be read for its strings.
        try {
            const TAppVersionInfo info(cut);
            ADD_FAILURE() << "a cut block was read";
        } catch (const Error& error) {
            EXPECT_EQ(error.Message(), u"バージョン情報を取得できません");
        }
        const auto fixed = QueryVersionValue(cut, u"\\");
        if (size >= kFixedInfoEnd) {
            EXPECT_EQ(fixed, fixedInfo);
        } else {
            EXPECT_FALSE(fixed);
        }
        const auto version = QueryVersionValue(cut, u"\\StringFileInfo\\041103A4\\FileVersion");
        if (size >= stringsEnd) {
            EXPECT_EQ(version, fileVersion);
        } else {
            EXPECT_FALSE(version);
        }
        EXPECT_FALSE(QueryVersionValue(cut, u"\\VarFileInfo\\Translation"));
    }
}

}  // namespace
}  // namespace qm
