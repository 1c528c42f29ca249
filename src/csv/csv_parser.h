// The CSV state machine, kept apart from the table so that the loader can feed it text as
// the text is decoded.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "csv/offset_list.h"
#include "platform/yield.h"

namespace qm::csv_detail {

// What the parser does with a code unit below U+0100; every unit above is ordinary text.
enum TUnitClass : std::uint8_t {
    kOrdinary,     // text in any field
    kQuote,        // U+0022
    kComma,        // U+002C
    kLineFeed,     // U+000A
    kVerticalTab,  // U+000B, read as a line feed
    kReturn,       // U+000D: a line end, or nothing when a line feed follows it
    kDropped,      // other controls, U+007F and U+0080: removed before parsing
};

constexpr std::array<TUnitClass, 256> MakeClassTable() {
    std::array<TUnitClass, 256> table{};
    for (unsigned c = 0; c < 256; ++c) {
        TUnitClass cls = kOrdinary;
        if (c == 0x0D)
            cls = kReturn;
        else if (c <= 0x80 && c != 0x09 && c != 0x0A && c != 0x0B && (c < 0x20 || c > 0x7E))
            cls = kDropped;
        else if (c == 0x0A)
            cls = kLineFeed;
        else if (c == 0x0B)
            cls = kVerticalTab;
        else if (c == 0x22)
            cls = kQuote;
        else if (c == 0x2C)
            cls = kComma;
        table[c] = cls;
    }
    return table;
}

inline constexpr std::array<TUnitClass, 256> kClass = MakeClassTable();

// Units that a plain field copies unchanged in bulk (quotes are text there). Controls are
// left to the state machine: the few that a run keeps (tab) are rare.
constexpr std::array<bool, 256> MakePlainRunTable() {
    std::array<bool, 256> table{};
    for (unsigned c = 0x20; c < 256; ++c)
        table[c] = kClass[c] == kOrdinary || kClass[c] == kQuote;
    return table;
}

// Units that the inside of quotes copies unchanged in bulk (commas are text there; line
// feeds too, but they go through the state machine with the other controls).
constexpr std::array<bool, 256> MakeQuotedRunTable() {
    std::array<bool, 256> table{};
    for (unsigned c = 0x20; c < 256; ++c)
        table[c] = kClass[c] == kOrdinary || kClass[c] == kComma;
    return table;
}

inline constexpr std::array<bool, 256> kPlainRun = MakePlainRunTable();

// Units that begin a plain field and are appended as they are.
constexpr std::array<bool, 256> MakePlainStartTable() {
    std::array<bool, 256> table{};
    for (unsigned c = 0x20; c < 256; ++c)
        table[c] = kClass[c] == kOrdinary;
    return table;
}

inline constexpr std::array<bool, 256> kPlainStart = MakePlainStartTable();
inline constexpr std::array<bool, 256> kQuotedRun = MakeQuotedRunTable();

inline TUnitClass ClassOf(char16_t c) {
    return c < 0x100 ? kClass[c] : kOrdinary;
}

// Moves the run of units at text[read..] that the run table admits to text[write..]
// (write <= read; nothing moves while they are equal) and advances both past it. The
// table admits every unit from U+0020 up except the separator (a comma in plain fields, a
// double quote inside quotes), U+007F and U+0080; eight units are tested at a time.
template <bool kQuoted>
[[gnu::always_inline]] inline void MoveRun(char16_t* text, std::size_t size, std::size_t& read,
                                           std::size_t& write) {
    constexpr const std::array<bool, 256>& table = kQuoted ? kQuotedRun : kPlainRun;
    std::size_t r = read;
    std::size_t w = write;
#if defined(__SSE2__)
    const __m128i belowSpace = _mm_set1_epi16(0x1F);
    const __m128i separator = _mm_set1_epi16(kQuoted ? 0x22 : 0x2C);
    const __m128i del = _mm_set1_epi16(0x7F);
    const __m128i pad = _mm_set1_epi16(0x80);
    const __m128i zero = _mm_setzero_si128();
    while (r + 8 <= size) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + r));
        const __m128i control = _mm_cmpeq_epi16(_mm_subs_epu16(units, belowSpace), zero);
        const __m128i stop =
            _mm_or_si128(_mm_or_si128(control, _mm_cmpeq_epi16(units, separator)),
                         _mm_or_si128(_mm_cmpeq_epi16(units, del), _mm_cmpeq_epi16(units, pad)));
        if (const int mask = _mm_movemask_epi8(stop); mask != 0) {
            // The run ends inside this block, before unit k.
            const std::size_t k = static_cast<std::size_t>(__builtin_ctz(mask)) >> 1;
            if (r - w >= 8) {
                // Far enough behind: the whole block fits below r and clobbers nothing unread.
                _mm_storeu_si128(reinterpret_cast<__m128i*>(text + w), units);
            } else if (w != r) {
                for (std::size_t i = 0; i < k; ++i)
                    text[w + i] = text[r + i];
            }
            read = r + k;
            write = w + k;
            return;
        }
        // The store ends at or before r + 8: it covers only units already loaded.
        if (w != r) _mm_storeu_si128(reinterpret_cast<__m128i*>(text + w), units);
        r += 8;
        w += 8;
    }
