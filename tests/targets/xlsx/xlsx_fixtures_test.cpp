// The shared sample workbooks made by Excel and other programs: every worksheet opens, and
// rows appended to the first one read back through openpyxl.
#include <gtest/gtest.h>

#include <algorithm>

#include "libreoffice_csv.h"
#include "xlsx_test_util.h"

namespace qm {
namespace {

TEST(XlsxFixtures, EveryWorkbookOpensAndTakesRows) {
    QM_REQUIRE_FIXTURES();
    std::filesystem::path folder = test::FixturesDir() / "excel";
    bool openpyxl = test::HaveOpenpyxl();
    int checked = 0;
    test::TempDir all;
    // Workbooks for LibreOffice, converted in one run at the end: (copy, first sheet's name).
    std::vector<std::pair<std::filesystem::path, std::string>> forLibreOffice;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".xlsx") continue;
        std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        std::filesystem::path path = all.Path() / name;
        std::filesystem::copy_file(entry.path(), path);
        std::filesystem::permissions(
            path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        TConnection connection;
        connection.SetConnectionString(GetConnectionString(test::U16(path)));
        std::vector<std::u16string> names;
        std::string message = test::ErrorOf([&] { connection.GetTableNames(names, false); });
        if (message != "(no error)") {
            // Only the files that must be refused may fail, each with its reason.
            EXPECT_TRUE(name == "poi_protected_passtika.xlsx" || name == "poi_SampleSS.strict.xlsx")
                << message;
            continue;
        }
        ASSERT_FALSE(names.empty());
        for (const auto& table : names) {
            TTable t(connection);
            t.SetTableName(u"[" + table + u"]");
            t.Open();
            std::vector<TValue> values;
            for (std::int64_t i = 0; i < 20 && t.ReadRow(i, values); ++i) {
            }
        }
        // Append three rows of text to the first worksheet whose fields are all text-like or
        // numbers, values the fields accept.
        TTable table(connection);
        table.SetTableName(u"[" + names[0] + u"]");
        table.Open();
        std::vector<TAdoExcelField> fields = GetFieldList(table);
        if (fields.empty()) continue;
        std::int64_t before = 0;
        std::vector<TValue> values;
        while (table.ReadRow(before, values))
            ++before;
        std::string error = test::ErrorOf([&] {
            connection.BeginTrans();
            for (int r = 0; r < 3; ++r) {
                table.Insert();
                for (const auto& field : fields) {
                    std::u16string text;
                    switch (field.DataType) {
                        case ftFloat:
                            text = u"12.5";
                            break;
                        case ftBCD:
                            text = u"99.25";
                            break;
                        case ftDateTime:
                            text = u"2024/01/31 08:30";
                            break;
                        case ftBoolean:
                            text = u"True";
                            break;
                        default:
                            text = u"追加 " + Utf8ToUtf16(std::to_string(r));
                            break;
                    }
                    table.FieldByName(field.Name).AssignText(text);
                }
                table.Post();
            }
            connection.CommitTrans();
        });
        if (error.find("集計行") != std::string::npos) continue;  // refused, as it must be
        ASSERT_EQ(error, "(no error)");
        std::int64_t after = 0;
        while (table.ReadRow(after, values))
            ++after;
        EXPECT_EQ(after, before + 3);
        ++checked;
        if (!openpyxl) continue;
        std::string sheet = Utf16ToUtf8(names[0]);
        if (sheet.front() == '\'') sheet = sheet.substr(1, sheet.size() - 2);
        sheet = sheet.substr(0, sheet.size() - 1);  // without "$"
        std::string::size_type at;
        while ((at = sheet.find("''")) != std::string::npos)
            sheet.erase(at, 1);
        std::vector<std::string> rows = test::OpenpyxlRows(path, sheet);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.front().rfind("openpyxl failed", 0), std::string::npos) << rows.front();
        // The last row openpyxl reads holds the last appended values, with their types.
        std::string last = rows.back();
        for (const auto& field : fields) {
            const char* expected = "s:\"追加 2\"";
            if (field.DataType == ftFloat)
                expected = "n:12.5";
            else if (field.DataType == ftBCD)
                expected = "n:99.25";
            else if (field.DataType == ftDateTime)
                expected = "d:2024-01-31T08:30:00";
            else if (field.DataType == ftBoolean)
                expected = "b:True";
            EXPECT_NE(last.find(expected), std::string::npos) << last;
        }
    }
    EXPECT_GT(checked, 10);

    if (!test::HaveLibreOffice() || forLibreOffice.empty()) return;
    std::vector<std::filesystem::path> books;
    for (const auto& book : forLibreOffice)
        books.push_back(book.first);
    std::filesystem::path out = all.Path() / "csv";
    ASSERT_TRUE(test::LibreOfficeToCsv(books, out));
    for (const auto& [book, sheet] : forLibreOffice) {
        SCOPED_TRACE(book.filename().string());
        std::filesystem::path csv = out / (book.stem().string() + "-" + sheet + ".csv");
        std::string text = test::ReadBytes(csv);
        ASSERT_FALSE(text.empty()) << csv;
        EXPECT_NE(text.find("追加 2"), std::string::npos);
    }
}

}  // namespace
}  // namespace qm
