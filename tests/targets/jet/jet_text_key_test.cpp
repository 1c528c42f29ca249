// Text index keys against the keys Access wrote (the golden table of the fixtures folder), and
// the refusals of what is not proven.
#include "targets/jet/jet_text_key.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "jet_readable_fixtures.h"
#include "targets/jet/jet_database.h"
#include "targets/jet/jet_index.h"
#include "targets/jet/jet_row_index_key.h"
#include "targets/jet/jet_text_key_tables.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::string KeyHex(std::u16string_view value, TTextSortOrder order = {1041, 0}) {
    const TTextKey key = EncodeTextKey(value, order);
    return key.refusal ? "refused" : Hex(key.bytes);
}

// A value and the key expected for it, in hex.
struct TKeyCase {
    std::u16string_view value;
    const char* key;
};

void ExpectKeys(std::initializer_list<TKeyCase> cases, TTextSortOrder order) {
    for (const TKeyCase& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.value));
        EXPECT_EQ(KeyHex(c.value, order), c.key);
    }
}

TEST(JetTextKey, LayoutOfTheSections) {
    ExpectKeys(
        {
            {u"", "7f0100"},
            {u"A01", "7f4a36380100"},
            {u"a01  ", "7f4a36380100"},  // case-insensitive, trailing spaces dropped
            {u"_VBA", "7f2b03714c4a0100"},
            {u"102-0082", "7f38363a3636463a010101018013068200"},  // hyphen: unprintable at 3
            {u"é", "7f51010e00"},                                 // diacritic section
            {u"コード", "7f7f0e7f067f1e010202030101ff9c0280ff8000"},
            {u"こーど", "7f7f0e7f067f1e010202030101ff9c0280ff8000"},  // hiragana = katakana
            {u"メッセージマスタ",
             "7f7f357f1c7f157f057f137f327f147f1a0102020202030101b8ff95b0028080ff808000"},
            {u"商品マスタ", "7f868f8afb7f327f147f1a010101ff0280ff8000"},
            {u"寿々木", "7f861b861b8c3101020500"},
        },
        {1041, 0});
    // Half-width kana with their voicing marks share the keys of the full-width forms.
    EXPECT_NE(KeyHex(u"バー"), "refused");
    EXPECT_EQ(KeyHex(u"ﾊﾞｰ"), KeyHex(u"バー"));
    EXPECT_EQ(KeyHex(u"ばー"), KeyHex(u"バー"));
    EXPECT_EQ(KeyHex(u"A01", {1033, 0}), "7f4a36380100");
    EXPECT_EQ(KeyHex(u"MSysDb", {1033, 1}), "7f0e510e910ea70e910e1a0e090100");
    EXPECT_EQ(KeyHex(u"test_data2.txt", {1033, 1}),
              "7f0e990e210e910e9907440e1a0e020e990e020d1a07330e990ea60e990100");
    // General legacy codes kanji by its own table, not by the Japanese weights (Access's key).
    EXPECT_EQ(KeyHex(u"商品マスタ", {1033, 0}), "7fa685a5fe7f327f147f1a010101ff0280ff8000");
}

