#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/commit_protocol.h"
#include "platform/error.h"
#include "platform/file_system_internal.h"
#include "platform/native_path.h"
#include "platform/target_lock.h"
#include "text/unicode.h"

namespace qm {

namespace {

using TPoint = TFileSystemFaults::TPoint;
using TEffect = TFileSystemFaults::TEffect;

struct TCounters {
    int failWriteAt = 0, failFlushAt = 0, failRenameAt = 0;
    bool planned = false;
    TPoint planPoint = TPoint::Write;
    int planAt = 0;
    TEffect planEffect = TEffect::Fail;
    int writes = 0, flushes = 0, renames = 0, reads = 0;
    bool crashed = false;
};

TCounters& Counters() {
    static TCounters counters;
    return counters;
}

// The planned effect of the operation just counted, if any.
const TEffect* Due(TPoint point, int count) {
    const TCounters& c = Counters();
    if (c.planned && c.planPoint == point && c.planAt == count) return &c.planEffect;
    return nullptr;
}

[[noreturn]] void Crash() {
    Counters().crashed = true;
    throw TSimulatedCrash{};
}

// Temporary files of this process that are being written: never stale.
std::mutex gTempMutex;
std::set<std::string>& LiveTemps() {
    static std::set<std::string> temps;
    return temps;
}

std::u16string Reason(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            return u"ディスクの空き容量が足りません";
        case EACCES:
        case EPERM:
            return u"書き込む権限がありません";
        case EROFS:
            return u"読み取り専用のファイルシステムです";
        case EIO:
            return u"入出力エラーが発生しました";
        default:
            return Utf8ToUtf16(std::strerror(error));
    }
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The start of the temporary names of a target: ".NAME.quillomat-", the name shortened so that
// the whole stays within the folder entry limit.
std::string TempPrefix(const std::string& name) {
    return "." + name.substr(0, 200) + ".quillomat-";
}

std::u16string HardLinkMessage(const std::u16string& path) {
    return u"このファイルには別の名前（ハードリンク）もあります。置き換えると別の名前のほうは古い"
           u"内容のまま残るため、書き込みません。\n" +
           path;
}

// A small file's text (lock files), empty when it cannot be read without blocking.
std::string ReadSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        text.resize(4096);
        const ssize_t got = ::pread(fd, text.data(), text.size(), 0);
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ::close(fd);
    return text;
}

}  // namespace

// ---- the counted operations ----

