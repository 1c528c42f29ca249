#include "targets/jet/jet_check.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "platform/error.h"
#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_data_page.h"
#include "targets/jet/jet_index.h"
#include "targets/jet/jet_index_key.h"
#include "targets/jet/jet_long_value.h"
#include "targets/jet/jet_row_index_key.h"
#include "targets/jet/jet_usage_map.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

std::u16string Num(std::uint64_t value) {
    return Utf8ToUtf16(std::to_string(value));
}

// The global map of free pages is row 0 of page 1.
constexpr std::uint32_t kGlobalMapPointer = 1u << 8;
constexpr std::uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL"

class TChecker {
  public:
    TChecker(const TJetDatabase& database, TCheckOptions options, TCheckReport& report,
             const std::set<std::uint32_t>* fullTables = nullptr)
        : db_(database),
          file_(database.File()),
          options_(options),
          report_(report),
          fullTables_(fullTables) {}

    void Run() {
        try {
            global_ = ReadUsageMap(file_, kGlobalMapPointer);
        } catch (const Error& e) {
            Problem(u"", e.Message());
            return;
        }
        Claim(0, u"ヘッダー");
        Claim(1, u"全体の使用状況マップ");
        SweepDataPages();
        for (const auto& entry : db_.Catalog().Entries()) {
            // Local tables, and linked tables that keep a local definition of their columns.
            const bool local = entry.type == kObjectTable;
            const bool linked = entry.type == kObjectLinkedTable || entry.type == kObjectLinkedOdbc;
            if (!local && !linked) continue;
            if (entry.id <= 2 && !(local && entry.id == 2)) continue;
            const auto page = static_cast<std::uint32_t>(entry.id);
            if (linked && (page >= file_.PageCount() || file_.Page(page)[0] != kPageTableDef))
                continue;
            current_ = entry.name;
            if (fullTables_ && !fullTables_->count(page)) {
                try {
                    ClaimTablePages(page);
                } catch (const Error& e) {
                    Problem(entry.name, e.Message());
                }
                continue;
            }
            TTableCheck check;
            check.table = entry.name;
            try {
                CheckTable(page, check);
            } catch (const Error& e) {
                Problem(entry.name, e.Message());
            }
            report_.tables.push_back(check);
        }
        current_.clear();
        // Every page in use must be accounted for by some table, index or map.
        for (std::uint32_t page = 2; page < file_.PageCount(); ++page) {
            if (global_.Contains(page) || claimed_.count(page) || mapHolders_.count(page)) continue;
            const std::uint8_t* bytes = file_.Page(page);
            // Access grows files by several pages at a time and leaves the spare ones zeroed
            // (and not marked free); they hold nothing.
            if (std::all_of(bytes, bytes + kPageSize, [](std::uint8_t b) { return b == 0; }))
                continue;
            const std::uint8_t type = bytes[0];
            if (type == kPageData && !HasLiveRows(page))
                Warning(u"", u"ページ " + Num(page) +
                                 u" は行がすべて削除されていますが、空きページに戻されていません");
            else if ((type == kPageData || type == 0x09) && ReadU32(bytes + 4) == kLongValueOwner)
                Warning(u"", u"LVALページ " + Num(page) +
                                 u" の長いデータはどの行からも参照されていません");
            else if (type == kPageTableDef)
                // Left behind when Access rewrote a longer definition of a table.
                Warning(u"", u"テーブル定義ページ " + Num(page) +
                                 u" はどのテーブルからも参照されていません");
            else
                Problem(u"", u"ページ " + Num(page) + u"（種類 " + Num(type) +
                                 u"）は使用中ですが、どのテーブルにも属していません");
        }
    }

  private:
    bool HasLiveRows(std::uint32_t page) const {
        const TDataPage data(file_, page);
        for (std::uint16_t slot = 0; slot < data.SlotCount(); ++slot)
            if (!(data.SlotFlags(slot) & kRowDeleted)) return true;
        return false;
    }

