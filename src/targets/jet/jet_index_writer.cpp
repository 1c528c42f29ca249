#include "targets/jet/jet_index_writer.h"

#include <algorithm>
#include <cstring>

#include "platform/error.h"
#include "targets/jet/jet_data_page.h"
#include "targets/jet/jet_index.h"
#include "targets/jet/jet_index_key.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

// Deeper than any B-tree over a 2 GiB file can be.
constexpr std::size_t kMaxDepth = 32;

void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

std::string SortKeyOf(const std::string& key, std::uint32_t page, std::uint8_t row) {
    std::string sortKey = key;
    sortKey.push_back(static_cast<char>(page >> 16));
    sortKey.push_back(static_cast<char>(page >> 8));
    sortKey.push_back(static_cast<char>(page));
    sortKey.push_back(static_cast<char>(row));
    return sortKey;
}

std::string_view KeyPart(const std::string& sortKey) {
    return std::string_view(sortKey).substr(0, sortKey.size() - 4);
}

std::size_t FullSize(const TJetIndexWriter::TNode& node, const TJetIndexWriter::TEntry& entry) {
    return entry.sortKey.size() + (node.leaf ? 0 : 4);
}

void Recount(TJetIndexWriter::TNode& node) {
    node.bytes = 0;
    for (const auto& entry : node.entries)
        node.bytes += FullSize(node, entry);
}

// The bytes every entry of the page shares with the first one: the common start of the first
// and the last key (entries in between share it, being ordered).
std::size_t Prefix(const TJetIndexWriter::TNode& node) {
    if (node.entries.size() < 2) return 0;
    const std::string& first = node.entries.front().sortKey;
    const std::string& last = node.entries.back().sortKey;
    const std::size_t limit = std::min(first.size(), last.size()) - 4;
    std::size_t p = 0;
    while (p < limit && first[p] == last[p])
        ++p;
    return p;
}

}  // namespace

std::size_t TJetIndexWriter::UsedBytes(const TNode& node) {
    if (node.entries.empty()) return 0;
    return node.bytes - Prefix(node) * (node.entries.size() - 1);
}

void TJetIndexWriter::EncodeNode(const TNode& node, std::uint32_t owner, std::uint8_t* page) {
    const std::size_t used = UsedBytes(node);
    if (used > kIndexEntryArea) throw Error(u"索引ページに項目が収まりません。");
    std::memset(page, 0, kPageSize);
    page[0] = node.leaf ? kPageIndexLeaf : kPageIndexNode;
    page[1] = 1;
    Put16(page + 2, static_cast<std::uint32_t>(kIndexEntryArea - used));
    Put32(page + 4, owner);
    Put32(page + 12, node.previous);
    Put32(page + 16, node.next);
    Put32(page + 20, node.leaf ? 0 : node.tail);
    const std::size_t prefix = Prefix(node);
    Put16(page + 24, static_cast<std::uint32_t>(prefix));
    page[26] = node.leaf ? 0 : 1;
    std::size_t at = kIndexEntriesStart;
    for (std::size_t i = 0; i < node.entries.size(); ++i) {
        const TEntry& entry = node.entries[i];
        const std::size_t skip = i == 0 ? 0 : prefix;
        std::memcpy(page + at, entry.sortKey.data() + skip, entry.sortKey.size() - skip);
        at += entry.sortKey.size() - skip;
        if (!node.leaf) {
            page[at] = static_cast<std::uint8_t>(entry.child >> 24);
            page[at + 1] = static_cast<std::uint8_t>(entry.child >> 16);
            page[at + 2] = static_cast<std::uint8_t>(entry.child >> 8);
            page[at + 3] = static_cast<std::uint8_t>(entry.child);
            at += 4;
        }
        const std::size_t bit = at - kIndexEntriesStart;
        page[kIndexBitmapStart + bit / 8] =
            static_cast<std::uint8_t>(page[kIndexBitmapStart + bit / 8] | (1u << (bit % 8)));
    }
}

TJetIndexWriter::TJetIndexWriter(TJetPageAllocator& allocator, const TJetTable& table,
                                 std::size_t physical)
    : allocator_(allocator),
      table_(table),
      def_(table.Def()),
      index_(table.Def().physicalIndexes.at(physical)),
      decoder_(allocator.Store().File(), table.Def()) {
    name_ = Utf8ToUtf16(std::to_string(physical));
    bool primary = false;
    for (const auto& logical : def_.logicalIndexes)
        if (logical.physical == physical) {
            if (name_.empty() || logical.kind == kIndexPrimary || !primary) name_ = logical.name;
            if (logical.kind == kIndexPrimary) primary = true;
        }
    unique_ = primary || (index_.flags & kIndexUnique) != 0;
    required_ = primary || (index_.flags & kIndexRequired) != 0;
    // Read the root now, so that a tree this writer cannot follow refuses the table up front.
    Node(index_.rootPage);
}

