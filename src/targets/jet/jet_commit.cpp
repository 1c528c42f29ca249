#include "targets/jet/jet_commit.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "platform/yield.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

constexpr std::size_t kCopyChunk = 64u << 20;

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

// The clone beside the database; removed unless it was renamed into place.
class TClone {
  public:
    TClone(const std::u16string& path, const std::string& target) : path_(path), target_(target) {
        const std::size_t slash = target.rfind('/');
        folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
        std::string pattern = folder_ + "/." + target.substr(slash + 1) + ".qm-XXXXXX";
        fd_ = ::mkstemp(pattern.data());
        if (fd_ < 0) Fail(u"一時ファイルを作成できません", errno);
        temp_ = pattern;
    }
    ~TClone() {
        if (fd_ >= 0) ::close(fd_);
        if (!renamed_ && !temp_.empty()) ::unlink(temp_.c_str());
    }
    TClone(const TClone&) = delete;
    TClone& operator=(const TClone&) = delete;

    int Fd() const { return fd_; }
    [[noreturn]] void Fail(const char16_t* what, int error) const {
        throw Error(std::u16string(what) + u"（" + Reason(error) + u"）。\n" + path_);
    }
    void Rename(unsigned mode) {
        if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) Fail(u"ファイルを書き込めません", errno);
        if (::fsync(fd_) != 0) Fail(u"ファイルをディスクに書き込めません", errno);
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) Fail(u"ファイルを閉じられません", errno);
        if (::rename(temp_.c_str(), target_.c_str()) != 0)
            Fail(u"ファイルを置き換えられません", errno);
        renamed_ = true;
        const int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }

  private:
    std::u16string path_;
    std::string target_;
    std::string folder_;
    std::string temp_;
    int fd_ = -1;
    bool renamed_ = false;
};

void Turn(const std::atomic<bool>* cancel) {
    ProcessMessages();
    if (cancel && cancel->load(std::memory_order_relaxed)) throw Error(kCancelledMessage);
}

void WriteAll(const TClone& clone, const std::uint8_t* data, std::size_t size, off_t at) {
    while (size > 0) {
        const ssize_t n = ::pwrite(clone.Fd(), data, size, at);
        if (n < 0) {
            if (errno == EINTR) continue;
            clone.Fail(u"ファイルを書き込めません", errno);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        at += n;
    }
}

// Copies the database into the clone: a copy-on-write clone when the file system has them,
// else copy_file_range (which may share extents itself), else reads and writes.
bool CopyInto(const TClone& clone, int source, std::uint64_t size,
              const std::atomic<bool>* cancel) {
    if (::ioctl(clone.Fd(), FICLONE, source) == 0) return true;
    std::uint64_t done = 0;
    bool plain = false;
    std::vector<char> buffer;
    while (done < size) {
        Turn(cancel);
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, size - done));
        if (!plain) {
            loff_t in = static_cast<loff_t>(done), out = static_cast<loff_t>(done);
            const ssize_t n = ::copy_file_range(source, &in, clone.Fd(), &out, want, 0);
            if (n > 0) {
                done += static_cast<std::uint64_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP &&
                errno != EINVAL)
                clone.Fail(u"ファイルを書き込めません", errno);
            plain = true;  // also when the source ended early: read decides
        }
        buffer.resize(std::min<std::size_t>(want, 1u << 20));
        const ssize_t n = ::pread(source, buffer.data(), buffer.size(), static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            clone.Fail(u"データベースファイルを読み込めません", errno);
        }
        if (n == 0) clone.Fail(u"データベースファイルが途中で変わりました", EIO);
        WriteAll(clone, reinterpret_cast<const std::uint8_t*>(buffer.data()),
                 static_cast<std::size_t>(n), static_cast<off_t>(done));
        done += static_cast<std::uint64_t>(n);
    }
    return false;
}

// The lock file Access keeps beside a database it has open ("name.ldb" for .mdb, "name.laccdb"
// for .accdb): held while the commit writes, so that Access sees the database in use. Created
// exclusively, so that an Access that opens the file in the same moment is noticed; removed
// when the commit ends, whichever way.
class TLockFile {
  public:
    TLockFile(const std::u16string& path, const std::string& target) {
        const std::size_t slash = target.rfind('/');
        const std::size_t dot = target.rfind('.');
        std::string base = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                               ? target
                               : target.substr(0, dot);
        std::string extension = dot == std::string::npos ? std::string() : target.substr(dot);
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        path_ = base + (extension == ".accdb" ? ".laccdb" : ".ldb");
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            if (errno == EEXIST)
                throw Error(
                    u"データベースは他のプログラムで開かれています。閉じてからやり直してください。"
                    u"\n" +
                    path);
            return;  // a folder without room for it: the commit itself will report that
        }
        // One record as Access writes it: the computer's name and the user's, 32 bytes each.
        char record[64] = {};
        ::gethostname(record, 31);
        std::memcpy(record + 32, "Admin", 5);
        if (::write(fd_, record, sizeof record) < 0) {
            // The lock file's content is informative only.
        }
    }
    ~TLockFile() {
        if (fd_ < 0) return;
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    TLockFile(const TLockFile&) = delete;
    TLockFile& operator=(const TLockFile&) = delete;

  private:
    std::string path_;
    int fd_ = -1;
};

std::string ResolveLinks(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) return resolved;
    return path;
}

}  // namespace

TJetFileIdentity TJetFileIdentity::Of(const std::u16string& path) {
    TJetFileIdentity identity;
    struct stat st {};
    if (::stat(ToNativePath(path).c_str(), &st) == 0) {
        identity.inode = st.st_ino;
        identity.size = static_cast<std::uint64_t>(st.st_size);
        identity.modified =
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return identity;
}

TJetCommitStats CommitPages(const std::u16string& path, const TJetFileIdentity& opened,
                            const TJetPageStore& store, const std::atomic<bool>* cancel) {
    TJetCommitStats stats;
    RefuseIfLockedByOtherProgram(path);
    RefuseIfNotWritable(path);
    if (TJetFileIdentity::Of(path) != opened)
        throw Error(
            u"データベースを開いた後に、他のプログラムがファイルを変更しました。"
            u"もう一度テーブルを選び直してからやり直してください。\n" +
            path);
    const std::string target = ResolveLinks(ToNativePath(path));
    const TLockFile lock(path, target);
    const int source = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        throw Error(u"データベースファイルを開けません（" + Reason(errno) + u"）。\n" + path);
    struct stat st {};
    ::fstat(source, &st);
    TClone clone(path, target);
    try {
        stats.cloned = CopyInto(clone, source, opened.size, cancel);
    } catch (...) {
        ::close(source);
        throw;
    }
    ::close(source);

    const std::uint64_t newSize = static_cast<std::uint64_t>(store.PageCount()) * kPageSize;
    if (newSize > opened.size && ::ftruncate(clone.Fd(), static_cast<off_t>(newSize)) != 0)
        clone.Fail(u"ファイルを書き込めません", errno);
    std::uint64_t sinceTurn = 0;
    for (const auto& [page, bytes] : store.Changed()) {
        WriteAll(clone, bytes.get(), kPageSize, static_cast<off_t>(page) * kPageSize);
        ++stats.pagesWritten;
        if (++sinceTurn == 256) {
            sinceTurn = 0;
            Turn(cancel);
        }
    }
    // The last moment a cancel is honoured: from here on the new file replaces the old.
    Turn(cancel);
    clone.Rename(st.st_mode & 07777);
    return stats;
}

}  // namespace qm::jet