// General (1033/1) keys worked out by hand from the lines of Jackcess's index_codes_gen.txt and
// index_codes_ext_gen.txt (S: primary code; I: primary code and diacritic bytes; U: code in the
// unprintable section, at position 7 + 4 × the diacritic bytes and characters before it; P: added
// to the diacritic weight before it; Z: kana, with a flag in the kana section; X: ignored).
TEST(JetTextKey, GeneralKeysByTheCodeLists) {
    ExpectKeys(
        {
            {u"abc", "7f0e020e090e0a0100"},
            {u"ABC", "7f0e020e090e0a0100"},
            {u"Éa", "7f0e210e02010e00"},               // É IE21,E; trailing default weight dropped
            {u"aé", "7f0e020e2101020e00"},             // é IE21,E after a plain letter
            {u"ÿ", "7f0ea7011300"},                    // ÿ IEA7,13
            {u"ªz", "7f0e020ea9010300"},               // ª IE02,3
            {u"Æb", "7f0e020e210e090100"},             // Æ SE020E21: one character, two letters
            {u"ß", "7f0e910e910100"},                  // ß SE910E91
            {u"Ü", "7f0e9f0e210100"},                  // Ü SE9F0E21
            {u"½", "7f0d1801d600"},                    // ½ ID18,D6
            {u"a\tb", "7f0e0207050e090100"},           // tab S705
            {u"a\u00A0b", "7f0e0207040e090100"},       // no-break space S704
            {u"a\u00ADb", "7f0e020e090100"},           // soft hyphen X
            {u"a\u0080", "7f0e020cfa01021d00"},        // U+0080 ICFA,1D
            {u"a'b", "7f0e020e0901010101800b068000"},  // ' U80 at 7 + 4 × 1
            {u"é-", "7f0e21010e010101800b068200"},     // - U82 after a diacritic weight
            {u"\u0001a", "7f0e02010101018007060300"},  // U+0001 U3 at 7
            {u"09", "7f0d170d210100"},
            {u"Āb", "7f0e020e09011700"},                  // Ā IE02,17
            {u"Łódź", "7f0e480e7c0e1a0ea9011f0e020e00"},  // Ł IE48,1F, ź IEA9,E
            {u"œ", "7f0e7c0e210100"},                     // œ SE7C0E21
            {u"Ĳ", "7f0e320e350100"},                     // Ĳ SE320E35
            {u"ŉ", "7f0e70014800"},                       // ŉ IE70,48
            {u"ＡＢ１", "7f0e020e090d190100"},            // full-width forms: SE02, SE09, SD19
            {u"１－２", "7f0d190d1a01010101800b068200"},  // － U82, as "-"
            {u"￥", "7f079a0100"},                        // ￥ S79A, as ¥
            {u"αΑ", "7f0f020f020100"},                    // α Α SF02
            {u"一", "7ffdff3c6a0100"},                    // 一 SFDFF3C6A
            {u"漢字", "7ffdff5dcefdff49db0100"},          // 漢 SFDFF5DCE, 字 SFDFF49DB
            {u"ガ", "7f7f0a01030101ff0280ff8000"},        // ガ Z7F0A,3,: kana section
            {u"ｶﾞ", "7f7f0a01030101ff0280ff8000"},        // ｶ Z7F0A,,  ﾞ P01 adds 1
            {u"ァ", "7f7f02010101a0ff0280ff8000"},        // ァ Z7F02,,1: a small kana
            {u"e\u0301", "7f0e21010e00"},                 // ◌́ P0C: e + 0C = é
            {u"Ǣ-", "7f0e020e21011717010101800f068200"},  // Ǣ IE020E21,1717: - counts 2 bytes
            {u"a—b", "7f0e020e0901010101800b069000"},     // — U90
        },
        {1033, 1});
}

// General legacy (1033/0) keys worked out by hand from the lines of Jackcess's
// index_codes_genleg.txt and index_codes_ext_genleg.txt, in the same notation.
TEST(JetTextKey, GeneralLegacyKeysByTheCodeLists) {
    ExpectKeys(
        {
            {u"αΑa", "7f790c790c4a0100"},             // α Α S790C
            {u"а", "7f792f0100"},                     // Cyrillic а S792F
            {u"一漢", "7f9f02c0b60100"},              // 一 S9F02, 漢 SC0B6
            {u"가", "7f81030100"},                    // 가 S8103
            {u"ＡＢ", "7f4a4c0100"},                  // full-width forms: the codes of A and B
            {u"a\u3000b", "7f4a074c0100"},            // ideographic space S7, as a space
            {u"e\u0301", "7f51010e00"},               // ◌́ PC: e + 0C, as é
            {u"Ǣ-", "7f4a51011717010101800f068200"},  // Ǣ I4A51,1717: - counts 2 bytes
            {u"a—", "7f4a01010101800b068b00"},        // — U8B
        },
        {1033, 0});
}

