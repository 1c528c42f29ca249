#include "csv/csv_utility.h"

#include <algorithm>
#include <map>
#include <utility>

namespace qm {

namespace {

// Process-wide cache of letters by column index; entries are only ever added, so references
// into it stay valid. Used from the user-interface thread only.
std::map<std::int32_t, std::u16string>& LetterCache() {
    static std::map<std::int32_t, std::u16string> cache;
    return cache;
}

// Bijective base 26: no digit stands for zero, so Z is followed by AA.
std::u16string ComputeLetters(std::int32_t index) {
    std::u16string reversed;
    std::int32_t n = index;
    do {
        reversed.push_back(static_cast<char16_t>(u'A' + n % 26));
        n = n / 26 - 1;
        if (n == 0) reversed.push_back(u'A');
    } while (n > 0);
    return std::u16string(reversed.rbegin(), reversed.rend());
}

}  // namespace

const std::u16string& ColumnLetters(std::int32_t index) {
    static const std::u16string kNone;
    auto& cache = LetterCache();
    if (auto found = cache.find(index); found != cache.end()) return found->second;
    if (index < 0 || index >= MaxColumnCount) return kNone;
    return cache.emplace(index, ComputeLetters(index)).first->second;
}

std::vector<std::u16string> ColumnLetterNames(std::int32_t count, std::u16string_view prefix,
                                              std::u16string_view suffix) {
    std::int32_t n = std::clamp(count, std::int32_t{0}, MaxColumnCount);
    std::vector<std::u16string> names;
    names.reserve(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        const std::u16string& letters = ColumnLetters(i);
        std::u16string name;
        name.reserve(prefix.size() + letters.size() + suffix.size());
        name.append(prefix).append(letters).append(suffix);
        names.push_back(std::move(name));
    }
    return names;
}

}  // namespace qm
