// Appending to a large deflated sheet keeps the old compressed blocks between its head and its
// end: the result must read, with our reader, openpyxl and LibreOffice, exactly as the result of
// rewriting the whole sheet (made here from the same sheet stored uncompressed, which nothing
// can keep).
#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "libreoffice_csv.h"
#include "platform/file_system.h"
#include "platform/yield.h"
#include "targets/xlsx/package.h"
#include "targets/xlsx/sheet_reader.h"
#include "targets/xlsx/zip_archive.h"
#include "xlsx_builder.h"
#include "xlsx_test_util.h"

namespace qm {
namespace {

constexpr int kRows = 20000;

// A header, kRows rows of text, numbers and dates, and an autofilter over them.
std::vector<test::TZipPart> LargeBookParts(bool deflateSheet, int level) {
    test::TTestWorkbook book;
    std::string rows = "<row r=\"1\">" + test::InlineCell("A1", "品名") +
                       test::InlineCell("B1", "数量") + test::InlineCell("C1", "日付") + "</row>";
    for (int r = 2; r <= kRows + 1; ++r) {
        std::string n = std::to_string(r);
        rows += "<row r=\"" + n + "\">" + test::InlineCell("A" + n, "商品 " + n) +
                test::NumberCell("B" + n, std::to_string(r * 37 % 1000)) +
                test::NumberCell("C" + n, std::to_string(40000 + r % 3000), 1) + "</row>";
    }
    std::string last = std::to_string(kRows + 1);
    book.Sheets = {{"データ", rows, "<autoFilter ref=\"A1:C" + last + "\"/>", "A1:C" + last},
                   {"Other", "<row r=\"1\">" + test::InlineCell("A1", "keep") + "</row>"}};
    std::vector<test::TZipPart> parts = test::WorkbookParts(book);
    for (auto& part : parts) {
        if (part.Name != "xl/worksheets/sheet1.xml") continue;
        part.Deflate = deflateSheet;
        part.Level = level;
    }
    return parts;
}

void AppendRows(const std::filesystem::path& path, const std::atomic<bool>* cancel = nullptr) {
    test::TOpenTable open(path, u"データ$");
    open.Connection.BeginTrans();
    open.Append({u"追加 <1> & \"x\"", u"12.5", u"2024/02/29"});
    open.Append({u"  two  ", u"-3", u""});
    open.Append({u"三", u"", u"1999-12-31 23:59:59"});
    open.Connection.CommitTrans(cancel);
}

std::map<std::string, std::pair<std::uint64_t, std::string>> Entries(
    const std::filesystem::path& path) {
    auto source = std::make_shared<xlsx::TFileByteSource>(test::U16(path));
    xlsx::TZipArchive archive(source);
    std::map<std::string, std::pair<std::uint64_t, std::string>> entries;
    for (const auto& entry : archive.Entries())
        entries[entry.Name] = {
            entry.CompressedSize,
            entry.Name == "xl/worksheets/sheet1.xml"
                ? archive.ReadAll(entry, 1u << 30)
                : source->ReadString(entry.DataOffset,
                                     static_cast<std::size_t>(entry.CompressedSize))};
    return entries;
}

TEST(XlsxTailAppend, KeptBlocksReadExactlyAsAWholeRewrite) {
    test::TempDir dir;
    const auto rewritten = dir.Write("rewritten.xlsx", test::BuildZip(LargeBookParts(false, 0)));
    AppendRows(rewritten);
    const auto rewrittenEntries = Entries(rewritten);
    const std::string& expectedSheet = rewrittenEntries.at("xl/worksheets/sheet1.xml").second;
    ASSERT_NE(expectedSheet.find("<autoFilter ref=\"A1:C20004\"/>"), std::string::npos);

    std::vector<std::filesystem::path> books;
    for (int level : {1, 9}) {
        SCOPED_TRACE(level);
        const auto path = dir.Write("kept" + std::to_string(level) + ".xlsx",
                                    test::BuildZip(LargeBookParts(true, level)));
        const auto before = Entries(path);
        AppendRows(path);
        const auto after = Entries(path);
        // The same content as the whole rewrite, in about the old compressed size: the blocks
        // of level 9 were kept, not compressed again at the rewrite's level 1.
        const auto& sheet = after.at("xl/worksheets/sheet1.xml");
        EXPECT_TRUE(sheet.second == expectedSheet);
        EXPECT_LT(sheet.first, before.at("xl/worksheets/sheet1.xml").first + 4096);
        if (level == 9) {
            EXPECT_LT(sheet.first * 10, rewrittenEntries.at("xl/worksheets/sheet1.xml").first * 9);
        }
        for (const auto& [name, entry] : before) {
            if (name != "xl/worksheets/sheet1.xml") {
                EXPECT_EQ(after.at(name), entry) << name;
            }
        }
        test::TOpenTable check(path, u"データ$");
        std::vector<std::string> rows = check.Rows();
        ASSERT_EQ(rows.size(), kRows + 3u);
        EXPECT_EQ(rows.back(), "三||1999/12/31 23:59:59");
        books.push_back(path);
    }

    if (test::HaveOpenpyxl()) {
        std::vector<std::string> expected = test::OpenpyxlRows(rewritten, "データ");
        ASSERT_EQ(expected.size(), kRows + 4u) << expected.front();
        EXPECT_EQ(expected.back(), "s:\"三\"\t~\td:1999-12-31T23:59:59");
        for (const auto& book : books)
            EXPECT_TRUE(test::OpenpyxlRows(book, "データ") == expected) << book;
    }
    if (test::HaveLibreOffice()) {
        const auto out = dir.Path() / "csv";
        books.push_back(rewritten);
        ASSERT_TRUE(test::LibreOfficeToCsv(books, out));
        const std::string expected = test::ReadBytes(out / "rewritten-データ.csv");
        EXPECT_NE(expected.find("\n  two  ,-3,\n三,,12/31/1999 23:59:59\n"), std::string::npos)
            << expected.substr(expected.size() - 200);
        EXPECT_EQ(test::ReadBytes(out / "kept1-データ.csv"), expected);
        EXPECT_EQ(test::ReadBytes(out / "kept9-データ.csv"), expected);
    }
}

// Appends in turn: each keeps blocks of a stream that earlier appends made, whose sync-flush
// markers (empty stored blocks) sit on byte boundaries that the kept blocks must keep.
TEST(XlsxTailAppend, AppendsInTurnKeepEveryStreamReadable) {
    test::TempDir dir;
    const auto path = dir.Write("book.xlsx", test::BuildZip(LargeBookParts(true, 6)));
    for (int round = 1; round <= 4; ++round) {
        SCOPED_TRACE(round);
        AppendRows(path);
        std::string command =
            "/usr/bin/python3 -c 'import sys, zipfile\n"
            "sys.exit(0 if zipfile.ZipFile(sys.argv[1]).testzip() is None else 1)' '" +
            path.string() + "' 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << "Python's zlib cannot inflate the workbook";
        test::TOpenTable check(path, u"データ$");
        EXPECT_EQ(check.Rows().size(), kRows + 3u * round);
    }
}

// A cancel at any turn of a commit that keeps blocks leaves the file as it was.
std::atomic<bool> gCancel{false};
int gTurns = 0;
void CancelAtTurn() {
    if (--gTurns == 0) gCancel.store(true);
}

TEST(XlsxTailAppend, CancelAtAnyTurnLeavesTheFileUnchanged) {
    test::TempDir dir;
    const auto path = dir.Write("book.xlsx", test::BuildZip(LargeBookParts(true, 6)));
    const std::string original = test::ReadBytes(path);
    TYieldHook previous = SetYieldHook(&CancelAtTurn);
    int n = 1;
    for (;; ++n) {
        SCOPED_TRACE(n);
        gCancel.store(false);
        gTurns = n;
        const std::string error = test::ErrorOf([&] { AppendRows(path, &gCancel); });
        if (!gCancel.load()) {
            EXPECT_EQ(error, "(no error)");
            break;
        }
        EXPECT_EQ(error, "キャンセルされました。");
        EXPECT_EQ(test::ReadBytes(path), original);
        ASSERT_LT(n, 200);
    }
    SetYieldHook(previous);
    EXPECT_GT(n, 3);
    test::TOpenTable check(path, u"データ$");
    EXPECT_EQ(check.Rows().size(), kRows + 3u);
}

// A crash at any write, flush or rename of a commit that keeps blocks leaves the old file or
// the complete new one.
TEST(XlsxTailAppend, ACrashAnywhereInTheCommitLeavesOldOrNewFile) {
    test::TempDir dir;
    const auto path = dir.Write("book.xlsx", test::BuildZip(LargeBookParts(true, 6)));
    const std::string original = test::ReadBytes(path);
    AppendRows(path);
    const std::string committed = test::ReadBytes(path);
    ASSERT_NE(committed, original);
    using TPoint = TFileSystemFaults::TPoint;
    using TEffect = TFileSystemFaults::TEffect;
    const std::pair<TPoint, TEffect> kinds[] = {{TPoint::Write, TEffect::Crash},
                                                {TPoint::Write, TEffect::TornCrash},
                                                {TPoint::Flush, TEffect::Crash},
                                                {TPoint::Rename, TEffect::Crash}};
    int crashes = 0;
    for (const auto& [point, effect] : kinds) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "point " << static_cast<int>(point) << " effect "
                                            << static_cast<int>(effect) << " n " << n);
            ASSERT_LT(n, 50);
            dir.Write("book.xlsx", original);
            TFileSystemFaults::Plan(point, n, effect);
            bool crashed = false;
            try {
                AppendRows(path);
            } catch (const TSimulatedCrash&) {
                crashed = true;
            }
            TFileSystemFaults::Reset();
            const std::string now = test::ReadBytes(path);
            EXPECT_TRUE(now == original || now == committed);
            if (!crashed) break;
            ++crashes;
            { test::TOpenTable reopen(path, u"データ$"); }
        }
    }
    EXPECT_GE(crashes, 4) << crashes;
}