    void Warning(std::u16string_view table, std::u16string_view text) {
        if (options_.strict) return Problem(table, text);
        std::u16string line;
        if (!table.empty()) line = u"テーブル「" + std::u16string(table) + u"」: ";
        line += text;
        report_.warnings.push_back(std::move(line));
    }

    void Problem(std::u16string_view table, std::u16string_view text) {
        std::u16string line;
        if (!table.empty()) line = u"テーブル「" + std::u16string(table) + u"」: ";
        line += text;
        report_.problems.push_back(std::move(line));
    }
    void Problem(std::u16string_view text) { Problem(current_, text); }

    void Claim(std::uint32_t page, std::u16string_view what) {
        if (page >= file_.PageCount()) {
            Problem(std::u16string(what) + u"のページ " + Num(page) + u" がファイルの外にあります");
            return;
        }
        if (global_.Contains(page))
            Problem(std::u16string(what) + u"のページ " + Num(page) +
                    u" が全体の使用状況マップで空きとされています");
        const auto [it, added] = claimed_.emplace(page, std::u16string(what));
        if (!added)
            Problem(u"ページ " + Num(page) + u" が" + it->second + u"と" + std::u16string(what) +
                    u"の両方に使われています");
    }

    TUsageMap Map(std::uint32_t pointer) {
        if (pointer == 0) return {};
        mapHolders_.insert(TRowPointer::FromRaw(pointer).page);
        TUsageMap map = ReadUsageMap(file_, pointer);
        for (const std::uint32_t page : map.bitmapPages)
            bitmapPages_.insert(page), mapHolders_.insert(page);
        return map;
    }

    // Data pages in use, by owner.
    void SweepDataPages() {
        for (std::uint32_t page = 2; page < file_.PageCount(); ++page) {
            if (global_.Contains(page)) continue;
            const std::uint8_t* p = file_.Page(page);
            if (p[0] == kPageData) dataPagesByOwner_[ReadU32(p + 4)].insert(page);
        }
    }

    // The pages a table's definition and maps name, claimed without reading its rows or
    // walking its trees: what a table not being written needs so that no page of it is mistaken
    // for a free one.
    void ClaimTablePages(std::uint32_t tdefPage) {
        const auto table = db_.OpenTableAtPage(current_, tdefPage);
        const TTableDef& def = table->Def();
        for (const std::uint32_t page : def.pages)
            Claim(page, u"テーブル定義");
        const TUsageMap owned = Map(def.ownedMap);
        Map(def.freeMap);
        const std::set<std::uint32_t>& inUse = dataPagesByOwner_[tdefPage];
        for (const std::uint32_t page : owned.pages)
            if (page < file_.PageCount() && !global_.Contains(page) && !inUse.count(page))
                Problem(u"所有ページのマップにあるページ " + Num(page) +
                        u" はこのテーブルの使用中データページではありません");
            else
                Claim(page, u"テーブル「" + current_ + u"」のデータ");
        for (const std::uint32_t page : inUse)
            if (!owned.Contains(page) && HasLiveRows(page))
                Problem(u"データページ " + Num(page) + u" が所有ページのマップにありません");
        for (const auto& maps : def.longValueMaps) {
            const TColumnDef* column = def.ColumnByNumber(maps.column);
            const std::u16string name = column ? column->name : Num(maps.column);
            const TUsageMap lvOwned = Map(maps.owned);
            Map(maps.free);
            for (const std::uint32_t page : lvOwned.pages)
                if (page < file_.PageCount() && !global_.Contains(page) &&
                    !TDataPage(file_, page).IsLongValuePage())
                    Problem(u"列「" + name + u"」の長いデータのマップにあるページ " + Num(page) +
                            u" は使用中のLVALページではありません");
                else
                    Claim(page, u"列「" + name + u"」の長いデータ");
        }
        for (std::size_t i = 0; i < def.physicalIndexes.size(); ++i)
            for (const std::uint32_t page : Map(def.physicalIndexes[i].usageMap).pages)
                Claim(page, u"索引 " + Num(i));
    }

