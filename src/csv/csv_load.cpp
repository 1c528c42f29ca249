// Loading a CSV file: kept apart from the parser so that code which only parses text does
// not pull in the file and decoding layers.
#include <exception>
#include <utility>

#include "csv/csv.h"
#include "platform/file_stream.h"
#include "text/string_utility.h"

namespace qm {

bool TCsv::LoadFromFile(const std::u16string& path, TCsvLoadInfo* info) noexcept {
    // A loaded table is never reloaded; spare the read.
    if (!IsEmpty()) return false;
    try {
        TStreamText decoded;
        {
            // The file is closed before the parse starts.
            TFileStream stream(path);
            decoded = ReadStreamTextDetailed(stream);
        }
        if (info) *info = TCsvLoadInfo{decoded.encoding, decoded.codePage};
        return Parse(std::move(decoded.text));
    } catch (...) {
        // Missing or unreadable files, short reads, exhausted memory: all mean "not loaded".
        return false;
    }
}

}  // namespace qm