#endif
    if (w == r) {
        while (r < size && (text[r] >= 0x100 || table[text[r]]))
            ++r;
        w = r;
    } else {
        while (r < size) {
            const char16_t c = text[r];
            if (c < 0x100 && !table[c]) break;
            text[w++] = c;
            ++r;
        }
    }
    read = r;
    write = w;
}

// The state machine over one buffer. Output is written into the same buffer behind the read
// position: every unit read yields at most one unit written, so writing never overtakes
// reading.
//
// The text may arrive in pieces: each Feed says how much of the buffer holds text so far, and
// the parser stops a few units short of it, where every look ahead (a line feed after a
// carriage return, a second quote, the separator after a closing quote) still sees real text,
// and carries on from there at the next Feed. The last Feed parses to the end.
class TInPlaceParser {
  public:
    TInPlaceParser(char16_t* text, TOffsetList& cellStarts, TOffsetList& rowFirstCell)
        : text_(text), cellStarts_(cellStarts), rowFirstCell_(rowFirstCell) {}

    // The furthest any step looks past the unit it starts at.
    static constexpr std::size_t kLookAhead = 4;

    // text[0 .. available) holds text; last says that no more follows.
    void Feed(std::size_t available, bool last) {
        size_ = available;
        limit_ = last ? available : (available > kLookAhead ? available - kLookAhead : 0);
        Run();
    }

    // After the last Feed: the length of the cells' text and the widest row's field count.
    std::pair<std::size_t, std::uint32_t> Result() const noexcept { return {write_, fieldCount_}; }

  private:
    void Run() {
        while (read_ < limit_) {
            if (fieldStart_) {
                // Plain fields and empty fields, by far the most common, without the general
                // step: the same transitions, fewer branches per cell.
                const char16_t c = text_[read_];
                if (c >= 0x100 || kPlainStart[c]) {
                    plain_ = true;
                    inQuotes_ = false;
                    OpenCell();
                    fieldStart_ = false;
                    MovePlainField();
                    continue;
                }
                if (c == u'"') {
                    ++read_;
                    plain_ = false;
                    inQuotes_ = true;
                    fieldStart_ = false;
                    ProcessMessages();
                    MoveQuotedField();
                    continue;
                }
                if (c == u',' || c == u'\n') {
                    ++read_;
                    plain_ = true;
                    inQuotes_ = false;
                    if (c == u',')
                        NextField();
                    else
                        NextRow();
                    continue;
                }
            } else if (cellOpen_) {
                CopyRun();
                if (read_ >= limit_) break;
            }
            Step(text_[read_++]);
        }
    }
    // The rest of a plain field whose first unit is at the read position: its runs and the
    // separator that ends it (a comma, or a line end: LF, CR LF or a lone CR). Anything else
    // goes to the general step.
    void MovePlainField() {
        MoveRun<false>(text_, limit_, read_, write_);
        if (read_ >= limit_) return;
        const char16_t c = text_[read_];
        if (c == u',') {
            ++read_;
            NextField();
        } else if (c == u'\n') {
            ++read_;
            NextRow();
        } else if (c == u'\r') {
            SkipLineEnd();
            NextRow();
        }
    }

    // Steps past a line end that begins with a CR at the read position: CR LF or a lone CR.
    void SkipLineEnd() {
        ++read_;
        if (read_ < size_ && text_[read_] == u'\n') ++read_;
    }

