// A version-information block in the layout of a Windows version resource (VS_VERSIONINFO),
// which keeps the keys and values of the program's version where the Windows edition keeps
// them, and the query that finds one value in it (the counterpart of VerQueryValueW).
//
// The block is a tree of nodes. Each node: wLength (the node's bytes), wValueLength, wType
// (1 text, 0 binary), a zero-terminated UTF-16 key, padding to 4 bytes, the value (wValueLength
// bytes for binary values, UTF-16 units for text), padding to 4 bytes, then its child nodes,
// each starting on a 4-byte boundary. All integers are little-endian; offsets are counted from
// the start of the block. The root is "VS_VERSION_INFO" with the fixed file information as its
// value; its children are "StringFileInfo" (one table per translation, named by 8 hexadecimal
// digits, holding the string values) and "VarFileInfo" (the "Translation" list).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

struct TVersionBlockContent {
    std::array<std::uint16_t, 4> FileVersion{};                      // major, minor, release, build
    std::array<std::uint16_t, 4> ProductVersion{};                   // the same
    std::uint16_t Language = 0;                                      // e.g. 0x0411 Japanese
    std::uint16_t CodePage = 0;                                      // e.g. 932 (0x03A4)
    std::vector<std::pair<std::u16string, std::u16string>> Strings;  // key, value, in order
};

std::string BuildVersionBlock(const TVersionBlockContent& content);

// The value bytes of the node at 'path' ("\" for the root, "\VarFileInfo\Translation",
// "\StringFileInfo\041103A4\FileVersion"); keys compare without regard to ASCII letter case.
// Nothing when the path does not lead to a node or the block is malformed on the way; every
// length read from the block is checked against its parent's bounds.
std::optional<std::string_view> QueryVersionValue(std::string_view block, std::u16string_view path);

// The key of the root node, or nothing when the block does not start with a well-formed node.
std::optional<std::u16string> VersionBlockRootKey(std::string_view block);

}  // namespace qm
