// Continuing deflate streams made by several compressors (zlib at four levels, Excel,
// LibreOffice): a changed head, old blocks kept as they are and a new end must inflate, with
// Python's zlib, to exactly the changed content.
#include "targets/xlsx/deflate_continue.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "libreoffice_csv.h"
#include "targets/xlsx/zip_archive.h"
#include "targets/xlsx/zip_writer.h"
#include "test_util.h"
#include "xlsx_builder.h"

namespace qm {
namespace {

// Worksheet-like XML of 'rows' rows: numbers, repeated and random text.
std::string SheetXml(int rows) {
    std::string xml = "<worksheet><dimension ref=\"A1:C" + std::to_string(rows) + "\"/><sheetData>";
    std::uint32_t seed = 7;
    for (int r = 1; r <= rows; ++r) {
        std::string n = std::to_string(r);
        xml += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n +
               "\" t=\"inlineStr\"><is><t>";
        for (int i = 0; i < 12; ++i) {
            seed = seed * 1103515245 + 12345;
            xml += static_cast<char>('a' + (seed >> 16) % 26);
        }
        xml += "</t></is></c><c r=\"C" + n + "\" s=\"1\"><v>45000</v></c></row>";
    }
    return xml + "</sheetData></worksheet>";
}

// A deflated stream to continue: a zip archive and the name of its entry.
struct TSource {
    std::string Name;
    std::string Zip;
    std::string Entry;
};

// The largest worksheet of a workbook.
std::string LargestSheet(const xlsx::TZipArchive& archive) {
    const xlsx::TZipEntry* best = nullptr;
    for (const auto& entry : archive.Entries())
        if (entry.Name.find("worksheets/sheet") != std::string::npos &&
            (!best || entry.UncompressedSize > best->UncompressedSize))
            best = &entry;
    return best ? best->Name : std::string();
}

bool PythonInflatesTo(const test::TempDir& dir, const std::string& stream,
                      const std::string& expected) {
    auto streamPath = dir.Write("stream.bin", stream);
    auto expectedPath = dir.Write("expected.bin", expected);
    std::string command =
        "/usr/bin/python3 -c 'import sys, zlib\n"
        "d = zlib.decompressobj(-15)\n"
        "out = d.decompress(open(sys.argv[1], \"rb\").read())\n"
        "sys.exit(0 if d.eof and not d.unused_data and out == open(sys.argv[2], \"rb\").read() "
        "else 1)' '" +
        streamPath.string() + "' '" + expectedPath.string() + "'";
    return std::system(command.c_str()) == 0;
}

std::string Joined(const std::vector<std::string>& pieces) {
    std::string all;
    for (const auto& piece : pieces)
        all += piece;
    return all;
}

TEST(DeflateContinue, StreamsOfSeveralCompressorsKeepTheirMiddleBlocks) {
    test::TempDir dir;
    std::vector<TSource> sources;
    const std::string xml = SheetXml(40000);
    for (int level : {0, 1, 6, 9})
        sources.push_back({"zlib level " + std::to_string(level),
                           test::BuildZip({{"sheet.xml", xml, true, false, level}}), "sheet.xml"});
    if (!test::FixturesDir().empty()) {
        for (const char* name :
             {"poi_57893-many-merges.xlsx", "poi_StructuredRefs-lots-with-lookups.xlsx",
              "poi_57181.xlsm", "sjs_large_strings.xlsx"}) {
            std::string zip = test::ReadBytes(test::FixturesDir() / "excel" / name);
            if (zip.empty()) continue;
            xlsx::TZipArchive archive(std::make_shared<xlsx::TMemoryByteSource>(zip));
            sources.push_back({name, zip, LargestSheet(archive)});
        }
    }
    if (test::HaveLibreOffice()) {
        // LibreOffice's own compressor: a workbook it saves from a CSV file.
        std::string csv;
        for (int r = 1; r <= 30000; ++r)
            csv += std::to_string(r) + ",name " + std::to_string(r * 7919 % 100003) + "," +
                   std::to_string(r * 0.25) + "\n";
        auto csvPath = dir.Write("made.csv", csv);
        std::string command = test::SofficeCommand() + " --headless --convert-to xlsx --outdir '" +
                              dir.Path().string() + "' '" + csvPath.string() + "' >/dev/null 2>&1";
        std::string zip;
        if (std::system(command.c_str()) == 0) zip = test::ReadBytes(dir.Path() / "made.xlsx");
        EXPECT_FALSE(zip.empty()) << "LibreOffice did not save the workbook";
        if (!zip.empty()) {
            xlsx::TZipArchive archive(std::make_shared<xlsx::TMemoryByteSource>(zip));
            sources.push_back({"LibreOffice", zip, LargestSheet(archive)});
        }
    }
    if (sources.size() < 5) std::cout << "fixtures or LibreOffice missing: fewer compressors\n";

    for (const TSource& source : sources) {
        SCOPED_TRACE(source.Name);
        auto bytes = std::make_shared<xlsx::TMemoryByteSource>(source.Zip);
        xlsx::TZipArchive archive(bytes);
        const xlsx::TZipEntry* entry = archive.Find(source.Entry);
        ASSERT_NE(entry, nullptr);
        ASSERT_EQ(entry->Method, 8);
        xlsx::TStreamMap map;
        std::string content;
        {
            xlsx::TMappingZipInput input(archive, *entry, map);
            char buffer[100000];
            while (std::size_t n = input.Read(buffer, sizeof buffer))
                content.append(buffer, n);
        }
        ASSERT_TRUE(map.Complete);
        ASSERT_EQ(content.size(), map.Size);
        ASSERT_GE(map.Blocks.size(), 3u) << "too small to have blocks to keep";

        // Ends at several places: near the end, in the middle, at a block start.
        const std::uint64_t size = map.Size;
        int spliced = 0;
        for (std::uint64_t tailStart :
             {size - 1, size / 2, map.Blocks[map.Blocks.size() / 2].Offset, size * 3 / 4 + 1}) {
            SCOPED_TRACE(tailStart);
            xlsx::TSplicePlan plan;
            if (!xlsx::PlanSplice(map, 5, tailStart, plan)) continue;
            ++spliced;
            EXPECT_EQ(xlsx::CrcBetween(plan.Keep, plan.Resume),
                      static_cast<std::uint32_t>(crc32_z(
                          0, reinterpret_cast<const Bytef*>(content.data()) + plan.Keep.Offset,
                          plan.Resume.Offset - plan.Keep.Offset)));
            // The head changes its first five bytes and its length.
            xlsx::TDeflater head(6);
            head.Add("<changed head>");
            head.Add(std::string_view(content).substr(5, plan.Keep.Offset - 5));
            head.Flush(false);
            xlsx::TKeptBlocks kept = xlsx::CopyKeptBlocks(archive, *entry, plan, {});
            xlsx::TDeflater tail(6);
            tail.Continue(std::string_view(content).substr(plan.Resume.Offset - 32768, 32768),
                          kept.LastBitCount, kept.LastBits);
            tail.Add(std::string_view(content).substr(plan.Resume.Offset,
                                                      tailStart - plan.Resume.Offset));
            tail.Add("<new rows/>");
            tail.Add(std::string_view(content).substr(tailStart));
            tail.Flush(true);

            std::string stream =
                Joined(head.Output()) + Joined(kept.Pieces) + Joined(tail.Output());
            std::string expected = "<changed head>" + content.substr(5, tailStart - 5) +
                                   "<new rows/>" + content.substr(tailStart);
            EXPECT_TRUE(PythonInflatesTo(dir, stream, expected));
            std::uint32_t crc = xlsx::CombineCrc(head.Crc(), kept.Crc, kept.Size);
            crc = xlsx::CombineCrc(crc, tail.Crc(), tail.InputSize());
            EXPECT_EQ(crc,
                      static_cast<std::uint32_t>(crc32_z(
                          0, reinterpret_cast<const Bytef*>(expected.data()), expected.size())));
        }
        EXPECT_GE(spliced, size < (16u << 20) ? 4 : 1);
    }
}

TEST(DeflateContinue, NothingIsKeptWhenTheChangesAreCloserThanTheWindow) {
    const std::string xml = SheetXml(40000);
    std::string zip = test::BuildZip({{"sheet.xml", xml, true, false, 6}});
    xlsx::TZipArchive archive(std::make_shared<xlsx::TMemoryByteSource>(zip));
    xlsx::TStreamMap map;
    xlsx::TMappingZipInput input(archive, *archive.Find("sheet.xml"), map);
    xlsx::TSplicePlan plan;
    std::string buffer(1 << 16, '\0');
    while (input.Read(buffer.data(), buffer.size()) != 0) {
    }
    ASSERT_TRUE(xlsx::PlanSplice(map, 5, map.Size - 1, plan));
    EXPECT_GE(plan.Keep.Offset, 5u + 32768u);
    EXPECT_LT(plan.Resume.Offset, map.Size - 1);
    // Changes that leave no whole block between them, 32 KB apart from the head's.
    EXPECT_FALSE(xlsx::PlanSplice(map, 5, plan.Keep.Offset, plan));
    EXPECT_FALSE(xlsx::PlanSplice(map, map.Size - 100, map.Size - 1, plan));
}

}  // namespace
}  // namespace qm