    void CheckTable(std::uint32_t tdefPage, TTableCheck& check) {
        const auto table = db_.OpenTableAtPage(current_, tdefPage);
        const TTableDef& def = table->Def();
        for (const std::uint32_t page : def.pages)
            Claim(page, u"テーブル定義");
        check.storedRowCount = def.rowCount;

        const TUsageMap owned = Map(def.ownedMap);
        const TUsageMap freeSpace = Map(def.freeMap);
        const std::set<std::uint32_t>& inUse = dataPagesByOwner_[tdefPage];
        for (const std::uint32_t page : owned.pages) {
            if (page < file_.PageCount() && global_.Contains(page))
                Problem(u"データページ " + Num(page) +
                        u" が全体の使用状況マップで空きとされています");
            else if (page >= file_.PageCount() || !inUse.count(page))
                Problem(u"所有ページのマップにあるページ " + Num(page) +
                        u" はこのテーブルの使用中データページではありません");
            else
                Claim(page, u"テーブル「" + current_ + u"」のデータ");
        }
        for (const std::uint32_t page : inUse)
            if (!owned.Contains(page)) {
                if (HasLiveRows(page))
                    Problem(u"データページ " + Num(page) + u" が所有ページのマップにありません");
                // otherwise the sweep over unclaimed pages reports it as not released
            }
        for (const std::uint32_t page : freeSpace.pages)
            if (!owned.Contains(page))
                Problem(u"空きのあるページのマップにあるページ " + Num(page) +
                        u" が所有ページのマップにありません");

        // Rows: decode every value, collect long-value pages and row positions.
        const TRowDecoder decoder(file_, def);
        std::map<std::uint16_t, std::set<std::uint32_t>> longValuePages;
        std::vector<std::pair<std::uint32_t, std::uint8_t>> positions;
        std::vector<TLiveRow> rows;
        TTableScan scan(file_, def);
        TLiveRow row;
        while (scan.Next(row)) {
            // Before writing, only the count matters: an append neither reads nor changes
            // the rows already there.
            if (fullTables_) {
                ++check.liveRows;
                continue;
            }
            const TRowLayout layout(file_, def, row.bytes);
            for (const auto& column : def.columns) {
                if (column.IsLongValue() && !column.IsCalculated()) {
                    const TCellBytes cell = layout.Cell(column);
                    if (!cell.present) continue;
                    std::vector<std::uint32_t> pages;
                    ReadLongValue(file_, cell.bytes, &pages);
                    longValuePages[column.number].insert(pages.begin(), pages.end());
                } else if (column.type != kTypeComplex) {
                    decoder.DecodeColumn(layout, column);
                }
            }
            rows.push_back(row);
            ++check.liveRows;
        }
        if (check.liveRows > def.rowCount)
            Warning(current_, u"行数が定義では " + Num(def.rowCount) + u" 行ですが、実際には " +
                                  Num(check.liveRows) + u" 行あります");
        else if (check.liveRows != def.rowCount)
            Problem(u"行数が定義では " + Num(def.rowCount) + u" 行ですが、実際には " +
                    Num(check.liveRows) + u" 行あります");

        // Older Jet 4 definitions have no maps for some long-value columns; their pages belong
        // to the column all the same.
        for (const auto& [number, pages] : longValuePages) {
            const bool mapped = std::any_of(
                def.longValueMaps.begin(), def.longValueMaps.end(),
                [number = number](const TLongValueMaps& m) { return m.column == number; });
            if (mapped) continue;
            const TColumnDef* column = def.ColumnByNumber(number);
            for (const std::uint32_t page : pages)
                ClaimShared(page,
                            u"列「" + (column ? column->name : Num(number)) + u"」の長いデータ",
                            number + 65536ull * def.page);
        }
        for (const auto& maps : def.longValueMaps) {
            const TColumnDef* column = def.ColumnByNumber(maps.column);
            const std::u16string name = column ? column->name : Num(maps.column);
            const TUsageMap lvOwned = Map(maps.owned);
            const TUsageMap lvFree = Map(maps.free);
            for (const std::uint32_t page : lvOwned.pages) {
                if (page >= file_.PageCount() || global_.Contains(page) ||
                    !TDataPage(file_, page).IsLongValuePage())
                    Problem(u"列「" + name + u"」の長いデータのマップにあるページ " + Num(page) +
                            u" は使用中のLVALページではありません");
                else
                    Claim(page, u"列「" + name + u"」の長いデータ");
            }
            for (const std::uint32_t page : longValuePages[maps.column])
                if (!lvOwned.Contains(page))
                    Problem(u"列「" + name + u"」の長いデータのページ " + Num(page) +
                            u" が列のマップにありません");
            for (const std::uint32_t page : lvFree.pages)
                if (!lvOwned.Contains(page))
                    Problem(u"列「" + name + u"」の空きのあるLVALページ " + Num(page) +
                            u" が列のマップにありません");
        }

        for (std::size_t i = 0; i < def.physicalIndexes.size(); ++i)
            CheckIndex(def, i, rows, check);
    }