namespace fs_detail {

namespace {

// Counts one operation of a kind and says whether, and how, a test wants it to fail: the
// counters of Reset fail it plainly, a Plan gives its effect.
std::optional<TEffect> NextFault(int& counter, int failAt, TPoint point) {
    const int n = ++counter;
    if (n == failAt) return TEffect::Fail;
    if (const TEffect* effect = Due(point, n)) return *effect;
    return std::nullopt;
}

// The fault of an operation that lands whole or not at all: a crash, or a failure with `error`.
int FailWhole(TEffect effect, int error) {
    if (effect == TEffect::Crash || effect == TEffect::TornCrash) Crash();
    errno = error;
    return -1;
}

// The fault of a write: a torn one first puts its first half on the disk with `writeHalf`.
template <typename TWriteHalf>
ssize_t FailWrite(TEffect effect, TWriteHalf writeHalf) {
    if (effect == TEffect::Crash) Crash();
    if (effect == TEffect::Torn || effect == TEffect::TornCrash) {
        if (writeHalf() < 0) return -1;
        if (effect == TEffect::TornCrash) Crash();
    }
    errno = ENOSPC;
    return -1;
}

}  // namespace

ssize_t CountedRead(int fd, void* data, std::size_t size, off_t offset) {
    if (const auto fault = NextFault(Counters().reads, 0, TPoint::Read))
        return FailWhole(*fault, EIO);
    return ::pread(fd, data, size, offset);
}

void* CountedMap(int fd, std::size_t size) {
    if (const auto fault = NextFault(Counters().reads, 0, TPoint::Read)) {
        FailWhole(*fault, EIO);
        return MAP_FAILED;
    }
    return ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
}

ssize_t CountedWrite(int fd, const void* data, std::size_t size) {
    TCounters& c = Counters();
    if (const auto fault = NextFault(c.writes, c.failWriteAt, TPoint::Write))
        return FailWrite(*fault, [&] { return ::write(fd, data, size / 2); });
    return ::write(fd, data, size);
}

ssize_t CountedWriteAt(int fd, const void* data, std::size_t size, off_t offset) {
    TCounters& c = Counters();
    if (const auto fault = NextFault(c.writes, c.failWriteAt, TPoint::Write))
        return FailWrite(*fault, [&] { return ::pwrite(fd, data, size / 2, offset); });
    return ::pwrite(fd, data, size, offset);
}

int CountedClone(int to, int from) {
    TCounters& c = Counters();
    // A clone reaches the disk whole or not at all: a torn one is a failed one.
    if (const auto fault = NextFault(c.writes, c.failWriteAt, TPoint::Write))
        return FailWhole(*fault, ENOSPC);
    if (::ioctl(to, FICLONE, from) == 0) return 0;
    if (errno == EOPNOTSUPP || errno == ENOTTY || errno == EXDEV || errno == EINVAL ||
        errno == ENOSYS || errno == EPERM)
        return 1;
    return -1;
}

ssize_t CountedCopyRange(int from, int to, std::size_t size, off_t offset) {
    TCounters& c = Counters();
    loff_t in = offset, out = offset;
    if (const auto fault = NextFault(c.writes, c.failWriteAt, TPoint::Write))
        return FailWrite(*fault,
                         [&] { return ::copy_file_range(from, &in, to, &out, size / 2, 0); });
    errno = 0;
    const ssize_t copied = ::copy_file_range(from, &in, to, &out, size, 0);
    if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                       errno == EINVAL || errno == EBADF))
        return 0;
    return copied;
}

int CountedSync(int fd) {
    TCounters& c = Counters();
    if (const auto fault = NextFault(c.flushes, c.failFlushAt, TPoint::Flush))
        return FailWhole(*fault, EIO);
    return ::fsync(fd);
}

int CountedRename(const char* from, const char* to) {
    TCounters& c = Counters();
    if (const auto fault = NextFault(c.renames, c.failRenameAt, TPoint::Rename))
        return FailWhole(*fault, EIO);
    return ::rename(from, to);
}

}  // namespace fs_detail

void TFileSystemFaults::Reset(int failWriteAt, int failFlushAt, int failRenameAt) {
    TCounters& c = Counters();
    c = TCounters{};
    c.failWriteAt = failWriteAt;
    c.failFlushAt = failFlushAt;
    c.failRenameAt = failRenameAt;
}
void TFileSystemFaults::Plan(TPoint point, int at, TEffect effect) {
    TCounters& c = Counters();
    c = TCounters{};
    c.planned = true;
    c.planPoint = point;
    c.planAt = at;
    c.planEffect = effect;
}
int TFileSystemFaults::Writes() {
    return Counters().writes;
}
int TFileSystemFaults::Flushes() {
    return Counters().flushes;
}
int TFileSystemFaults::Renames() {
    return Counters().renames;
}
int TFileSystemFaults::Reads() {
    return Counters().reads;
}
bool TFileSystemFaults::Crashed() {
    return Counters().crashed;
}

void CommitAssert(bool holds, std::string_view what) {
    if (!holds)
        throw Error(u"内部エラー: ファイルの書き込み手順が守られていません（" +
                    Utf8ToUtf16(std::string(what)) + u"）。");
}

// ---- paths ----

std::string ResolvedNativePath(const std::u16string& path) {
    const std::string native = ToNativePath(path);
    char resolved[PATH_MAX];
    if (!native.empty() && ::realpath(native.c_str(), resolved)) return resolved;
    return native;
}

