#include "platform/error.h"

#include "text/unicode.h"

namespace qm {

Error::Error(std::u16string message) : message_(std::move(message)), utf8_(Utf16ToUtf8(message_)) {}

Error Error::FromUtf8(std::string_view message) {
    return Error(Utf8ToUtf16(message));
}

}  // namespace qm
