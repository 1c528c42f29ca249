// Helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

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

}  // namespace qm::test
