// quillomat-cli text-key --sort LCID/VERSION VALUE…: the index key of each value under a text
// sort order, in hex as an ascending index stores it (flag byte through the final 00), one line
// per value; or the refusal naming the first character whose key is not proven. Lets keys be
// checked against evidence without a database.
#include <cstdio>
#include <string>

#include "cli/command.h"
#include "targets/jet/jet_text_key.h"
#include "text/unicode.h"

namespace {

bool ParseSortOrder(const std::string& text, qm::jet::TTextSortOrder& order) {
    const auto slash = text.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 >= text.size()) return false;
    try {
        std::size_t used = 0;
        const unsigned long lcid = std::stoul(text.substr(0, slash), &used);
        if (used != slash || lcid > 0xFFFF) return false;
        const std::string versionText = text.substr(slash + 1);
        const unsigned long version = std::stoul(versionText, &used);
        if (used != versionText.size() || version > 0xFF) return false;
        order.lcid = static_cast<std::uint16_t>(lcid);
        order.version = static_cast<std::uint8_t>(version);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string CharacterText(char32_t c) {
    std::u16string units;
    if (c > 0xFFFF) {
        units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
        units.push_back(static_cast<char16_t>(c));
    }
    return qm::Utf16ToUtf8(units);
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

int Run(const std::vector<std::string>& args) {
    qm::jet::TTextSortOrder order;
    if (args.size() < 3 || args[0] != "--sort" || !ParseSortOrder(args[1], order)) {
        std::fputs("使い方 / usage: quillomat-cli text-key --sort LCID/VERSION VALUE...\n", stderr);
        return 1;
    }
    int status = 0;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::u16string value = qm::Utf8ToUtf16(args[i]);
        const qm::jet::TTextKey key = qm::jet::EncodeTextKey(value, order);
        if (!key.refusal) {
            std::printf("%s\n", Hex(key.bytes).c_str());
            continue;
        }
        status = 2;
        const auto& r = *key.refusal;
        if (r.character == 0) {
            std::printf("拒否: %s\n", qm::Utf16ToUtf8(r.reason).c_str());
            continue;
        }
        char codePoint[16];
        std::snprintf(codePoint, sizeof codePoint, "U+%04X", static_cast<unsigned>(r.character));
        std::printf("拒否: %zu 文字目の「%s」(%s): %s\n", r.position + 1,
                    CharacterText(r.character).c_str(), codePoint,
                    qm::Utf16ToUtf8(r.reason).c_str());
    }
    return status;
}

const qm::cli::TCommandRegistration kRegistration(
    {"text-key",
     "--sort LCID/VERSION VALUE...  テキストのインデックスキー / text index keys in hex", Run});

}  // namespace
