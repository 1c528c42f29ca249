#include "targets/relation.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(Relation, KeysAscendByCodeUnitAndTheFirstInsertWins) {
    TRelation relation;
    relation.emplace(u"b", 1);
    relation.emplace(u"B", 2);
    relation.emplace(u"ab", 3);
    relation.emplace(u"a", 4);
    relation.emplace(u"氏名", 5);
    relation.emplace(u"b", 9);  // already present: ignored
    std::vector<std::u16string> keys;
    for (const auto& [key, value] : relation)
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::u16string>{u"B", u"a", u"ab", u"b", u"氏名"}));
    EXPECT_EQ(relation.at(u"b"), 1);
}

TEST(Relation, ToText) {
    struct Case {
        const char* name;
        TRelation relation;
        std::u16string text;
    } cases[] = {
        {"empty", {}, u""},
        {"Japanese names sort by code unit", {{u"氏名", 0}, {u"住所", 2}}, u"住所=2,氏名=0"},
        {"blank quotes the item", {{u"My Field", 3}}, u"\"My Field=3\""},
        {"quote is doubled", {{u"a\"b", 0}}, u"\"a\"\"b=0\""},
        {"comma quotes the item", {{u"a,b", 7}}, u"\"a,b=7\""},
        {"control character quotes", {{u"a\tb", 1}}, u"\"a\tb=1\""},
        {"equals sign stays bare", {{u"x=y", 1}}, u"x=y=1"},
        {"negative and large indexes", {{u"a", -1}, {u"b", 2147483647}}, u"a=-1,b=2147483647"},
        {"keys differing in case keep their own items",
         {{u"Name", 1}, {u"Zip", 2}, {u"name", 3}},
         u"Name=1,Zip=2,name=3"},
        {"full-width letters differing in case", {{u"Ａ", 1}, {u"ａ", 2}}, u"Ａ=1,ａ=2"},
        {"a key that begins another key's item", {{u"A=b", 1}, {u"a", 2}}, u"A=b=1,a=2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RelationToText(c.relation), c.text);
    }
}

TEST(Relation, FromText) {
    struct Case {
        const char* name;
        std::u16string text;
        TRelation relation;
    } cases[] = {
        {"empty", u"", {}},
        {"only blanks", u"  \t ", {}},
        {"simple", u"住所=2,氏名=0", {{u"住所", 2}, {u"氏名", 0}}},
        {"quoted with blank", u"\"My Field=3\"", {{u"My Field", 3}}},
        {"doubled quote", u"\"a\"\"b=0\"", {{u"a\"b", 0}}},
        {"name ends at the last equals sign", u"x=y=1", {{u"x=y", 1}}},
        {"unquoted blank splits", u"a b=1", {{u"", -1}, {u"b", 1}}},
        {"no equals sign", u"5", {{u"", 5}}},
        {"index not a number", u"氏名=abc", {{u"氏名", -1}}},
        {"empty index", u"氏名=", {{u"氏名", -1}}},
        {"repeated name keeps the first", u"a=1,a=2", {{u"a", 1}}},
        {"trailing comma adds an empty item", u"a=1,", {{u"a", 1}, {u"", -1}}},
        {"trailing comma after an empty name", u"=4,", {{u"", 4}}},
        {"two commas give an empty item", u"a=1,,b=2", {{u"a", 1}, {u"", -1}, {u"b", 2}}},
        {"blanks around items", u"  a=1 ,\t b=2  ", {{u"a", 1}, {u"b", 2}}},
        {"unclosed quote runs to the end", u"\"a, b=7", {{u"a, b", 7}}},
        {"text after a closing quote is its own item", u"\"a\"b=2", {{u"", -1}, {u"b", 2}}},
        {"hexadecimal forms",
         u"a=$1F,b=0x10,c=X0a,d=-$2",
         {{u"a", 31}, {u"b", 16}, {u"c", 10}, {u"d", -2}}},
        {"sign and leading spaces", u"\"a=  +7\",\"b=  -0\"", {{u"a", 7}, {u"b", 0}}},
        {"trailing space is not a number", u"\"a=7 \"", {{u"a", -1}}},
        {"int32 limits",
         u"a=2147483647,b=-2147483648",
         {{u"a", 2147483647}, {u"b", -2147483647 - 1}}},
        {"out of range",
         u"a=2147483648,b=-2147483649,c=$80000000",
         {{u"a", -1}, {u"b", -1}, {u"c", -1}}},
        {"prefix without digits", u"a=$,b=0x,c=-", {{u"a", -1}, {u"b", -1}, {u"c", -1}}},
        {"full-width digits are not digits", u"a=１", {{u"a", -1}}},
        {"NUL behaves as a blank", std::u16string(u"a=1\0b=2", 7), {{u"a", 1}, {u"b", 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextToRelation(c.text), c.relation);
    }
}

// Every name comes back whole through the text form, whatever mix of quotes, blanks, commas
// and equals signs it holds.
TEST(Relation, AwkwardNamesRoundTrip) {
    TRelation relation = {
        {u"", 0},
        {u" lead", 1},
        {u"trail ", 2},
        {u"a=b", 3},
        {u"=", 4},
        {u"==", 5},
        {u"x\"", 6},
        {u"\"", 7},
        {u"\"\"", 8},
        {u",", 9},
        {u"a , \" = b", 10},
        {u"line\nbreak", 11},
        {u"tab\there", 12},
        {u"氏 名", 13},
        {std::u16string(u"nul\0in", 6), 14},
        {u"\U0001F600", 15},
        {u"neg", -1},
        {u"big", 16383},
        {u"Name", 17},
        {u"NAME", 18},
        {u"name", 19},
        {u"ｎａｍｅ", 20},
        {u"ＮＡＭＥ", 21},
    };
    std::u16string text = RelationToText(relation);
    EXPECT_EQ(TextToRelation(text), relation) << std::string(text.begin(), text.end());
}

}  // namespace
}  // namespace qm
