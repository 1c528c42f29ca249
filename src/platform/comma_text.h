// The comma text of string lists (the platform's TStrings::CommaText convention), used by the
// relation's text form and by the recent-files list of the settings.
//
// Writing: items separated by "," with nothing around it. An item holding a character with code
// 0 to 32, a double quote or a comma is enclosed in double quotes with inner quotes doubled. A
// list of one empty item is written as two double quotes.
//
// Reading: blanks (codes 0 to 32) around items are skipped. A quoted item runs to its closing
// quote ("" inside stands for one quote; without a closing quote it runs to the end); any other
// item runs up to the next blank or comma, so an unquoted blank splits it. Two commas in a row
// give an empty item between them, and a comma at the very end adds one empty last item.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The item as it appears in comma text: quoted when it needs to be.
std::u16string CommaTextItem(std::u16string_view item);
std::u16string ToCommaText(const std::vector<std::u16string>& items);
std::vector<std::u16string> FromCommaText(std::u16string_view text);

}  // namespace qm
