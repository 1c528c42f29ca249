#pragma once

#include <memory>
#include <string>

#include "platform/stream.h"

namespace qm {

class TReadFile;

// A file opened read-only through the file seam (file_access.h): opening a missing file, a
// folder, a FIFO, a device or a file without read permission throws Error with a Japanese
// message that names the file and the reason, and never blocks.
class TFileStream : public TStream {
  public:
    explicit TFileStream(const std::u16string& path);
    ~TFileStream() override;

    std::int64_t GetSize() override;
    std::int64_t GetPosition() override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::size_t Read(void* buffer, std::size_t count) override;

  private:
    std::unique_ptr<TReadFile> file_;
    std::int64_t position_ = 0;
};

}  // namespace qm
