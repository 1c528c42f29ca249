// Rows encoded from arbitrary values and decoded again: every value the encoder accepts must
// read back as it was written, and every value it refuses must be refused with an Error.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_row.h"
#include "targets/jet/jet_row_encoder.h"
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
                               {u"f", kTypeByte},
                               {u"g", kTypeInteger},
                               {u"h", kTypeDateTime},
                               {u"i", kTypeBigInt},
                               {u"j", kTypeSingle},
                               {u"k", kTypeText, 255}}}});
        TFixture f;
        f.file = TJetPageFile::FromBytes(builder.Finish(), u"fuzz.mdb");
        f.def = ReadTableDef(*f.file, 4);
        f.def.columns[10].extFlags = kColumnCompressible;
        return f;
    }();
    return fixture;
}

class TInput {
  public:
    TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::int64_t Integer() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v = (v << 8) | Byte();
        return static_cast<std::int64_t>(v);
    }
    std::u16string Text() {
        const std::size_t length = Byte() % 40;
        std::u16string text;
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint8_t high = Byte();
            text.push_back(static_cast<char16_t>((high & 0x80 ? high << 8 : 0) | Byte()));
        }
        return text;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qm;
    using namespace qm::jet;
    const TFixture& f = Fixture();
    TInput in(data, size);
    std::vector<TValue> values(f.def.columns.size());
    std::vector<TCellValue> cells(f.def.columns.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const TColumnDef& column = f.def.columns[i];
        switch (in.Byte() % 4) {
            case 0:
                break;  // NULL
            case 1:
                values[i] = in.Integer();
                break;
            case 2: {
                double d;
                const std::int64_t bits = in.Integer();
                std::memcpy(&d, &bits, sizeof d);
                values[i] = d;
                break;
            }
            default:
                values[i] =
                    column.type == kTypeCurrency ? TValue(TDecimal{"12.5"}) : TValue(in.Text());
                break;
        }
        try {
            cells[i] = EncodeColumnValue(column, values[i]);
        } catch (const Error&) {
            values[i] = TValue{};
            cells[i] = {};
        }
    }
    std::string row;
    try {
        row = EncodeRow(f.def, cells);
    } catch (const Error&) {
        return 0;
    }
    if (row.size() > kMaxRowSize) __builtin_trap();
    const TRowDecoder decoder(*f.file, f.def);
    std::vector<TJetValue> decoded;
    decoder.Decode({reinterpret_cast<const std::uint8_t*>(row.data()), row.size()}, decoded);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const TColumnDef& column = f.def.columns[i];
        const TValue& v = values[i];
        if (column.type == kTypeBoolean) {
            if ((decoded[i].integer != 0) != cells[i].present) __builtin_trap();
            continue;
        }
        if (IsNull(v) != decoded[i].IsNull()) __builtin_trap();
        if (const auto* n = std::get_if<std::int64_t>(&v)) {
            if (column.type != kTypeCurrency && column.type != kTypeDouble &&
                column.type != kTypeSingle && column.type != kTypeDateTime &&
                decoded[i].integer != *n)
                __builtin_trap();
        } else if (const auto* t = std::get_if<std::u16string>(&v)) {
            if (decoded[i].text != *t) __builtin_trap();
        } else if (const auto* d = std::get_if<double>(&v)) {
            if (column.type == kTypeDouble && decoded[i].real != *d) __builtin_trap();
        }
    }
    return 0;
}
