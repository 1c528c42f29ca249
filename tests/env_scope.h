// Setting an environment variable for the length of one test.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace qm::test {

// Sets (or, with nullptr, unsets) the variable and puts the old value back when it goes.
class EnvScope {
  public:
    EnvScope(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    EnvScope(const char* name, const std::string& value) : EnvScope(name, value.c_str()) {}
    ~EnvScope() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace qm::test
