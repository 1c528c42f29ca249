#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/error.h"
#include "platform/file_stream.h"
#include "platform/memory_stream.h"
#include "test_util.h"

namespace qm {
namespace {

TEST(MemoryStream, ReadsSeeksAndStopsAtTheEnd) {
    TMemoryStream stream("abcdef");
    EXPECT_EQ(stream.GetSize(), 6);
    char buffer[8] = {};
    EXPECT_EQ(stream.Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(stream.Read(buffer, 8), 2u);
    EXPECT_EQ(stream.Read(buffer, 8), 0u);
    stream.SetPosition(-5);
    EXPECT_EQ(stream.GetPosition(), 0);
    stream.SetPosition(100);
    EXPECT_EQ(stream.GetPosition(), 6);
    EXPECT_THROW(stream.ReadBuffer(buffer, 1), Error);
}

TEST(FileStream, ReadsAFileWithANonAsciiName) {
    test::TempDir dir;
    auto path = dir.Write("データ.csv", "x,y\n");
    TFileStream stream(path.u16string());
    EXPECT_EQ(stream.GetSize(), 4);
    std::string bytes(4, '\0');
    stream.ReadBuffer(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, "x,y\n");
}

TEST(FileStream, RefusesWhatCannotBeReadWithAMessageNamingTheFile) {
    test::TempDir dir;
    auto missing = (dir.Path() / "missing.csv").u16string();
    try {
        TFileStream stream(missing);
        FAIL() << "a missing file opened";
    } catch (const Error& e) {
        EXPECT_NE(e.Message().find(missing), std::u16string::npos);
    }
    EXPECT_THROW(TFileStream(dir.Path().u16string()), Error);  // a folder

    if (::geteuid() != 0) {  // root reads everything, so the check means nothing there
        auto locked = dir.Write("locked.csv", "a");
        ::chmod(locked.c_str(), 0);
        EXPECT_THROW(TFileStream(locked.u16string()), Error);
    }
}

TEST(FileStream, AFileThatShrinksWhileReadFailsTheExactRead) {
    test::TempDir dir;
    auto path = dir.Write("shrinking.csv", std::string(100, 'a'));
    TFileStream stream(path.u16string());
    auto size = stream.GetSize();
    ::truncate(path.c_str(), 10);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    EXPECT_THROW(stream.ReadBuffer(bytes.data(), bytes.size()), Error);
}

}  // namespace
}  // namespace qm
