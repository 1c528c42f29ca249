// Random-access reading of a file or of a block of memory, with every range checked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_access.h"

namespace qm::xlsx {

class TByteSource {
  public:
    virtual ~TByteSource() = default;
    TByteSource() = default;
    TByteSource(const TByteSource&) = delete;
    TByteSource& operator=(const TByteSource&) = delete;

    virtual std::uint64_t Size() const = 0;
    // Reads exactly 'size' bytes at 'offset'. Throws Error when the range lies outside the
    // source or the read fails.
    virtual void ReadAt(std::uint64_t offset, void* data, std::size_t size) const = 0;
    // The file's name for messages.
    virtual const std::u16string& Name() const = 0;

    std::string ReadString(std::uint64_t offset, std::size_t size) const {
        std::string bytes(size, '\0');
        ReadAt(offset, bytes.data(), size);
        return bytes;
    }
};

// A regular file opened read-only through the file seam; the descriptor stays open as long as
// the object lives.
class TFileByteSource : public TByteSource {
  public:
    explicit TFileByteSource(const std::u16string& path) : file_(path) {}
    std::uint64_t Size() const override { return file_.Size(); }
    void ReadAt(std::uint64_t offset, void* data, std::size_t size) const override;
    const std::u16string& Name() const override { return file_.Path(); }
    int Descriptor() const noexcept { return file_.Descriptor(); }
    // Identity of the file as it was opened: a commit checks that nobody replaced it since.
    const TFileIdentity& Identity() const noexcept { return file_.Identity(); }

  private:
    TReadFile file_;
};

// Bytes held elsewhere (tests, fuzzing); the memory must outlive the source.
class TMemoryByteSource : public TByteSource {
  public:
    explicit TMemoryByteSource(std::string_view bytes, std::u16string name = u"(memory)")
        : bytes_(bytes), name_(std::move(name)) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    void ReadAt(std::uint64_t offset, void* data, std::size_t size) const override;
    const std::u16string& Name() const override { return name_; }

  private:
    std::string_view bytes_;
    std::u16string name_;
};

// The message every engine part gives for damaged content: the reason, then the file.
[[noreturn]] void FailCorrupt(const std::u16string& file, std::u16string_view reason);

}  // namespace qm::xlsx
