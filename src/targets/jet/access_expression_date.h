// Dates and times of Access expressions: reading the forms a #date# literal or a text given
// to DateValue/CDate may take, and building values from calendar parts.
#pragma once

#include <optional>
#include <string_view>

#include "targets/value.h"

namespace qm::jet {

// Reads "yyyy/m/d", "yyyy-m-d" or (literals only, where Access writes US order) "m/d/yyyy",
// each with an optional "h:nn[:ss] [AM|PM]", or a time alone. Two-digit years, month names
// and impossible dates give nullopt: their reading depends on Windows' regional settings.
std::optional<TDateTime> ParseExpressionDate(std::u16string_view text, bool literal);

// Days since 1899-12-30 for a date and a time of day, in Access's encoding: before the base
// date the whole days count back while the time still counts forward (-1.25 is 1899-12-29
// 06:00).
double CombineDateAndTime(double wholeDays, double timeOfDay);
// The parts of a value: the whole days (rounded towards the base date) and the time of day.
void SplitDateAndTime(double value, double& wholeDays, double& timeOfDay);

}  // namespace qm::jet
