#include "platform/comma_text.h"

namespace qm {

namespace {

// The desktop platform reads its strings up to a NUL, so it never saw one inside a text. Here a
// NUL is a blank like the other control characters: it is quoted on writing (so it survives a
// round trip) and skipped on reading, which also guarantees that reading always advances.
bool IsBlank(char16_t c) noexcept {
    return c <= 32;
}

bool NeedsQuotes(std::u16string_view item) noexcept {
    for (char16_t c : item) {
        if (IsBlank(c) || c == u'"' || c == u',') return true;
    }
    return false;
}

}  // namespace

std::u16string CommaTextItem(std::u16string_view item) {
    if (!NeedsQuotes(item)) return std::u16string(item);
    std::u16string quoted;
    quoted.reserve(item.size() + 2);
    quoted += u'"';
    for (char16_t c : item) {
        if (c == u'"') quoted += u'"';
        quoted += c;
    }
    quoted += u'"';
    return quoted;
}

std::u16string ToCommaText(const std::vector<std::u16string>& items) {
    if (items.size() == 1 && items[0].empty()) return u"\"\"";
    std::u16string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += u',';
        text += CommaTextItem(items[i]);
    }
    return text;
}

std::vector<std::u16string> FromCommaText(std::u16string_view text) {
    std::vector<std::u16string> items;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto skipBlanks = [&] {
        while (i < n && IsBlank(text[i]))
            ++i;
    };
    skipBlanks();
    while (i < n) {
        std::u16string item;
        if (text[i] == u'"') {
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        item += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;  // the closing quote
                    break;
                }
                item += text[i++];
            }
        } else {
            std::size_t start = i;
            while (i < n && !IsBlank(text[i]) && text[i] != u',')
                ++i;
            item.assign(text.substr(start, i - start));
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (i < n && text[i] == u',') {
            if (i + 1 == n) items.emplace_back();
            ++i;
            skipBlanks();
        }
    }
    return items;
}

}  // namespace qm
