// A large block of memory straight from the kernel, for a whole file's text.
//
// Unlike a std::u16string, its pages are not cleared by the program before use (the kernel
// hands out cleared pages anyway), each page is filled in by whichever thread first writes it,
// and the part left unused at the end can be given back. No huge pages are asked for: on
// virtual machines that hand large free blocks back to their host, huge pages come from those
// blocks and cost a fault in the host each, which made loads of the same file vary threefold.
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

    // Gives back every whole page after the first keep bytes; the buffer's size becomes keep.
    void Shrink(std::size_t keep) noexcept;
    void Release() noexcept;

  private:
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace qm
