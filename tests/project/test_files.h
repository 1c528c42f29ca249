// Small file helpers of the project tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/native_path.h"
#include "platform/system_code_page.h"

namespace qm::test {

inline std::u16string U16(const std::filesystem::path& path) {
    return FromNativePath(path.string());
}

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Fixes the legacy code page for one test and restores detection afterwards.
class CodePageScope {
  public:
    explicit CodePageScope(std::string_view name) { SetSystemCodePage(name); }
    ~CodePageScope() { SetSystemCodePage(""); }
    CodePageScope(const CodePageScope&) = delete;
    CodePageScope& operator=(const CodePageScope&) = delete;
};

}  // namespace qm::test
