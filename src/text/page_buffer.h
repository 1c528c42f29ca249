// A large block of memory straight from the kernel, for a whole file's text.
//
// Unlike a std::u16string, its pages are not cleared by the program before use (the kernel
// hands out cleared pages anyway), the part left unused at the end can be given back, and
// filling in its pages can be asked for ahead of time from any thread, so that the cost of
// first touching fresh memory is paid where it does not hold up the work.
#pragma once

#include <cstddef>
#include <utility>

namespace qm {

class TPageBuffer {
  public:
    TPageBuffer() = default;
    // Throws std::bad_alloc when the memory cannot be had.
    explicit TPageBuffer(std::size_t bytes);
    ~TPageBuffer();
    TPageBuffer(TPageBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    TPageBuffer& operator=(TPageBuffer&& other) noexcept;

    unsigned char* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

    // Has the kernel back bytes [offset, offset + length) with memory now (a hint: touching
    // the memory later does the same).
    void Populate(std::size_t offset, std::size_t length) noexcept;
    // Gives back every whole page after the first keep bytes; the buffer's size becomes keep.
    void Shrink(std::size_t keep) noexcept;
    void Release() noexcept;

  private:
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace qm
