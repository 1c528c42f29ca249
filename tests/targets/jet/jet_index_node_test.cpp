// The index writer's in-memory page against a plain list of entries: insertions anywhere,
// replaced keys, splits and clearing, with keys of one size (numeric indexes) and keys whose
// sizes change along the way (text), on leaves and on intermediate pages; every state also
// encoded as a page and read back by the index reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_index.h"
#include "targets/jet/jet_index_writer.h"
#include "targets/jet/jet_page_file.h"

namespace qm::jet {
namespace {

using TNode = TJetIndexWriter::TNode;
using TModel = std::vector<std::pair<std::string, std::uint32_t>>;

void ExpectSame(const TNode& node, const TModel& model) {
    ASSERT_EQ(node.Size(), model.size());
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(node.Key(i), model[i].first) << "entry " << i;
        ASSERT_EQ(node.Child(i), node.leaf ? 0u : model[i].second) << "entry " << i;
        bytes += model[i].first.size() + (node.leaf ? 0 : 4);
    }
    EXPECT_EQ(node.FullBytes(), bytes);
}

// The node encoded as page 1 of a database of two pages, read back by the reader.
void ExpectReadBack(const TNode& node, const TModel& model) {
    std::string file = TJetBuilder({}).Finish();
    const auto number = static_cast<std::uint32_t>(file.size() / kPageSize);
    file.resize(file.size() + kPageSize);
    TJetIndexWriter::EncodeNode(node, 2,
                                reinterpret_cast<std::uint8_t*>(file.data()) +
                                    static_cast<std::size_t>(number) * kPageSize);
    const auto pages = TJetPageFile::FromBytes(std::move(file), u"node.mdb");
    const TIndexPage read = ReadIndexPage(*pages, number);
    ASSERT_EQ(read.entries.size(), model.size());
    for (std::size_t i = 0; i < model.size(); ++i) {
        EXPECT_EQ(read.entries[i].SortKey(), model[i].first) << "entry " << i;
        if (!node.leaf) {
            EXPECT_EQ(read.entries[i].child, model[i].second) << "entry " << i;
        }
    }
}

// A sort key: `size` bytes of key from `value` (big-endian, so that keys of one size order
// as their values), then page and row.
std::string KeyOf(std::uint32_t value, std::size_t size) {
    std::string key;
    for (std::size_t i = 0; i < size; ++i)
        key.push_back(static_cast<char>(size - i > 4 ? 0x7F : value >> (8 * (size - i - 1))));
    return key + std::string("\x01\x02\x03\x04", 4);
}

TEST(JetIndexNode, FollowsAPlainListOfEntries) {
    const struct {
        const char* name;
        bool leaf;
        std::size_t minSize, maxSize;  // of a key before its row pointer
    } cases[] = {
        {"leaf, keys of one size", true, 5, 5},
        {"leaf, keys of several sizes", true, 1, 12},
        {"intermediate page, keys of one size", false, 5, 5},
        {"intermediate page, keys of several sizes", false, 2, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 random(7);
        TNode node;
        node.leaf = c.leaf;
        node.tail = c.leaf ? 0 : 99;
        TModel model;
        int readBack = 0;
        for (int step = 0; step < 600; ++step) {
            const std::size_t size =
                c.minSize + random() % static_cast<std::uint32_t>(c.maxSize - c.minSize + 1);
            const std::string key = KeyOf(static_cast<std::uint32_t>(random()), size);
            const std::uint32_t child = static_cast<std::uint32_t>(random() % 100000 + 3);
            const auto position = static_cast<std::size_t>(
                std::lower_bound(
                    model.begin(), model.end(), key,
                    [](const auto& entry, const std::string& k) { return entry.first < k; }) -
                model.begin());
            ASSERT_EQ(node.LowerBound(key), position);
            const unsigned what = random() % 20;
            if (what == 0 && !model.empty()) {
                // A replaced key (a parent entry after its child's greatest changed); only
                // one that keeps the order.
                const std::size_t at = random() % model.size();
                const std::string before = at == 0 ? std::string() : model[at - 1].first;
                const std::string after = at + 1 == model.size() ? "\xFF" : model[at + 1].first;
                if (before < key && key < after) {
                    node.SetKey(at, key);
                    model[at].first = key;
                }
            } else if (what == 1 && model.size() > 4) {
                const std::size_t kept = random() % model.size();
                const TNode rest = node.SplitOff(kept);
                ExpectSame(rest,
                           TModel(model.begin() + static_cast<std::ptrdiff_t>(kept), model.end()));
                model.resize(kept);
            } else if (what == 2 && step % 7 == 0) {
                node.Clear();
                model.clear();
            } else {
                node.Insert(position, key, child);
                model.insert(model.begin() + static_cast<std::ptrdiff_t>(position), {key, child});
            }
            ExpectSame(node, model);
            if (TJetIndexWriter::UsedBytes(node) <= kIndexEntryArea && step % 25 == 0) {
                ExpectReadBack(node, model);
                ++readBack;
            }
        }
        EXPECT_GT(readBack, 5);
    }
}

}  // namespace
}  // namespace qm::jet
