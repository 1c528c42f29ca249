// Allocation of the large strings that hold a whole file's bytes or text.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/yield.h"

namespace qm {

// Reading and decoding a big file give the user interface a turn (ProcessMessages) after
// about this many bytes, so that a window stays served through a load of several seconds.
inline constexpr std::size_t kTurnBytes = std::size_t{4} << 20;

// A string of n default characters whose storage the kernel may back with huge pages. A file
// of 100 MB takes 25,000 page faults in 4 KiB pages, which costs as much as decoding it; asking
// for transparent huge pages before the memory is first touched removes most of them. A mere
// hint: without huge pages the string is the same. Only strings above glibc's largest mmap
// threshold (32 MiB) are hinted, so the hint always falls on a mapping of their own and never on
// the shared heap. The kernel clears every fresh page as it is first touched, which for a text
// of a few hundred megabytes takes a noticeable time: the string is therefore grown to its size
// in steps, with a turn for the user interface between them.
template <class String>
String MakeLargeString(std::size_t n) {
    String text;
    constexpr std::size_t kWorthIt = std::size_t{32} << 20;
    const std::size_t bytes = n * sizeof(typename String::value_type);
    if (bytes >= kWorthIt) {
        text.reserve(n);
        constexpr std::uintptr_t kPage = 4096;
        auto begin = reinterpret_cast<std::uintptr_t>(text.data());
        std::uintptr_t first = (begin + kPage - 1) & ~(kPage - 1);
        std::uintptr_t last = (begin + bytes) & ~(kPage - 1);
#if defined(MADV_HUGEPAGE)
        if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
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
