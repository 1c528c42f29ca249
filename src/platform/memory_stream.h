#pragma once

#include <string>

#include "platform/stream.h"

namespace qm {

// A stream over a byte string that it owns.
class TMemoryStream : public TStream {
  public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

    std::int64_t GetSize() override { return static_cast<std::int64_t>(bytes_.size()); }
    std::int64_t GetPosition() override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::size_t Read(void* buffer, std::size_t count) override;

    const std::string& Bytes() const noexcept { return bytes_; }

  private:
    std::string bytes_;
    std::int64_t position_ = 0;
};

}  // namespace qm
