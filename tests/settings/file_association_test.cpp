// The request files for the association tool, temporary files, and running the tool when it
// is not there (association_test.cpp runs the real one).
#include "settings/file_association.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "env_scope.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "platform/program_path.h"
#include "platform/system_code_page.h"
#include "settings/file_utility.h"
#include "settings/temp_file.h"
#include "test_util.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::EnvScope;
using test::TempDir;

std::u16string U16(const fs::path& path) {
    return FromNativePath(path.string());
}

std::size_t FileCount(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
}

class CodePageScope {
  public:
    explicit CodePageScope(const char* name) { SetSystemCodePage(name); }
    ~CodePageScope() { SetSystemCodePage(""); }
};

TEST(AssociationRequest, RegisterAndRemoveFilesAreByteExact) {
    // The program path has blanks and the file-type text Japanese: the request is plain text in
    // the legacy code page, CR LF, no byte-order mark, and the path is quoted only in COMMAND.
    const std::u16string program = u"/opt/My Tools/quillomat";
    struct TCase {
        const char* codePage;
        std::string fileType;  // "Quillomat ファイル" in that code page
    };
    const TCase cases[] = {
        {"UTF-8", "Quillomat \xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB"},
        {"CP932", "Quillomat \x83\x74\x83\x40\x83\x43\x83\x8B"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.codePage);
        CodePageScope codePage(c.codePage);
        EXPECT_EQ(MakeSetAssociationRequest(u".QLM", program, u"Quillomat ファイル", program, 0)
                      .ToBytes(),
                  "[EXT]\r\n"
                  "EXT=.QLM\r\n"
                  "COMMAND=\"/opt/My Tools/quillomat\" \"%1\"\r\n"
                  "FILE_TYPE=" +
                      c.fileType +
                      "\r\n"
                      "ICON_FILE=/opt/My Tools/quillomat\r\n"
                      "ICON_INDEX=0\r\n"
                      "\r\n"
                      "[TASK]\r\n"
                      "CLOSE=1\r\n"
                      "COMMAND=1\r\n"
                      "\r\n");
        EXPECT_EQ(MakeRemoveAssociationRequest(u".QLM").ToBytes(),
                  "[EXT]\r\nEXT=.QLM\r\n\r\n[TASK]\r\nCLOSE=1\r\nCOMMAND=2\r\n\r\n");
    }
}

TEST(TempFile, IsCreatedEmptyAndDeletedWithTheObject) {
    TempDir dir;
    EnvScope tmpdir("TMPDIR", dir.Path().string());
    std::u16string name;
    {
        TTempFile file;
        name = file.FileName();
        EXPECT_EQ(fs::path(ToNativePath(name)).parent_path(), dir.Path());
        EXPECT_TRUE(fs::is_regular_file(ToNativePath(name)));
        EXPECT_EQ(fs::file_size(ToNativePath(name)), 0u);
        // Only its owner may read what a request or other temporary content holds.
        EXPECT_EQ(fs::status(ToNativePath(name)).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        TTempFile second;
        EXPECT_NE(second.FileName(), name);
    }
    EXPECT_FALSE(fs::exists(ToNativePath(name)));
    EXPECT_EQ(FileCount(dir.Path()), 0u);
}

TEST(TempFile, TakesTheExtensionOrKeepsItsFirstName) {
    TempDir dir;
    const std::u16string folder = U16(dir.Path());
    {
        TTempFile file(u".ini", folder);
        const fs::path path = ToNativePath(file.FileName());
        EXPECT_EQ(path.parent_path(), dir.Path());
        EXPECT_EQ(path.extension(), ".ini");
        EXPECT_TRUE(fs::is_regular_file(path));
        EXPECT_EQ(FileCount(dir.Path()), 1u);  // the first name is gone

        // A name that cannot be made (below a file, not a folder): the move fails and the file
        // stays where it was created.
        TTempFile stays(u".d/x", folder);
        EXPECT_EQ(fs::path(ToNativePath(stays.FileName())).extension(), ".tmp");
        EXPECT_TRUE(fs::is_regular_file(ToNativePath(stays.FileName())));
        EXPECT_EQ(FileCount(dir.Path()), 2u);
    }
    EXPECT_EQ(FileCount(dir.Path()), 0u);
}

TEST(TempFile, FolderErrorsAreReported) {
    TempDir dir;
    try {
        TTempFile file(u"", U16(dir.Path() / "missing"));
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(error.Message(), u"一時ファイルの作成に失敗しました。");
    }
    // A TMPDIR that is not a folder is passed over for /tmp, as the C library does.
    EnvScope tmpdir("TMPDIR", (dir.Path() / "missing").string());
    EXPECT_EQ(GetTempDirectory(), u"/tmp/");
}

TEST(RunLindrel, AMissingToolShowsNothingAndLeavesNoRequestFile) {
    // The tests' folder holds no lindrel.
    ASSERT_FALSE(fs::exists(ToNativePath(LindrelPath())));
    TempDir dir;
    const fs::path temp = dir.Path() / "temp folder";
    fs::create_directory(temp);
    EnvScope tmpdir("TMPDIR", temp.string());
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    SetFileAssociation(u".QLM", u"Quillomat ファイル", ProgramFilePath(), 0);
    RemoveFileAssociation(u".QLM");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(FileCount(temp), 0u);
}

TEST(RunLindrel, ARequestThatCannotBeWrittenIsAnErrorAndLeavesNoFile) {
    TempDir dir;
    EnvScope tmpdir("TMPDIR", dir.Path().string());
    TFileSystemFaults::Reset(1);  // the disk is full at the first write
    EXPECT_THROW(RemoveFileAssociation(u".QLM"), Error);
    TFileSystemFaults::Reset();
    EXPECT_EQ(FileCount(dir.Path()), 0u);
}

}  // namespace
}  // namespace qm
