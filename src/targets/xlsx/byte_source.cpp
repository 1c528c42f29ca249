#include "targets/xlsx/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/native_path.h"
#include "text/unicode.h"

namespace qm::xlsx {

void FailCorrupt(const std::u16string& file, std::u16string_view reason) {
    throw Error(u"ブックが壊れているため読めません（" + std::u16string(reason) + u"）。\n" + file);
}

TFileByteSource::TFileByteSource(const std::u16string& path) : path_(path) {
    std::string native = ToNativePath(path);
    fd_ = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw Error(u"ファイルを開けません（" + Utf8ToUtf16(std::strerror(errno)) + u"）。\n" +
                    path);
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        throw Error(u"通常のファイルではありません。\n" + path);
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
    modified_ = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    inode_ = st.st_ino;
}

TFileByteSource::~TFileByteSource() {
    if (fd_ >= 0) ::close(fd_);
}

void TFileByteSource::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
    if (offset > size_ || size > size_ - offset)
        FailCorrupt(path_, u"ファイルの終わりを越えた位置を参照しています");
    char* out = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::pread(fd_, out, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            throw Error(u"ファイルを読み取れません（" + Utf8ToUtf16(std::strerror(errno)) +
                        u"）。\n" + path_);
        if (n == 0) FailCorrupt(path_, u"ファイルが途中で終わっています");
        out += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void TMemoryByteSource::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
    if (offset > bytes_.size() || size > bytes_.size() - offset)
        FailCorrupt(name_, u"ファイルの終わりを越えた位置を参照しています");
    if (size) std::memcpy(data, bytes_.data() + offset, size);
}

}  // namespace qm::xlsx