TJetIndexWriter::TNode& TJetIndexWriter::Node(std::uint32_t page) {
    const auto found = nodes_.find(page);
    if (found != nodes_.end()) return found->second;
    const TJetPageFile& file = allocator_.Store().File();
    const TIndexPage read = ReadIndexPage(file, page);
    if (read.owner != def_.page)
        file.FailDamaged(u"索引ページ " + Utf8ToUtf16(std::to_string(page)) +
                         u" の所有者が違います");
    TNode node;
    node.leaf = read.leaf;
    node.previous = read.previous;
    node.next = read.next;
    node.tail = read.tail;
    for (const auto& entry : read.entries)
        node.entries.push_back({entry.SortKey(), entry.child});
    Recount(node);
    return nodes_.emplace(page, std::move(node)).first->second;
}

std::vector<TJetIndexWriter::TStep> TJetIndexWriter::Descend(const std::string& sortKey) {
    std::vector<TStep> path{{index_.rootPage, -1}};
    for (;;) {
        const TNode& node = Node(path.back().page);
        if (node.leaf) return path;
        if (path.size() > kMaxDepth) allocator_.Store().File().FailDamaged(u"索引の木が深すぎます");
        const auto it = std::lower_bound(
            node.entries.begin(), node.entries.end(), sortKey,
            [](const TEntry& entry, const std::string& key) { return entry.sortKey < key; });
        if (it != node.entries.end())
            path.push_back({it->child, static_cast<int>(it - node.entries.begin())});
        else if (node.tail != 0)
            path.push_back({node.tail, -1});
        else if (!node.entries.empty())
            path.push_back({node.entries.back().child, static_cast<int>(node.entries.size() - 1)});
        else
            allocator_.Store().File().FailDamaged(u"索引の中間ページが空です");
    }
}

std::uint32_t TJetIndexWriter::NewPage() {
    const std::uint32_t page = allocator_.Allocate();
    allocator_.SetBit(index_.usageMap, page, true);
    TNode node;
    node.dirty = true;
    nodes_[page] = std::move(node);
    return page;
}

const TJetIndexWriter::TEntry* TJetIndexWriter::Before(std::uint32_t leaf, std::size_t position) {
    if (position > 0) return &Node(leaf).entries[position - 1];
    for (std::uint32_t page = Node(leaf).previous; page != 0;) {
        const TNode& node = Node(page);
        if (!node.entries.empty()) return &node.entries.back();
        page = node.previous;
    }
    return nullptr;
}

const TJetIndexWriter::TEntry* TJetIndexWriter::After(std::uint32_t leaf, std::size_t position) {
    if (position < Node(leaf).entries.size()) return &Node(leaf).entries[position];
    for (std::uint32_t page = Node(leaf).next; page != 0;) {
        const TNode& node = Node(page);
        if (!node.entries.empty()) return &node.entries.front();
        page = node.next;
    }
    return nullptr;
}

std::optional<std::string> TJetIndexWriter::KeyOf(const TRowLayout& row,
                                                  const TPendingText& pending) const {
    if ((index_.flags & kIndexIgnoreNulls) && AllIndexColumnsNull(def_, index_, row))
        return std::nullopt;
    TRowIndexKey key = EncodeRowIndexKey(def_, index_, row, decoder_, pending);
    if (key.refusal)
        throw Error(TextKeyRefusalMessage(*key.refusal, name_, key.column->name, key.value));
    if (!key.Ok()) throw Error(u"索引「" + name_ + u"」のキーを作れません。");
    return std::move(key.bytes);
}

std::u16string TJetIndexWriter::Values(const TRowLayout& row, const TPendingText& pending) const {
    std::u16string values;
    for (const auto& ic : index_.columns) {
        const TColumnDef* column = def_.ColumnByNumber(ic.column);
        if (column == nullptr) continue;
        const std::u16string* text = pending ? pending(*column) : nullptr;
        values +=
            u"「" + (text ? *text : FormatJetValue(decoder_.DecodeColumn(row, *column))) + u"」";
    }
    return values;
}

std::u16string TJetIndexWriter::Fields() const {
    std::u16string fields;
    for (const auto& ic : index_.columns)
        if (const TColumnDef* column = def_.ColumnByNumber(ic.column))
            fields += u"「" + column->name + u"」";
    return fields;
}

