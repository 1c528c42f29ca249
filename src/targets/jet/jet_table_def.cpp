#include "targets/jet/jet_table_def.h"

#include <algorithm>
#include <span>

#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_text.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

constexpr std::size_t kColumnDescriptorSize = 25;
constexpr std::size_t kPhysicalIndexSize = 52;
constexpr std::size_t kLogicalIndexSize = 28;
constexpr std::size_t kIndexSlotSize = 12;
constexpr std::size_t kHeaderSize = 63;
// Enough for any real table (255 columns, 32 indexes), small enough to stop absurd counts.
constexpr std::uint32_t kMaxColumns = 4096;
constexpr std::uint32_t kMaxIndexes = 1024;
constexpr std::size_t kMaxDefinitionPages = 256;

// Reads a definition buffer front to back, failing on any read past its end.
class TCursor {
  public:
    TCursor(const TJetPageFile& file, std::span<const std::uint8_t> bytes, std::uint32_t page)
        : file_(file), bytes_(bytes), page_(page) {}

    std::size_t Position() const { return position_; }
    void Seek(std::size_t position) {
        Need(position, 0);
        position_ = position;
    }
    const std::uint8_t* Take(std::size_t count) {
        Need(position_, count);
        const std::uint8_t* p = bytes_.data() + position_;
        position_ += count;
        return p;
    }
    std::uint8_t U8() { return *Take(1); }
    std::uint16_t U16() { return ReadU16(Take(2)); }
    std::uint32_t U32() { return ReadU32(Take(4)); }
    std::u16string Name() {
        const std::uint16_t length = U16();
        return DecodeJetText({Take(length), length});
    }
    [[noreturn]] void Fail(std::u16string_view what) const {
        file_.FailDamaged(u"テーブル定義（ページ " + Utf8ToUtf16(std::to_string(page_)) + u"）の" +
                          std::u16string(what));
    }

  private:
    void Need(std::size_t position, std::size_t count) const {
        if (position > bytes_.size() || count > bytes_.size() - position) Fail(u"長さが足りません");
    }

    const TJetPageFile& file_;
    std::span<const std::uint8_t> bytes_;
    std::uint32_t page_;
    std::size_t position_ = 0;
};

}  // namespace

const TColumnDef* TTableDef::ColumnByNumber(std::uint16_t number) const {
    for (const auto& column : columns)
        if (column.number == number) return &column;
    return nullptr;
}

TTableDef ReadTableDef(const TJetPageFile& file, std::uint32_t page) {
    TTableDef def;
    def.page = page;
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t next = page; next != 0;) {
        if (def.pages.size() >= kMaxDefinitionPages ||
            std::find(def.pages.begin(), def.pages.end(), next) != def.pages.end())
            file.FailDamaged(u"テーブル定義のページの連鎖が循環しています");
        const std::uint8_t* p = file.PageOfType(next, kPageTableDef);
        def.pages.push_back(next);
        // The first page counts whole; continuation pages add what follows their 8-byte header.
        const std::size_t skip = bytes.empty() ? 0 : 8;
        bytes.insert(bytes.end(), p + skip, p + kPageSize);
        next = ReadU32(p + 4);
    }

    TCursor in(file, bytes, page);
    in.Seek(8);
    const std::uint32_t length = in.U32();
    if (length > bytes.size() || length < kHeaderSize) in.Fail(u"長さが不正です");
    TCursor cur(file, std::span(bytes).first(length), page);
    cur.Seek(16);
    def.rowCount = cur.U32();
    def.lastAutoNumber = cur.U32();
    cur.Seek(28);
    def.lastComplexKey = cur.U32();
    cur.Seek(40);
    def.tableType = cur.U8();
    def.maxColumns = cur.U16();
    def.varColumns = cur.U16();
    const std::uint16_t columnCount = cur.U16();
    const std::uint32_t logicalCount = cur.U32();
    const std::uint32_t physicalCount = cur.U32();
    def.ownedMap = cur.U32();
    def.freeMap = cur.U32();
    if (columnCount > kMaxColumns || logicalCount > kMaxIndexes || physicalCount > kMaxIndexes)
        cur.Fail(u"列または索引の数が不正です");
    if (columnCount > def.maxColumns) cur.Fail(u"列の数が最大列数を超えています");
    cur.Take(kIndexSlotSize * physicalCount);

    def.columns.resize(columnCount);
    for (auto& column : def.columns) {
        const std::uint8_t* d = cur.Take(kColumnDescriptorSize);
        column.type = d[0];
        column.number = ReadU16(d + 5);
        column.varIndex = ReadU16(d + 7);
        if (column.type == kTypeDecimal) {
            column.precision = d[11];
            column.scale = d[12];
        } else if (column.type == kTypeComplex) {
            column.complexId = static_cast<std::int32_t>(ReadU32(d + 11));
        } else {
            column.sortOrder = ReadU16(d + 11);
            column.sortVersion = d[14];
        }
        column.flags = d[15];
        column.extFlags = d[16];
        column.fixedOffset = ReadU16(d + 21);
        column.length = ReadU16(d + 23);
        if (column.number >= def.maxColumns) cur.Fail(u"列番号が最大列数を超えています");
        if (!column.IsFixed() && column.type != kTypeBoolean && column.varIndex >= def.varColumns)
            cur.Fail(u"可変長列の番号が不正です");
    }
    for (auto& column : def.columns)
        column.name = cur.Name();

    def.physicalIndexes.resize(physicalCount);
    for (auto& index : def.physicalIndexes) {
        const std::uint8_t* d = cur.Take(kPhysicalIndexSize);
        for (int i = 0; i < 10; ++i) {
            const std::uint16_t number = ReadU16(d + 4 + 3 * i);
            if (number == 0xFFFF) continue;
            index.columns.push_back({number, (d[6 + 3 * i] & 0x01) != 0});
        }
        index.usageMap = ReadU32(d + 34);
        index.rootPage = ReadU32(d + 38);
        index.flags = d[46];
    }
    def.logicalIndexes.resize(logicalCount);
    for (auto& index : def.logicalIndexes) {
        const std::uint8_t* d = cur.Take(kLogicalIndexSize);
        index.number = ReadU32(d + 4);
        index.physical = ReadU32(d + 8);
        index.foreignRole = d[12];
        index.foreignIndex = static_cast<std::int32_t>(ReadU32(d + 13));
        index.foreignTable = ReadU32(d + 17);
        index.kind = d[23];
        if (index.physical >= physicalCount) cur.Fail(u"索引の参照先が不正です");
    }
    for (auto& index : def.logicalIndexes)
        index.name = cur.Name();

    // Usage maps of long-value columns, ended by column number 0xFFFF.
    while (cur.Position() + 2 <= length) {
        const std::uint16_t number = cur.U16();
        if (number == 0xFFFF) break;
        TLongValueMaps maps;
        maps.column = number;
        maps.owned = cur.U32();
        maps.free = cur.U32();
        def.longValueMaps.push_back(maps);
    }
    return def;
}

}  // namespace qm::jet
