#include "targets/jet/access_expression_date.h"

#include <cmath>
#include <vector>

namespace qm::jet {
namespace {

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// The text split into numbers and the separators between them; false on anything else.
struct TPieces {
    std::vector<int> numbers;
    std::vector<int> digits;  // how many digits each number had
    std::u16string separators;
};

bool Split(std::u16string_view text, TPieces& pieces) {
    std::size_t p = 0;
    while (p < text.size()) {
        if (text[p] < u'0' || text[p] > u'9') return false;
        int value = 0, count = 0;
        while (p < text.size() && text[p] >= u'0' && text[p] <= u'9') {
            if (++count > 4) return false;
            value = value * 10 + (text[p++] - u'0');
        }
        pieces.numbers.push_back(value);
        pieces.digits.push_back(count);
        if (p < text.size()) pieces.separators.push_back(text[p++]);
    }
    return !pieces.numbers.empty() && pieces.separators.size() + 1 == pieces.numbers.size();
}

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && text.front() == u' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == u' ')
        text.remove_suffix(1);
    return text;
}

bool ParseTime(std::u16string_view text, double& timeOfDay) {
    text = Trim(text);
    int meridiem = 0;  // 1 AM, 2 PM
    for (const auto& [suffix, value] : {std::pair{u"AM", 1}, {u"PM", 2}}) {
        if (text.size() >= 2) {
            const std::u16string_view tail = text.substr(text.size() - 2);
            if ((tail[0] == suffix[0] || tail[0] == suffix[0] + 32) &&
                (tail[1] == u'M' || tail[1] == u'm')) {
                meridiem = value;
                text = Trim(text.substr(0, text.size() - 2));
            }
        }
    }
    TPieces pieces;
    if (!Split(text, pieces) || pieces.numbers.size() < 2 || pieces.numbers.size() > 3)
        return false;
    for (const char16_t s : pieces.separators)
        if (s != u':') return false;
    if (pieces.digits[1] != 2 || (pieces.numbers.size() == 3 && pieces.digits[2] != 2))
        return false;
    int hour = pieces.numbers[0];
    const int minute = pieces.numbers[1];
    const int second = pieces.numbers.size() == 3 ? pieces.numbers[2] : 0;
    if (meridiem != 0) {
        if (hour < 1 || hour > 12) return false;
        hour = hour % 12 + (meridiem == 2 ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
    timeOfDay = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    return true;
}

bool ParseDay(std::u16string_view text, bool literal, double& days) {
    TPieces pieces;
    if (!Split(text, pieces) || pieces.numbers.size() != 3) return false;
    const char16_t sep = pieces.separators[0];
    if ((sep != u'/' && sep != u'-') || pieces.separators[1] != sep) return false;
    int year, month, day;
    if (pieces.digits[0] == 4) {
        year = pieces.numbers[0];
        month = pieces.numbers[1];
        day = pieces.numbers[2];
    } else if (literal && sep == u'/' && pieces.digits[2] == 4) {
        month = pieces.numbers[0];
        day = pieces.numbers[1];
        year = pieces.numbers[2];
    } else {
        return false;
    }
    if (pieces.digits[1] > 2 || (pieces.digits[0] == 4 ? pieces.digits[2] : pieces.digits[0]) > 2)
        return false;
    if (year < 100 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    days = EncodeDate(year, month, day);
    return true;
}

}  // namespace

double CombineDateAndTime(double wholeDays, double timeOfDay) {
    return wholeDays < 0 ? wholeDays - timeOfDay : wholeDays + timeOfDay;
}

void SplitDateAndTime(double value, double& wholeDays, double& timeOfDay) {
    wholeDays = std::trunc(value);
    timeOfDay = std::fabs(value - wholeDays);
}

std::optional<TDateTime> ParseExpressionDate(std::u16string_view text, bool literal) {
    text = Trim(text);
    if (text.empty()) return std::nullopt;
    double days = 0, time = 0;
    if (text.find_first_of(u"/-") == std::u16string_view::npos) {
        if (!ParseTime(text, time)) return std::nullopt;
        return TDateTime{time};
    }
    const std::size_t space = text.find(u' ');
    if (!ParseDay(text.substr(0, space), literal, days)) return std::nullopt;
    if (space != std::u16string_view::npos && !ParseTime(text.substr(space + 1), time))
        return std::nullopt;
    return TDateTime{CombineDateAndTime(days, time)};
}

}  // namespace qm::jet
