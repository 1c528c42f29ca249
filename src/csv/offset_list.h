// A growable list of 32-bit offsets kept in fixed-size blocks.
//
// The CSV table keeps one offset per cell. A plain std::vector would, while doubling, hold the
// old and the new array at once (three times the final size for a moment); blocks never move,
// so the peak stays at the list's own size for files of millions of cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qm {

class TOffsetList {
  public:
    using value_type = std::uint32_t;

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    void push_back(value_type value) {
        if ((size_ & kBlockMask) == 0 && (size_ >> kBlockBits) == blocks_.size())
            blocks_.push_back(std::make_unique_for_overwrite<value_type[]>(kBlockSize));
        blocks_[size_ >> kBlockBits][size_ & kBlockMask] = value;
        ++size_;
    }

    value_type operator[](std::size_t index) const noexcept {
        return blocks_[index >> kBlockBits][index & kBlockMask];
    }

    value_type back() const noexcept { return (*this)[size_ - 1]; }

    void clear() noexcept {
        blocks_.clear();
        blocks_.shrink_to_fit();
        size_ = 0;
    }

  private:
    static constexpr unsigned kBlockBits = 14;
    static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockBits;
    static constexpr std::size_t kBlockMask = kBlockSize - 1;

    std::vector<std::unique_ptr<value_type[]>> blocks_;
    std::size_t size_ = 0;
};

}  // namespace qm
