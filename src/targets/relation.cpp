#include "targets/relation.h"

#include <string>
#include <vector>

#include "platform/comma_text.h"
#include "platform/int_text.h"
#include "text/string_utility.h"

namespace qm {

namespace {

std::u16string DecimalText(std::int32_t value) {
    std::string ascii = std::to_string(value);
    return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace

std::u16string RelationToText(const TRelation& relation) {
    // One item for every entry: field names are case-sensitive, so Name and name are two
    // fields, and each keeps its own column. The name ends at the item's last "=" when read,
    // so names holding "=" need no escape.
    std::vector<std::u16string> lines;
    lines.reserve(relation.size());
    for (const auto& [key, column] : relation)
        lines.push_back(key + u'=' + DecimalText(column));
    return ToCommaText(lines);
}

TRelation TextToRelation(std::u16string_view text) {
    TRelation relation;
    for (std::u16string& item : FromCommaText(text)) {
        std::size_t equals = LastPos(item, u"=");  // 1-based; 0 when there is none
        std::u16string name = equals == 0 ? std::u16string() : item.substr(0, equals - 1);
        std::u16string_view indexText = std::u16string_view(item).substr(equals);
        relation.emplace(std::move(name), StrToIntDef(indexText, -1));
    }
    return relation;
}

}  // namespace qm
