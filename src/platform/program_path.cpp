#include "platform/program_path.h"

#include <unistd.h>

#include <string>

#include "platform/native_path.h"

namespace qm {

std::u16string ProgramFilePath() {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return FromNativePath(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace qm
