// Replacing a file atomically, and the seam through which tests make the disk fail.
//
// TAtomicFile carries out the commit protocol of commit_protocol.h from state 2 on: it writes
// the new version of a file beside it under a temporary name that says whose it is, flushes it
// to disk, gives it the old file's owner, group, mode, ACLs and extended attributes, checks
// (under the writers' lock, see target_lock.h) that the old file is still the one the caller
// read, renames it over the old file and flushes the folder. Until Commit returns, the old file
// is untouched; after it, the new file is complete. Workbooks, databases, project files,
// settings and scripts are all written so.
//
// Every read, write, flush and rename goes through TFileSystemFaults's counters, so that a test
// can make the N-th one fail, tear, or "crash" the process there, and check what is on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_access.h"

namespace qm {

// Thrown by a planned crash. It is no std::exception and no Error, so that no handler of the
// program takes it for an ordinary failure; while it unwinds, the file seam skips every
// clean-up a killed process would not have made (removing temporary and lock files).
struct TSimulatedCrash {};

// Fault injection for tests. Operations are counted from 1 since the last Reset or Plan.
struct TFileSystemFaults {
    enum class TPoint { Write, Flush, Rename, Read };
    enum class TEffect {
        Fail,       // fails (ENOSPC for writes, EIO otherwise) without touching the disk
        Torn,       // writes only: the first half reaches the disk, then ENOSPC
        Crash,      // throws TSimulatedCrash instead of the operation
        TornCrash,  // writes only: the first half reaches the disk, then TSimulatedCrash
    };
    // The N-th write, flush or rename fails (0 disables a kind); clears any planned crash.
    static void Reset(int failWriteAt = 0, int failFlushAt = 0, int failRenameAt = 0);
    // Plans one fault at the at-th operation of 'point' (and clears the others).
    static void Plan(TPoint point, int at, TEffect effect);
    // How many operations of each kind ran since the last Reset or Plan.
    static int Writes();
    static int Flushes();
    static int Renames();
    static int Reads();
    // True from a simulated crash until the next Reset or Plan.
    static bool Crashed();
};

struct TReplaceOptions {
    // Whoever may read the file may also run it.
    bool Executable = false;
    // The file as the writer read it: the commit refuses, leaving the target as it is, when
    // the target on disk is no longer this file. Null for files written whole (settings).
    const TFileIdentity* Expected = nullptr;
};

class TAtomicFile {
  public:
    // Checks the target (state 2) and creates the temporary file beside it (state 3). The
    // target need not exist yet. Throws Error naming the file when the folder is not writable,
    // the target is read-only, not a regular file, hard-linked, or owned by a user or group
    // this process cannot give the new file.
    explicit TAtomicFile(const std::u16string& target, bool executable = false);
    TAtomicFile(const std::u16string& target, const TReplaceOptions& options);
    // Removes the temporary file unless Commit succeeded (a simulated crash leaves it).
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    // Buffered; throws Error (naming the file and the reason, such as a full disk).
    void Write(const void* data, std::size_t size);
    void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
    // Bytes written so far (with CopyTarget: the new file's size).
    std::uint64_t Size() const noexcept { return size_; }

    // For a commit that changes some parts of a large file (a database's pages) instead of
    // writing it whole: the temporary file starts as a copy of the target as the caller read
    // it (options.Expected), a copy-on-write clone where the file system offers one, else a
    // copy; WriteAt and Resize then change it. Returns true for a clone. Calls 'turn' between
    // the chunks of a copy (it may throw, to cancel). Refuses, naming the file, when the
    // target is no longer the file that was read. The clone, every chunk copied and every
    // WriteAt are writes counted by TFileSystemFaults. Write is not used with these.
    bool CopyTarget(const std::function<void()>& turn = {});
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    void Resize(std::uint64_t size);

    // States 4 to 7: flushes, syncs, copies ownership and attributes, verifies, renames over
    // the target and syncs the folder. Throws Error and leaves the target as it was when any
    // step before the rename fails. Takes the writers' lock for the verify and rename when
    // this process does not hold it already.
    void Commit();

  private:
    void FlushBuffer();
    void CopyOwnership();
    [[noreturn]] void Fail(const char16_t* what, int error) const;
    std::u16string ChangedMessage() const;

    std::u16string target_;
    std::string nativeTarget_;
    std::string nativeTemp_;
    TReplaceOptions options_;
    TFileIdentity expected_;
    int fd_ = -1;
    std::string buffer_;
    std::uint64_t size_ = 0;
    unsigned mode_ = 0;
    bool exists_ = false;
    bool patching_ = false;  // the content began as a copy of the target
    int state_ = 0;          // TCommitState
};

// The commit protocol with the engine's "write the new file" step as a callback: creates the
// temporary file, lets 'writeNewFile' fill it, and commits. Throws Error as TAtomicFile does;
// the target is unchanged unless it returns.
void ReplaceFile(const std::u16string& target, const TReplaceOptions& options,
                 const std::function<void(TAtomicFile& out)>& writeNewFile);

// A whole file written through TAtomicFile.
void WriteWholeFile(const std::u16string& path, std::string_view bytes, bool executable = false);

// Throws Error when another program has the file open for writing, as shown by the lock
// files that Excel ("~$name"), LibreOffice (".~lock.name#") and Access ("name.ldb",
// "name.laccdb" beside "name.mdb"/"name.accdb") keep beside it. LibreOffice lock files that
// Quillomat itself writes are not another program's.
void RefuseIfLockedByOtherProgram(const std::u16string& path);

// Throws Error when the file cannot be replaced: it is read-only, or its folder is.
void RefuseIfNotWritable(const std::u16string& path);

// Removes the temporary files that killed or crashed writers left beside 'path' (those whose
// writer process is gone and that nobody holds) and their lock files (RemoveStaleLockFiles).
// Never throws.
void RemoveStaleTemporaryFiles(const std::u16string& path);

// The path with symbolic links resolved (the path itself when that fails), and its parts.
std::string ResolvedNativePath(const std::u16string& path);
std::string FolderOfNative(const std::string& nativePath);
std::string NameOfNative(const std::string& nativePath);

}  // namespace qm
