#include "platform/whole_file_writer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/error.h"
#include "platform/native_path.h"
#include "text/unicode.h"

namespace qm {

namespace {

[[noreturn]] void Fail(const char16_t* what, int error, const std::u16string& path) {
    std::u16string message = what;
    message += u"（";
    message += Utf8ToUtf16(std::strerror(error));
    message += u"）。\n";
    message += path;
    throw Error(std::move(message));
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

mode_t CurrentUmask() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Closes and removes the temporary file unless the rename has taken it over.
class TTemporary {
  public:
    explicit TTemporary(std::string pattern) : name_(std::move(pattern)) {
        fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
        created_ = fd_ >= 0;
    }
    ~TTemporary() {
        if (fd_ >= 0) ::close(fd_);
        if (created_) ::unlink(name_.c_str());
    }
    TTemporary(const TTemporary&) = delete;
    TTemporary& operator=(const TTemporary&) = delete;

    bool ok() const { return created_; }
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    bool Close() {
        int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }
    // After the rename the name belongs to the real file.
    void Release() { created_ = false; }

  private:
    std::string name_;
    int fd_ = -1;
    bool created_ = false;
};

}  // namespace

void WriteWholeFile(const std::u16string& path, std::string_view bytes, bool executable) {
    std::string target = ToNativePath(path);
    if (target.empty()) Fail(u"ファイルを作成できません", ENOENT, path);

    // Follow a symbolic link so that the file it points to is replaced, not the link.
    struct stat info {};
    bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists) {
        if (S_ISDIR(info.st_mode)) Fail(u"ファイルを作成できません", EISDIR, path);
        char resolved[PATH_MAX];
        if (::realpath(target.c_str(), resolved) != nullptr) target = resolved;
    }
    mode_t mode = exists ? (info.st_mode & 07777) : (0666 & ~CurrentUmask());
    if (executable) mode |= (mode & 0444) >> 2;

    std::string folder = ".";
    std::string base = target;
    if (std::size_t slash = target.rfind('/'); slash != std::string::npos) {
        folder = slash == 0 ? "/" : target.substr(0, slash);
        base = target.substr(slash + 1);
    }
    TTemporary temporary((folder == "/" ? "" : folder) + "/." + base + ".qm-XXXXXX");
    if (!temporary.ok()) Fail(u"ファイルを作成できません", errno, path);
    if (!WriteAll(temporary.fd(), bytes)) Fail(u"ファイルに書き込めません", errno, path);
    if (::fchmod(temporary.fd(), mode) != 0) Fail(u"ファイルに書き込めません", errno, path);
    if (::fsync(temporary.fd()) != 0) Fail(u"ファイルに書き込めません", errno, path);
    if (!temporary.Close()) Fail(u"ファイルに書き込めません", errno, path);
    if (::rename(temporary.name().c_str(), target.c_str()) != 0) {
        Fail(u"ファイルを作成できません", errno, path);
    }
    temporary.Release();
    // Make the rename itself durable.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace qm
