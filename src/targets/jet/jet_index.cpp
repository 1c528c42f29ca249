#include "targets/jet/jet_index.h"

#include <set>

#include "targets/jet/jet_bytes.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

constexpr std::size_t kIndexBitmapBytes = kIndexEntriesStart - kIndexBitmapStart;
// Deeper than any B-tree over a 2 GiB file can be.
constexpr int kMaxDepth = 32;

std::u16string PageText(std::uint32_t page) {
    return Utf8ToUtf16(std::to_string(page));
}

}  // namespace

void SortKeyInto(std::string& out, std::string_view key, std::uint32_t page, std::uint8_t row) {
    out.assign(key);
    out.push_back(static_cast<char>(page >> 16));
    out.push_back(static_cast<char>(page >> 8));
    out.push_back(static_cast<char>(page));
    out.push_back(static_cast<char>(row));
}

std::string TIndexEntry::SortKey() const {
    std::string bytes;
    SortKeyInto(bytes, key, page, row);
    return bytes;
}

TIndexPage ReadIndexPage(const TJetPageFile& file, std::uint32_t number) {
    const std::uint8_t* p = file.Page(number);
    if (p[0] != kPageIndexLeaf && p[0] != kPageIndexNode)
        file.FailDamaged(u"索引ページ " + PageText(number) + u" の種類が不正です");
    TIndexPage page;
    page.number = number;
    page.leaf = p[0] == kPageIndexLeaf;
    page.owner = ReadU32(p + 4);
    page.previous = ReadU32(p + 12);
    page.next = ReadU32(p + 16);
    page.tail = ReadU32(p + 20);
    const std::size_t prefix = ReadU16(p + 24);
    const std::size_t pointerSize = page.leaf ? 4 : 8;

    std::string first;  // the first entry, whose leading bytes the others share
    std::size_t start = kIndexEntriesStart;
    for (std::size_t bit = 0; bit < kIndexBitmapBytes * 8; ++bit) {
        if (!(p[kIndexBitmapStart + bit / 8] & (1u << (bit % 8)))) continue;
        const std::size_t end = kIndexEntriesStart + bit;
        if (end <= start)
            file.FailDamaged(u"索引ページ " + PageText(number) + u" の項目が不正です");
        std::string entry(reinterpret_cast<const char*>(p) + start, end - start);
        if (page.entries.empty()) {
            first = entry;
        } else {
            if (prefix > first.size())
                file.FailDamaged(u"索引ページ " + PageText(number) + u" の接頭辞が不正です");
            entry.insert(0, first, 0, prefix);
        }
        if (entry.size() < pointerSize)
            file.FailDamaged(u"索引ページ " + PageText(number) + u" の項目が短すぎます");
        const auto* e = reinterpret_cast<const std::uint8_t*>(entry.data());
        const std::size_t keySize = entry.size() - pointerSize;
        TIndexEntry parsed;
        parsed.key.assign(entry, 0, keySize);
        parsed.page = ReadBigU24(e + keySize);
        parsed.row = e[keySize + 3];
        if (!page.leaf) parsed.child = ReadBigU32(e + keySize + 4);
        page.entries.push_back(std::move(parsed));
        start = end;
    }
    return page;
}

TIndexTree WalkIndexTree(const TJetPageFile& file, std::uint32_t root, TIndexWalk keep) {
    TIndexTree tree;
    std::set<std::uint32_t> seen;
    // The sort key of the last leaf entry so far: the order check compares each entry with
    // it, and the parent check compares it with the parent's entry once a subtree is done.
    std::string last;
    std::string current;
    // Each visit checks that the child's greatest entry equals the parent's entry for it.
    struct TVisit {
        std::uint32_t page;
        int depth;
        const TIndexEntry* parentEntry;
    };
    auto visit = [&](auto& self, TVisit v) -> void {
        if (v.depth > kMaxDepth || !seen.insert(v.page).second) {
            tree.problems.push_back(u"索引ページ " + PageText(v.page) +
                                    u" が木の中で二度以上現れます");
            return;
        }
        TIndexPage page = ReadIndexPage(file, v.page);
        const std::size_t entriesBefore = tree.leafEntryCount;
        if (page.leaf) {
            tree.leafPages.push_back(page.number);
            for (const TIndexEntry& entry : page.entries) {
                SortKeyInto(current, entry.key, entry.page, entry.row);
                if (tree.leafEntryCount > 0 && !tree.firstDisorder && !(last < current))
                    tree.firstDisorder = tree.leafEntryCount;
                last.swap(current);
                ++tree.leafEntryCount;
            }
            if (keep == TIndexWalk::kEntries)
                tree.leafEntries.insert(tree.leafEntries.end(), page.entries.begin(),
                                        page.entries.end());
        } else {
            for (const auto& entry : page.entries)
                self(self, {entry.child, v.depth + 1, &entry});
            if (page.tail != 0) self(self, {page.tail, v.depth + 1, nullptr});
        }
        // The parent's entry for a page is the greatest entry below it (for a leaf, its last
        // entry; below an intermediate page, the last entry under its tail).
        if (v.parentEntry != nullptr) {
            if (tree.leafEntryCount == entriesBefore) {
                tree.problems.push_back(u"索引ページ " + PageText(v.page) + u" が空です");
            } else {
                SortKeyInto(current, v.parentEntry->key, v.parentEntry->page, v.parentEntry->row);
                if (last != current)
                    tree.problems.push_back(u"索引ページ " + PageText(v.page) +
                                            u" の最後の項目が親ページの項目と一致しません");
            }
        }
        if (keep == TIndexWalk::kShape) page.entries = {};
        tree.pages.push_back(std::move(page));
    };
    visit(visit, {root, 0, nullptr});
    return tree;
}

}  // namespace qm::jet