// A descending key is 80, the bytes after the ascending key's flag complemented (its final 00
// included) and one more 00. The expected keys below are the ascending ones of the test above,
// complemented by hand.
TEST(JetTextKey, DescendingKeysComplementTheAscendingOnes) {
    const struct {
        std::u16string_view value;
        TTextSortOrder order;
        const char* ascending;
        const char* descending;
    } cases[] = {
        {u"A01", {1033, 0}, "7f4a36380100", "80b5c9c7feff00"},
        {u"", {1033, 0}, "7f0100", "80feff00"},
        {u"   ", {1041, 0}, "7f0100", "80feff00"},  // trailing spaces dropped first
        // kana: the kana and width section behind 01 01
        {u"コード",
         {1041, 0},
         "7f7f0e7f067f1e010202030101ff9c0280ff8000",
         "8080f180f980e1fefdfdfcfefe0063fd7f007fff00"},
        // the hyphen, unprintable: its position and code in the last section
        {u"102-0082",
         {1033, 0},
         "7f38363a3636463a010101018013068200",
         "80c7c9c5c9c9b9c5fefefefe7fecf97dff00"},
        {u"Db", {1033, 1}, "7f0e1a0e090100", "80f1e5f1f6feff00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.value));
        const TTextKey ascending = EncodeTextKey(c.value, c.order, true);
        const TTextKey descending = EncodeTextKey(c.value, c.order, false);
        ASSERT_FALSE(ascending.refusal || descending.refusal);
        EXPECT_EQ(Hex(ascending.bytes), c.ascending);
        EXPECT_EQ(Hex(descending.bytes), c.descending);
    }
    // Descending keys sort in the reverse order of the ascending ones.
    std::vector<std::u16string_view> values = {u"ab", u"a-b", u"", u"abc", u"b", u"a", u"コード"};
    std::map<std::string, std::string> byAscending;  // ascending key -> descending key
    for (const auto value : values)
        byAscending[EncodeTextKey(value, {1033, 0}, true).bytes] =
            EncodeTextKey(value, {1033, 0}, false).bytes;
    ASSERT_EQ(byAscending.size(), values.size());
    for (auto it = std::next(byAscending.begin()); it != byAscending.end(); ++it)
        EXPECT_GT(std::prev(it)->second, it->second) << Hex(it->first);
    // A value that cannot be keyed is refused in both directions, naming the same character.
    const TTextKey refused = EncodeTextKey(u"AＢ", {1041, 0}, false);
    ASSERT_TRUE(refused.refusal.has_value());
    EXPECT_EQ(refused.refusal->character, U'Ｂ');
    EXPECT_TRUE(refused.bytes.empty());
}

TEST(JetTextKey, RefusesWhatIsNotProvenNamingTheCharacter) {
    const struct {
        std::u16string_view value;
        TTextSortOrder order;
        std::size_t position;
        char32_t character;
    } cases[] = {
        {u"AＢ", {1041, 0}, 1, U'Ｂ'},                              // full-width Latin
        {u"ーア", {1041, 0}, 0, U'ー'},                             // a leading prolonged mark
        {u"ンー", {1041, 0}, 1, U'ー'},                             // after ン
        {u"12鷗", {1041, 0}, 2, U'鷗'},                             // outside the ja-JP table
        {u"a😀", {1041, 0}, 1, U'😀'},                                // astral
        {u"アイウエオカキクケコサシスセソ", {1041, 0}, 14, U'ソ'},  // a 15th kana
        {u"x々", {1041, 0}, 1, U'々'},                              // not after a kanji
        {u"a😀", {1033, 0}, 1, U'😀'},
        {u"木々", {1033, 0}, 1, U'々'},  // iteration marks depend on the character before
        {u"こゝろ", {1033, 0}, 1, U'ゝ'},
        {u"ーア", {1033, 0}, 0, U'ー'},
        {u"a😀", {1033, 1}, 1, U'😀'},
        {u"ab ", {1033, 1}, 2, U' '},    // General: trailing spaces unproven
        {u"カー", {1033, 1}, 1, U'ー'},  // General: the prolonged mark unproven
        {u"ﾃﾞｰﾀ", {1033, 1}, 2, U'ｰ'},
        {u"木々", {1033, 1}, 1, U'々'},
        {u"アイウエオカキク", {1033, 1}, 7, U'ク'},  // General: an eighth kana
        {u"abc", {1049, 0}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.value));
        const TTextKey key = EncodeTextKey(c.value, c.order);
        ASSERT_TRUE(key.refusal.has_value());
        EXPECT_EQ(key.refusal->position, c.position);
        EXPECT_EQ(key.refusal->character, c.character);
        EXPECT_TRUE(key.bytes.empty());
    }
    EXPECT_EQ(Utf16ToUtf8(TextKeyRefusalMessage(*EncodeTextKey(u"AＢ", {1041, 0}).refusal,
                                                u"PrimaryKey", u"コード", u"AＢ")),
              "インデックス「PrimaryKey」のフィールド「コード」の値「AＢ」のキーを作れません"
              "（2 文字目の「Ｂ」: この文字のキーは確かめられていません）。");
    EXPECT_TRUE(EncodeTextKey(std::u16string(256, u'a'), {1033, 0}).refusal.has_value());
    EXPECT_FALSE(EncodeTextKey(std::u16string(255, u'a') + u"   ", {1033, 0}).refusal.has_value());
    // A key longer than 508 bytes is refused whole: a General letter takes two bytes, so 252
    // letters make 507 bytes with the flag, 01 and 00, and 253 make 509.
    EXPECT_EQ(EncodeTextKey(std::u16string(252, u'a'), {1033, 1}).bytes.size(), 507u);
    const TTextKey tooLong = EncodeTextKey(std::u16string(253, u'a'), {1033, 1});
    ASSERT_TRUE(tooLong.refusal.has_value());
    EXPECT_EQ(tooLong.refusal->character, 0u);
    EXPECT_TRUE(tooLong.bytes.empty());
    EXPECT_TRUE(EncodeTextKey(std::u16string(253, u'a'), {1033, 1}, false).refusal.has_value());
    EXPECT_TRUE(EncodeTextKey(std::u16string(253, u'商'), {1041, 0}).refusal.has_value());
}

