#include "platform/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/native_path.h"
#include "text/unicode.h"

namespace qm {

TFileStream::TFileStream(const std::u16string& path) : path_(path) {
    std::string native = ToNativePath(path);
    do {
        fd_ = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) Fail(u"ファイルを開けません", errno);

    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        int error = errno;
        ::close(fd_);
        fd_ = -1;
        Fail(u"ファイルを開けません", error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        Fail(u"ファイルを開けません", S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::GetSize() {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) Fail(u"ファイルの大きさを取得できません", errno);
    return static_cast<std::int64_t>(info.st_size);
}

void TFileStream::SetPosition(std::int64_t position) {
    position_ = std::max<std::int64_t>(0, position);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        // pread keeps the stream's position our own, whatever else reads the descriptor.
        std::size_t chunk = std::min<std::size_t>(count - done, std::size_t{1} << 30);
        ssize_t got = ::pread(fd_, out + done, chunk, static_cast<off_t>(position_));
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail(u"ファイルを読み込めません", errno);
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
        position_ += got;
    }
    return done;
}

void TFileStream::Fail(const char16_t* what, int error) const {
    std::u16string message = what;
    message += u"（";
    message += Utf8ToUtf16(std::strerror(error));
    message += u"）。\n";
    message += path_;
    throw Error(std::move(message));
}

}  // namespace qm