    void CheckIndex(const TTableDef& def, std::size_t number, const std::vector<TLiveRow>& rows,
                    TTableCheck& check) {
        const TPhysicalIndex& index = def.physicalIndexes[number];
        std::u16string name = u"索引 " + Num(number);
        for (const auto& logical : def.logicalIndexes)
            if (logical.physical == number) {
                name = u"索引「" + logical.name + u"」";
                break;
            }
        ++check.indexes;
        // Before writing, only the shape, pages and order are looked at (see below): the
        // entries need not be kept, which on a table of millions of rows is most of the memory
        // and much of the time of the check.
        const TIndexTree tree = WalkIndexTree(
            file_, index.rootPage, fullTables_ ? TIndexWalk::kShape : TIndexWalk::kEntries);
        for (const auto& text : tree.problems)
            Problem(name + u": " + text);

        const TUsageMap map = Map(index.usageMap);
        std::set<std::uint32_t> treePages;
        for (const auto& page : tree.pages) {
            treePages.insert(page.number);
            if (page.owner != def.page)
                Problem(name + u": ページ " + Num(page.number) + u" の所有者が違います");
            if (!map.Contains(page.number))
                Problem(name + u": ページ " + Num(page.number) + u" が索引のマップにありません");
            Claim(page.number, name);
        }
        for (const std::uint32_t page : map.pages)
            if (!treePages.count(page))
                Problem(name + u": マップにあるページ " + Num(page) + u" は木に含まれていません");

        // Leaves are chained in order in both directions.
        std::unordered_map<std::uint32_t, const TIndexPage*> pageByNumber;
        for (const auto& page : tree.pages)
            pageByNumber.emplace(page.number, &page);
        for (std::size_t i = 0; i < tree.leafPages.size(); ++i) {
            const TIndexPage* leaf = pageByNumber.at(tree.leafPages[i]);
            const std::uint32_t previous = i == 0 ? 0 : tree.leafPages[i - 1];
            const std::uint32_t next = i + 1 == tree.leafPages.size() ? 0 : tree.leafPages[i + 1];
            if (leaf->previous != previous || leaf->next != next)
                Problem(name + u": 葉ページ " + Num(leaf->number) + u" の前後のリンクが不正です");
        }
        if (tree.firstDisorder)
            Problem(name + u": 項目が昇順に並んでいません（" + Num(*tree.firstDisorder) +
                    u" 番目）");

        // Before writing, the tree's shape, pages and order are what an insert builds on; the
        // entries of the rows already there are left to the full check.
        if (fullTables_) return;

        // One entry per live row, pointing at the row's slot, with the row's key.
        std::map<std::pair<std::uint32_t, std::uint8_t>, const TIndexEntry*> entries;
        for (const auto& entry : tree.leafEntries)
            if (!entries.emplace(std::make_pair(entry.page, entry.row), &entry).second)
                Problem(name + u": 行（ページ " + Num(entry.page) + u"、" + Num(entry.row) +
                        u" 番）の項目が重複しています");
        const bool encodable = CanEncodeIndexKey(def, index);
        // Text keys depend on the sort order's tables: strict checks rebuild them too, through
        // the same encoder the writer uses, and count the values it cannot prove a key for.
        bool textKeys = false;
        if (!encodable && options_.strict) {
            textKeys = true;
            for (const auto& ic : index.columns) {
                const TColumnDef* column = def.ColumnByNumber(ic.column);
                if (column == nullptr || !IndexColumnKeyable(*column)) textKeys = false;
            }
        }
        const TRowDecoder decoder(file_, def);
        std::size_t expected = 0;
        for (const auto& row : rows) {
            const TRowLayout layout(file_, def, row.bytes);
            const bool skip =
                (index.flags & kIndexIgnoreNulls) && AllIndexColumnsNull(def, index, layout);
            const auto found = entries.find({row.page, static_cast<std::uint8_t>(row.slot)});
            if (skip) {
                if (found != entries.end())
                    Problem(name + u": NULLを無視する索引にNULLの行（ページ " + Num(row.page) +
                            u"、" + Num(row.slot) + u" 番）があります");
                continue;
            }
            ++expected;
            if (found == entries.end()) {
                Problem(name + u": 行（ページ " + Num(row.page) + u"、" + Num(row.slot) +
                        u" 番）の項目がありません");
                continue;
            }
            if (encodable) {
                const auto key = EncodeIndexKey(def, index, layout);
                if (key && *key != found->second->key)
                    Problem(name + u": 行（ページ " + Num(row.page) + u"、" + Num(row.slot) +
                            u" 番）の項目のキーが行の値と一致しません");
                ++check.keysCompared;
            } else if (textKeys) {
                const TRowIndexKey key = EncodeRowIndexKey(def, index, layout, decoder);
                if (!key.Ok()) {
                    ++check.keysNotProvable;
                    continue;
                }
                if (key.bytes != found->second->key)
                    Problem(name + u": 行（ページ " + Num(row.page) + u"、" + Num(row.slot) +
                            u" 番）の項目のキーが行の値から作ったキーと一致しません");
                ++check.keysCompared;
            }
        }
        if (tree.leafEntries.size() != expected)
            Problem(name + u": 項目が " + Num(tree.leafEntries.size()) + u" 個ありますが、行は " +
                    Num(expected) + u" 行です");
    }