std::string FolderOfNative(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOfNative(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// ---- TAtomicFile ----

TAtomicFile::TAtomicFile(const std::u16string& target, bool executable)
    : TAtomicFile(target, TReplaceOptions{executable, nullptr}) {}

TAtomicFile::TAtomicFile(const std::u16string& target, const TReplaceOptions& options)
    : target_(target), options_(options) {
    if (options.Expected) expected_ = *options.Expected;
    nativeTarget_ = ResolvedNativePath(target);
    if (nativeTarget_.empty()) Fail(u"ファイルを作成できません", ENOENT);
    struct stat st {};
    if (::stat(nativeTarget_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) Fail(u"ファイルを作成できません", EISDIR);
        if (!S_ISREG(st.st_mode)) RefuseIfNotRegularFile(target);
        if (st.st_nlink > 1) throw Error(HardLinkMessage(target));
        exists_ = true;
        mode_ = st.st_mode & 07777;
        // Only the superuser may give a file away; refuse before writing rather than take the
        // file over. (The group is checked once the temporary file exists, in CopyOwnership: a
        // group this user is not in may still be the one a new file gets in this folder.)
        const bool mayChown = ::geteuid() == 0;
        if (st.st_uid != ::geteuid() && !mayChown)
            throw Error(
                u"このファイルの所有者は別のユーザーのため、置き換えると所有者が変わってしまいます"
                u"。"
                u"書き込みません。\n" +
                target);
    } else {
        if (errno != ENOENT) Fail(u"ファイルを作成できません", errno);
        if (options.Expected) throw Error(u"ファイルが見つかりません。\n" + target);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode_ = 0666 & ~mask;
    }
    if (options.Executable) mode_ |= (mode_ & 0444) >> 2;
    RefuseIfNotWritable(target);
    state_ = static_cast<int>(TCommitState::Checked);

    std::string pattern = FolderOfNative(nativeTarget_) + "/" +
                          TempPrefix(NameOfNative(nativeTarget_)) + std::to_string(::getpid()) +
                          "-XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) Fail(u"一時ファイルを作成できません", errno);
    nativeTemp_ = pattern;
    {
        std::lock_guard<std::mutex> guard(gTempMutex);
        LiveTemps().insert(nativeTemp_);
    }
    // Held while it is written, so that another process's clean-up can tell it is alive.
    ::flock(fd_, LOCK_EX | LOCK_NB);
    buffer_.reserve(1 << 20);
    state_ = static_cast<int>(TCommitState::Writing);
}

TAtomicFile::~TAtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (nativeTemp_.empty()) return;
    // A killed process removes nothing; the next opening of the target does.
    if (state_ < static_cast<int>(TCommitState::Renamed) && !TFileSystemFaults::Crashed())
        ::unlink(nativeTemp_.c_str());
    std::lock_guard<std::mutex> guard(gTempMutex);
    LiveTemps().erase(nativeTemp_);
}

void TAtomicFile::Fail(const char16_t* what, int error) const {
    throw Error(std::u16string(what) + u"（" + Reason(error) + u"）。\n" + target_);
}

void TAtomicFile::FlushBuffer() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        ssize_t n = fs_detail::CountedWrite(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(u"ファイルを書き込めません", errno);
        }
        done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
}

void TAtomicFile::Write(const void* data, std::size_t size) {
    CommitAssert(state_ == static_cast<int>(TCommitState::Writing), "write after commit");
    CommitAssert(!patching_, "a sequential write into a patched copy");
    size_ += size;
    const char* bytes = static_cast<const char*>(data);
    if (buffer_.size() + size > (1u << 20)) {
        FlushBuffer();
        if (size >= (1u << 20)) {
            buffer_.assign(bytes, size);
            FlushBuffer();
            return;
        }
    }
    buffer_.append(bytes, size);
}

