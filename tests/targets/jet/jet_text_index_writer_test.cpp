// Appending rows to tables with text indexes: the keys written are the keys rebuilt from the rows
// (the strict checker compares them), the independent readers read every row back, unique text
// indexes refuse values whose keys collide ("abc" and "ABC", full and half width, trailing
// spaces) and values the encoder cannot prove a key for, and every refusal leaves the file as it
// was.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "jet_independent_readers.h"
#include "targets/engine.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_check.h"
#include "targets/jet/jet_index.h"
#include "targets/jet/jet_table_scan.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

namespace fs = std::filesystem;

fs::path CopyFixture(const test::TempDir& dir, const std::string& name) {
    const fs::path target = dir.Path() / name;
    fs::copy_file(test::FixturesDir() / "access" / name, target);
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
    return target;
}

std::unique_ptr<TEngine> Open(const fs::path& file) {
    return OpenEngine(GetConnectionString(Utf8ToUtf16(file.string())));
}

void Append(const fs::path& file, const std::u16string& table,
            const std::vector<std::vector<TValue>>& rows) {
    auto engine = Open(file);
    auto t = engine->OpenTable(table);
    engine->BeginTransaction();
    try {
        for (const auto& row : rows)
            t->AppendRow(row);
        engine->CommitTransaction(nullptr);
    } catch (...) {
        engine->RollbackTransaction();
        throw;
    }
}

// The strict check's findings for `table`, every problem of the file reported as a failure.
TTableCheck StrictCheck(const fs::path& file, const std::u16string& table) {
    const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
    const TCheckReport report = CheckDatabase(*db, {true});
    for (const auto& problem : report.problems)
        ADD_FAILURE() << Utf16ToUtf8(problem);
    for (const auto& check : report.tables)
        if (check.table == table) return check;
    ADD_FAILURE() << "no check of " << Utf16ToUtf8(table);
    return {};
}

// The most leaves any text index of the table has.
std::size_t MostTextIndexLeaves(const fs::path& file, const std::u16string& table) {
    const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
    const auto t = db->OpenTable(table);
    std::size_t most = 0;
    for (const auto& index : t->Def().physicalIndexes)
        for (const auto& ic : index.columns) {
            const TColumnDef* column = t->Def().ColumnByNumber(ic.column);
            if (column->type == kTypeText || column->type == kTypeMemo)
                most = std::max(most, WalkIndexTree(db->File(), index.rootPage).leafPages.size());
        }
    return most;
}

// Text values a sort order keys: lower and upper case, full- and half-width kana, voiced and
// semi-voiced kana, the prolonged mark, small kana, kanji, punctuation that only the extra
// sections record; each row adds its number, and some values end in spaces.
struct TPiece {
    const char16_t* prefix;
    const char16_t* suffix;
};
const std::vector<TPiece> kJapanese = {
    {u"abc", u""},  {u"ABC", u""},      {u"ｶｻﾀﾞ", u""},   {u"カサダ", u""},
    {u"ぱば", u""}, {u"コーヒー", u""}, {u"シャッ", u""}, {u"ﾊﾞｰ", u""},
    {u"商品", u""}, {u"社員", u""},     {u"x", u"  "},    {u"a-b", u""},
};
const std::vector<TPiece> kGeneralLegacy = {
    {u"abc", u""},  {u"ABC", u""},    {u"ÄÖé", u""}, {u"ｶｻﾀﾞ", u""}, {u"カサダ", u""},
    {u"ぱば", u""}, {u"コード", u""}, {u"x", u"  "}, {u"o'k", u""},  {u"a-b", u""},
    {u"商品", u""}, {u"ＡＢ", u""},   {u"αβ", u""},
};
// General (Access 2010 and later): no trailing spaces, no prolonged mark, at most seven kana.
const std::vector<TPiece> kGeneral = {
    {u"abc", u""},    {u"ABD", u""}, {u"a.b_c", u""}, {u"x y", u""},  {u"a-b", u""},
    {u"カサダ", u""}, {u"ｶﾞｧ", u""}, {u"商品", u""},  {u"Łódź", u""}, {u"ＡＢ", u""},
};

