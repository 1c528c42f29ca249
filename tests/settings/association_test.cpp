// The association end to end: the program's request run by the real lindrel, which this test
// program finds in its own folder, against temporary XDG folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "env_scope.h"
#include "platform/native_path.h"
#include "platform/program_path.h"
#include "settings/file_association.h"
#include "test_util.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::EnvScope;
using test::TempDir;

using test::ReadBytes;

bool Installed(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(Association, RegisteredThenRemovedByTheTool) {
    ASSERT_TRUE(fs::exists(ToNativePath(LindrelPath()))) << "lindrel is built beside the tests";
    TempDir dir;
    // A temporary folder with a blank: the tool still gets the request file's whole path.
    const fs::path temp = dir.Path() / "temp folder";
    const fs::path data = dir.Path() / "data";
    const fs::path config = dir.Path() / "config";
    fs::create_directory(temp);
    EnvScope tmpdir("TMPDIR", temp.string());
    EnvScope dataHome("XDG_DATA_HOME", data.string());
    EnvScope configHome("XDG_CONFIG_HOME", config.string());
    // xdg-mime would otherwise ask the desktop it believes it runs in.
    EnvScope desktop("XDG_CURRENT_DESKTOP", nullptr);

    const std::u16string program = ProgramFilePath();
    SetFileAssociation(u".QLM", u"Quillomat ファイル", program, 0);
    EXPECT_TRUE(fs::is_empty(temp)) << "the request file is deleted";

    const fs::path package = data / "mime/packages/quillomat-qlm.xml";
    const fs::path entry = data / "applications/quillomat-qlm.desktop";
    ASSERT_TRUE(fs::is_regular_file(package));
    ASSERT_TRUE(fs::is_regular_file(entry));
    EXPECT_NE(ReadBytes(package).find("<comment>Quillomat ファイル</comment>"), std::string::npos);
    EXPECT_NE(ReadBytes(entry).find("\nExec=" + ToNativePath(program) + " %f\n"),
              std::string::npos);
    EXPECT_NE(ReadBytes(entry).find("\nMimeType=application/x-quillomat-project;\n"),
              std::string::npos);

    // The desktop's own tools read back what the tool wrote.
    if (Installed("update-mime-database")) {
        const std::string globs = ReadBytes(data / "mime/globs2");
        // Without the ":cs" flag the pattern matches *.QLM too.
        EXPECT_NE(globs.find(":application/x-quillomat-project:*.qlm\n"), std::string::npos)
            << globs;
    }
    if (Installed("desktop-file-validate")) {
        EXPECT_EQ(std::system(("desktop-file-validate '" + entry.string() + "'").c_str()), 0);
    }
    if (Installed("xdg-mime")) {
        EXPECT_NE(ReadBytes(config / "mimeapps.list")
                      .find("application/x-quillomat-project=quillomat-qlm.desktop"),
                  std::string::npos);
    }

    RemoveFileAssociation(u".QLM");
    EXPECT_TRUE(fs::is_empty(temp));
    EXPECT_FALSE(fs::exists(package));
    EXPECT_FALSE(fs::exists(entry));
    if (fs::exists(data / "mime/globs2")) {
        EXPECT_EQ(ReadBytes(data / "mime/globs2").find("quillomat"), std::string::npos);
    }
    if (fs::exists(config / "mimeapps.list")) {
        EXPECT_EQ(ReadBytes(config / "mimeapps.list").find("quillomat"), std::string::npos);
    }
}

}  // namespace
}  // namespace qm
