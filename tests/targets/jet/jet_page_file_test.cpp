// Page 0 and the refusal of databases the engine does not read.
#include "targets/jet/jet_page_file.h"

#include <gtest/gtest.h>

#include "jet_sample_db.h"
#include "platform/error.h"
#include "targets/jet/jet_bytes.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

// Changes the header of a database's bytes through the mask.
template <typename F>
std::string EditHeader(std::string bytes, F edit) {
    auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
    ToggleHeaderMask(p, kPageSize);
    edit(p);
    ToggleHeaderMask(p, kPageSize);
    return bytes;
}

std::u16string RefusalOf(std::string bytes) {
    try {
        TJetPageFile::FromBytes(std::move(bytes), u"/data/売上.mdb");
    } catch (const Error& e) {
        return e.Message();
    }
    return u"(opened)";
}

TEST(JetPageFile, ReadsTheHeaderOfABuiltDatabase) {
    const auto file = TJetPageFile::FromBytes(sample::SampleDatabase(), u"x.mdb");
    EXPECT_EQ(file->Header().version, 1);
    EXPECT_FALSE(file->Header().ace);
    EXPECT_EQ(file->Header().codePage, 1252);
    EXPECT_EQ(file->Header().sortOrder, 1033);
    EXPECT_EQ(file->PageOfType(2, kPageTableDef)[0], kPageTableDef);
}

TEST(JetPageFile, RefusesWhatItDoesNotReadNamingFileAndReason) {
    const std::string good = sample::SampleDatabase();
    const struct {
        const char* name;
        std::string bytes;
        const char16_t* reason;
    } cases[] = {
        {"Jet 3", EditHeader(good, [](std::uint8_t* p) { p[0x14] = 0; }), u"Access 97 (Jet 3)"},
        {"encrypted", EditHeader(good, [](std::uint8_t* p) { p[0x3E] = 0x12; }), u"暗号化"},
        {"password", EditHeader(good, [](std::uint8_t* p) { p[0x42] = 'p'; }), u"パスワード"},
        {"unknown version", EditHeader(good, [](std::uint8_t* p) { p[0x14] = 9; }), u"バージョン"},
        {"truncated", good.substr(0, good.size() - 100), u"4096"},
        {"not Access", std::string(8192, 'x'), u"Accessデータベースではありません"},
        {"empty", std::string(), u"Accessデータベースではありません"},
        {"too few pages", good.substr(0, 2 * kPageSize), u"壊れて"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::u16string message = RefusalOf(c.bytes);
        EXPECT_NE(message.find(c.reason), std::u16string::npos) << Utf16ToUtf8(message);
        EXPECT_NE(message.find(u"\n/data/売上.mdb"), std::u16string::npos);
    }
}

TEST(JetPageFile, PageReadsAreBoundsChecked) {
    const auto file = TJetPageFile::FromBytes(sample::SampleDatabase(), u"x.mdb");
    const std::string damaged = "Accessデータベースが壊れているため読み込めません（";
    EXPECT_EQ(test::ErrorOf([&] { file->Page(file->PageCount()); }),
              damaged + "ページ 8 がファイルの外を指しています）。\nx.mdb");
    EXPECT_EQ(test::ErrorOf([&] { file->Page(0xFFFFFFFF); }),
              damaged + "ページ 4294967295 がファイルの外を指しています）。\nx.mdb");
    EXPECT_EQ(test::ErrorOf([&] { file->PageOfType(2, kPageData); }),
              damaged + "ページ 2 の種類が想定と異なります）。\nx.mdb");
    EXPECT_NE(file->Page(file->PageCount() - 1), nullptr);  // the last page is inside
}

TEST(JetPageFile, RefusesTheFixtureFilesItCannotRead) {
    QM_REQUIRE_FIXTURES();
    const auto dir = test::FixturesDir() / "access";
    const struct {
        const char* file;
        const char16_t* reason;
    } cases[] = {
        {"testV1997.mdb", u"Access 97 (Jet 3)"},
        {"office-agile-4.2.accdb", u"暗号化"},
        {"V2003_with-password.mdb", u"パスワード"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        try {
            TJetPageFile::Open(Utf8ToUtf16((dir / c.file).string()));
            ADD_FAILURE() << "opened";
        } catch (const Error& e) {
            EXPECT_NE(e.Message().find(c.reason), std::u16string::npos);
            EXPECT_NE(e.Message().find(Utf8ToUtf16(c.file)), std::u16string::npos);
        }
    }
    // A missing file is said to be missing, naming it.
    const std::string missing = test::ErrorOf([] { TJetPageFile::Open(u"/nonexistent/x.mdb"); });
    EXPECT_EQ(missing, "ファイルが見つかりません。\n/nonexistent/x.mdb");
}

}  // namespace
}  // namespace qm::jet
