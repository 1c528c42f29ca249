#include "project/command_line.h"

#include "platform/case_fold.h"
#include "platform/error.h"

namespace qm {

namespace {

bool IsDigit(char16_t c) noexcept {
    return c >= u'0' && c <= u'9';
}

// A decimal floating-point number with blanks allowed around it, as the runtime library's
// number reading takes it: sign, digits with an optional "." fraction (at least one digit in
// all), an optional exponent. The result tells whether it parsed and whether it is zero.
bool TryReadNumber(std::u16string_view text, bool& isZero) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) ++i;
    bool anyDigit = false;
    isZero = true;
    auto digits = [&] {
        for (; i < n && IsDigit(text[i]); ++i) {
            anyDigit = true;
            if (text[i] != u'0') isZero = false;
        }
    };
    digits();
    if (i < n && text[i] == u'.') {
        ++i;
        digits();
    }
    if (!anyDigit) return false;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-')) ++i;
        if (i == n || !IsDigit(text[i])) return false;
        while (i < n && IsDigit(text[i]))
            ++i;
    }
    while (i < n && text[i] == u' ')
        ++i;
    return i == n;
}

}  // namespace

std::u16string JoinStrings(const std::vector<std::u16string>& strings,
                           std::u16string_view separator) {
    std::u16string joined;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (i > 0) joined += separator;
        joined += strings[i];
    }
    return joined;
}

std::u16string BoolToArgument(bool value) {
    return value ? u"-1" : u"0";
}

bool ArgumentToBool(std::u16string_view value) {
    bool isZero = true;
    if (TryReadNumber(value, isZero)) return !isZero;
    if (SameText(value, u"True")) return true;
    if (SameText(value, u"False")) return false;
    std::u16string message = u"'";
    message += value;
    message += u"' は正しい論理型ではありません";
    throw Error(std::move(message));
}

}  // namespace qm