// The index's values of the row an entry points to, as Values shows them; empty when they
// cannot be shown for sure (Long Text values: a row of this transaction keeps them in pages
// the file does not have yet).
std::u16string TJetIndexWriter::StoredValues(std::string_view sortKey) const {
    const std::size_t n = sortKey.size();
    const std::uint32_t page = (std::uint32_t{static_cast<std::uint8_t>(sortKey[n - 4])} << 16) |
                               (std::uint32_t{static_cast<std::uint8_t>(sortKey[n - 3])} << 8) |
                               static_cast<std::uint8_t>(sortKey[n - 2]);
    const auto slot = static_cast<std::uint8_t>(sortKey[n - 1]);
    try {
        for (const auto& ic : index_.columns) {
            const TColumnDef* column = def_.ColumnByNumber(ic.column);
            if (column == nullptr || column->IsLongValue()) return {};
        }
        const TJetPageStore& store = allocator_.Store();
        const std::uint8_t* bytes = store.Read(page);
        if (bytes[0] != kPageData) return {};
        const TRowSpan span = RowSpanOf(store.File(), bytes, page, slot);
        const std::uint16_t flags = static_cast<std::uint16_t>(
            bytes[kDataPageHeader + 2 * slot] | bytes[kDataPageHeader + 2 * slot + 1] << 8);
        if (flags & (kRowDeleted | kRowLookup)) return {};
        const TRowLayout row(store.File(), def_, {bytes + span.start, span.size});
        std::u16string values;
        for (const auto& ic : index_.columns)
            values += u"「" +
                      FormatJetValue(decoder_.DecodeColumn(row, *def_.ColumnByNumber(ic.column))) +
                      u"」";
        return values;
    } catch (const Error&) {
        return {};
    }
}

void TJetIndexWriter::RefuseDuplicate(const std::optional<std::string>& key, const TRowLayout& row,
                                      const TPendingText& pending) {
    bool anyNull = false;
    for (const auto& ic : index_.columns) {
        const TColumnDef* column = def_.ColumnByNumber(ic.column);
        if (column != nullptr && column->type != kTypeBoolean && !row.Cell(*column).present)
            anyNull = true;
    }
    if (anyNull && required_) {
        throw Error(u"フィールド" + Fields() + u"は主キーまたは値要求の索引「" + name_ +
                    u"」の一部のため、空にできません。");
    }
    if (!key || !unique_ || anyNull) return;
    const std::string probe = *key + std::string(4, '\0');
    const std::uint32_t leaf = Descend(probe).back().page;
    const TNode& node = Node(leaf);
    const auto position =
        static_cast<std::size_t>(std::lower_bound(node.entries.begin(), node.entries.end(), probe,
                                                  [](const TEntry& entry, const std::string& k) {
                                                      return entry.sortKey < k;
                                                  }) -
                                 node.entries.begin());
    const TEntry* next = After(leaf, position);
    if (next != nullptr && KeyPart(next->sortKey) == *key)
        FailDuplicate(next->sortKey, row, pending);
}

void TJetIndexWriter::FailDuplicate(std::string_view existing, const TRowLayout& row,
                                    const TPendingText& pending) const {
    const std::u16string values = Values(row, pending);
    const std::u16string stored = StoredValues(existing);
    std::u16string why = u"同じ値の行がすでにあります";
    if (!stored.empty() && stored != values)
        why = u"キーが同じになる値" + stored +
              u"の行がすでにあります。大文字と小文字、全角と半角、ひらがなとカタカナ、末尾の空白は"
              u"区別されません";
    throw Error(u"索引「" + name_ + u"」では値の重複が許されていないため、フィールド" + Fields() +
                u"の値" + values + u"の行は追加できません（" + why + u"）。");
}

bool TJetIndexWriter::Contains(const std::string& key) {
    // The least sort key with this key: entries of the key follow it directly.
    const std::string probe = key + std::string(4, '\0');
    const std::uint32_t leaf = Descend(probe).back().page;
    const TNode& node = Node(leaf);
    const auto position =
        static_cast<std::size_t>(std::lower_bound(node.entries.begin(), node.entries.end(), probe,
                                                  [](const TEntry& entry, const std::string& k) {
                                                      return entry.sortKey < k;
                                                  }) -
                                 node.entries.begin());
    const TEntry* next = After(leaf, position);
    return next != nullptr && KeyPart(next->sortKey) == key;
}

