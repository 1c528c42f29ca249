// Replacing a file atomically, and the seam through which tests make the disk fail.
//
// TAtomicFile writes a new version of a file beside it (same folder, temporary name), flushes
// it to disk, gives it the old file's permission bits (a new file those the umask allows) and
// renames it over the old file, then flushes the folder. Until Commit returns, the old file is
// untouched; after it, the new file is complete. A crash in between leaves the old file or the
// new one, never a mix. Workbooks, project files, settings and scripts are all written so.
//
// Every write, flush and rename goes through the functions of TFileSystemFaults's counters, so
// that a test can make the N-th one fail as a full or broken disk would, and check that the
// target is then byte-identical to what it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// Fault injection for tests: the N-th operation of a kind (counted from 1 since the last
// Reset) fails with ENOSPC (writes) or EIO (flushes, renames). 0 disables a kind.
struct TFileSystemFaults {
    static void Reset(int failWriteAt = 0, int failFlushAt = 0, int failRenameAt = 0);
    // How many operations of each kind ran since the last Reset.
    static int Writes();
    static int Flushes();
    static int Renames();
};

class TAtomicFile {
  public:
    // Creates the temporary file beside 'target' (a symbolic link is followed, so the link
    // stays a link); the target need not exist yet. With 'executable', whoever may read the
    // file may also run it. Throws Error naming the file when the folder is not writable, the
    // target is read-only or a folder.
    explicit TAtomicFile(const std::u16string& target, bool executable = false);
    // Removes the temporary file unless Commit succeeded.
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    // Buffered; throws Error (naming the file and the reason, such as a full disk).
    void Write(const void* data, std::size_t size);
    void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
    // Bytes written so far.
    std::uint64_t Size() const noexcept { return size_; }

    // Flushes, syncs, copies the target's permission bits, renames over the target and syncs
    // the folder. Throws Error and leaves the target as it was when any step before the
    // rename fails.
    void Commit();

  private:
    void FlushBuffer();
    [[noreturn]] void Fail(const char16_t* what, int error) const;

    std::u16string target_;
    std::string nativeTarget_;
    std::string nativeTemp_;
    int fd_ = -1;
    std::string buffer_;
    std::uint64_t size_ = 0;
    unsigned mode_ = 0;
    bool committed_ = false;
};

// A whole file written through TAtomicFile.
void WriteWholeFile(const std::u16string& path, std::string_view bytes, bool executable = false);

// Throws Error when another program has the file open for writing, as shown by the lock
// files that Excel ("~$name"), LibreOffice (".~lock.name#") and Access ("name.ldb",
// "name.laccdb" beside "name.mdb"/"name.accdb") keep beside it.
void RefuseIfLockedByOtherProgram(const std::u16string& path);

// Throws Error when the file cannot be replaced: it is read-only, or its folder is.
void RefuseIfNotWritable(const std::u16string& path);

}  // namespace qm
