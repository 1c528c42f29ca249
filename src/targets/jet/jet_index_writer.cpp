#include "targets/jet/jet_index_writer.h"

#include <algorithm>
#include <bit>
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

// Whether sort key `a` orders before `b`, byte by byte as unsigned values. Keys are short
// (a numeric key with its row pointer is 9 bytes): comparing eight bytes at a time here costs
// less than a call to memcmp.
bool KeyLess(std::string_view a, std::string_view b) {
    static_assert(std::endian::native == std::endian::little, "the byte swap below");
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y);
    }
    for (; i < n; ++i)
        if (a[i] != b[i])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
    return a.size() < b.size();
}

std::string_view KeyPart(std::string_view sortKey) {
    return sortKey.substr(0, sortKey.size() - 4);
}

// The bytes every entry of the page shares with the first one: the common start of the first
// and the last key (entries in between share it, being ordered).
std::size_t Prefix(const TJetIndexWriter::TNode& node) {
    if (node.Size() < 2) return 0;
    const std::string_view first = node.Front();
    const std::string_view last = node.Back();
    const std::size_t limit = std::min(first.size(), last.size()) - 4;
    std::size_t p = 0;
    while (p < limit && first[p] == last[p])
        ++p;
    return p;
}

}  // namespace

std::size_t TJetIndexWriter::TNode::LowerBound(std::string_view sortKey) const {
    const std::size_t n = Size();
    // Keys that go after every entry (ever-growing keys) are the common case: one comparison.
    if (n == 0 || KeyLess(Back(), sortKey)) return n;
    // The answer lies in [low, low + length]: at most n - 1, as Back() is not less.
    std::size_t low = 0, length = n - 1;
    while (length > 0) {
        const std::size_t half = length / 2;
        // A search through a page not in the cache waits on memory at every step: ask now
        // for both places the next step may look at.
        if (width != 0) {
            __builtin_prefetch(keys.data() + (low + half / 2) * width);
            __builtin_prefetch(keys.data() + (low + half + 1 + (length - half - 1) / 2) * width);
        }
        if (KeyLess(Key(low + half), sortKey)) {
            low += half + 1;
            length -= half + 1;
        } else {
            length = half;
        }
    }
    return low;
}

void TJetIndexWriter::TNode::Vary() {
    ends.resize(count);
    for (std::size_t k = 0; k < count; ++k)
        ends[k] = static_cast<std::uint32_t>((k + 1) * width);
    width = 0;
}

void TJetIndexWriter::TNode::Insert(std::size_t i, std::string_view sortKey, std::uint32_t child) {
    if (count == 0 && ends.empty())
        width = sortKey.size();
    else if (width != 0 && sortKey.size() != width)
        Vary();
    if (width != 0) {
        keys.insert(i * width, sortKey);
    } else {
        const std::size_t start = i == 0 ? 0 : ends[i - 1];
        const auto length = static_cast<std::uint32_t>(sortKey.size());
        keys.insert(start, sortKey);
        ends.insert(ends.begin() + static_cast<std::ptrdiff_t>(i),
                    static_cast<std::uint32_t>(start));
        for (std::size_t k = i; k < ends.size(); ++k)
            ends[k] += length;
    }
    ++count;
    if (!leaf) children.insert(children.begin() + static_cast<std::ptrdiff_t>(i), child);
}

void TJetIndexWriter::TNode::SetKey(std::size_t i, std::string_view sortKey) {
    if (width != 0 && sortKey.size() != width) Vary();
    if (width != 0) {
        keys.replace(i * width, width, sortKey);
        return;
    }
    const std::size_t start = i == 0 ? 0 : ends[i - 1];
    const std::size_t length = ends[i] - start;
    keys.replace(start, length, sortKey);
    const auto grown = static_cast<std::uint32_t>(sortKey.size() - length);  // modulo 2^32
    for (std::size_t k = i; k < ends.size(); ++k)
        ends[k] += grown;
}

TJetIndexWriter::TNode TJetIndexWriter::TNode::SplitOff(std::size_t kept) {
    TNode rest;
    rest.leaf = leaf;
    rest.width = width;
    rest.count = count - kept;
    const std::size_t cut = width != 0 ? kept * width : kept == 0 ? 0 : ends[kept - 1];
    rest.keys.assign(keys, cut);
    if (width == 0) {
        rest.ends.reserve(rest.count);
        for (std::size_t k = kept; k < count; ++k)
            rest.ends.push_back(static_cast<std::uint32_t>(ends[k] - cut));
        ends.resize(kept);
    }
    if (!leaf)
        rest.children.assign(children.begin() + static_cast<std::ptrdiff_t>(kept), children.end());
    keys.resize(cut);
    count = kept;
    if (!leaf) children.resize(kept);
    return rest;
}

