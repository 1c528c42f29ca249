// Deflate on several threads: one valid stream, the same bytes for any number of threads, read
// back by zlib and by Python's zlib, and failures of a thread reported to the caller.
#include "targets/xlsx/parallel_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <random>

#include "env_scope.h"
#include "platform/error.h"
#include "targets/xlsx/zip_writer.h"
#include "test_util.h"
#include "xlsx_builder.h"
#include "xlsx_test_util.h"

namespace qm::xlsx {
namespace {

constexpr std::size_t kPiece = TParallelDeflater::kPieceSize;

// Worksheet-like rows with some noise, so that pieces compress differently and back-references
// across a cut are worth making.
std::string SheetLikeBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string out;
    for (std::uint32_t row = 1; out.size() < size; ++row) {
        out += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) + "\"><v>" +
               std::to_string(random() % 100000) + "</v></c><c r=\"B" + std::to_string(row) +
               "\" t=\"inlineStr\"><is><t>名前" + std::to_string(random() % 50) +
               "</t></is></c></row>";
        if (random() % 7 == 0)
            for (int i = 0; i < 40; ++i)
                out += static_cast<char>(random());
    }
    out.resize(size);
    return out;
}

std::string Join(const std::vector<std::string>& pieces) {
    std::string out;
    for (const std::string& piece : pieces)
        out += piece;
    return out;
}