// The rows' numbers and their cells' columns and styles, the layout after them, and whether
// every cell with a value was found by the quick scan (which does not read values); or the
// error.
std::string Shapes(const xlsx::TPackage& package, const std::string& part, bool quick,
                   bool& allQuick) {
    allQuick = true;
    std::string out;
    std::string error = test::ErrorOf([&] {
        xlsx::TSheetReader reader(package, part);
        if (quick) reader.ShapesOnly();
        xlsx::TRow row;
        while (reader.NextRow(row)) {
            out += std::to_string(row.Number) + ":";
            for (std::size_t i = 0; i < row.CellCount; ++i) {
                out += " " + std::to_string(row.Cells[i].Column) + "/" +
                       std::to_string(row.Cells[i].Style);
                if (row.Cells[i].HasValue) allQuick = false;
            }
            out += "\n";
        }
        reader.Finish();
        const xlsx::TSheetLayout& layout = reader.Layout();
        out += "last " + std::to_string(reader.LastRowNumber()) + " close " +
               std::to_string(layout.SheetDataClose) + " filter " +
               std::to_string(layout.AutoFilterStart) + "-" + std::to_string(layout.AutoFilterEnd);
    });
    return error == "(no error)" ? out : error;
}

TEST(XlsxTailAppend, QuickScanFindsTheRowsTheXmlReaderFinds) {
    const std::string plain =
        "<row r=\"1\" spans=\"1:3\"><c r=\"A1\" s=\"3\" t=\"s\"><v>0</v></c>"
        "<c r=\"C1\"><f>1+1</f><v>2</v></c></row>\n  <row r=\"4\"><c r=\"B4\" "
        "s=\"12\"><v>1.5</v></c></row>";
    struct TCase {
        const char* Name;
        std::string Rows;
        bool Quick;  // every cell goes through the quick scan
    };
    const TCase cases[] = {
        {"plain", plain, true},
        {"no references", "<row><c><v>1</v></c><c s=\"2\"><v>2</v></c></row><row><c/></row>", true},
        {"entities",
         "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>a&amp;b&#x41;&#12354;&lt;</t>"
         "</is></c></row>",
         true},
        {"rich text",
         "<row r=\"2\"><c r=\"B2\" t=\"inlineStr\"><is><r><rPr><b/></rPr><t "
         "xml:space='preserve'> a </t></r><r><t>b</t></r><rPh sb=\"0\"><t>x</t></rPh>"
         "</is></c></row>",
         true},
        {"quoted >", "<row r='3'><c r='C3' s='5' x='a>b'><v>1</v></c></row>", true},
        {"self-closing", "<row r=\"3\"/><row r=\"5\"><c r=\"E5\" s=\"4\"/></row>", true},
        {"unknown entity", "<row r=\"2\"><c r=\"A2\"><v>&foo;</v></c></row>", false},
        {"CDATA",
         "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t><![CDATA[a<c r=\"Z9\"/>]]></t>"
         "</is></c></row>",
         false},
        {"comment", "<row r=\"2\"><!-- <c r=\"Z2\"/> --><c r=\"A2\"><v>1</v></c></row>", false},
        {"namespace declared", "<row r=\"2\"><c xmlns:q=\"urn:q\" r=\"A2\"><q:c/></c></row>",
         false},
        {"extension in a row", "<row r=\"2\"><c r=\"A2\"/><extLst><ext uri=\"u\"/></extLst></row>",
         false},
        {"text in a row", "<row r=\"2\">x<c r=\"A2\"/></row>", false},
        {"reference in an attribute", "<row r=\"2\"><c r=\"A2\" x=\"&amp;\"/></row>", false},
        {"row mismatch", "<row r=\"2\"><c r=\"A3\"><v>1</v></c></row>", false},
        {"bad style", "<row r=\"2\"><c r=\"A2\" s=\"x\"><v>1</v></c></row>", false},
        {"bad row number", "<row r=\"0\"><c r=\"A1\"/></row>", false},
        {"mismatched end", "<row r=\"2\"><c r=\"A2\"><v>1</x></c></row>", false},
        {"cut short", "<row r=\"2\"><c r=\"A2\"><v>1</v>", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTestWorkbook book;
        book.Sheets = {{"S", c.Rows, "<autoFilter ref=\"A1:C4\"/>", "A1:C4"}};
        std::string zip = test::BuildWorkbook(book);
        // A workbook that does not even open is no case for the rows.
        std::unique_ptr<xlsx::TPackage> package;
        std::string error = test::ErrorOf([&] {
            package =
                std::make_unique<xlsx::TPackage>(std::make_shared<xlsx::TMemoryByteSource>(zip));
        });
        ASSERT_EQ(error, "(no error)");
        bool quickAll = false, fullAll = false;
        std::string quick = Shapes(*package, package->Sheets()[0].PartName, true, quickAll);
        std::string full = Shapes(*package, package->Sheets()[0].PartName, false, fullAll);
        EXPECT_EQ(quick, full);
        if (c.Quick) {
            EXPECT_TRUE(quickAll) << quick;
        }
    }
    QM_REQUIRE_FIXTURES();
    for (const auto& file : std::filesystem::directory_iterator(test::FixturesDir() / "excel")) {
        if (file.path().extension() != ".xlsx" && file.path().extension() != ".xlsm") continue;
        SCOPED_TRACE(file.path().filename().string());
        std::string zip = test::ReadBytes(file.path());
        std::unique_ptr<xlsx::TPackage> package;
        if (test::ErrorOf([&] {
                package = std::make_unique<xlsx::TPackage>(
                    std::make_shared<xlsx::TMemoryByteSource>(zip));
            }) != "(no error)")
            continue;
        for (const auto& sheet : package->Sheets()) {
            bool quickAll = false, fullAll = false;
            EXPECT_EQ(Shapes(*package, sheet.PartName, true, quickAll),
                      Shapes(*package, sheet.PartName, false, fullAll))
                << sheet.PartName;
        }
    }
}

}  // namespace
}  // namespace qm