void TJetIndexWriter::Insert(const std::string& key, std::uint32_t page, std::uint8_t row) {
    const std::string sortKey = SortKeyOf(key, page, row);
    std::vector<TStep> path = Descend(sortKey);
    const std::uint32_t leafPage = path.back().page;
    TNode& leaf = Node(leafPage);
    const auto position =
        static_cast<std::size_t>(std::lower_bound(leaf.entries.begin(), leaf.entries.end(), sortKey,
                                                  [](const TEntry& entry, const std::string& k) {
                                                      return entry.sortKey < k;
                                                  }) -
                                 leaf.entries.begin());
    const TEntry* before = Before(leafPage, position);
    const TEntry* after = After(leafPage, position);
    if (!(before && KeyPart(before->sortKey) == key) && !(after && KeyPart(after->sortKey) == key))
        ++distinct_;
    TNode& target = Node(leafPage);
    target.entries.insert(target.entries.begin() + static_cast<std::ptrdiff_t>(position),
                          {sortKey, 0});
    target.bytes += sortKey.size();
    target.dirty = true;
    const bool atEnd = position + 1 == target.entries.size();
    if (atEnd) PropagateMax(path, path.size() - 1);
    if (UsedBytes(target) > kIndexEntryArea)
        Split(path, path.size() - 1, atEnd && target.next == 0);
}

void TJetIndexWriter::PropagateMax(const std::vector<TStep>& path, std::size_t level) {
    for (std::size_t l = level; l > 0; --l) {
        const TStep& step = path[l];
        if (step.entry < 0) continue;  // a tail has no entry; its parent's greatest changed
        TNode& parent = Node(path[l - 1].page);
        TEntry& entry = parent.entries[static_cast<std::size_t>(step.entry)];
        std::uint32_t page = step.page;
        for (std::size_t depth = 0;; ++depth) {
            const TNode& node = Node(page);
            if (node.leaf || node.tail == 0 || depth > kMaxDepth) {
                entry.sortKey = node.entries.empty() ? entry.sortKey : node.entries.back().sortKey;
                break;
            }
            page = node.tail;
        }
        Recount(parent);
        parent.dirty = true;
        if (static_cast<std::size_t>(step.entry) + 1 != parent.entries.size() || parent.tail != 0)
            break;
    }
}

void TJetIndexWriter::Split(std::vector<TStep>& path, std::size_t level, bool appendAtEnd) {
    if (level == 0) {
        // The root keeps its page number: its content moves to a new page below it.
        const std::uint32_t child = NewPage();
        TNode& root = Node(path[0].page);
        TNode moved = root;
        moved.previous = moved.next = 0;
        moved.dirty = true;
        root.leaf = false;
        root.entries.clear();
        root.tail = child;
        root.bytes = 0;
        root.previous = root.next = 0;
        root.dirty = true;
        nodes_[child] = std::move(moved);
        path.insert(path.begin() + 1, TStep{child, -1});
        level = 1;
    }
    const std::uint32_t leftPage = path[level].page;
    const std::uint32_t rightPage = NewPage();
    TNode& left = Node(leftPage);
    TNode& right = Node(rightPage);
    right.leaf = left.leaf;
    const std::size_t count = left.entries.size();
    const std::size_t keep = left.leaf && appendAtEnd ? count - 1 : count / 2;
    right.entries.assign(left.entries.begin() + static_cast<std::ptrdiff_t>(keep),
                         left.entries.end());
    left.entries.resize(keep);
    if (!left.leaf) {
        // The left page's last child becomes its tail; the right page takes the old tail.
        right.tail = left.tail;
        left.tail = left.entries.back().child;
        left.entries.pop_back();
    }
    right.previous = leftPage;
    right.next = left.next;
    if (left.next != 0) {
        TNode& after = Node(left.next);
        after.previous = rightPage;
        after.dirty = true;
    }
    TNode& leftAgain = Node(leftPage);
    leftAgain.next = rightPage;
    leftAgain.dirty = true;
    Recount(leftAgain);
    Recount(Node(rightPage));
    Node(rightPage).dirty = true;

    auto maxBelow = [&](std::uint32_t page) {
        for (std::size_t depth = 0;; ++depth) {
            const TNode& node = Node(page);
            if (node.leaf || node.tail == 0 || depth > kMaxDepth)
                return node.entries.back().sortKey;
            page = node.tail;
        }
    };
    const std::string leftMax = maxBelow(leftPage);
    const std::string rightMax = maxBelow(rightPage);
    TNode& parent = Node(path[level - 1].page);
    const int entry = path[level].entry;
    if (entry >= 0) {
        parent.entries[static_cast<std::size_t>(entry)].sortKey = leftMax;
        parent.entries.insert(parent.entries.begin() + entry + 1, TEntry{rightMax, rightPage});
    } else {
        parent.entries.push_back({leftMax, leftPage});
        parent.tail = rightPage;
    }
    Recount(parent);
    parent.dirty = true;
    if (UsedBytes(parent) > kIndexEntryArea) Split(path, level - 1, entry < 0);
}

void TJetIndexWriter::Finish() {
    TJetPageStore& store = allocator_.Store();
    for (auto& [page, node] : nodes_) {
        if (!node.dirty) continue;  // (the order pages are encoded in does not matter)
        EncodeNode(node, def_.page, store.Write(page));
        node.dirty = false;
    }
}

}  // namespace qm::jet