std::u16string PieceText(const std::vector<TPiece>& pieces, int row, std::size_t size,
                         std::size_t fill = 0) {
    const TPiece& piece = pieces[static_cast<std::size_t>(row) % pieces.size()];
    std::u16string text = piece.prefix + Utf8ToUtf16(std::to_string(row));
    text.append(fill, u'z');
    text += piece.suffix;
    if (size > 0 && text.size() > size) text.resize(size);
    return text;
}

struct TTextCase {
    const char* file;
    const char16_t* table;
    const std::vector<TPiece>* pieces;
    int rows;
    int nullEvery = 0;     // every so many rows, the text fields after the first are empty
    std::size_t fill = 0;  // 'z's that make long keys
};

std::vector<TValue> RowOf(const std::vector<TFieldDef>& fields, const TTextCase& c, int row) {
    std::vector<TValue> values;
    for (std::size_t f = 0; f < fields.size(); ++f) {
        const TFieldDef& field = fields[f];
        switch (field.DataType) {
            case ftWideString:
            case ftFixedWideChar:
                if (f > 0 && c.nullEvery > 0 && row % c.nullEvery == c.nullEvery - 1)
                    values.emplace_back();
                else
                    values.emplace_back(
                        PieceText(*c.pieces, row + static_cast<int>(f), field.Size, c.fill));
                break;
            case ftSmallint:
                values.emplace_back(std::int64_t{row});
                break;
            case ftInteger:
                values.emplace_back(std::int64_t{100000 + row});
                break;
            case ftWord:
                values.emplace_back(std::int64_t{row % 256});
                break;
            case ftFloat:
                values.emplace_back(row + 0.5);
                break;
            case ftDateTime:
                values.emplace_back(TDateTime{45000.0 + row});
                break;
            case ftBoolean:
                values.emplace_back(row % 2 == 0);
                break;
            default:
                values.emplace_back();
        }
    }
    return values;
}

TEST(JetTextIndexWriter, SampleTablesTakeTextKeysEqualToTheKeysRebuiltFromTheirRows) {
    QM_REQUIRE_FIXTURES();
    const std::string missing = readers::MissingReaders();
    ASSERT_TRUE(missing.empty()) << missing;
    const TTextCase cases[] = {
        // 1041: a Long + Short Text key, enough rows to split its leaves.
        {"hanbai-kanri_jp1041.accdb", u"コード名称マスタ", &kJapanese, 600},
        // The same table under General legacy.
        {"hanbai-kanri_jpdata_general.mdb", u"コード名称マスタ", &kGeneralLegacy, 200},
        // A unique text key and a text + Long index that ignores nulls.
        {"testIndexPropertiesV2003.mdb", u"TableIgnoreNulls2", &kGeneralLegacy, 200, 5},
        // Keys of 240 characters and more in a compressed Unicode column.
        {"testUnicodeCompV2003.mdb", u"Table", &kGeneralLegacy, 60, 5, 240},
        // General (1033/1): a unique and a plain text index.
        {"testV2010.accdb", u"Table1", &kGeneral, 200},
        {"fixedTextTestV2003.mdb", u"users", &kGeneralLegacy, 100},
        {"bigIndexTestV2003.mdb", u"Table1", &kGeneralLegacy, 100, 0, 200},
        {"test2V2003.mdb", u"MSP_PROJECTS", &kGeneralLegacy, 50},
    };
    std::size_t mostLeaves = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + Utf16ToUtf8(c.table));
        test::TempDir dir;
        const auto file = CopyFixture(dir, c.file);
        std::vector<TFieldDef> fields;
        std::uint32_t before = 0;
        {
            auto engine = Open(file);
            auto table = engine->OpenTable(c.table);
            fields = table->Fields();
            std::vector<TValue> values;
            while (table->ReadRow(before, values))
                ++before;
        }
        std::vector<std::vector<TValue>> rows;
        for (int r = 0; r < c.rows; ++r)
            rows.push_back(RowOf(fields, c, r));
        // The sample's own rows may hold characters the encoder cannot prove; the rows
        // written add none.
        const std::uint32_t unprovable = StrictCheck(file, c.table).keysNotProvable;
        ASSERT_EQ(test::ErrorOf([&] { Append(file, c.table, rows); }), "(no error)");

        const TTableCheck check = StrictCheck(file, c.table);
        EXPECT_EQ(check.liveRows, before + static_cast<std::uint32_t>(c.rows));
        EXPECT_EQ(check.keysNotProvable, unprovable);
        EXPECT_GE(check.keysCompared, static_cast<std::uint32_t>(c.rows));
        std::printf("%s %s: %u keys compared with the keys rebuilt from their rows\n", c.file,
                    Utf16ToUtf8(c.table).c_str(), check.keysCompared);
        mostLeaves = std::max(mostLeaves, MostTextIndexLeaves(file, c.table));
        readers::ExpectReadersAgree(file.string(), c.file);
    }
    EXPECT_GT(mostLeaves, 1u) << "no text index split its leaf";
}

