#include "platform/native_path.h"

#include "text/unicode.h"

namespace qm {

std::string ToNativePath(std::u16string_view path) {
    return Utf16ToUtf8(path);
}

std::u16string FromNativePath(std::string_view path) {
    return Utf8ToUtf16(path);
}

}  // namespace qm
