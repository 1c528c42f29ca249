// Small file helpers of the project tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/native_path.h"
#include "platform/system_code_page.h"
#include "test_util.h"

namespace qm::test {

// Fixes the legacy code page for one test and restores detection afterwards.
class CodePageScope {
  public:
    explicit CodePageScope(std::string_view name) { SetSystemCodePage(name); }
    ~CodePageScope() { SetSystemCodePage(""); }
    CodePageScope(const CodePageScope&) = delete;
    CodePageScope& operator=(const CodePageScope&) = delete;
};

}  // namespace qm::test
