#include "targets/sheet/number_format.h"

namespace qm::sheet {

TStyleKind ClassifyNumberFormat(std::uint32_t id, std::string_view code) {
    if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
        (id >= 50 && id <= 58))
        return TStyleKind::Date;
    if ((id >= 5 && id <= 8) || id == 42 || id == 44) return TStyleKind::Currency;
    if (code.empty()) return TStyleKind::General;
    // Look at the first section only, outside quotes, escapes and brackets.
    bool date = false, currency = false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (c == ';') break;
        if (c == '"') {
            std::size_t close = code.find('"', i + 1);
            std::string_view quoted = code.substr(
                i + 1, close == std::string_view::npos ? std::string_view::npos : close - i - 1);
            if (quoted.find('$') != std::string_view::npos ||
                quoted.find("\xC2\xA5") != std::string_view::npos ||
                quoted.find("\xEF\xBF\xA5") != std::string_view::npos ||
                quoted.find("\xE2\x82\xAC") != std::string_view::npos)
                currency = true;
            if (close == std::string_view::npos) break;
            i = close;
        } else if (c == '\\' || c == '_' || c == '*') {
            if (c == '\\' && i + 1 < code.size() && code[i + 1] == '$') currency = true;
            ++i;
        } else if (c == '[') {
            std::size_t close = code.find(']', i);
            if (close == std::string_view::npos) break;
            std::string_view inside = code.substr(i + 1, close - i - 1);
            if (inside.size() > 1 && inside[0] == '$' && inside[1] != '-') currency = true;
            if (inside == "h" || inside == "hh" || inside == "m" || inside == "mm" ||
                inside == "s" || inside == "ss")
                date = true;
            i = close;
        } else if (c == '$') {
            currency = true;
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            // Yen (U+00A5, U+FFE5), euro, pound signs written raw.
            if (code.substr(i, 2) == "\xC2\xA5" || code.substr(i, 3) == "\xEF\xBF\xA5" ||
                code.substr(i, 3) == "\xE2\x82\xAC" || code.substr(i, 2) == "\xC2\xA3")
                currency = true;
        } else {
            char lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            if (lower == 'y' || lower == 'm' || lower == 'd' || lower == 'h' || lower == 's')
                date = true;
        }
    }
    if (date) return TStyleKind::Date;
    if (currency) return TStyleKind::Currency;
    return TStyleKind::General;
}

}  // namespace qm::sheet
