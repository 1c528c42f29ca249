#include "platform/file_stream.h"

#include <algorithm>

#include "platform/file_access.h"

namespace qm {

TFileStream::TFileStream(const std::u16string& path) : file_(std::make_unique<TReadFile>(path)) {}

TFileStream::~TFileStream() = default;

std::int64_t TFileStream::GetSize() {
    return static_cast<std::int64_t>(file_->Size());
}

void TFileStream::SetPosition(std::int64_t position) {
    position_ = std::max<std::int64_t>(0, position);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    // Positioned reads keep the stream's position our own.
    const std::size_t done = file_->ReadAt(static_cast<std::uint64_t>(position_), buffer, count);
    position_ += static_cast<std::int64_t>(done);
    return done;
}

}  // namespace qm
