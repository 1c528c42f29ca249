#include "targets/connection_string.h"

#include <vector>

#include "platform/case_fold.h"
#include "platform/error.h"

namespace qm {

namespace {

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
        text.remove_suffix(1);
    return text;
}

// Splits at ";" outside double quotes; a quoted value loses its quotes ("" stands for ").
std::vector<std::pair<std::u16string, std::u16string>> SplitPairs(std::u16string_view text) {
    std::vector<std::pair<std::u16string, std::u16string>> pairs;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t eq = text.find(u'=', i);
        std::size_t semi = text.find(u';', i);
        if (eq == std::u16string_view::npos || (semi != std::u16string_view::npos && semi < eq)) {
            // A part without "=": skipped, as the providers ignore empty parts.
            if (semi == std::u16string_view::npos) break;
            i = semi + 1;
            continue;
        }
        std::u16string key(Trim(text.substr(i, eq - i)));
        std::size_t j = eq + 1;
        while (j < text.size() && text[j] == u' ')
            ++j;
        std::u16string value;
        if (j < text.size() && (text[j] == u'"' || text[j] == u'\'')) {
            char16_t quote = text[j++];
            while (j < text.size()) {
                if (text[j] == quote) {
                    if (j + 1 < text.size() && text[j + 1] == quote) {
                        value += quote;
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                value += text[j++];
            }
            std::size_t next = text.find(u';', j);
            i = next == std::u16string_view::npos ? text.size() : next + 1;
        } else {
            std::size_t next = text.find(u';', j);
            std::size_t end = next == std::u16string_view::npos ? text.size() : next;
            value = std::u16string(Trim(text.substr(j, end - j)));
            i = next == std::u16string_view::npos ? text.size() : next + 1;
        }
        pairs.emplace_back(std::move(key), std::move(value));
    }
    return pairs;
}

}  // namespace

TConnectionInfo ParseConnectionString(std::u16string_view text) {
    if (Trim(text).empty())
        throw Error(u"接続文字列が空です。このファイルの種類には対応していません。");
    TConnectionInfo info;
    for (auto& [key, value] : SplitPairs(text)) {
        if (SameText(key, u"Provider"))
            info.Provider = value;
        else if (SameText(key, u"Data Source"))
            info.DataSource = value;
        else if (SameText(key, u"Extended Properties"))
            info.ExtendedProperties = value;
    }
    if (info.DataSource.empty())
        throw Error(u"接続文字列にデータソース（ファイル名）がありません。");
    for (auto& [key, value] : SplitPairs(info.ExtendedProperties)) {
        if (SameText(key, u"HDR")) info.FirstRowHasNames = !SameText(value, u"No");
    }
    // The format word has no "=": "EXCEL 12.0" is the first part of the extended properties.
    std::u16string_view props = info.ExtendedProperties;
    std::u16string_view first = Trim(props.substr(0, props.find(u';')));
    if (first.size() >= 5 && SameText(first.substr(0, 5), u"EXCEL"))
        info.ExcelVersion = std::u16string(Trim(first.substr(5)));
    return info;
}

}  // namespace qm
