// Bytes of a would-be CSV file through the whole load: encoding detection, decoding and the
// parse. Checks that the table is consistent and that every cell can be read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "csv/csv.h"
#include "platform/memory_stream.h"
#include "text/string_utility.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qm::TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
    qm::TStreamText decoded = qm::ReadStreamTextDetailed(stream);
    Check(decoded.codePage == qm::EncodingToCodePage(decoded.encoding));
    const std::size_t length = decoded.text.size();

    qm::TCsv csv;
    Check(csv.Parse(std::move(decoded.text)));
    Check((csv.GetRowCount() == 0) == (csv.GetFieldCount() == 0));
    Check(csv.IsEmpty() == (csv.GetRowCount() == 0));
    std::size_t total = 0;
    bool rowHasText = false;
    for (std::uint32_t r = 0; r < csv.GetRowCount(); ++r) {
        for (std::uint32_t f = 0; f < csv.GetFieldCount(); ++f) {
            std::u16string_view cell = csv.GetCellView(r, f);
            total += cell.size();
            for (char16_t c : cell)
                Check(c != u'\r' && c != u'\v' && c != 0);
            if (r == csv.GetRowCount() - 1 && !cell.empty()) rowHasText = true;
        }
    }
    // Cells only ever lose characters of the text, and the last row holds text: rows are made
    // only by text in them or after them.
    Check(total <= length);
    Check(csv.GetRowCount() == 0 || rowHasText);

    // Loading in small pieces, on one thread or two, gives the same table.
    const bool parallel = size % 2 == 1;
    qm::TMemoryStream again(std::string(reinterpret_cast<const char*>(data), size));
    qm::TCsv pieces;
    qm::TCsvLoadInfo info;
    Check(pieces.LoadFromStream(again, &info, qm::TCsvLoadPieces{16 + size % 23, parallel}));
    Check(info.encoding == decoded.encoding && info.codePage == decoded.codePage);
    Check(pieces.GetRowCount() == csv.GetRowCount());
    Check(pieces.GetFieldCount() == csv.GetFieldCount());
    for (std::uint32_t r = 0; r < csv.GetRowCount(); ++r)
        for (std::uint32_t f = 0; f < csv.GetFieldCount(); ++f)
            Check(pieces.GetCellView(r, f) == csv.GetCellView(r, f));
    return 0;
}
