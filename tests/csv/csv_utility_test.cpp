#include "csv/csv_utility.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

TEST(ColumnLetters, Table) {
    const struct {
        std::int32_t index;
        std::u16string letters;
    } cases[] = {
        {0, u"A"},     {1, u"B"},        {25, u"Z"},       {26, u"AA"},     {27, u"AB"},
        {51, u"AZ"},   {52, u"BA"},      {675, u"YZ"},     {676, u"ZA"},    {701, u"ZZ"},
        {702, u"AAA"}, {727, u"AAZ"},    {728, u"ABA"},    {16383, u"XFD"}, {16384, u""},
        {-1, u""},     {INT32_MIN, u""}, {INT32_MAX, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(ColumnLetters(c.index), c.letters);
    }
}

TEST(ColumnLetters, EveryIndexHasDistinctLettersInSpreadsheetOrder) {
    // Shorter names come first, names of one length in alphabetical order.
    for (std::int32_t i = 1; i < MaxColumnCount; ++i) {
        const std::u16string& previous = ColumnLetters(i - 1);
        const std::u16string& current = ColumnLetters(i);
        ASSERT_TRUE(previous.size() < current.size() ||
                    (previous.size() == current.size() && previous < current))
            << i;
    }
}

TEST(ColumnLetters, SecondCallIsServedFromTheCache) {
    const std::u16string& first = ColumnLetters(1234);
    const std::u16string& second = ColumnLetters(1234);
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(first, u"AUM");
}

TEST(ColumnLetterNames, Counts) {
    EXPECT_TRUE(ColumnLetterNames(0, u"", u"").empty());
    EXPECT_TRUE(ColumnLetterNames(-5, u"x", u"y").empty());
    EXPECT_EQ(ColumnLetterNames(3, u"", u"列"),
              (std::vector<std::u16string>{u"A列", u"B列", u"C列"}));
    EXPECT_EQ(ColumnLetterNames(2, u"[", u"]"), (std::vector<std::u16string>{u"[A]", u"[B]"}));

    auto all = ColumnLetterNames(MaxColumnCount + 100, u"", u"");
    ASSERT_EQ(all.size(), static_cast<std::size_t>(MaxColumnCount));
    EXPECT_EQ(all.back(), u"XFD");
    EXPECT_EQ(all[26], u"AA");
    EXPECT_EQ(ColumnLetterNames(INT32_MAX, u"", u"").size(),
              static_cast<std::size_t>(MaxColumnCount));
}

}  // namespace
}  // namespace qm
