#include "targets/relation.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/case_fold.h"
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
    // A line's name is its text before the first "="; a key replaces the first line whose name
    // equals it without regard to case. The folded names index the lines so that a relation of
    // thousands of fields is written in linear time.
    std::vector<std::u16string> lines;
    std::unordered_map<std::u16string, std::size_t> lineByFoldedName;
    lines.reserve(relation.size());
    for (const auto& [key, column] : relation) {
        std::u16string line = key + u'=' + DecimalText(column);
        std::u16string folded = FoldCase(key);
        if (auto found = lineByFoldedName.find(folded); found != lineByFoldedName.end()) {
            lines[found->second] = std::move(line);
            continue;
        }
        std::u16string_view name = std::u16string_view(line).substr(0, line.find(u'='));
        lineByFoldedName.emplace(FoldCase(name), lines.size());
        lines.push_back(std::move(line));
    }
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
