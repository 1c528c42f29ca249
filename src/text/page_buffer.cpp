#include "text/page_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <new>

namespace qm {

namespace {

std::size_t PageSize() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t RoundUpToPage(std::size_t bytes) {
    const std::size_t page = PageSize();
    return (bytes + page - 1) / page * page;
}

}  // namespace

TPageBuffer::TPageBuffer(std::size_t bytes) {
    if (bytes == 0) return;
    void* block = mmap(nullptr, RoundUpToPage(bytes), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<unsigned char*>(block);
    size_ = bytes;
}

TPageBuffer::~TPageBuffer() {
    Release();
}

TPageBuffer& TPageBuffer::operator=(TPageBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void TPageBuffer::Shrink(std::size_t keep) noexcept {
    if (keep >= size_) return;
    const std::size_t kept = RoundUpToPage(keep);
    const std::size_t mapped = RoundUpToPage(size_);
    if (kept == 0) {
        Release();
        return;
    }
    if (mapped > kept) munmap(data_ + kept, mapped - kept);
    size_ = keep;
}

void TPageBuffer::Release() noexcept {
    if (data_) munmap(data_, RoundUpToPage(size_));
    data_ = nullptr;
    size_ = 0;
}

}  // namespace qm
