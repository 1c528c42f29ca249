// The Access engine over arbitrary bytes: header, catalogue, table definitions, usage maps,
// rows, long values and index trees (through the checker). Damage must surface as qm::Error.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/error.h"
#include "targets/jet/jet_check.h"
#include "targets/jet/jet_database.h"
#include "targets/jet/jet_page_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Whole pages only, so that the mutations reach the structures instead of the size check.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    bytes.resize(std::max<std::size_t>(3, bytes.size() / qm::jet::kPageSize) * qm::jet::kPageSize);
    try {
        const auto db = qm::jet::TJetDatabase::FromBytes(std::move(bytes), u"fuzz.mdb");
        std::vector<qm::jet::TJetValue> values;
        for (const auto& name : db->TableNames()) {
            try {
                const auto table = db->OpenTable(name);
                for (auto cursor = table->Rows(); cursor.Next(values);)
                    for (const auto& v : values)
                        qm::jet::FormatJetValue(v);
            } catch (const qm::Error&) {
            }
        }
        qm::jet::CheckDatabase(*db);
    } catch (const qm::Error&) {
    }
    return 0;
}
