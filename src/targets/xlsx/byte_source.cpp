#include "targets/xlsx/byte_source.h"

#include <cstring>

#include "platform/error.h"

namespace qm::xlsx {

void FailCorrupt(const std::u16string& file, std::u16string_view reason) {
    throw Error(u"ブックが壊れているため読めません（" + std::u16string(reason) + u"）。\n" + file);
}

void TFileByteSource::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
    if (offset > Size() || size > Size() - offset)
        FailCorrupt(Name(), u"ファイルの終わりを越えた位置を参照しています");
    if (file_.ReadAt(offset, data, size) != size)
        FailCorrupt(Name(), u"ファイルが途中で終わっています");
}

void TMemoryByteSource::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
    if (offset > bytes_.size() || size > bytes_.size() - offset)
        FailCorrupt(name_, u"ファイルの終わりを越えた位置を参照しています");
    if (size) std::memcpy(data, bytes_.data() + offset, size);
}

}  // namespace qm::xlsx
