// Helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/native_path.h"

namespace qm::test {

// The folder of third-party sample files, or empty when it is not there (tests then skip).
inline std::filesystem::path FixturesDir() {
    std::filesystem::path dir = QM_FIXTURES_DIR;
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path{};
}

#define QM_REQUIRE_FIXTURES()                                                         \
    do {                                                                              \
        if (::qm::test::FixturesDir().empty())                                        \
            GTEST_SKIP() << "the shared fixtures folder is absent: " QM_FIXTURES_DIR; \
    } while (0)

// A path as the program's UTF-16 text.
inline std::u16string U16(const std::filesystem::path& path) {
    return FromNativePath(path.string());
}

// A whole file's bytes (empty when it cannot be read).
inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The message of the Error the action throws, or "(no error)".
inline std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

// quillomat-cli of the build given by QM_BUILD_DIR, run with 'arguments' (already quoted for
// the shell): its exit status and its output, standard error included.
struct TCliRun {
    int status = -1;
    std::string out;
};

inline TCliRun RunCli(const std::string& arguments) {
    const char* build = std::getenv("QM_BUILD_DIR");
    std::string command =
        std::string(build ? build : ".") + "/src/cli/quillomat-cli " + arguments + " 2>&1";
    TCliRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        run.out.append(buffer, n);
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A fresh folder for one test, removed when the object goes.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qm-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path Write(const std::string& name, std::string_view bytes) const {
        std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

  private:
    std::filesystem::path path_;
};

// The start of a headless LibreOffice command line. Every run shares one profile in the build
// folder (a first start in a fresh profile costs seconds), and two instances on one profile at
// once hang or hand their work to each other: tests running side by side take turns through a
// lock on the profile.
inline std::string SofficeCommand() {
    const char* build = std::getenv("QM_BUILD_DIR");
    const std::filesystem::path profile =
        std::filesystem::path(build ? build : "/tmp") / "libreoffice-profile";
    return "flock '" + profile.string() + ".lock' soffice -env:UserInstallation=file://" +
           profile.string();
}

}  // namespace qm::test
