// The worksheet layout shared by the Excel engines: which columns become fields when values lie
// only below the rows that name and type them.
#include "targets/sheet/sheet_table.h"

#include <gtest/gtest.h>

#include <map>

namespace qm {
namespace {

using Sheet = std::map<std::uint32_t, std::vector<sheet::TLayoutCell>>;

// Feeds the rows of a sheet in order; counts how many the layout asked for.
struct TRows {
    const Sheet& Cells;
    Sheet::const_iterator At = Cells.begin();
    int Given = 0;
    bool operator()(std::uint32_t& row, std::vector<sheet::TLayoutCell>& cells) {
        if (At == Cells.end()) return false;
        row = At->first;
        cells = At->second;
        ++At;
        ++Given;
        return true;
    }
};

std::vector<std::u16string> FieldNames(const sheet::TTableLayout& layout) {
    std::vector<std::u16string> names;
    for (const TFieldDef& field : layout.Fields)
        names.push_back(field.Name);
    return names;
}

TEST(SheetLayout, EveryColumnHoldingAValueIsAField) {
    // Header in B1:C1; sampled rows 2..9 fill B and C. Below: D30 holds a value, A40 holds one,
    // E50 is empty text and F60 a null (formatted blank): only A and D join.
    Sheet sheet;
    sheet[1] = {{2, std::u16string(u"名前")}, {3, std::u16string(u"数量")}};
    for (std::uint32_t r = 2; r <= 60; ++r)
        sheet[r] = {{2, std::u16string(u"x")}, {3, 1.0}};
    sheet[30].push_back({4, std::u16string(u"遅い値")});
    sheet[40].insert(sheet[40].begin(), {1, 5.0});
    sheet[50].push_back({5, std::u16string()});
    sheet[60].push_back({6, TValue{}});
    const std::vector<std::u16string> expected = {u"F1", u"名前", u"数量", u"F4"};

    // Without a scan the layout reads the rest of the rows itself.
    TRows rows{sheet};
    sheet::TTableLayout layout = sheet::ReadTableLayout(std::ref(rows), nullptr, u"S$", u"f");
    EXPECT_EQ(FieldNames(layout), expected);
    EXPECT_EQ(layout.FirstColumn, 1u);
    EXPECT_EQ(layout.FieldOfColumn(4), 3);
    EXPECT_EQ(rows.Given, 60);

    // With one, the rows below the sample go to the scan (the row that ended the sample is
    // counted by the layout itself).
    TRows sampled{sheet};
    std::vector<std::pair<std::uint32_t, std::uint32_t>> scanned;  // the known columns
    sheet::TLayoutColumnScan scan = [&](std::uint32_t first, std::uint32_t last,
                                        std::vector<bool>& used) {
        used.resize(10);
        used[1] = used[4] = true;
        scanned.emplace_back(first, last);
    };
    layout = sheet::ReadTableLayout(std::ref(sampled), nullptr, u"S$", u"f", scan);
    EXPECT_EQ(FieldNames(layout), expected);
    EXPECT_EQ(sampled.Given, 10);  // the header, eight sampled rows and the one after
    ASSERT_EQ(scanned.size(), 1u);
    EXPECT_EQ(scanned[0], std::make_pair(2u, 3u));

    // A named range keeps its own columns, and a sheet that ends within the sample needs no
    // scan.
    TRows named{sheet};
    sheet::TLayoutArea area{1, 2, 60, 3};
    layout = sheet::ReadTableLayout(std::ref(named), &area, u"Name", u"f", scan);
    EXPECT_EQ(FieldNames(layout), (std::vector<std::u16string>{u"名前", u"数量"}));
    Sheet small{{1, {{1, std::u16string(u"h")}}}, {2, {{1, 1.0}}}};
    TRows few{small};
    layout = sheet::ReadTableLayout(std::ref(few), nullptr, u"S$", u"f", scan);
    EXPECT_EQ(FieldNames(layout), (std::vector<std::u16string>{u"h"}));
    EXPECT_EQ(scanned.size(), 1u);
}

}  // namespace
}  // namespace qm
