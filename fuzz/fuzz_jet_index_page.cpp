// Index pages written from arbitrary entries and read again: a node the writer encodes must
// decode to the same entries (keys, row pointers, child pages) and the same links; one too big
// for a page must be refused with an Error.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/error.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_index.h"
#include "targets/jet/jet_index_writer.h"
#include "targets/jet/jet_page_file.h"

namespace {

const std::string& EmptyDatabase() {
    static const std::string bytes = qm::jet::TJetBuilder({}).Finish();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qm::jet;
    if (size < 2) return 0;
    TJetIndexWriter::TNode node;
    node.leaf = (data[0] & 1) != 0;
    node.previous = data[0] >> 1;
    node.next = data[1];
    node.tail = node.leaf ? 0 : data[1] + 7u;
    // Entries: a length byte, then that many key bytes (at most 40), then page and row.
    std::vector<std::string> keys;
    for (std::size_t at = 2; at < size;) {
        const std::size_t length = data[at++] % 41;
        std::string key(reinterpret_cast<const char*>(data) + at, std::min(length, size - at));
        at += key.size();
        key += std::string(4, static_cast<char>(keys.size()));  // page and row
        keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    for (std::size_t i = 0; i < keys.size(); ++i)
        node.Append(keys[i], node.leaf ? 0u : static_cast<std::uint32_t>(i + 3));
    std::string file = EmptyDatabase();
    const std::uint32_t number = static_cast<std::uint32_t>(file.size() / kPageSize);
    file.resize(file.size() + kPageSize);
    try {
        TJetIndexWriter::EncodeNode(node, 2,
                                    reinterpret_cast<std::uint8_t*>(file.data()) +
                                        static_cast<std::size_t>(number) * kPageSize);
    } catch (const qm::Error&) {
        if (TJetIndexWriter::UsedBytes(node) <= kIndexEntryArea) __builtin_trap();
        return 0;
    }
    const auto pages = TJetPageFile::FromBytes(std::move(file), u"fuzz.mdb");
    const TIndexPage read = ReadIndexPage(*pages, number);
    if (read.leaf != node.leaf || read.previous != node.previous || read.next != node.next ||
        read.tail != node.tail || read.owner != 2 || read.entries.size() != node.Size())
        __builtin_trap();
    for (std::size_t i = 0; i < read.entries.size(); ++i)
        if (read.entries[i].SortKey() != node.Key(i) || read.entries[i].child != node.Child(i))
            __builtin_trap();
    return 0;
}