    // The inside of a quoted field after its opening quote: runs, line feeds and carriage
    // returns inside the quotes, doubled quotes, and the closing quote with the separator
    // after it. Anything else goes to the general step. Every character handled here gives
    // the user interface its turn, as the general step does, counted rather than taken one by
    // one.
    void MoveQuotedField() {
        for (;;) {
            if (read_ >= limit_) return;
            char16_t c = text_[read_];
            if (c >= 0x100 || kQuotedRun[c]) {
                if (!cellOpen_) OpenCell();
                MoveQuotedRun();
                continue;
            }
            if (c == u'\n' || c == u'\r') {
                // CR LF, LF and a lone CR are all one line break of the cell, kept as LF; the
                // CR of a pair is dropped and takes no turn.
                Append(u'\n');
                if (c == u'\r')
                    SkipLineEnd();
                else
                    ++read_;
                ProcessMessages();
            } else if (c == u'"' && read_ + 1 < size_ && text_[read_ + 1] == u'"') {
                // A doubled quote: the first closes, the second reopens and is text.
                Append(c);
                read_ += 2;
                ProcessMessages(2);
            } else if (c == u'"') {
                ++read_;
                inQuotes_ = false;
                std::size_t turns = 1;
                if (read_ < size_ && text_[read_] == u',') {
                    ++read_;
                    NextField();
                    ++turns;
                } else if (read_ < size_ && text_[read_] == u'\r') {
                    SkipLineEnd();
                    NextRow();
                    ++turns;
                } else if (read_ < size_ && text_[read_] == u'\n') {
                    ++read_;
                    NextRow();
                    ++turns;
                }
                ProcessMessages(turns);
                return;
            } else {
                return;
            }
        }
    }

    // Moves a run of text inside quotes. While somebody waits for turns, the run goes in
    // slices, so that a long quoted field still gives a turn every few thousand characters.
    void MoveQuotedRun() {
        constexpr std::size_t kUnitsPerTurn = 4096;
        const std::size_t start = read_;
        const std::size_t end = HasYieldHook() ? std::min(limit_, read_ + kUnitsPerTurn) : limit_;
        MoveRun<true>(text_, end, read_, write_);
        ProcessMessages(read_ - start);
    }

    // Appends a run of units that the current state appends unchanged.
    void CopyRun() {
        if (plain_)
            MoveRun<false>(text_, limit_, read_, write_);
        else if (inQuotes_)
            MoveQuotedRun();
    }

    // Handles the unit c just read (the read position is past it).
    void Step(char16_t c) {
        TUnitClass cls = ClassOf(c);
        if (cls == kDropped) return;
        if (cls == kReturn) {
            // CR LF is one line end: the CR is dropped and the LF that follows handled. A
            // lone CR, as old Macintosh programs end lines, is a line end itself.
            if (read_ < size_ && text_[read_] == u'\n') return;
            cls = kVerticalTab;
        }
        if (cls == kVerticalTab) {
            c = u'\n';
            cls = kLineFeed;
        }
        if (fieldStart_) {
            plain_ = cls != kQuote;
            inQuotes_ = false;
        }
        if (plain_) {
            if (cls == kLineFeed)
                NextRow();
            else if (cls == kComma)
                NextField();
            else
                Append(c);
            return;
        }
        if (cls == kQuote) inQuotes_ = !inQuotes_;
        if (inQuotes_) {
            if (!(cls == kQuote && fieldStart_)) Append(c);
            fieldStart_ = false;
        } else if (cls == kComma) {
            NextField();
        } else if (cls == kLineFeed) {
            NextRow();
        } else if (cls != kQuote) {
            Append(c);
        }
        ProcessMessages();
    }

    void NextRow() {
        ++row_;
        field_ = 0;
        fieldStart_ = true;
        cellOpen_ = false;
    }

    void NextField() {
        ++field_;
        fieldStart_ = true;
        cellOpen_ = false;
    }

    void Append(char16_t c) {
        if (!cellOpen_) OpenCell();
        text_[write_++] = c;
        fieldStart_ = false;
    }

    // Creates the missing rows up to the current one and the missing cells of the current row
    // up to the current field, all empty and starting at the write position.
    void OpenCell() {
        while (rowFirstCell_.size() <= row_)
            rowFirstCell_.push_back(static_cast<std::uint32_t>(cellStarts_.size()));
        std::size_t cellsInRow = cellStarts_.size() - rowFirstCell_.back();
        for (; cellsInRow <= field_; ++cellsInRow)
            cellStarts_.push_back(static_cast<std::uint32_t>(write_));
        fieldCount_ = std::max(fieldCount_, static_cast<std::uint32_t>(field_ + 1));
        cellOpen_ = true;
    }

    char16_t* text_;
    // Units of text so far, for looking ahead; steps start only before limit_.
    std::size_t size_ = 0;
    std::size_t limit_ = 0;
    TOffsetList& cellStarts_;
    TOffsetList& rowFirstCell_;

    std::size_t read_ = 0;
    std::size_t write_ = 0;
    std::size_t row_ = 0;
    std::size_t field_ = 0;
    bool fieldStart_ = true;
    bool plain_ = false;
    bool inQuotes_ = false;
    // The cell (row_, field_) exists, so appending needs no bookkeeping.
    bool cellOpen_ = false;
    std::uint32_t fieldCount_ = 0;
};

}  // namespace qm::csv_detail