void TJetIndexWriter::TNode::Clear() {
    keys.clear();
    ends.clear();
    children.clear();
    count = 0;
    width = 0;
}

std::size_t TJetIndexWriter::UsedBytes(const TNode& node) {
    if (node.Empty()) return 0;
    return node.FullBytes() - Prefix(node) * (node.Size() - 1);
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
    for (std::size_t i = 0; i < node.Size(); ++i) {
        const std::string_view key = node.Key(i).substr(i == 0 ? 0 : prefix);
        std::memcpy(page + at, key.data(), key.size());
        at += key.size();
        if (!node.leaf) {
            const std::uint32_t child = node.Child(i);
            page[at] = static_cast<std::uint8_t>(child >> 24);
            page[at + 1] = static_cast<std::uint8_t>(child >> 16);
            page[at + 2] = static_cast<std::uint8_t>(child >> 8);
            page[at + 3] = static_cast<std::uint8_t>(child);
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
    if (page < nodes_.size() && nodes_[page]) return *nodes_[page];
    const TJetPageFile& file = allocator_.Store().File();
    const TIndexPage read = ReadIndexPage(file, page);
    if (read.owner != def_.page)
        file.FailDamaged(u"索引ページ " + Utf8ToUtf16(std::to_string(page)) +
                         u" の所有者が違います");
    auto node = std::make_unique<TNode>();
    node->leaf = read.leaf;
    node->previous = read.previous;
    node->next = read.next;
    node->tail = read.tail;
    for (const auto& entry : read.entries)
        node->Append(entry.SortKey(), entry.child);
    if (page >= nodes_.size()) nodes_.resize(page + 1);
    nodes_[page] = std::move(node);
    return *nodes_[page];
}

void TJetIndexWriter::Descend(std::string_view sortKey, std::vector<TStep>& path) {
    path.assign(1, {index_.rootPage, -1});
    for (;;) {
        const TNode& node = Node(path.back().page);
        if (node.leaf) return;
        if (path.size() > kMaxDepth) allocator_.Store().File().FailDamaged(u"索引の木が深すぎます");
        const std::size_t at = node.LowerBound(sortKey);
        if (at != node.Size())
            path.push_back({node.Child(at), static_cast<int>(at)});
        else if (node.tail != 0)
            path.push_back({node.tail, -1});
        else if (!node.Empty())
            path.push_back({node.Child(node.Size() - 1), static_cast<int>(node.Size() - 1)});
        else
            allocator_.Store().File().FailDamaged(u"索引の中間ページが空です");
    }
}

std::uint32_t TJetIndexWriter::NewPage() {
    const std::uint32_t page = allocator_.Allocate();
    allocator_.SetBit(index_.usageMap, page, true);
    if (page >= nodes_.size()) nodes_.resize(page + 1);
    nodes_[page] = std::make_unique<TNode>();
    nodes_[page]->dirty = true;
    return page;
}

std::optional<std::string_view> TJetIndexWriter::Before(std::uint32_t leaf, std::size_t position) {
    if (position > 0) return Node(leaf).Key(position - 1);
    for (std::uint32_t page = Node(leaf).previous; page != 0;) {
        const TNode& node = Node(page);
        if (!node.Empty()) return node.Back();
        page = node.previous;
    }
    return std::nullopt;
}

std::optional<std::string_view> TJetIndexWriter::After(std::uint32_t leaf, std::size_t position) {
    if (position < Node(leaf).Size()) return Node(leaf).Key(position);
    for (std::uint32_t page = Node(leaf).next; page != 0;) {
        const TNode& node = Node(page);
        if (!node.Empty()) return node.Front();
        page = node.next;
    }
    return std::nullopt;
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
    const auto next = AtOrAfter(probe);
    if (next && KeyPart(*next) == *key) FailDuplicate(*next, row, pending);
}

std::optional<std::string_view> TJetIndexWriter::AtOrAfter(std::string_view sortKey) {
    Descend(sortKey, path_);
    const std::uint32_t leaf = path_.back().page;
    return After(leaf, Node(leaf).LowerBound(sortKey));
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
    const auto next = AtOrAfter(probe);
    return next && KeyPart(*next) == key;
}

void TJetIndexWriter::Insert(const std::string& key, std::uint32_t page, std::uint8_t row) {
    std::string sortKey;
    SortKeyInto(sortKey, key, page, row);
    Descend(sortKey, path_);
    const std::uint32_t leafPage = path_.back().page;
    TNode& leaf = Node(leafPage);
    const std::size_t position = leaf.LowerBound(sortKey);
    const auto before = Before(leafPage, position);
    const auto after = After(leafPage, position);
    if (!(before && KeyPart(*before) == key) && !(after && KeyPart(*after) == key)) ++distinct_;
    leaf.Insert(position, sortKey);
    leaf.dirty = true;
    const bool atEnd = position + 1 == leaf.Size();
    if (atEnd) PropagateMax(path_, path_.size() - 1);
    if (UsedBytes(leaf) > kIndexEntryArea) Split(path_, path_.size() - 1, atEnd && leaf.next == 0);
}

std::optional<std::string> TJetIndexWriter::MaxBelow(std::uint32_t page) {
    for (std::size_t depth = 0;; ++depth) {
        const TNode& node = Node(page);
        if (node.leaf || node.tail == 0 || depth > kMaxDepth) {
            if (node.Empty()) return std::nullopt;
            return std::string(node.Back());
        }
        page = node.tail;
    }
}

void TJetIndexWriter::PropagateMax(const std::vector<TStep>& path, std::size_t level) {
    for (std::size_t l = level; l > 0; --l) {
        const TStep& step = path[l];
        if (step.entry < 0) continue;  // a tail has no entry; its parent's greatest changed
        const auto entry = static_cast<std::size_t>(step.entry);
        TNode& parent = Node(path[l - 1].page);
        if (const auto greatest = MaxBelow(step.page)) parent.SetKey(entry, *greatest);
        parent.dirty = true;
        if (entry + 1 != parent.Size() || parent.tail != 0) break;
    }
}

void TJetIndexWriter::Split(std::vector<TStep>& path, std::size_t level, bool appendAtEnd) {
    if (level == 0) {
        // The root keeps its page number: its content moves to a new page below it.
        const std::uint32_t child = NewPage();
        TNode& root = Node(path[0].page);
        TNode& moved = Node(child);
        moved = root;
        moved.previous = moved.next = 0;
        moved.dirty = true;
        root.Clear();
        root.leaf = false;
        root.tail = child;
        root.previous = root.next = 0;
        root.dirty = true;
        path.insert(path.begin() + 1, TStep{child, -1});
        level = 1;
    }
    const std::uint32_t leftPage = path[level].page;
    const std::uint32_t rightPage = NewPage();
    TNode& left = Node(leftPage);
    TNode& right = Node(rightPage);
    const std::size_t count = left.Size();
    const std::size_t keep = left.leaf && appendAtEnd ? count - 1 : count / 2;
    right = left.SplitOff(keep);
    if (!left.leaf) {
        // The left page's last child becomes its tail; the right page takes the old tail.
        right.tail = left.tail;
        left.tail = left.Child(keep - 1);
        left.SplitOff(keep - 1);
    }
    right.previous = leftPage;
    right.next = left.next;
    right.dirty = true;
    if (left.next != 0) {
        TNode& after = Node(left.next);
        after.previous = rightPage;
        after.dirty = true;
    }
    left.next = rightPage;
    left.dirty = true;

    const auto leftMax = MaxBelow(leftPage);
    const auto rightMax = MaxBelow(rightPage);
    if (!leftMax || !rightMax) allocator_.Store().File().FailDamaged(u"索引のページが空です");
    TNode& parent = Node(path[level - 1].page);
    const int entry = path[level].entry;
    if (entry >= 0) {
        parent.SetKey(static_cast<std::size_t>(entry), *leftMax);
        parent.Insert(static_cast<std::size_t>(entry) + 1, *rightMax, rightPage);
    } else {
        parent.Append(*leftMax, leftPage);
        parent.tail = rightPage;
    }
    parent.dirty = true;
    if (UsedBytes(parent) > kIndexEntryArea) Split(path, level - 1, entry < 0);
}

void TJetIndexWriter::Finish() {
    TJetPageStore& store = allocator_.Store();
    for (std::size_t page = 0; page < nodes_.size(); ++page) {
        TNode* node = nodes_[page].get();
        if (node == nullptr || !node->dirty) continue;
        EncodeNode(*node, def_.page, store.Write(static_cast<std::uint32_t>(page)));
        node->dirty = false;
    }
}

}  // namespace qm::jet
