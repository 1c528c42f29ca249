#include "platform/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace qm {

void TMemoryStream::SetPosition(std::int64_t position) {
    position_ = std::clamp<std::int64_t>(position, 0, GetSize());
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    auto available = static_cast<std::size_t>(GetSize() - position_);
    std::size_t n = std::min(count, available);
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += static_cast<std::int64_t>(n);
    return n;
}

}  // namespace qm
