// Allocation of the large strings that hold a whole file's bytes or text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

#include "platform/yield.h"

namespace qm {

// Reading and decoding a big file give the user interface a turn (ProcessMessages) after
// about this many bytes, so that a window stays served through a load of several seconds.
inline constexpr std::size_t kTurnBytes = std::size_t{4} << 20;

// A string of n default characters. The kernel clears every fresh page as it is first touched,
// which for a text of a few hundred megabytes takes a noticeable time: the string is therefore
// grown to its size in steps, with a turn for the user interface between them. No huge pages
// are asked for (see text/page_buffer.h: on virtual machines they made the cost vary threefold).
template <class String>
String MakeLargeString(std::size_t n) {
    String text;
    constexpr std::size_t kWorthIt = std::size_t{32} << 20;
    const std::size_t bytes = n * sizeof(typename String::value_type);
    if (bytes >= kWorthIt) {
        text.reserve(n);
        for (std::size_t size = 0; size < n;) {
            size = std::min(n, size + kTurnBytes / sizeof(typename String::value_type));
            text.resize(size);
            ProcessMessages();
        }
    }
    text.resize(n);
    return text;
}

}  // namespace qm
