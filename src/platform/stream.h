// Readable, seekable byte streams: the little that the text reader needs of a file or of a
// block of memory (its size, a position, reading).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

class TStream {
  public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Size in bytes. Throws Error when it cannot be learned.
    virtual std::int64_t GetSize() = 0;
    virtual std::int64_t GetPosition() = 0;
    // Positions outside 0..size are clamped.
    virtual void SetPosition(std::int64_t position) = 0;
    // Reads up to count bytes at the position and advances it; returns the number read,
    // fewer than count only at the end. Throws Error on a read failure.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;

    // Reads exactly count bytes; throws Error when the stream ends first (for example a file
    // that shrank while it was read).
    void ReadBuffer(void* buffer, std::size_t count);
};

}  // namespace qm