// A Long Text index keys the first 255 characters: values that differ only after them share a
// key, and a unique index refuses the second.
TEST(JetTextIndexWriter, LongTextKeysTakeTheFirst255Characters) {
    test::TempDir dir;
    TJetBuilder builder(
        {{u"記録",
          {{u"ID", kTypeLong}, {u"本文", kTypeMemo}, {u"要約", kTypeMemo}},
          {{u"PrimaryKey", {0}, true, true}, {u"本文", {1}}, {u"要約", {2}, false, true}}}});
    const auto file = dir.Write("長文.mdb", builder.Finish());
    const std::u16string head = u"コード" + std::u16string(251, u'a');  // 254 characters
    auto summary = [](int i) {
        return u"sum" + Utf8ToUtf16(std::to_string(i)) + std::u16string(300, u'x');
    };
    std::vector<std::vector<TValue>> rows;
    for (int i = 0; i < 4; ++i)
        rows.push_back({std::int64_t{i}, head + u"b" + std::u16string(600 + i, u'c'), summary(i)});
    rows.push_back({std::int64_t{9}, head + u" " + std::u16string(100, u'd'), TValue{}});
    Append(file, u"記録", rows);
    const TTableCheck check = StrictCheck(file, u"記録");
    EXPECT_EQ(check.keysNotProvable, 0u);
    EXPECT_EQ(check.keysCompared, 3 * 5u);
    {
        const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
        const auto table = db->OpenTable(u"記録");
        const auto entries =
            WalkIndexTree(db->File(), table->Def().physicalIndexes[1].rootPage).leafEntries;
        ASSERT_EQ(entries.size(), 5u);
        // The value with a space as its 255th character keys as the 254 before it, first; the
        // other four share their first 255 characters and their key.
        EXPECT_LT(entries[0].key, entries[1].key);
        for (std::size_t i = 2; i < 5; ++i)
            EXPECT_EQ(entries[i].key, entries[1].key);
    }
    const std::string missing = readers::MissingReaders();
    ASSERT_TRUE(missing.empty()) << missing;
    readers::ExpectReadersAgree(file.string(), "長文.mdb");

    const std::string bytes = test::ReadBytes(file);
    const std::string error = test::ErrorOf([&] {
        Append(file, u"記録", {{std::int64_t{20}, TValue{}, summary(0).substr(0, 255) + u"y"}});
    });
    EXPECT_NE(error.find("索引「要約」では値の重複が許されていない"), std::string::npos) << error;
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
}

