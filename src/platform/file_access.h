// Reading a user's file: the one way every engine, the CSV loader and the INI reader open the
// files the user names.
//
// Opening never blocks: the file is opened non-blocking and checked with fstat before anything
// is read, so a FIFO, a device, a socket or a folder named like a workbook is refused at once
// with a message that names the file and says what it is. A symbolic link is followed (the
// file it points at is what gets read, and what a commit replaces).
//
// Every read goes through TReadFile, whose reads are counted by TFileSystemFaults
// (file_system.h) so that tests can make the N-th one fail as a broken disk would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct stat;

namespace qm {

// What identifies one version of a file on disk. A replaced file (a new inode) or one written
// in place (size, modification time) compares different.
struct TFileIdentity {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::uint64_t Size = 0;
    std::int64_t ModifiedNanoseconds = 0;

    friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

TFileIdentity IdentityOf(const struct stat& st);

// A whole file mapped read-only; unmapped when the object goes.
class TFileMapping {
  public:
    TFileMapping() = default;
    TFileMapping(const void* data, std::size_t size) : data_(data), size_(size) {}
    ~TFileMapping();
    TFileMapping(TFileMapping&& other) noexcept;
    TFileMapping& operator=(TFileMapping&& other) noexcept;

    const void* Data() const noexcept { return data_; }
    std::size_t Size() const noexcept { return size_; }
    // Hands the mapping over to the caller, who unmaps it with munmap(data, Size()).
    const void* Release() noexcept;

  private:
    const void* data_ = nullptr;
    std::size_t size_ = 0;
};

// A regular file opened read-only. The descriptor stays open while the object lives, so the
// content read is that of the file as it was opened even when it is replaced meanwhile.
class TReadFile {
  public:
    // Throws Error naming the file: "ファイルが見つかりません。" for a missing file, a
    // permission message, or "通常のファイルではありません（…）。" with the kind of thing found.
    explicit TReadFile(const std::u16string& path);
    ~TReadFile();
    TReadFile(const TReadFile&) = delete;
    TReadFile& operator=(const TReadFile&) = delete;

    const std::u16string& Path() const noexcept { return path_; }
    // The file as it was opened.
    const TFileIdentity& Identity() const noexcept { return identity_; }
    std::uint64_t Size() const noexcept { return identity_.Size; }
    int Descriptor() const noexcept { return fd_; }

    // Reads up to 'size' bytes at 'offset'; fewer only at the end of the file. Throws Error
    // when the disk fails.
    std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t size) const;
    // The whole file mapped into memory (empty for an empty file). Throws Error.
    TFileMapping Map() const;

  private:
    [[noreturn]] void Fail(const char16_t* what, int error) const;

    std::u16string path_;
    int fd_ = -1;
    TFileIdentity identity_;
};

// True when something (a file, a folder, a FIFO...) is at the path; a symbolic link counts as
// what it leads to.
bool PathExists(const std::u16string& path);

// Throws the Error TReadFile would for a path that is missing or not a regular file; does
// nothing for a regular file. Never blocks.
void RefuseIfNotRegularFile(const std::u16string& path);

// The identity of the file at 'path' now (a symbolic link followed); false when it is gone or
// not a regular file.
bool CurrentIdentity(const std::string& nativePath, TFileIdentity& identity);

}  // namespace qm
