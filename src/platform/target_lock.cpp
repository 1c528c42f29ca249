#include "platform/target_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <thread>

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/yield.h"
#include "text/unicode.h"

namespace qm {

namespace {

std::chrono::milliseconds gWaitLimit{5000};

// The targets this process holds, with how many TTargetLock objects share each flock.
std::mutex gHeldMutex;
std::map<std::string, int>& Held() {
    static std::map<std::string, int> held;
    return held;
}

// LibreOffice's lock file is one line of five comma-separated fields ending with ';': the
// name shown as the lock's owner, the system user, the host, the time ("DD.MM.YYYY HH:MM")
// and the owner's configuration URL. LibreOffice takes a lock file whose user, host and URL
// are its own for a leftover of its own; the URL "quillomat:PID" is never LibreOffice's.
constexpr std::string_view kOfficeOwner = "Quillomat";
constexpr std::string_view kOfficeUrlPrefix = "quillomat:";

// Escapes the field separators as LibreOffice's reader expects.
std::string OfficeField(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == ',' || c == ';' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string UserName() {
    if (const passwd* user = ::getpwuid(::geteuid())) return user->pw_name;
    return std::to_string(::geteuid());
}

std::string HostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return "localhost";
    return host;
}

// The lock files of the office programs beside a workbook, with the content we give them.
struct TOfficeLock {
    std::string path;
    std::string content;
};

std::vector<TOfficeLock> OfficeLocksOf(const std::string& folder, const std::string& name) {
    return {{folder + "/.~lock." + name + "#", QuillomatOfficeLockContent()},
            {folder + "/~$" + name, QuillomatExcelOwnerContent()}};
}

// Every lock file of ours that may be beside the file: the office programs' and Access's.
std::vector<std::string> OurLockFilesOf(const std::string& resolved) {
    std::vector<std::string> paths;
    for (const TOfficeLock& office :
         OfficeLocksOf(FolderOfNative(resolved), NameOfNative(resolved)))
        paths.push_back(office.path);
    const std::string database = TDatabaseLockFile::PathFor(resolved);
    if (!database.empty()) paths.push_back(database);
    return paths;
}

// Creates an office lock file; false when one is there already.
bool CreateOfficeLock(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    const bool written =
        ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    if (!written) ::unlink(path.c_str());
    return true;
}

std::string ReadLockText(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text(4096, '\0');
    const ssize_t got = ::read(fd, text.data(), text.size());
    ::close(fd);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

}  // namespace

std::u16string AnotherImportIsWritingMessage(const std::u16string& path) {
    return u"別のインポートがこのファイルに書き込んでいます。終わるのを待ってからやり直してくださ"
           u"い。\n" +
           path;
}

std::string QuillomatOfficeLockContent() {
    char when[32] = "01.01.1970 00:00";
    const time_t now = ::time(nullptr);
    tm local{};
    if (::localtime_r(&now, &local)) ::strftime(when, sizeof when, "%d.%m.%Y %H:%M", &local);
    return std::string(kOfficeOwner) + "," + OfficeField(UserName()) + "," +
           OfficeField(HostName()) + "," + when + "," + std::string(kOfficeUrlPrefix) +
           std::to_string(::getpid()) + ";";
}

// Excel's owner file, 165 bytes: the user name's length in one byte, the name in the 8-bit code
// page padded with spaces to offset 55, the length again in two bytes, the name in UTF-16LE,
// then space characters in UTF-16LE to the end. The name is the program's.
std::string QuillomatExcelOwnerContent() {
    std::string out(1, static_cast<char>(kOfficeOwner.size()));
    out += kOfficeOwner;
    out.resize(55, ' ');
    out += static_cast<char>(kOfficeOwner.size());
    out += '\0';
    for (char c : kOfficeOwner) {
        out += c;
        out += '\0';
    }
    while (out.size() < 165) {
        out += ' ';
        if (out.size() < 165) out += '\0';
    }
    return out;
}

std::string QuillomatDatabaseLockContent() {
    std::string out(kOfficeOwner);
    out.resize(32, '\0');
    out += "Admin";
    out.resize(64, '\0');
    return out;
}

bool IsQuillomatOfficeLock(std::string_view content) {
    if (content == QuillomatDatabaseLockContent()) return true;
    if (content.size() == 165 && static_cast<std::size_t>(content[0]) == kOfficeOwner.size() &&
        content.substr(1, kOfficeOwner.size()) == kOfficeOwner)
        return true;
    if (content.substr(0, kOfficeOwner.size() + 1) != std::string(kOfficeOwner) + ",") return false;
    const std::size_t last = content.rfind(',');
    return last != std::string_view::npos &&
           content.substr(last + 1, kOfficeUrlPrefix.size()) == kOfficeUrlPrefix;
}

void RemoveStaleLockFiles(const std::u16string& path) {
    const std::string resolved = ResolvedNativePath(path);
    if (resolved.empty() || TTargetLock::HeldByThisProcess(resolved)) return;
    const std::string folder = FolderOfNative(resolved);
    const std::string name = NameOfNative(resolved);
    const std::string lockFile = folder + "/." + name.substr(0, 220) + ".quillomat-lock";
    bool ourOffice = false;
    for (const std::string& ours : OurLockFilesOf(resolved))
        ourOffice = ourOffice || IsQuillomatOfficeLock(ReadLockText(ours));
    struct stat st {};
    if (!ourOffice && ::lstat(lockFile.c_str(), &st) != 0) return;
    const int fd =
        ::open(lockFile.c_str(),
               O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) return;
    struct stat held {};
    struct stat named {};
    // Holding the lock, nothing of ours beside the file belongs to a live writer; the lock
    // file goes last, still held, as a writer removes it.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
        ::lstat(lockFile.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
        for (const std::string& ours : OurLockFilesOf(resolved))
            if (IsQuillomatOfficeLock(ReadLockText(ours))) ::unlink(ours.c_str());
        ::unlink(lockFile.c_str());
    }
    ::close(fd);
}

std::string TDatabaseLockFile::PathFor(const std::string& resolved) {
    const std::string name = NameOfNative(resolved);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    std::string extension = name.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const std::string base = FolderOfNative(resolved) + "/" + name.substr(0, dot);
    if (extension == ".mdb") return base + ".ldb";
    if (extension == ".accdb") return base + ".laccdb";
    return {};
}

TDatabaseLockFile::TDatabaseLockFile(const std::u16string& database) {
    path_ = PathFor(ResolvedNativePath(database));
    if (path_.empty()) return;
    const std::string content = QuillomatDatabaseLockContent();
    // Made exclusively, so that an Access that opens the database in the same moment is seen.
    if (CreateOfficeLock(path_, content)) {
        made_ = true;
        return;
    }
    if (errno != EEXIST) return;  // a folder without room for it: the commit reports that
    if (!IsQuillomatOfficeLock(ReadLockText(path_)))
        throw Error(
            u"データベースは他のプログラムで開かれています。閉じてからやり直してください。\n" +
            database);
}

TDatabaseLockFile::~TDatabaseLockFile() {
    if (made_ && !TFileSystemFaults::Crashed() && IsQuillomatOfficeLock(ReadLockText(path_)))
        ::unlink(path_.c_str());
}

void TTargetLock::SetWaitLimit(std::chrono::milliseconds limit) {
    gWaitLimit = limit;
}

bool TTargetLock::HeldByThisProcess(const std::string& resolvedNativePath) {
    std::lock_guard<std::mutex> guard(gHeldMutex);
    return Held().count(resolvedNativePath) != 0;
}

TTargetLock::TTargetLock(const std::u16string& path, TLockUse use) : path_(path) {
    resolved_ = ResolvedNativePath(path);
    const std::string folder = FolderOfNative(resolved_);
    const std::string name = NameOfNative(resolved_);
    {
        std::lock_guard<std::mutex> guard(gHeldMutex);
        auto found = Held().find(resolved_);
        if (found != Held().end()) {
            // flock does not exclude two descriptors of one process from each other in any
            // useful way here: the process already excludes every other writer.
            ++found->second;
            shared_ = true;
            return;
        }
    }
    lockFile_ = folder + "/." + name.substr(0, 220) + ".quillomat-lock";
    const auto deadline = std::chrono::steady_clock::now() + gWaitLimit;
    for (;;) {
        fd_ = ::open(lockFile_.c_str(),
                     O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            if (errno == EINTR) continue;
            RefuseIfNotWritable(path);
            throw Error(u"書き込みの準備ができません（ロックファイルを作成できません）。\n" + path);
        }
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            // The lock of a lock file that its holder removed meanwhile locks nothing: again.
            struct stat held {};
            struct stat named {};
            if (::fstat(fd_, &held) == 0 && ::lstat(lockFile_.c_str(), &named) == 0 &&
                held.st_ino == named.st_ino && held.st_dev == named.st_dev)
                break;
            ::close(fd_);
            fd_ = -1;
            continue;
        }
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        if (error != EWOULDBLOCK && error != EINTR)
            throw Error(u"ファイルをロックできません。\n" + path);
        if (std::chrono::steady_clock::now() >= deadline)
            throw Error(AnotherImportIsWritingMessage(path));
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    {
        std::lock_guard<std::mutex> guard(gHeldMutex);
        Held()[resolved_] = 1;
    }
    try {
        if (use != TLockUse::File) RefuseIfLockedByOtherProgram(path);
        if (use == TLockUse::Workbook) {
            for (const TOfficeLock& office : OfficeLocksOf(folder, name)) {
                if (!CreateOfficeLock(office.path, office.content)) {
                    // Holding the writers' lock, a lock file of our own is a killed writer's.
                    if (!IsQuillomatOfficeLock(ReadLockText(office.path)))
                        throw Error(
                            u"ファイルは他のプログラムで開かれています。閉じてからやり直してくださ"
                            u"い。\n" +
                            path);
                    ::unlink(office.path.c_str());
                    CreateOfficeLock(office.path, office.content);
                }
                officeLockFiles_.push_back(office.path);
            }
        }
    } catch (...) {
        Release();
        throw;
    }
}

TTargetLock::~TTargetLock() {
    Release();
}

void TTargetLock::Release() noexcept {
    if (shared_) {
        std::lock_guard<std::mutex> guard(gHeldMutex);
        auto found = Held().find(resolved_);
        if (found != Held().end() && --found->second == 0) Held().erase(found);
        shared_ = false;
        return;
    }
    if (fd_ < 0) return;
    {
        std::lock_guard<std::mutex> guard(gHeldMutex);
        Held().erase(resolved_);
    }
    // A killed process removes nothing; its lock is released with its descriptors.
    if (!TFileSystemFaults::Crashed()) {
        for (const std::string& office : officeLockFiles_)
            if (IsQuillomatOfficeLock(ReadLockText(office))) ::unlink(office.c_str());
        ::unlink(lockFile_.c_str());
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace qm