// The command line's import into sample tables: a value whose key collides with a row already
// there or with an earlier line of the same file, or one the encoder cannot key, fails naming
// the CSV line, the field and the value, and the database stays byte for byte as it was.
TEST(JetTextIndexWriter, CollidingAndUnprovableKeysRollTheImportBack) {
    QM_REQUIRE_FIXTURES();
    struct TCase {
        const char* name;
        const char* file;
        const char* table;
        const char* csv;
        const char* relation;
        std::vector<const char*> expected;  // parts of the message
    };
    const TCase cases[] = {
        // testV2010 Table1 (General, 1033/1) holds "abcdefg" in its primary key A.
        {"upper case of a value in the table",
         "testV2010.accdb",
         "Table1",
         "A\nab1\nABCDEFG\n",
         "A=0",
         {"索引「PrimaryKey」", "フィールド「A」の値「ABCDEFG」", "「abcdefg」の行がすでにあります",
          "3行目"}},
        // 商品マスタ (Japanese, 1041): codes 0001 to 0101.
        {"lower case of an earlier line",
         "hanbai-kanri_jp1041.accdb",
         "商品マスタ",
         "商品コード\nAB1\nab1\n",
         "商品コード=0",
         {"フィールド「商品コード」の値「ab1」", "「AB1」の行がすでにあります", "3行目"}},
        {"half width of an earlier line's full-width kana",
         "hanbai-kanri_jp1041.accdb",
         "商品マスタ",
         "商品コード\nカサ1\nｶｻ1\n",
         "商品コード=0",
         {"値「ｶｻ1」", "「カサ1」の行がすでにあります", "3行目"}},
        {"hiragana of a katakana value",
         "hanbai-kanri_jp1041.accdb",
         "商品マスタ",
         "商品コード\nコード\nこーど\n",
         "商品コード=0",
         {"値「こーど」", "「コード」の行がすでにあります", "3行目"}},
        {"trailing spaces",
         "hanbai-kanri_jp1041.accdb",
         "商品マスタ",
         "商品コード\nab\n\"ab  \"\n",
         "商品コード=0",
         {"値「ab  」", "「ab」の行がすでにあります", "3行目"}},
        // General legacy (1033/0): "row0" is in the table.
        {"General legacy case folding",
         "testIndexPropertiesV2003.mdb",
         "TableIgnoreNulls1",
         "row\nROW0\n",
         "row=0",
         {"値「ROW0」", "「row0」の行がすでにあります", "2行目"}},
        {"General legacy trailing spaces",
         "testIndexPropertiesV2003.mdb",
         "TableIgnoreNulls1",
         "row\n\"row0 \"\n",
         "row=0",
         {"値「row0 」", "「row0」の行がすでにあります", "2行目"}},
        {"a character the encoder cannot key",
         "hanbai-kanri_jp1041.accdb",
         "商品マスタ",
         "商品コード\nA01\nAＢ\n",
         "商品コード=0",
         {"のフィールド「商品コード」の値「AＢ」のキーを作れません", "2 文字目の「Ｂ」", "3行目"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const auto file = CopyFixture(dir, c.file);
        const auto csv = dir.Write("in.csv", c.csv);
        const std::string bytes = test::ReadBytes(file);
        const auto run = test::RunCli("import '-e=" + file.string() + "' '-w=" + c.table +
                                      "' '-c=" + csv.string() + "' -f=-1 '-r=" + c.relation + "'");
        EXPECT_NE(run.status, 0) << run.out;
        for (const char* part : c.expected)
            EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
        EXPECT_TRUE(test::ReadBytes(file) == bytes);
    }
}

// Descending text indexes: a unique one on a General legacy column and one over a Japanese
// column and a Long. Their entries are the complemented keys, in descending order of the values'
// ascending keys with NULLs last; the strict check rebuilds them from the rows; a value whose
// key a row already has is refused, the file left as it was; the independent readers read back
// every row.
TEST(JetTextIndexWriter, DescendingTextIndexesTakeComplementedKeysInReverseOrder) {
    test::TempDir dir;
    TJetBuilder builder(
        {{u"表",
          {{u"ID", kTypeLong},
           {u"コード", kTypeText, 20},
           {u"名前", kTypeText, 20, false, false, {}, 1041}},
          {{u"コード", {1}, false, true, true}, {u"名前ID", {2, 0}, false, false, true}}}});
    const auto file = dir.Write("降順.mdb", builder.Finish());
    // コード's values in ascending key order under General legacy: "" first, then "ab" before
    // "a-b" (the hyphen only adds a section after the primary codes), then "abc", "ABD", "b"
    // and the kana, whose primary codes (7F xx) lie above the letters'.
    const std::vector<std::u16string> ascending = {u"",    u"ab", u"a-b",   u"abc",
                                                   u"ABD", u"b",  u"コード"};
    const std::vector<std::u16string> names = {u"ﾊﾞｰ", u"カサダ", u"ぱば", u"",
                                               u"abc", u"a-b",    u"x"};
    std::vector<std::vector<TValue>> rows;
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        const std::size_t k = (i * 3) % ascending.size();  // not in key order
        rows.push_back({std::int64_t(k), ascending[k], names[k]});
    }
    rows.push_back({std::int64_t{20}, TValue{}, TValue{}});
    rows.push_back({std::int64_t{21}, TValue{}, std::u16string(u"カサダ")});
    Append(file, u"表", rows);

    const TTableCheck check = StrictCheck(file, u"表");
    EXPECT_EQ(check.liveRows, 9u);
    EXPECT_EQ(check.keysCompared, 2 * 9u);
    EXPECT_EQ(check.keysNotProvable, 0u);
    {
        const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
        const auto table = db->OpenTable(u"表");
        const TTableDef& def = table->Def();
        ASSERT_FALSE(def.physicalIndexes[0].columns[0].ascending);
        const TRowDecoder decoder(db->File(), def);
        std::map<std::pair<std::uint32_t, std::uint8_t>, std::vector<TJetValue>> byRow;
        {
            TTableScan scan(db->File(), def);
            TLiveRow row;
            while (scan.Next(row)) {
                const TRowLayout layout(db->File(), def, row.bytes);
                auto& values = byRow[{row.page, static_cast<std::uint8_t>(row.slot)}];
                for (std::uint16_t c = 0; c < 3; ++c)
                    values.push_back(decoder.DecodeColumn(layout, *def.ColumnByNumber(c)));
            }
        }
        // The unique index: the values in reverse, then the two NULLs (flag FF alone).
        const auto entries = WalkIndexTree(db->File(), def.physicalIndexes[0].rootPage).leafEntries;
        ASSERT_EQ(entries.size(), 9u);
        for (std::size_t i = 0; i < ascending.size(); ++i) {
            const TJetValue& code = byRow.at({entries[i].page, entries[i].row})[1];
            EXPECT_EQ(Utf16ToUtf8(code.text), Utf16ToUtf8(ascending[ascending.size() - 1 - i]))
                << "entry " << i;
        }
        EXPECT_EQ(entries[7].key, "\xFF");
        EXPECT_EQ(entries[8].key, "\xFF");
        // "ab": 7F 4A 4C 01 00 complemented behind 80, and a final 00.
        EXPECT_EQ(entries[5].key, std::string("\x80\xB5\xB3\xFE\xFF\x00", 6));
        // "": 7F 01 00 the same way.
        EXPECT_EQ(entries[6].key, std::string("\x80\xFE\xFF\x00", 4));
        // The two-column index: the name's descending key, then the ID's (a Long: big-endian,
        // top bit flipped, complemented); the NULL name is FF and sorts last.
        const auto pairs = WalkIndexTree(db->File(), def.physicalIndexes[1].rootPage).leafEntries;
        ASSERT_EQ(pairs.size(), 9u);
        EXPECT_EQ(pairs[8].key, std::string("\xFF\x80\x7F\xFF\xFF\xEB", 6));  // NULL, 20
        // "" (row 3): 80 FE FF 00, then 80 and ~(80 00 00 03).
        EXPECT_EQ(pairs[7].key, std::string("\x80\xFE\xFF\x00\x80\x7F\xFF\xFF\xFC", 9));
        // カサダ of rows 21 and 1 share the name's key; the greater ID comes first.
        std::vector<std::int64_t> kasada;
        for (const auto& entry : pairs) {
            const auto& values = byRow.at({entry.page, entry.row});
            if (values[2].text == u"カサダ") kasada.push_back(values[0].integer);
        }
        EXPECT_EQ(kasada, (std::vector<std::int64_t>{21, 1}));
    }
    const std::string missing = readers::MissingReaders();
    ASSERT_TRUE(missing.empty()) << missing;
    EXPECT_EQ(readers::ExpectReadersAgree(file.string(), "降順.mdb"), 3 * 9u);

    // "AB" takes the key of "ab" (case folds): the unique descending index refuses it.
    const std::string bytes = test::ReadBytes(file);
    const std::string error = test::ErrorOf([&] {
        Append(file, u"表", {{std::int64_t{30}, std::u16string(u"AB"), TValue{}}});
    });
    EXPECT_NE(error.find("索引「コード」では値の重複が許されていない"), std::string::npos) << error;
    EXPECT_NE(error.find("「ab」の行がすでにあります"), std::string::npos) << error;
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
}

// Index columns with no key encoding at all refuse the table before a row is written, naming
// the table, the column and the index.
TEST(JetTextIndexWriter, TextIndexesWithNoKeyEncodingRefuseTheTable) {
    struct TCase {
        const char* name;
        TBuildColumn column;
        bool descending;
        const char* reason;
    };
    const TCase cases[] = {
        {"Russian sort order",
         {u"コード", kTypeText, 10, false, false, {}, 1049},
         false,
         "並べ替え順序 1049/0 のテキスト型の列「コード」の索引「索」"},
        {"Russian sort order, descending",
         {u"コード", kTypeText, 10, false, false, {}, 1049},
         true,
         "並べ替え順序 1049/0 のテキスト型の列「コード」の索引「索」"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        TJetBuilder builder(
            {{u"表", {{u"ID", kTypeLong}, c.column}, {{u"索", {1}, false, false, c.descending}}}});
        const auto file = dir.Write("拒否.mdb", builder.Finish());
        const std::string bytes = test::ReadBytes(file);
        const std::string error = test::ErrorOf([&] {
            Append(file, u"表", {{std::int64_t{1}, std::u16string(u"a")}});
        });
        EXPECT_NE(error.find("テーブル「表」には行を追加できません"), std::string::npos) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_TRUE(test::ReadBytes(file) == bytes);
    }
}

// A text key that differs from the key of its row's value is a problem for the strict check
// (the ordinary check, which the writer runs first, leaves text keys alone).
TEST(JetTextIndexWriter, TheStrictCheckFindsATextKeyThatIsNotItsRowsKey) {
    test::TempDir dir;
    TJetBuilder builder({{u"表", {{u"コード", kTypeText, 10}}, {{u"索", {0}}}}});
    const auto file = dir.Write("鍵.mdb", builder.Finish());
    Append(file, u"表", {{std::u16string(u"B")}});
    std::uint32_t root = 0;
    {
        const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
        root = db->OpenTable(u"表")->Def().physicalIndexes[0].rootPage;
        const auto entries = WalkIndexTree(db->File(), root).leafEntries;
        ASSERT_EQ(entries.size(), 1u);
        ASSERT_EQ(entries[0].key, std::string("\x7F\x4C\x01\x00", 4));  // "B" under 1033/0
    }
    EXPECT_EQ(StrictCheck(file, u"表").keysCompared, 1u);
    std::string bytes = test::ReadBytes(file);
    bytes[root * kPageSize + kIndexEntriesStart + 1] = 0x4E;  // "C": still in order
    dir.Write("鍵.mdb", bytes);
    const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
    EXPECT_TRUE(CheckDatabase(*db).Consistent());
    const TCheckReport strict = CheckDatabase(*db, {true});
    ASSERT_EQ(strict.problems.size(), 1u);
    EXPECT_NE(Utf16ToUtf8(strict.problems[0]).find("行の値から作ったキーと一致しません"),
              std::string::npos)
        << Utf16ToUtf8(strict.problems[0]);
}

}  // namespace
}  // namespace qm::jet