bool TAtomicFile::CopyTarget(const std::function<void()>& turn) {
    CommitAssert(state_ == static_cast<int>(TCommitState::Writing) && size_ == 0 && !patching_,
                 "a copy of the target into an empty temporary file");
    CommitAssert(options_.Expected != nullptr && exists_, "a copy of the file as it was read");
    patching_ = true;
    const int source = ::open(nativeTarget_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (source < 0) Fail(u"ファイルを開けません", errno);
    struct TCloser {
        int fd;
        ~TCloser() { ::close(fd); }
    } closer{source};
    struct stat st {};
    if (::fstat(source, &st) != 0) Fail(u"ファイルを開けません", errno);
    // The copy is of the file the caller read, or of nothing.
    if (!S_ISREG(st.st_mode) || !(IdentityOf(st) == expected_)) throw Error(ChangedMessage());
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    size_ = size;

    const int cloned = fs_detail::CountedClone(fd_, source);
    if (cloned < 0) Fail(u"ファイルを書き込めません", errno);
    if (cloned == 0) return true;
    // copy_file_range (which may still share extents), else reads and writes, in chunks
    // between which the caller gives the user interface its turn.
    constexpr std::size_t kChunk = 64u << 20;
    bool plain = false;
    std::vector<char> buffer;
    for (std::uint64_t done = 0; done < size;) {
        if (turn) turn();
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - done));
        if (!plain) {
            const ssize_t n =
                fs_detail::CountedCopyRange(source, fd_, want, static_cast<off_t>(done));
            if (n > 0) {
                done += static_cast<std::uint64_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) Fail(u"ファイルを書き込めません", errno);
            plain = true;  // also when the source ended early: reading decides
        }
        buffer.resize(std::min<std::size_t>(want, 1u << 20));
        const ssize_t got =
            fs_detail::CountedRead(source, buffer.data(), buffer.size(), static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail(u"ファイルを読み込めません", errno);
        }
        if (got == 0) throw Error(ChangedMessage());
        WriteAt(done, buffer.data(), static_cast<std::size_t>(got));
        done += static_cast<std::uint64_t>(got);
    }
    return false;
}

void TAtomicFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    CommitAssert(state_ == static_cast<int>(TCommitState::Writing), "write after commit");
    CommitAssert(patching_, "a write at an offset into a copy of the target");
    const char* bytes = static_cast<const char*>(data);
    const std::uint64_t end = offset + size;
    while (size > 0) {
        const ssize_t n = fs_detail::CountedWriteAt(fd_, bytes, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(u"ファイルを書き込めません", errno);
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    size_ = std::max(size_, end);
}

void TAtomicFile::Resize(std::uint64_t size) {
    CommitAssert(state_ == static_cast<int>(TCommitState::Writing), "write after commit");
    CommitAssert(patching_, "a resize of a copy of the target");
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) Fail(u"ファイルを書き込めません", errno);
    size_ = size;
}

std::u16string TAtomicFile::ChangedMessage() const {
    return u"ファイルを読み込んだ後に、他のプログラムがファイルを変更しました。"
           u"ファイルを選び直してからやり直してください。\n" +
           target_;
}

