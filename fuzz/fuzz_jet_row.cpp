// One row's bytes decoded against a table definition that has every kind of column: the row
// layout (column count, fixed area, variable slots, null mask) and every value decoder.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/error.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_row.h"
#include "targets/jet/jet_table_def.h"

namespace {

struct TFixture {
    std::unique_ptr<qm::jet::TJetPageFile> file;
    qm::jet::TTableDef def;
};

const TFixture& Fixture() {
    static const TFixture fixture = [] {
        using namespace qm::jet;
        TJetBuilder builder({{u"T",
                              {{u"a", kTypeLong},
                               {u"b", kTypeText, 20},
                               {u"c", kTypeCurrency},
                               {u"d", kTypeBoolean},
                               {u"e", kTypeDouble},
                               {u"f", kTypeText, 5},
                               {u"g", kTypeByte},
                               {u"h", kTypeDateTime},
                               {u"i", kTypeDateTime, 0, false, true},  // calculated, fixed wrapper
                               {u"j", kTypeDateTimeExtended}}}},
                            TBuildFormat::Ace17);
        TFixture f;
        f.file = TJetPageFile::FromBytes(builder.Finish(), u"fuzz.mdb");
        f.def = ReadTableDef(*f.file, 4);
        // Give the definition the column types the builder does not write, so that their
        // decoders see the bytes too.
        const std::uint8_t extra[] = {kTypeMemo,   kTypeOle,     kTypeDecimal,         kTypeGuid,
                                      kTypeBinary, kTypeComplex, kTypeDateTimeExtended};
        std::uint16_t number = static_cast<std::uint16_t>(f.def.columns.size());
        for (const std::uint8_t type : extra) {
            TColumnDef column;
            column.type = type;
            column.number = number++;
            column.varIndex = static_cast<std::uint16_t>(f.def.varColumns++);
            column.length = 17;
            f.def.columns.push_back(column);
        }
        f.def.maxColumns = number;
        TColumnDef calculated = f.def.columns[0];
        calculated.extFlags = kColumnCalculated;
        calculated.number = number++;
        calculated.varIndex = static_cast<std::uint16_t>(f.def.varColumns++);
        calculated.flags = 0;
        f.def.columns.push_back(calculated);
        f.def.maxColumns = number;
        return f;
    }();
    return fixture;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TFixture& f = Fixture();
    const qm::jet::TRowDecoder decoder(*f.file, f.def);
    std::vector<qm::jet::TJetValue> values;
    try {
        decoder.Decode(std::span(data, size), values);
    } catch (const qm::Error&) {
    }
    return 0;
}
