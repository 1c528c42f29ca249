#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/error.h"
#include "platform/native_path.h"
#include "text/unicode.h"

namespace qm {

namespace {

struct TCounters {
    int failWriteAt = 0, failFlushAt = 0, failRenameAt = 0;
    int writes = 0, flushes = 0, renames = 0;
};

TCounters& Counters() {
    static TCounters counters;
    return counters;
}

// The three operations, counted; a planned fault makes one fail without touching the disk.
ssize_t CountedWrite(int fd, const void* data, std::size_t size) {
    TCounters& c = Counters();
    if (++c.writes == c.failWriteAt) {
        errno = ENOSPC;
        return -1;
    }
    return ::write(fd, data, size);
}

int CountedSync(int fd) {
    TCounters& c = Counters();
    if (++c.flushes == c.failFlushAt) {
        errno = EIO;
        return -1;
    }
    return ::fsync(fd);
}

int CountedRename(const char* from, const char* to) {
    TCounters& c = Counters();
    if (++c.renames == c.failRenameAt) {
        errno = EIO;
        return -1;
    }
    return ::rename(from, to);
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

std::string ResolveLinks(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) return resolved;
    return path;
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

void TFileSystemFaults::Reset(int failWriteAt, int failFlushAt, int failRenameAt) {
    Counters() = TCounters{failWriteAt, failFlushAt, failRenameAt, 0, 0, 0};
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

TAtomicFile::TAtomicFile(const std::u16string& target, bool executable) : target_(target) {
    nativeTarget_ = ResolveLinks(ToNativePath(target));
    if (nativeTarget_.empty()) Fail(u"ファイルを作成できません", ENOENT);
    struct stat st {};
    if (::stat(nativeTarget_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) Fail(u"ファイルを作成できません", EISDIR);
        mode_ = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode_ = 0666 & ~mask;
    }
    if (executable) mode_ |= (mode_ & 0444) >> 2;
    RefuseIfNotWritable(target);
    std::string folder = FolderOf(nativeTarget_);
    std::string name = nativeTarget_.substr(nativeTarget_.rfind('/') + 1);
    std::string pattern = folder + "/." + name + ".qm-XXXXXX";
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) Fail(u"一時ファイルを作成できません", errno);
    nativeTemp_ = pattern;
    buffer_.reserve(1 << 20);
}

TAtomicFile::~TAtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !nativeTemp_.empty()) ::unlink(nativeTemp_.c_str());
}

void TAtomicFile::Fail(const char16_t* what, int error) const {
    throw Error(std::u16string(what) + u"（" + Reason(error) + u"）。\n" + target_);
}

void TAtomicFile::FlushBuffer() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        ssize_t n = CountedWrite(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(u"ファイルを書き込めません", errno);
        }
        done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
}

void TAtomicFile::Write(const void* data, std::size_t size) {
    if (committed_) return;
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

void TAtomicFile::Commit() {
    FlushBuffer();
    if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0) Fail(u"ファイルを書き込めません", errno);
    if (CountedSync(fd_) != 0) Fail(u"ファイルをディスクに書き込めません", errno);
    if (::close(fd_) != 0) {
        fd_ = -1;
        Fail(u"ファイルを閉じられません", errno);
    }
    fd_ = -1;
    if (CountedRename(nativeTemp_.c_str(), nativeTarget_.c_str()) != 0)
        Fail(u"ファイルを置き換えられません", errno);
    committed_ = true;
    // The rename is durable once the folder's entry is on disk; a failure here no longer
    // threatens the file's content, so it is not reported.
    int dir = ::open(FolderOf(nativeTarget_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        CountedSync(dir);
        ::close(dir);
    }
}

void WriteWholeFile(const std::u16string& path, std::string_view bytes, bool executable) {
    TAtomicFile file(path, executable);
    file.Write(bytes);
    file.Commit();
}

void RefuseIfLockedByOtherProgram(const std::u16string& path) {
    std::string native = ToNativePath(path);
    std::string folder = FolderOf(native);
    std::string name = native.substr(native.rfind('/') + 1);
    std::string candidates[] = {
        folder + "/~$" + name,
        // Excel shortens long names: the owner file replaces the first two characters.
        name.size() > 2 ? folder + "/~$" + name.substr(2) : std::string(),
        folder + "/.~lock." + name + "#",
    };
    for (const std::string& lock : candidates) {
        if (!lock.empty() && Exists(lock))
            throw Error(
                u"ファイルは他のプログラムで開かれています。閉じてからやり直してください。\n" +
                path);
    }
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        std::string base = folder + "/" + name.substr(0, dot);
        if (Exists(base + ".ldb") || Exists(base + ".laccdb"))
            throw Error(
                u"データベースは他のプログラムで開かれています。閉じてからやり直してください。\n" +
                path);
    }
}

void RefuseIfNotWritable(const std::u16string& path) {
    std::string native = ResolveLinks(ToNativePath(path));
    struct stat st {};
    // The permission bits count too: the superuser passes access() for any file, but a file
    // nobody may write is one the user meant to keep unchanged.
    bool readOnlyBits = ::stat(native.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
    if (readOnlyBits || (::access(native.c_str(), W_OK) != 0 && errno != ENOENT))
        throw Error(u"ファイルは読み取り専用のため、書き込めません。\n" + path);
    if (::access(FolderOf(native).c_str(), W_OK | X_OK) != 0)
        throw Error(u"ファイルのあるフォルダーに書き込めません（読み取り専用）。\n" + path);
}

}  // namespace qm