TEST(JetTextKey, CommandLinePrintsKeysAndRefusals) {
    const test::TCliRun run = test::RunCli("text-key --sort 1041/0 A01 '商品マスタ' 'AＢ'");
    EXPECT_EQ(run.status, 2);  // a value was refused
    EXPECT_EQ(run.out,
              "7f4a36380100\n"
              "7f868f8afb7f327f147f1a010101ff0280ff8000\n"
              "拒否: 2 文字目の「Ｂ」(U+FF22): この文字のキーは確かめられていません\n");
    EXPECT_EQ(test::RunCli("text-key --sort 1033/0 0001").out, "7f363636380100\n");
    EXPECT_EQ(test::RunCli("text-key --sort 1033/0 0001").status, 0);
    EXPECT_EQ(test::RunCli("text-key --sort 1033/1 é Ab").out, "7f0e21010e00\n7f0e020e090100\n");
    EXPECT_EQ(test::RunCli("text-key --sort 1033 x").status, 1);
    EXPECT_NE(test::RunCli("text-key --sort 1049/0 x").out.find("1049/0"), std::string::npos);
}

// Every row of the golden table: a key built must equal Access's byte for byte; a refusal must
// name a character (or the sort order) outside what is proven. Prints the coverage.
TEST(JetTextKey, ReproducesTheKeysAccessWrote) {
    QM_REQUIRE_FIXTURES();
    std::ifstream in(test::FixturesDir() / "access" / "text-keys.tsv");
    ASSERT_TRUE(in) << "text-keys.tsv is missing";
    std::string line;
    std::getline(in, line);  // header
    struct TCount {
        int keyed = 0, refused = 0;
    };
    std::map<std::string, TCount> coverage;
    std::map<std::u32string, int> refusedCharacters;
    std::map<std::uint16_t, std::set<char16_t>> reproduced;  // by LCID: characters of rows keyed
    int rows = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string lcid, version, value, keyHex;
        std::getline(fields, lcid, '\t');
        std::getline(fields, version, '\t');
        std::getline(fields, value, '\t');
        std::getline(fields, keyHex, '\t');
        ++rows;
        if (value == "\\N") {  // a NULL: its entry is the flag byte alone
            EXPECT_EQ(keyHex, "00");
            continue;
        }
        const TTextSortOrder order{static_cast<std::uint16_t>(std::stoi(lcid)),
                                   static_cast<std::uint8_t>(std::stoi(version))};
        const std::u16string text = Utf8ToUtf16(value);
        const TTextKey key = EncodeTextKey(text, order);
        TCount& count = coverage[lcid + "/" + version];
        if (key.refusal) {
            ++count.refused;
            // The character named is really in the value, at the position given.
            if (key.refusal->character != 0) {
                ASSERT_LT(key.refusal->position, text.size()) << value;
                EXPECT_TRUE(key.refusal->character == text[key.refusal->position] ||
                            key.refusal->character > 0xFFFF)
                    << value;
                ++refusedCharacters[std::u32string(1, key.refusal->character)];
            }
            continue;
        }
        ++count.keyed;
        EXPECT_EQ(Hex(key.bytes), keyHex) << lcid << "/" << version << " " << value;
        if (Hex(key.bytes) == keyHex) reproduced[order.lcid].insert(text.begin(), text.end());
    }
    // Every character the encoder treats as proven is in a row it reproduced, under the sort
    // order it is proven for (kana count for both: their keys are the same).
    auto check = [&](const char16_t* list, std::size_t count, std::uint16_t lcid) {
        for (std::size_t i = 0; i < count; ++i) {
            const bool kanaLike = (list[i] >= 0x3041 && list[i] <= 0x30FC) || list[i] >= 0xFF66;
            EXPECT_TRUE(
                reproduced[lcid].count(list[i]) ||
                (kanaLike && (reproduced[1041].count(list[i]) || reproduced[1033].count(list[i]))))
                << "U+" << std::hex << static_cast<unsigned>(list[i]) << " under " << std::dec
                << lcid << " is in no reproduced row";
        }
    };
    check(text_key::kProvenJapanese, text_key::kProvenJapaneseCount, 1041);
    // General legacy keys every character of the BMP from its code list: every row is keyed.
    EXPECT_GT(coverage["1033/0"].keyed, 200);
    EXPECT_EQ(coverage["1033/0"].refused, 0);
    EXPECT_EQ(rows, 3624);
    for (const auto& [order, count] : coverage)
        std::printf("sort order %s: %d rows keyed, %d refused\n", order.c_str(), count.keyed,
                    count.refused);
    std::string named;
    for (const auto& [c, n] : refusedCharacters)
        named += " U+" +
                 [&] {
                     char buffer[16];
                     std::snprintf(buffer, sizeof buffer, "%04X", static_cast<unsigned>(c[0]));
                     return std::string(buffer);
                 }() +
                 "×" + std::to_string(n);
    std::printf("first characters refused:%s\n", named.c_str());
}

