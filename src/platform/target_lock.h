// Exclusion between writers of one file: the lock of states 1 to 8 of commit_protocol.h.
//
// TTargetLock holds an exclusive flock on ".NAME.quillomat-lock" beside the file (never on the
// file itself, which the commit replaces). Every Quillomat process takes it before it writes a
// user's file, so two imports into one workbook never interleave: the second waits a short,
// bounded time, giving the user interface its turn, and then fails with a message that names
// the file. The lock file is removed while still held, and a waiter that then gets the lock of
// a removed file tries again, so removing it races with nobody.
//
// For a workbook it also leaves the lock files of LibreOffice (".~lock.NAME#") and Excel
// ("~$NAME", the owner file) while held, so that those programs show the workbook as in use,
// and removes them afterwards.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

enum class TLockUse {
    File,      // a file written whole (settings, project): only the writers' lock
    Target,    // an import target: also refused while another program's lock file is there
    Workbook,  // as Target, and LibreOffice's and Excel's lock files are left while held
};

class TTargetLock {
  public:
    // Takes the lock (a symbolic link is resolved first). Throws Error naming the file when
    // another import holds it past the wait limit, when the lock file cannot be made (a
    // read-only folder), or (Target, Workbook) when another program's lock file is there.
    explicit TTargetLock(const std::u16string& path, TLockUse use = TLockUse::File);
    ~TTargetLock();
    TTargetLock(const TTargetLock&) = delete;
    TTargetLock& operator=(const TTargetLock&) = delete;

    // True while some TTargetLock of this process holds the lock of this resolved path.
    static bool HeldByThisProcess(const std::string& resolvedNativePath);
    // How long a writer waits for another (5 seconds unless changed).
    static void SetWaitLimit(std::chrono::milliseconds limit);

  private:
    void Release() noexcept;

    std::u16string path_;
    std::string resolved_;
    std::string lockFile_;
    std::vector<std::string> officeLockFiles_;
    int fd_ = -1;
    bool shared_ = false;  // another TTargetLock of this process holds the flock
};

// Access's lock file beside a database ("NAME.ldb" beside NAME.mdb, "NAME.laccdb" beside
// NAME.accdb), left while Quillomat writes the database so that Access sees it in use. Its
// content is QuillomatDatabaseLockContent(), so that neither Quillomat nor anyone reading it
// takes it for Access's own. Throws Error naming the database when another program's lock file
// is there (the database is open in Access); one of ours that is there already (a killed
// writer's) is used and left as it was found. The file made here is removed when the object
// goes, unless the process "crashed" (TSimulatedCrash), as a killed one would leave it; the
// next opening of the database removes it then (RemoveStaleLockFiles).
class TDatabaseLockFile {
  public:
    explicit TDatabaseLockFile(const std::u16string& database);
    ~TDatabaseLockFile();
    TDatabaseLockFile(const TDatabaseLockFile&) = delete;
    TDatabaseLockFile& operator=(const TDatabaseLockFile&) = delete;

    // The lock file's path for a resolved database path; empty for other kinds of file.
    static std::string PathFor(const std::string& resolvedNativePath);

  private:
    std::string path_;
    bool made_ = false;
};

// Removes the lock files a killed writer left beside 'path' (the writers' lock file and our
// LibreOffice, Excel and Access lock files), when no writer holds the lock now. Never throws.
void RemoveStaleLockFiles(const std::u16string& path);

// The message of a writer that gave up waiting.
std::u16string AnotherImportIsWritingMessage(const std::u16string& path);

// The content of the LibreOffice lock file and of the Excel owner file that Quillomat writes,
// and whether a lock file's content is one of them (these are never another program's).
std::string QuillomatOfficeLockContent();
std::string QuillomatExcelOwnerContent();
// For a database writer that leaves Access's lock file ("NAME.ldb" / "NAME.laccdb"): one
// 64-byte entry, the computer name "Quillomat" and the user "Admin", each NUL-padded to 32
// bytes; a lock file with this content is never taken for Access's.
std::string QuillomatDatabaseLockContent();
bool IsQuillomatOfficeLock(std::string_view content);

}  // namespace qm