// Inflates a raw stream with zlib; fails the test unless it ends exactly at the stream's end.
std::string Inflate(const std::string& raw) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    std::string out;
    int status = Z_OK;
    while (status == Z_OK) {
        char buffer[1 << 16];
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
        if (status == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    EXPECT_EQ(status, Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the stream";
    inflateEnd(&z);
    return out;
}

std::uint32_t Crc(const std::string& data) {
    return static_cast<std::uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
}

struct TCompressed {
    std::string Raw;
    std::uint32_t Crc;
    std::uint64_t Size;
};

// 'segments' given in slices of 'slice' bytes, each segment ended by a flush, the last by the
// final one.
TCompressed Deflate(unsigned threads, const std::vector<std::string>& segments, std::size_t slice) {
    TParallelDeflater deflater(1, threads);
    for (std::size_t s = 0; s < segments.size(); ++s) {
        std::string_view rest = segments[s];
        while (!rest.empty()) {
            const std::size_t n = std::min(rest.size(), slice);
            deflater.Add(rest.substr(0, n));
            rest.remove_prefix(n);
        }
        deflater.Flush(s + 1 == segments.size());
    }
    return {Join(deflater.TakeOutput()), deflater.Crc(), deflater.InputSize()};
}

TEST(ParallelDeflate, OneStreamWithTheSameBytesForAnyNumberOfThreads) {
    const std::string big = SheetLikeBytes(3 * kPiece + kPiece / 2, 1);
    struct TCase {
        const char* name;
        std::vector<std::string> segments;
    } cases[] = {
        {"nothing", {""}},
        {"a few bytes", {"<row/>"}},
        {"exactly one piece", {big.substr(0, kPiece)}},
        {"one byte over a piece", {big.substr(0, kPiece + 1)}},
        {"three and a half pieces", {big}},
        // Flushed segments, one of them empty, and a short one whose dictionary reaches back
        // over the cut before it.
        {"segments",
         {big.substr(0, kPiece + 100), "", big.substr(0, 5000), big.substr(7, 2 * kPiece)}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string whole;
        for (const std::string& segment : c.segments)
            whole += segment;
        const TCompressed one = Deflate(1, c.segments, 1u << 20);
        EXPECT_EQ(Inflate(one.Raw), whole);
        EXPECT_EQ(one.Crc, Crc(whole));
        EXPECT_EQ(one.Size, whole.size());
        // How the data is sliced and how many threads compress it change nothing.
        for (unsigned threads : {2u, 3u}) {
            const TCompressed many = Deflate(threads, c.segments, 4093);
            EXPECT_TRUE(many.Raw == one.Raw) << threads << " threads";
            EXPECT_EQ(many.Crc, one.Crc);
        }
    }
}

TEST(ParallelDeflate, JoinsAfterAnotherCompressorsSegmentAndPythonInflatesIt) {
    // As a rewritten worksheet is made: a head from the ordinary compressor ended by a flush,
    // the rows from the threads, a tail that ends the stream.
    const std::string head = "<worksheet><sheetData>";
    const std::string rows = SheetLikeBytes(2 * kPiece + 12345, 2);
    const std::string tail = "</sheetData></worksheet>";
    TDeflater before(6);
    before.Add(head);
    before.Flush(false);
    TParallelDeflater middle(1, 2);
    middle.Add(rows);
    middle.Flush(false);
    TDeflater after(1);
    after.Add(tail);
    after.Flush(true);
    const std::string raw =
        Join(before.Output()) + Join(middle.TakeOutput()) + Join(after.Output());
    const std::uint32_t crc = CombineCrc(CombineCrc(before.Crc(), middle.Crc(), middle.InputSize()),
                                         after.Crc(), after.InputSize());
    const std::string whole = head + rows + tail;
    EXPECT_EQ(Inflate(raw), whole);
    EXPECT_EQ(crc, Crc(whole));

    test::TempDir dir;
    const auto rawPath = dir.Write("stream.deflate", raw);
    const auto wholePath = dir.Write("whole.xml", whole);
    const std::string command =
        "/usr/bin/python3 -c 'import sys, zlib\n"
        "raw = open(sys.argv[1], \"rb\").read()\n"
        "d = zlib.decompressobj(-15)\n"
        "out = d.decompress(raw)\n"
        "assert d.eof and not d.unused_data, \"stream not ended where it should\"\n"
        "assert out == open(sys.argv[2], \"rb\").read(), \"different bytes\"\n"
        "assert zlib.crc32(out) == int(sys.argv[3])' '" +
        rawPath.string() + "' '" + wholePath.string() + "' " + std::to_string(crc);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(ParallelDeflate, AnImportWritesTheSameWorkbookOnOneOrTwoThreadsAndOpenpyxlReadsIt) {
    test::TTestWorkbook book;
    book.Sheets = {{"Data", "<row r=\"1\">" + test::InlineCell("A1", "番号") +
                                test::InlineCell("B1", "名前") + "</row><row r=\"2\">" +
                                test::NumberCell("A2", "-1") + test::InlineCell("B2", "x") +
                                "</row>"}};
    const std::string original = test::BuildWorkbook(book);
    // Rows enough for several pieces, so that the threads share them.
    constexpr int kRows = 20000;
    std::string files[2];
    for (unsigned threads : {1u, 2u}) {
        test::EnvScope scope("QUILLOMAT_DEFLATE_THREADS", std::to_string(threads));
        test::TempDir dir;
        const auto path = dir.Write("book.xlsx", original);
        {
            test::TOpenTable open(path, u"Data$");
            open.Connection.BeginTrans();
            for (int r = 0; r < kRows; ++r)
                open.Append({Utf8ToUtf16(std::to_string(r)),
                             u"名前 " + Utf8ToUtf16(std::to_string(r * 7919 % 1000)) + u" <&>"});
            open.Connection.CommitTrans();
        }
        files[threads - 1] = test::ReadBytes(path);
        if (threads == 2) {
            ASSERT_TRUE(test::HaveOpenpyxl())
                << "python3-openpyxl is not installed (scripts/install-deps.sh installs it)";
            const std::vector<std::string> rows = test::OpenpyxlRows(path, "Data");
            ASSERT_EQ(rows.size(), 2u + kRows) << rows.front();
            EXPECT_EQ(rows[2], "n:0.0\ts:\"名前 0 <&>\"");
            EXPECT_EQ(rows[12346], "n:12344.0\ts:\"名前 136 <&>\"");
            EXPECT_EQ(rows.back(), "n:19999.0\ts:\"名前 81 <&>\"");
        }
    }
    EXPECT_TRUE(files[0] == files[1]) << "1 and 2 threads wrote different workbooks";
}

// The compressor is dropped with later pieces still queued, as a roll-back drops it: its
// threads must end.
TEST(ParallelDeflate, AFailingPieceFailsTheCallerWithItsMessage) {
    const std::string data = SheetLikeBytes(6 * kPiece, 3);
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(threads);
        TParallelDeflater::SetPieceHookForTests([](std::uint64_t piece) {
            if (piece == 2) throw Error(u"データを圧縮できません。");
        });
        std::string message = test::ErrorOf([&] {
            TParallelDeflater deflater(1, threads);
            deflater.Add(data);
            deflater.Flush(true);
        });
        TParallelDeflater::SetPieceHookForTests({});
        EXPECT_EQ(message, "データを圧縮できません。");
    }
}

}  // namespace
}  // namespace qm::xlsx
