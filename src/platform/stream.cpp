#include "platform/stream.h"

#include "platform/error.h"

namespace qm {

void TStream::ReadBuffer(void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        std::size_t got = Read(out + done, count - done);
        if (got == 0) throw Error(u"ストリームの読み込みエラー: データが途中で終わっています。");
        done += got;
    }
}

}  // namespace qm