    // A page that several values of one column share is claimed once for that column.
    void ClaimShared(std::uint32_t page, std::u16string_view what, std::uint64_t owner) {
        const auto it = claimedBy_.find(page);
        if (it != claimedBy_.end() && it->second == owner) return;
        claimedBy_[page] = owner;
        Claim(page, what);
    }

    const TJetDatabase& db_;
    const TJetPageFile& file_;
    TCheckOptions options_;
    TCheckReport& report_;
    const std::set<std::uint32_t>* fullTables_;  // null: every table in full
    std::map<std::uint32_t, std::uint64_t> claimedBy_;
    TUsageMap global_;
    std::u16string current_;
    std::map<std::uint32_t, std::u16string> claimed_;
    std::set<std::uint32_t> mapHolders_;
    std::set<std::uint32_t> bitmapPages_;
    std::map<std::uint32_t, std::set<std::uint32_t>> dataPagesByOwner_;
};

}  // namespace

TCheckReport CheckDatabase(const TJetDatabase& database, TCheckOptions options) {
    TCheckReport report;
    TChecker(database, options, report).Run();
    return report;
}

TCheckReport CheckDatabaseForWriting(const TJetDatabase& database,
                                     const std::set<std::uint32_t>& fullTables) {
    TCheckReport report;
    TChecker(database, {}, report, &fullTables).Run();
    return report;
}

}  // namespace qm::jet
