#include "lindrel/lindrel_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/error.h"
#include "platform/native_path.h"
#include "text/unicode.h"

namespace qm {

namespace {

constexpr unsigned kFolderMode = 0755;
constexpr unsigned kFileMode = 0644;
constexpr int kTempNameTries = 100;

std::u16string Reason(int error) {
    return Utf8ToUtf16(std::strerror(error));
}

[[noreturn]] void Fail(const char16_t* what, int error, const std::u16string& path) {
    throw Error(std::u16string(what) + u"（" + Reason(error) + u"）。\n" + path);
}

// A name for the temporary file beside 'name' that says whose it is.
std::string TempName(std::string_view name) {
    static std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 8; ++i)
        suffix += kLetters[random() % (sizeof kLetters - 1)];
    return "." + std::string(name) + ".lindrel-" + suffix;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

TLindrelFolder TLindrelFolder::Base(const std::u16string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(ToNativePath(path), ignored);
    TLindrelFolder folder = ExistingBase(path);
    if (!folder.Valid()) Fail(u"フォルダーを作成できません", errno, path);
    return folder;
}

TLindrelFolder TLindrelFolder::ExistingBase(const std::u16string& path) {
    const int fd = ::open(ToNativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return TLindrelFolder(fd, path);
}

TLindrelFolder::TLindrelFolder(TLindrelFolder&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

TLindrelFolder& TLindrelFolder::operator=(TLindrelFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

TLindrelFolder::~TLindrelFolder() {
    if (fd_ >= 0) ::close(fd_);
}

std::u16string TLindrelFolder::Child(std::string_view name) const {
    std::u16string path = path_;
    if (path.empty() || path.back() != u'/') path += u'/';
    return path + Utf8ToUtf16(name);
}

TLindrelFolder TLindrelFolder::Make(std::string_view name) const {
    const std::string native(name);
    if (::mkdirat(fd_, native.c_str(), kFolderMode) != 0 && errno != EEXIST)
        Fail(u"フォルダーを作成できません", errno, Child(name));
    struct stat info {};
    if (::fstatat(fd_, native.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
        throw Error(u"フォルダーがシンボリックリンクのため、書き込みません。\n" + Child(name));
    const int fd = ::openat(fd_, native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            throw Error(u"フォルダーがシンボリックリンクのため、書き込みません。\n" + Child(name));
        Fail(u"フォルダーを作成できません", errno, Child(name));
    }
    return TLindrelFolder(fd, Child(name));
}

TLindrelFolder TLindrelFolder::Existing(std::string_view name) const {
    if (fd_ < 0) return TLindrelFolder(-1, Child(name));
    const int fd =
        ::openat(fd_, std::string(name).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return TLindrelFolder(fd, Child(name));
}

void TLindrelFolder::Replace(std::string_view name, std::string_view bytes,
                             std::optional<unsigned> mode) const {
    const std::string native(name);
    const std::u16string shown = Child(name);
    struct stat info {};
    if (::fstatat(fd_, native.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode))
        throw Error(u"同じ名前のフォルダーがあるため、ファイルを書き込めません。\n" + shown);

    // O_EXCL never follows a link at the new name: a planted one makes the try fail.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < kTempNameTries && fd < 0; ++attempt) {
        temp = TempName(name);
        fd = ::openat(fd_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      mode.value_or(kFileMode));
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) Fail(u"一時ファイルを作成できません", errno, shown);

    int error = 0;
    if (!WriteAll(fd, bytes)) error = errno;
    if (error == 0 && mode && ::fchmod(fd, *mode) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    // The rename replaces the entry at the name, a link included, and never what a link names.
    if (error == 0 && ::renameat(fd_, temp.c_str(), fd_, native.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlinkat(fd_, temp.c_str(), 0);
        Fail(u"ファイルを書き込めません", error, shown);
    }
    ::fsync(fd_);
}

std::optional<TLindrelFolder::TContent> TLindrelFolder::Read(std::string_view name,
                                                             std::size_t maxSize) const {
    if (fd_ < 0) return std::nullopt;
    // Non-blocking, so that a FIFO at the name cannot hold the tool up; fstat then tells.
    const int fd =
        ::openat(fd_, std::string(name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<TContent> content;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) <= maxSize) {
        TContent read;
        read.Mode = info.st_mode & 07777;
        read.Bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        bool ok = true;
        while (done < read.Bytes.size()) {
            const ssize_t n = ::read(fd, read.Bytes.data() + done, read.Bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        read.Bytes.resize(done);
        if (ok) content = std::move(read);
    }
    ::close(fd);
    return content;
}

void TLindrelFolder::Delete(std::string_view name) const {
    if (fd_ < 0) return;
    if (::unlinkat(fd_, std::string(name).c_str(), 0) != 0 && errno != ENOENT)
        Fail(u"ファイルを削除できません", errno, Child(name));
}

}  // namespace qm
