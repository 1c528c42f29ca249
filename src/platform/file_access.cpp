#include "platform/file_access.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/error.h"
#include "platform/file_system_internal.h"
#include "platform/native_path.h"
#include "text/unicode.h"

namespace qm {

namespace {

// What a non-regular file is, as the refusal names it.
const char16_t* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return u"フォルダー";
    if (S_ISFIFO(mode)) return u"名前付きパイプ";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return u"デバイス";
    if (S_ISSOCK(mode)) return u"ソケット";
    return u"特殊なファイル";
}

[[noreturn]] void FailNotRegular(const std::u16string& path, const char16_t* kind) {
    throw Error(u"通常のファイルではありません（" + std::u16string(kind) + u"）。\n" + path);
}

[[noreturn]] void FailOpen(const std::u16string& path, int error) {
    if (error == ENOENT || error == ENOTDIR) throw Error(u"ファイルが見つかりません。\n" + path);
    if (error == EACCES || error == EPERM)
        throw Error(u"ファイルを読み取る権限がありません。\n" + path);
    // A socket cannot be opened at all.
    if (error == ENXIO) FailNotRegular(path, u"ソケット");
    throw Error(u"ファイルを開けません（" + Utf8ToUtf16(std::strerror(error)) + u"）。\n" + path);
}

// Opens without waiting for a writer (FIFO) or a carrier (terminal), then refuses anything
// that is not a regular file. Returns the descriptor, in blocking mode again.
int OpenRegular(const std::u16string& path, struct stat& st) {
    const std::string native = ToNativePath(path);
    if (native.empty()) FailOpen(path, ENOENT);
    int fd;
    do {
        fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) FailOpen(path, errno);
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        FailOpen(path, error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        FailNotRegular(path, KindOf(st.st_mode));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

}  // namespace

TFileIdentity IdentityOf(const struct stat& st) {
    return TFileIdentity{
        static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
        static_cast<std::uint64_t>(st.st_size),
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool CurrentIdentity(const std::string& nativePath, TFileIdentity& identity) {
    struct stat st {};
    if (::stat(nativePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    identity = IdentityOf(st);
    return true;
}

// ---- TFileMapping ----

TFileMapping::~TFileMapping() {
    if (data_) ::munmap(const_cast<void*>(data_), size_);
}

TFileMapping::TFileMapping(TFileMapping&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

TFileMapping& TFileMapping::operator=(TFileMapping&& other) noexcept {
    if (this != &other) {
        if (data_) ::munmap(const_cast<void*>(data_), size_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

const void* TFileMapping::Release() noexcept {
    return std::exchange(data_, nullptr);
}

// ---- TReadFile ----

TReadFile::TReadFile(const std::u16string& path) : path_(path) {
    struct stat st {};
    fd_ = OpenRegular(path, st);
    identity_ = IdentityOf(st);
}

TReadFile::~TReadFile() {
    if (fd_ >= 0) ::close(fd_);
}

void TReadFile::Fail(const char16_t* what, int error) const {
    throw Error(std::u16string(what) + u"（" + Utf8ToUtf16(std::strerror(error)) + u"）。\n" +
                path_);
}

std::size_t TReadFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
    auto* out = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t chunk = std::min<std::size_t>(size - done, std::size_t{1} << 30);
        const ssize_t got =
            fs_detail::CountedRead(fd_, out + done, chunk, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail(u"ファイルを読み込めません", errno);
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

TFileMapping TReadFile::Map() const {
    if (identity_.Size == 0) return {};
    const auto size = static_cast<std::size_t>(identity_.Size);
    void* data = fs_detail::CountedMap(fd_, size);
    if (data == MAP_FAILED) Fail(u"ファイルを読み込めません", errno);
    return TFileMapping(data, size);
}

bool PathExists(const std::u16string& path) {
    struct stat st {};
    const std::string native = ToNativePath(path);
    return !native.empty() && ::stat(native.c_str(), &st) == 0;
}

void RefuseIfNotRegularFile(const std::u16string& path) {
    struct stat st {};
    ::close(OpenRegular(path, st));
}

}  // namespace qm