void TAtomicFile::CopyOwnership() {
    if (!exists_) {
        if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0)
            Fail(u"ファイルを書き込めません", errno);
        return;
    }
    const int old = ::open(nativeTarget_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (old < 0) Fail(u"ファイルを開けません", errno);
    struct TCloser {
        int fd;
        ~TCloser() { ::close(fd); }
    } closer{old};
    struct stat st {};
    struct stat mine {};
    if (::fstat(old, &st) != 0 || ::fstat(fd_, &mine) != 0) Fail(u"ファイルを開けません", errno);
    const std::u16string keep =
        u"ファイルの所有者・グループ・属性を元のまま保てないため、書き込みません";
    if ((st.st_uid != mine.st_uid || st.st_gid != mine.st_gid) &&
        ::fchown(fd_, st.st_uid, st.st_gid) != 0)
        throw Error(keep + u"（" + Reason(errno) + u"）。\n" + target_);
    // After fchown, which clears the set-user-ID and set-group-ID bits.
    if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0) Fail(u"ファイルを書き込めません", errno);

    // Extended attributes, among them the access control list (system.posix_acl_access).
    ssize_t listSize = ::flistxattr(old, nullptr, 0);
    if (listSize < 0) {
        if (errno == ENOTSUP) return;
        throw Error(keep + u"（" + Reason(errno) + u"）。\n" + target_);
    }
    std::string names(static_cast<std::size_t>(listSize), '\0');
    listSize = ::flistxattr(old, names.data(), names.size());
    if (listSize < 0) throw Error(keep + u"（" + Reason(errno) + u"）。\n" + target_);
    names.resize(static_cast<std::size_t>(listSize));
    std::string value, present;
    for (std::size_t at = 0; at < names.size();) {
        const char* name = names.c_str() + at;
        at += std::strlen(name) + 1;
        ssize_t size = ::fgetxattr(old, name, nullptr, 0);
        if (size < 0) continue;  // removed meanwhile
        value.resize(static_cast<std::size_t>(size));
        size = ::fgetxattr(old, name, value.data(), value.size());
        if (size < 0) continue;
        value.resize(static_cast<std::size_t>(size));
        // A value the new file already has (a security label given by the system) is kept
        // without asking for the right to set it.
        present.resize(value.size() + 1);
        const ssize_t has = ::fgetxattr(fd_, name, present.data(), present.size());
        if (has >= 0 && static_cast<std::size_t>(has) == value.size() &&
            present.compare(0, value.size(), value) == 0)
            continue;
        if (::fsetxattr(fd_, name, value.data(), value.size(), 0) != 0)
            throw Error(keep + u"（" + Utf8ToUtf16(name) + u": " + Reason(errno) + u"）。\n" +
                        target_);
    }
}

void TAtomicFile::Commit() {
    CommitAssert(state_ == static_cast<int>(TCommitState::Writing), "commit of a written file");
    FlushBuffer();
    CopyOwnership();
    if (fs_detail::CountedSync(fd_) != 0) Fail(u"ファイルをディスクに書き込めません", errno);
    state_ = static_cast<int>(TCommitState::Written);

    // Verify and rename under the writers' lock, taken here when the caller does not hold it.
    std::optional<TTargetLock> lock;
    if (!TTargetLock::HeldByThisProcess(nativeTarget_)) lock.emplace(target_);
    CommitAssert(TTargetLock::HeldByThisProcess(nativeTarget_), "the writers' lock is held");
    struct stat st {};
    const bool present = ::stat(nativeTarget_.c_str(), &st) == 0;
    if (options_.Expected) {
        if (!present || !S_ISREG(st.st_mode) || !(IdentityOf(st) == expected_))
            throw Error(ChangedMessage());
        RefuseIfLockedByOtherProgram(target_);
    }
    if (present && st.st_nlink > 1) throw Error(HardLinkMessage(target_));
    if (present != exists_)
        throw Error(u"書き込みの途中で、他のプログラムがファイルを作成または削除しました。\n" +
                    target_);
    state_ = static_cast<int>(TCommitState::Verified);

    if (fs_detail::CountedRename(nativeTemp_.c_str(), nativeTarget_.c_str()) != 0)
        Fail(u"ファイルを置き換えられません", errno);
    state_ = static_cast<int>(TCommitState::Renamed);
    ::close(fd_);
    fd_ = -1;
    // The rename is durable once the folder's entry is on disk; a failure here no longer
    // threatens the file's content, so it is not reported.
    const int dir =
        ::open(FolderOfNative(nativeTarget_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        struct TCloser {
            int fd;
            ~TCloser() { ::close(fd); }
        } closer{dir};
        fs_detail::CountedSync(dir);
    }
    state_ = static_cast<int>(TCommitState::Durable);
}

void ReplaceFile(const std::u16string& target, const TReplaceOptions& options,
                 const std::function<void(TAtomicFile& out)>& writeNewFile) {
    TAtomicFile file(target, options);
    writeNewFile(file);
    file.Commit();
}

void WriteWholeFile(const std::u16string& path, std::string_view bytes, bool executable) {
    TAtomicFile file(path, executable);
    file.Write(bytes);
    file.Commit();
}

void RefuseIfLockedByOtherProgram(const std::u16string& path) {
    const std::string native = ResolvedNativePath(path);
    const std::string folder = FolderOfNative(native);
    const std::string name = NameOfNative(native);
    const std::string candidates[] = {
        folder + "/~$" + name,
        // Excel shortens long names: the owner file replaces the first two characters.
        name.size() > 2 ? folder + "/~$" + name.substr(2) : std::string(),
    };
    const std::u16string inUse =
        u"ファイルは他のプログラムで開かれています。閉じてからやり直してください。\n" + path;
    for (const std::string& lock : candidates) {
        if (!lock.empty() && Exists(lock) && !IsQuillomatOfficeLock(ReadSmallFile(lock)))
            throw Error(inUse);
    }
    const std::string office = folder + "/.~lock." + name + "#";
    if (Exists(office) && !IsQuillomatOfficeLock(ReadSmallFile(office))) throw Error(inUse);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        const std::string base = folder + "/" + name.substr(0, dot);
        auto foreign = [](const std::string& lock) {
            return Exists(lock) && !IsQuillomatOfficeLock(ReadSmallFile(lock));
        };
        if (foreign(base + ".ldb") || foreign(base + ".laccdb"))
            throw Error(
                u"データベースは他のプログラムで開かれています。閉じてからやり直してください。\n" +
                path);
    }
}

