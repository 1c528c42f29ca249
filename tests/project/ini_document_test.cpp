#include "project/ini_document.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/error.h"
#include "test_files.h"
#include "test_util.h"

namespace qm {
namespace {

using test::CodePageScope;
using test::ReadBytes;
using test::TempDir;
using test::U16;
using namespace std::string_literals;

TEST(IniDocument, ReadingRules) {
    test::CodePageScope utf8("UTF-8");
    TIniDocument ini = TIniDocument::FromBytes(
        "orphan=1\r\n"      // before the first section: dropped
        "  [ Config ]  \n"  // trimmed header, trimmed name
        "; a comment\r"     // CR alone ends a line
        "  Key  =  value with = sign  \r\n"
        "\t\r\n"  // blank line
        "NoEquals\n"
        "key=second\n"      // the first of equal keys is the one read
        "Quoted=\"a b\"\n"  // taken literally
        "Empty=\n"
        "[]\n"
        "=empty key\n"
        "[config]\n"  // a second section of the same name is never read
        "Other=x\n");
    struct Case {
        const char16_t* section;
        const char16_t* key;
        const char16_t* value;
    } cases[] = {
        {u"CONFIG", u"KEY", u"value with = sign"},
        {u"config", u"quoted", u"\"a b\""},
        {u"Config", u"Empty", u""},
        {u"Config", u"NoEquals", u"(default)"},
        {u"Config", u"Other", u"(default)"},
        {u"Config", u"orphan", u"(default)"},
        {u"", u"", u"empty key"},
        {u"Missing", u"Key", u"(default)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key, c.key + std::char_traits<char16_t>::length(c.key)));
        EXPECT_EQ(ini.ReadString(c.section, c.key, u"(default)"), c.value);
    }
    EXPECT_TRUE(ini.SectionExists(u"CONFIG"));
    EXPECT_FALSE(ini.SectionExists(u"orphan"));
    // Written back: comments, orphans and blanks around "=" are gone, the rest kept in order.
    EXPECT_EQ(
        ini.ToBytes(),
        "[Config]\r\nKey=value with = sign\r\nNoEquals\r\nkey=second\r\n"
        "Quoted=\"a b\"\r\nEmpty=\r\n\r\n[]\r\n=empty key\r\n\r\n[config]\r\nOther=x\r\n\r\n");
}

TEST(IniDocument, Integers) {
    struct Case {
        const char* value;
        std::int32_t expected;
    } cases[] = {
        {"42", 42},          {"-7", -7},
        {"+7", 7},           {"0x10", 16},
        {"0X1f", 31},        {"$FF", 255},
        {"-$10", -16},       {"0x", -99},
        {"$", -99},          {"12abc", -99},
        {"1 2", -99},        {"True", -99},
        {"", -99},           {"2147483647", 2147483647},
        {"2147483648", -99}, {"-2147483648", -2147483647 - 1},
        {"0xFFFFFFFF", -99}, {"１２", -99},  // full-width digits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        TIniDocument ini = TIniDocument::FromBytes(std::string("[S]\nN=") + c.value + "\n");
        EXPECT_EQ(ini.ReadInteger(u"S", u"N", -99), c.expected);
    }
}

TEST(IniDocument, Booleans) {
    struct Case {
        const char* value;
        bool fallback;
        bool expected;
    } cases[] = {
        {"1", false, true}, {"-1", false, true}, {"0x1", false, true},   {"$1", false, true},
        {"2", false, true}, {"0", true, false},  {"True", false, false}, {"yes", true, true},
        {"", true, true},   {"", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        TIniDocument ini = TIniDocument::FromBytes(std::string("[S]\nB=") + c.value + "\n");
        EXPECT_EQ(ini.ReadBool(u"S", u"B", c.fallback), c.expected);
    }
    EXPECT_TRUE(TIniDocument().ReadBool(u"S", u"B", true));
}

TEST(IniDocument, WritingReplacesInPlaceAndAppends) {
    TIniDocument ini = TIniDocument::FromBytes("[a]\r\nkeep=1\r\nVALUE = old\r\nlast=2\r\n");
    ini.WriteString(u"A", u"Value", u"new");  // spelled as the writer gives it, in place
    ini.WriteInteger(u"a", u"Count", -12);    // appended to the section
    ini.WriteBool(u"b", u"On", true);         // a new section at the end
    ini.WriteBool(u"B", u"Off", false);
    EXPECT_EQ(ini.ToBytes(),
              "[a]\r\nkeep=1\r\nValue=new\r\nlast=2\r\nCount=-12\r\n\r\n"
              "[b]\r\nOn=1\r\nOff=0\r\n\r\n");
}

// A value with a line break must not end its line: it is stored escaped, on one line, and
// read back whole; a reader that ignores the escape sees one value without "=", blanks or
// commas, and never a key of its own.
TEST(IniDocument, ValuesThatCannotStandOnOneLineAreEscaped) {
    const struct {
        const char* name;
        std::u16string value;
        std::string stored;  // the value's text in the file
    } cases[] = {
        {"line feed injecting a key", u"Sheet1\nCsvFile=/tmp/evil.csv",
         "qm-escaped:Sheet1%0ACsvFile%3D/tmp/evil.csv"},
        {"CR LF and a section header", u"a\r\n[CONFIG]\r\nb", "qm-escaped:a%0D%0A[CONFIG]%0D%0Ab"},
        {"lone CR, blanks, quotes, commas and percent signs", u" x\r\"y\", 5% ",
         "qm-escaped:%20x%0D%22y%22%2C%205%25%20"},
        {"Japanese text stays as it is", u"氏名\n住所",
         "qm-escaped:\xE6\xB0\x8F\xE5\x90\x8D%0A"
         "\xE4\xBD\x8F\xE6\x89\x80"},
        {"a value that looks escaped", u"qm-escaped:%41", "qm-escaped:qm-escaped:%2541"},
        {"an ordinary value", u"/data/a b%,\"=.csv", "/data/a b%,\"=.csv"},
    };
    CodePageScope utf8("UTF-8");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TIniDocument ini;
        ini.WriteString(u"CONFIG", u"Value", c.value);
        ini.WriteString(u"CONFIG", u"CsvFile", u"/tmp/right.csv");
        const std::string bytes = ini.ToBytes();
        EXPECT_EQ(bytes, "[CONFIG]\r\nValue=" + c.stored + "\r\nCsvFile=/tmp/right.csv\r\n\r\n");
        const TIniDocument read = TIniDocument::FromBytes(bytes);
        EXPECT_EQ(read.ReadString(u"CONFIG", u"Value", u"missing"), c.value);
        EXPECT_EQ(read.ReadString(u"CONFIG", u"CsvFile", u""), u"/tmp/right.csv");
    }
    // Broken escapes keep their text.
    const TIniDocument odd = TIniDocument::FromBytes("[s]\nk=qm-escaped:%4G%4%\n");
    EXPECT_EQ(odd.ReadString(u"s", u"k", u""), u"%4G%4%");
}

TEST(IniDocument, EncodingFollowsTheByteOrderMark) {
    struct Case {
        const char* name;
        std::string bytes;
        TIniDocument::TEncoding encoding;
    } cases[] = {
        {"UTF-8 mark", "\xEF\xBB\xBF[S]\nK=\xE6\xB0\x8F\n", TIniDocument::TEncoding::Utf8},
        {"UTF-16 LE", "\xFF\xFE[\0S\0]\0\n\0K\0=\0\x0F\x6C"s, TIniDocument::TEncoding::Utf16LE},
        {"UTF-16 BE", "\xFE\xFF\0[\0S\0]\0\n\0K\0=\x6C\x0F"s, TIniDocument::TEncoding::Utf16BE},
        {"no mark", "[S]\nK=\xE6\xB0\x8F\n", TIniDocument::TEncoding::SystemCodePage},
    };
    CodePageScope utf8("UTF-8");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TIniDocument ini = TIniDocument::FromBytes(c.bytes);
        EXPECT_EQ(ini.Encoding(), c.encoding);
        EXPECT_EQ(ini.ReadString(u"S", u"K", u""), u"氏");
        // Written back in the same encoding, mark included, and read again unchanged.
        std::string written = ini.ToBytes();
        TIniDocument again = TIniDocument::FromBytes(written);
        EXPECT_EQ(again.Encoding(), c.encoding);
        EXPECT_EQ(again.ReadString(u"S", u"K", u""), u"氏");
        EXPECT_EQ(again.ToBytes(), written);
    }
}

TEST(IniDocument, WithoutAMarkTheLegacyCodePageIsUsed) {
    CodePageScope shiftJis("CP932");
    // 氏名 in CP932.
    TIniDocument ini = TIniDocument::FromBytes("[S]\r\nK=\x8E\x81\x96\xBC\r\n");
    EXPECT_EQ(ini.ReadString(u"S", u"K", u""), u"氏名");
    ini.WriteString(u"S", u"Emoji", u"a\U0001F600b");  // not in CP932: the default character
    EXPECT_EQ(ini.ToBytes(), "[S]\r\nK=\x8E\x81\x96\xBC\r\nEmoji=a?b\r\n\r\n");
    // A new document has no mark either.
    TIniDocument fresh;
    fresh.WriteString(u"S", u"K", u"氏");
    EXPECT_EQ(fresh.ToBytes(), "[S]\r\nK=\x8E\x81\r\n\r\n");
}

TEST(IniDocument, BadInputNeverBreaksReading) {
    CodePageScope utf8("UTF-8");
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"binary", "\x00\xFF\x80[\x00]\x01\n[s]\nk=\xC3\x28\x00v\n\xFE"s},
        {"cut UTF-16", "\xFF\xFE[\0S\0]\0\n\0K\0=\0x"s},
        {"only a mark", "\xEF\xBB\xBF"},
        {"lone bracket lines", "[\n]\n[s\n"},
        {"overlong line", "[s]\nk=" + std::string(5'000'000, 'x') + "\n"},
        {"many sections",
         [] {
             std::string s;
             for (int i = 0; i < 20000; ++i)
                 s += "[s" + std::to_string(i) + "]\nk=v\n";
             return s;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TIniDocument ini = TIniDocument::FromBytes(c.bytes);
        std::string written = ini.ToBytes();
        // Reading what was written is stable.
        EXPECT_EQ(TIniDocument::FromBytes(written).ToBytes(), written);
    }
    TIniDocument binary = TIniDocument::FromBytes(cases[0].bytes);
    EXPECT_EQ(binary.ReadString(u"s", u"k", u""), std::u16string(u"\uFFFD(\0v", 4));
    TIniDocument overlong = TIniDocument::FromBytes(cases[4].bytes);
    EXPECT_EQ(overlong.ReadString(u"s", u"k", u"").size(), 5'000'000u);
}

TEST(IniDocument, Files) {
    TempDir dir;
    // A missing file is an empty document.
    TIniDocument missing = TIniDocument::FromFile(U16(dir.Path() / "missing.ini"));
    EXPECT_FALSE(missing.SectionExists(u"S"));
    EXPECT_EQ(missing.ToBytes(), "");

    // Saving replaces the file whole and keeps its permissions.
    auto path = dir.Write("a.ini", "[S]\nK=1\n");
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    TIniDocument ini = TIniDocument::FromFile(U16(path));
    ini.WriteString(u"S", u"K", u"2");
    ini.SaveToFile(U16(path));
    EXPECT_EQ(ReadBytes(path), "[S]\r\nK=2\r\n\r\n");
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    // A symbolic link stays a link to the rewritten file.
    auto link = dir.Path() / "link.ini";
    std::filesystem::create_symlink(path, link);
    ini.WriteString(u"S", u"K", u"3");
    ini.SaveToFile(U16(link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(path), "[S]\r\nK=3\r\n\r\n");
}

TEST(IniDocument, FileErrorsNameTheFile) {
    TempDir dir;
    auto folder = U16(dir.Path());
    auto expectError = [](auto action, const std::u16string& path) {
        try {
            action();
            ADD_FAILURE() << "no error";
        } catch (const Error& error) {
            EXPECT_TRUE(error.Message().ends_with(u"\n" + path)) << error.what();
        }
    };
    // A folder cannot be read as a document nor be replaced by one.
    expectError([&] { TIniDocument::FromFile(folder); }, folder);
    expectError([&] { TIniDocument().SaveToFile(folder); }, folder);
    // A file in a folder that does not exist cannot be written.
    auto nowhere = folder + u"/no/such/folder/a.ini";
    expectError([&] { TIniDocument().SaveToFile(nowhere); }, nowhere);
    // A huge file is refused before it is read (a sparse file costs no disk).
    auto huge = dir.Path() / "huge.ini";
    { std::ofstream(huge).put('['); }
    std::filesystem::resize_file(huge, TIniDocument::kMaxFileSize + 1);
    expectError([&] { TIniDocument::FromFile(U16(huge)); }, U16(huge));
}

}  // namespace
}  // namespace qm
