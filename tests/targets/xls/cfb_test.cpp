// The compound file reader on containers the tests build: both sector sizes, the mini stream,
// DIFAT sectors, and damaged headers, chains and directories.
#include <gtest/gtest.h>

#include <functional>

#include "platform/error.h"
#include "targets/xls/cfb_file.h"
#include "text/unicode.h"
#include "xls_builder.h"

namespace qm {
namespace {

using xls::TCompoundFile;

std::string Pattern(std::size_t size, unsigned seed) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return data;
}

// The memory source only points at the bytes: they live as long as the file object.
struct TMemoryCompoundFile : TCompoundFile {
    explicit TMemoryCompoundFile(std::shared_ptr<const std::string> bytes)
        : TCompoundFile(std::make_shared<xlsx::TMemoryByteSource>(*bytes, u"/data/book.xls")),
          Bytes(std::move(bytes)) {}
    std::shared_ptr<const std::string> Bytes;
};

std::unique_ptr<TMemoryCompoundFile> Open(std::string bytes) {
    auto shared = std::make_shared<const std::string>(std::move(bytes));
    return std::make_unique<TMemoryCompoundFile>(shared);
}

std::string Read(const TCompoundFile& file, std::u16string_view name) {
    int entry = file.FindRootStream(name);
    if (entry < 0) return "(missing)";
    return file.ReadStream(static_cast<std::uint32_t>(entry));
}

TEST(CompoundFile, ReadsStreamsOfBothVersions) {
    // Small streams live in the mini stream, big ones in regular sectors; an empty one has no
    // sectors at all.
    std::vector<test::TCfbStream> streams = {{u"Workbook", Pattern(70000, 1)},
                                             {u"\x05SummaryInformation", Pattern(300, 2)},
                                             {u"Tiny", Pattern(64, 3)},
                                             {u"Empty", ""},
                                             {u"Exactly4096", Pattern(4096, 4)}};
    for (std::uint16_t major : {3, 4}) {
        SCOPED_TRACE(major);
        auto file = Open(test::BuildCompoundFile(streams, major));
        EXPECT_EQ(file->MajorVersion(), major);
        EXPECT_EQ(file->SectorSize(), major == 4 ? 4096u : 512u);
        for (const auto& stream : streams)
            EXPECT_EQ(Read(*file, stream.Name), stream.Data) << Utf16ToUtf8(stream.Name);
        EXPECT_EQ(Read(*file, u"WORKBOOK"), streams[0].Data);  // names ignore case
        EXPECT_EQ(Read(*file, u"Book"), "(missing)");
        EXPECT_EQ(file->RootChildren().size(), streams.size());
    }
}

TEST(CompoundFile, FollowsDifatSectors) {
    // More than 109 FAT sectors (about 7 MB of 512-byte sectors) need DIFAT sectors.
    std::string big = Pattern(7600000, 5);
    auto file = Open(test::BuildCompoundFile({{u"Workbook", big}}, 3));
    EXPECT_FALSE(file->DifatSectors().empty());
    EXPECT_GT(file->FatSectors().size(), 109u);
    EXPECT_EQ(Read(*file, u"Workbook"), big);
}

// Byte positions inside a container made by the builder for the damage cases below: one
// regular stream "Workbook" of 5,000 bytes (sectors 0..9) and a mini stream "Small".
struct TDamage {
    const char* what;
    std::function<void(std::string&)> damage;
    bool atOpen;  // fails when the file opens (else when the stream is read)
};

void SetU32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t GetU32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

TEST(CompoundFile, DamageGivesErrorsNamingTheFile) {
    const std::string good =
        test::BuildCompoundFile({{u"Workbook", Pattern(5000, 6)}, {u"Small", Pattern(200, 7)}});
    auto fatAt = [&](const std::string& bytes) {
        return (static_cast<std::size_t>(GetU32(bytes, 76)) + 1) * 512;
    };
    auto directoryAt = [&](const std::string& bytes) {
        return (static_cast<std::size_t>(GetU32(bytes, 48)) + 1) * 512;
    };
    // Directory entries: 0 root, 1 "Small", 2 "Workbook" (sorted by name length).
    const TDamage cases[] = {
        {"too short", [](std::string& b) { b.resize(300); }, true},
        {"bad signature", [](std::string& b) { b[0] = 'X'; }, true},
        {"bad byte order", [](std::string& b) { b[28] = 0; }, true},
        {"sector shift of the other version", [](std::string& b) { b[30] = 12; }, true},
        {"FAT count beyond the file", [](std::string& b) { SetU32(b, 44, 100000); }, true},
        {"FAT sector beyond the file", [](std::string& b) { SetU32(b, 76, 5000); }, true},
        {"directory start beyond the file", [](std::string& b) { SetU32(b, 48, 999); }, true},
        {"truncated in the FAT", [&](std::string& b) { b.resize(fatAt(b) + 100); }, true},
        {"stream chain loops", [&](std::string& b) { SetU32(b, fatAt(b) + 4 * 3, 1); }, false},
        {"stream chain points outside",
         [&](std::string& b) { SetU32(b, fatAt(b) + 4 * 3, 0x00FFFFFF); }, false},
        {"stream chain ends early",
         [&](std::string& b) { SetU32(b, fatAt(b) + 4 * 3, 0xFFFFFFFE); }, false},
        {"stream size beyond the file",
         [&](std::string& b) { SetU32(b, directoryAt(b) + 2 * 128 + 120, 0x7FFFFFF0); }, false},
        {"mini chain loops",
         [&](std::string& b) {
             std::size_t miniFat = (static_cast<std::size_t>(GetU32(b, 60)) + 1) * 512;
             SetU32(b, miniFat + 4 * 1, 0);
         },
         false},
        {"directory tree loops",
         [&](std::string& b) { SetU32(b, directoryAt(b) + 2 * 128 + 72, 1); }, false},
        {"directory name too long", [&](std::string& b) { b[directoryAt(b) + 128 + 64] = 100; },
         true},
        {"truncated in the stream", [](std::string& b) { b.resize(512 * 6); }, true},
    };
    for (const TDamage& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = good;
        c.damage(bytes);
        std::unique_ptr<TMemoryCompoundFile> file;
        try {
            file = Open(bytes);
            EXPECT_FALSE(c.atOpen) << "opened";
            Read(*file, u"Small");
            Read(*file, u"Workbook");
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("/data/book.xls"), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace qm