void RefuseIfNotWritable(const std::u16string& path) {
    const std::string native = ResolvedNativePath(path);
    struct stat st {};
    // The permission bits count too: the superuser passes access() for any file, but a file
    // nobody may write is one the user meant to keep unchanged.
    bool readOnlyBits = ::stat(native.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
    if (readOnlyBits || (::access(native.c_str(), W_OK) != 0 && errno != ENOENT))
        throw Error(u"ファイルは読み取り専用のため、書き込めません。\n" + path);
    if (::access(FolderOfNative(native).c_str(), W_OK | X_OK) != 0)
        throw Error(u"ファイルのあるフォルダーに書き込めません（読み取り専用）。\n" + path);
}

void RemoveStaleTemporaryFiles(const std::u16string& path) {
    const std::string native = ResolvedNativePath(path);
    if (native.empty()) return;
    RemoveStaleLockFiles(path);
    const std::string folder = FolderOfNative(native);
    const std::string name = NameOfNative(native);
    const std::string prefix = TempPrefix(name);
    const std::string legacy = "." + name + ".qm-";  // what earlier versions named them
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string file = entry->d_name;
        const std::string full = folder + "/" + file;
        if (file.compare(0, prefix.size(), prefix) == 0) {
            // ".NAME.quillomat-PID-XXXXXX"
            const std::string rest = file.substr(prefix.size());
            const std::size_t dash = rest.find('-');
            if (dash == std::string::npos || dash == 0 || rest.size() != dash + 7) continue;
            const long pid = std::strtol(rest.substr(0, dash).c_str(), nullptr, 10);
            if (pid <= 0) continue;
            {
                std::lock_guard<std::mutex> guard(gTempMutex);
                if (LiveTemps().count(full)) continue;
            }
            const bool alive =
                pid != ::getpid() && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
            if (!alive) stale.push_back(full);
        } else if (file.compare(0, legacy.size(), legacy) == 0 &&
                   file.size() == legacy.size() + 6) {
            // Earlier versions did not mark their writer; one untouched for ten minutes is
            // no longer being written.
            struct stat st {};
            if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                st.st_mtime + 600 < ::time(nullptr))
                stale.push_back(full);
        }
    }
    ::closedir(dir);
    for (const std::string& full : stale) {
        const int fd = ::open(full.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {};
        struct stat named {};
        // Nobody holds it, and the name still leads to what was checked.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
            S_ISREG(held.st_mode) && ::lstat(full.c_str(), &named) == 0 &&
            held.st_ino == named.st_ino && held.st_dev == named.st_dev)
            ::unlink(full.c_str());
        ::close(fd);
    }
}

}  // namespace qm
