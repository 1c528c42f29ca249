// The CSV parser over arbitrary UTF-16 text, checked against a direct, cell-by-cell model of
// the same state machine: counts, every cell (padding included) and the number of turns given
// to the user interface must agree, with and without a yield hook installed.
//
// Input: the first byte picks how the rest becomes UTF-16. Bit 0 set: little-endian unit
// pairs, so any unit can appear. Bit 0 clear: one unit per byte, bytes below 0x10 standing for
// the characters the parser treats specially, so short inputs reach deep states.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "csv/csv.h"
#include "platform/yield.h"

namespace {

std::u16string DecodeInput(const std::uint8_t* data, std::size_t size, bool pairs) {
    static const char16_t kSpecial[16] = {u'"',   u',',   u'\n',  u'\r',  u'\v',  u'a',
                                          u'\t',  0x0080, 0x0081, 0xD800, 0xDC00, 0xFEFF,
                                          0x0000, 0x007F, 0x000C, u' '};
    std::u16string text;
    if (pairs) {
        for (std::size_t i = 0; i + 1 < size; i += 2)
            text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    } else {
        for (std::size_t i = 0; i < size; ++i)
            text.push_back(data[i] < 16 ? kSpecial[data[i]] : static_cast<char16_t>(data[i]));
    }
    return text;
}

struct TModel {
    std::vector<std::vector<std::u16string>> rows;
    std::size_t fields = 0;
    long yields = 0;
};

// The parser written the slow, obvious way: one string per cell, one step per unit.
TModel ParseModel(const std::u16string& text) {
    TModel m;
    std::size_t row = 0, field = 0;
    bool fieldStart = true, plain = false, inQuotes = false;
    auto append = [&](char16_t c) {
        while (m.rows.size() <= row)
            m.rows.emplace_back();
        while (m.rows[row].size() <= field)
            m.rows[row].emplace_back();
        m.rows[row][field].push_back(c);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        // CR LF is one line end, and so is a lone CR.
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
        if (c == u'\r' || c == u'\v') c = u'\n';
        if (c <= 0x80 && !(c == u'\t' || c == u'\n' || (c >= 0x20 && c <= 0x7E))) continue;
        if (fieldStart) {
            plain = c != u'"';
            inQuotes = false;
        }
        if (plain) {
            if (c == u'\n') {
                ++row, field = 0, fieldStart = true;
            } else if (c == u',') {
                ++field, fieldStart = true;
            } else {
                append(c);
                fieldStart = false;
            }
            continue;
        }
        if (c == u'"') inQuotes = !inQuotes;
        if (inQuotes) {
            if (!(c == u'"' && fieldStart)) append(c);
            fieldStart = false;
        } else if (c == u',') {
            ++field, fieldStart = true;
        } else if (c == u'\n') {
            ++row, field = 0, fieldStart = true;
        } else if (c != u'"') {
            append(c);
            fieldStart = false;
        }
        ++m.yields;
    }
    for (const auto& r : m.rows)
        m.fields = std::max(m.fields, r.size());
    return m;
}

long gYields = 0;
void CountYield() {
    ++gYields;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool pairs = data[0] & 1;
    const bool hook = data[0] & 2;
    std::u16string text = DecodeInput(data + 1, size - 1, pairs);
    TModel model = ParseModel(text);

    gYields = 0;
    qm::TYieldHook previous = qm::SetYieldHook(hook ? &CountYield : nullptr);
    qm::TCsv csv;
    Check(csv.Parse(text));
    qm::SetYieldHook(previous);

    Check(csv.GetRowCount() == model.rows.size());
    Check(csv.GetFieldCount() == model.fields);
    Check(csv.IsEmpty() == model.rows.empty());
    Check((csv.GetRowCount() == 0) == (csv.GetFieldCount() == 0));
    if (hook) Check(gYields == model.yields);
    for (std::uint32_t r = 0; r < csv.GetRowCount(); ++r) {
        for (std::uint32_t f = 0; f < csv.GetFieldCount(); ++f) {
            const auto& modelRow = model.rows[r];
            std::u16string expected = f < modelRow.size() ? modelRow[f] : std::u16string();
            Check(csv.GetCellView(r, f) == expected);
        }
        Check(csv.GetCell(r, csv.GetFieldCount()).empty());
    }
    Check(csv.GetCell(csv.GetRowCount(), 0).empty());
    // A loaded table refuses a second parse and keeps its contents.
    if (!csv.IsEmpty()) {
        Check(!csv.Parse(u"x"));
        Check(csv.GetRowCount() == model.rows.size());
    }
    return 0;
}
