// Writing a compound file again with one stream replaced: the container is laid out anew
// (header, stream sectors, mini stream, mini FAT, directory, FAT, DIFAT) in the sector size of
// the original, while every other stream keeps its bytes and every directory entry its name,
// CLSID, state bits, times and place in the tree.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "targets/xls/cfb_file.h"

namespace qm::xls {

// Receives the bytes of the new file in order.
using TByteSink = std::function<void(std::string_view bytes)>;

// Writes 'file' with the content of stream entry 'entry' replaced by 'data'. 'turn' is called
// now and then while the file is written (it may throw to stop). Throws Error when a stream
// of the original cannot be read.
void WriteCompoundFile(const TCompoundFile& file, std::uint32_t entry, std::string_view data,
                       const TByteSink& sink, const std::function<void()>& turn);

}  // namespace qm::xls