// Every text index of every fixture database, system tables included: the key built from each
// row's values equals the key Access stored for that row. Prints the keys compared per sort order.
TEST(JetTextKey, RebuildsTheKeysOfTheFixtureIndexesFromTheirRows) {
    QM_REQUIRE_FIXTURES();
    struct TCount {
        int equal = 0, refused = 0;
    };
    std::map<std::string, TCount> coverage;
    std::set<char16_t> generalReproduced;  // characters of General (1033/1) keys rebuilt equal
    int descendingCompared = 0, otherSkipped = 0;
    for (const char* name : test::kReadableFixtures) {
        SCOPED_TRACE(name);
        const auto db =
            TJetDatabase::Open(Utf8ToUtf16((test::FixturesDir() / "access" / name).string()));
        const TJetPageFile& file = db->File();
        for (const auto& table : db->Catalog().AllLocalTables()) {
            const TTableDef def = ReadTableDef(file, table.tdefPage);
            const TRowDecoder decoder(file, def);
            std::map<std::pair<std::uint32_t, std::uint16_t>, std::string> rows;
            bool scanned = false;
            for (const TPhysicalIndex& index : def.physicalIndexes) {
                bool text = false, descending = false;
                for (const auto& ic : index.columns) {
                    const TColumnDef* column = def.ColumnByNumber(ic.column);
                    if (column && (column->type == kTypeText || column->type == kTypeMemo))
                        text = true;
                    descending = descending || !ic.ascending;
                }
                if (!text) continue;
                if (!scanned) {
                    TTableScan scan(file, def);
                    TLiveRow row;
                    while (scan.Next(row))
                        rows[{row.page, row.slot}] =
                            std::string(row.bytes.begin(), row.bytes.end());
                    scanned = true;
                }
                for (const TIndexEntry& entry : WalkIndexTree(file, index.rootPage).leafEntries) {
                    const auto found = rows.find({entry.page, entry.row});
                    ASSERT_NE(found, rows.end()) << "an index entry points to no row";
                    const auto& bytes = found->second;
                    const TRowLayout layout(
                        file, def,
                        {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
                    const TRowIndexKey key = EncodeRowIndexKey(def, index, layout, decoder);
                    std::string order;
                    std::u16string general;
                    for (const auto& ic : index.columns) {
                        const TColumnDef* column = def.ColumnByNumber(ic.column);
                        if (column->type != kTypeText && column->type != kTypeMemo) continue;
                        order =
                            Utf16ToUtf8(SortOrderName({column->sortOrder, column->sortVersion}));
                        if (column->sortVersion == 1)
                            general += decoder.DecodeColumn(layout, *column).text;
                    }
                    const bool other = key.unsupported;
                    const bool refused = key.refusal.has_value();
                    if (other) {
                        ++otherSkipped;
                    } else if (refused) {
                        ++coverage[order].refused;
                        std::printf("refused under %s in %s at %zu: U+%04X %s\n", order.c_str(),
                                    Utf16ToUtf8(table.name).c_str(), key.refusal->position,
                                    static_cast<unsigned>(key.refusal->character),
                                    Utf16ToUtf8(key.refusal->reason).c_str());
                    } else {
                        EXPECT_EQ(Hex(key.bytes), Hex(entry.key))
                            << Utf16ToUtf8(table.name) << " row " << entry.page << "/"
                            << int(entry.row);
                        ++coverage[order].equal;
                        if (descending) ++descendingCompared;
                        if (key.bytes == entry.key)
                            for (const char16_t c : general)
                                generalReproduced.insert(c >= u'A' && c <= u'Z' ? c + 32 : c);
                    }
                }
            }
        }
    }
    for (const auto& [order, count] : coverage)
        std::printf("sort order %s: %d keys rebuilt equal, %d refused\n", order.c_str(),
                    count.equal, count.refused);
    std::printf(
        "keys of indexes with a descending column: %d; entries with a column of another "
        "type not keyed here: %d\n",
        descendingCompared, otherSkipped);
    std::string shown;
    for (const char16_t c : generalReproduced)
        shown += Utf16ToUtf8(std::u16string(1, c));
    std::printf("characters of General keys rebuilt equal (%zu): %s\n", generalReproduced.size(),
                shown.c_str());
    // Every character whose General code the fixtures' keys confirm is shown by a key Access
    // wrote.
    for (const char16_t c : std::u16string(kGeneralProven) + u"0123456789-")
        EXPECT_TRUE(generalReproduced.count(c)) << "'" << char(c) << "' is in no General key";
    EXPECT_GT(coverage["1033/1"].equal, 0);
    EXPECT_GT(coverage["1033/0"].equal, 0);
    EXPECT_GT(coverage["1041/0"].equal, 0);
}

}  // namespace
}  // namespace qm::jet
