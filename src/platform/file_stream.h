#pragma once

#include <string>

#include "platform/stream.h"

namespace qm {

// A file opened read-only. Opening a missing file, a folder or a file without read permission
// throws Error with a Japanese message that names the file and the reason.
class TFileStream : public TStream {
  public:
    explicit TFileStream(const std::u16string& path);
    ~TFileStream() override;

    std::int64_t GetSize() override;
    std::int64_t GetPosition() override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::size_t Read(void* buffer, std::size_t count) override;

  private:
    [[noreturn]] void Fail(const char16_t* what, int error) const;

    std::u16string path_;
    int fd_ = -1;
    std::int64_t position_ = 0;
};

}  // namespace qm
