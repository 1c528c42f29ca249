// A recording target with one table "T" of the given fields, opened through the real
// connection/table layer, and CSV tables parsed from text.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "csv/csv.h"
#include "import/recording_engine.h"
#include "targets/connection.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::test {

inline TFieldDef Text(std::u16string name, std::int32_t size = 0) {
    return {std::move(name), ftWideString, size};
}
inline TFieldDef Integer(std::u16string name) {
    return {std::move(name), ftInteger};
}

class RecordingTarget {
  public:
    explicit RecordingTarget(std::vector<TFieldDef> fields) : table(connection) {
        ForgetRecordingStores();
        std::u16string path = Utf8ToUtf16(dir_.Write("target.rec", "rows").string());
        store = &RecordingStore(path);
        store->Fields = std::move(fields);
        connection.SetConnectionString(RecordingConnectionString(path));
        table.SetTableName(u"[T]");
        table.Open();
    }

    TConnection connection;
    TTable table;
    TRecordingStore* store;

  private:
    TempDir dir_;
};

inline std::unique_ptr<TCsv> CsvOf(std::u16string text) {
    auto csv = std::make_unique<TCsv>();
    EXPECT_TRUE(csv->Parse(std::move(text)));
    return csv;
}

}  // namespace qm::test
