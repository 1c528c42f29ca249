// The program's general error type: every failure of the core that reaches the user is an
// Error carrying a Japanese message meant to be shown as it is.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace qm {

class Error : public std::exception {
  public:
    explicit Error(std::u16string message);
    // For messages assembled from UTF-8 text (for example the system's strerror).
    static Error FromUtf8(std::string_view message);

    // The message as the user sees it.
    const std::u16string& Message() const noexcept { return message_; }
    // The same message in UTF-8, for logs and terminals.
    const char* what() const noexcept override { return utf8_.c_str(); }

  private:
    std::u16string message_;
    std::string utf8_;
};

// What a long operation stopped at the user's request says (the import run, a commit).
inline constexpr char16_t kCancelledMessage[] = u"キャンセルされました。";

}  // namespace qm
