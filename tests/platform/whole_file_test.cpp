// Writing whole files (project, settings and script files): permission bits, links, and the
// refusals that leave what is on disk as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "test_util.h"

namespace qm {
namespace {

using test::U16;

unsigned ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

std::size_t FilesIn(const std::filesystem::path& folder) {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        (void)entry, ++n;
    return n;
}

TEST(WholeFile, PermissionBitsOfNewExistingAndExecutableFiles) {
    test::TempDir dir;
    const mode_t old = ::umask(022);
    const auto fresh = dir.Path() / "new.ini";
    WriteWholeFile(U16(fresh), "a");
    EXPECT_EQ(ModeOf(fresh), 0644u);

    const auto kept = dir.Write("kept.ini", "old");
    ::chmod(kept.c_str(), 0640);
    WriteWholeFile(U16(kept), "new");
    EXPECT_EQ(ModeOf(kept), 0640u);
    EXPECT_EQ(test::ReadBytes(kept), "new");

    const auto script = dir.Path() / "run.sh";
    WriteWholeFile(U16(script), "#!/bin/sh\n", true);
    EXPECT_EQ(ModeOf(script), 0755u);
    ::umask(old);
    EXPECT_EQ(FilesIn(dir.Path()), 3u);  // no temporary file left
}

TEST(WholeFile, ALinkStaysALinkToTheReplacedFile) {
    test::TempDir dir;
    const auto real = dir.Write("real.QLM", "old");
    const auto link = dir.Path() / "link.QLM";
    std::filesystem::create_symlink(real, link);
    WriteWholeFile(U16(link), "new");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(test::ReadBytes(real), "new");
}

TEST(WholeFile, RefusalsNameTheFileAndChangeNothing) {
    test::TempDir dir;
    const auto readOnly = dir.Write("ro.QLM", "keep");
    ::chmod(readOnly.c_str(), 0444);
    const auto folder = dir.Path() / "folder.QLM";
    std::filesystem::create_directory(folder);
    for (const auto& target : {readOnly, folder, dir.Path() / "missing" / "x.QLM"}) {
        SCOPED_TRACE(target.string());
        try {
            WriteWholeFile(U16(target), "new");
            ADD_FAILURE() << "written";
        } catch (const Error& error) {
            EXPECT_NE(error.Message().find(U16(target)), std::u16string::npos);
        }
    }
    EXPECT_EQ(test::ReadBytes(readOnly), "keep");
    EXPECT_EQ(FilesIn(dir.Path()), 2u);
}

}  // namespace
}  // namespace qm
