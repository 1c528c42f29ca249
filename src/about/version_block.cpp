#include "about/version_block.h"

#include "platform/little_endian.h"

namespace qm {

namespace {

constexpr std::uint16_t kTypeBinary = 0;
constexpr std::uint16_t kTypeText = 1;
constexpr std::size_t kHeaderSize = 6;  // wLength, wValueLength, wType

std::size_t Align4(std::size_t offset) {
    return (offset + 3) & ~std::size_t{3};
}

// --- building

class TBlockWriter {
  public:
    void U16(std::uint16_t value) { PutU16(bytes_, value); }
    void U32(std::uint32_t value) { PutU32(bytes_, value); }
    void Text(std::u16string_view text) {
        for (char16_t unit : text)
            U16(unit);
        U16(0);
    }
    void Pad() { bytes_.resize(Align4(bytes_.size()), '\0'); }

    // Starts a node; returns its offset for EndNode.
    std::size_t BeginNode(std::u16string_view key, std::uint16_t valueLength, std::uint16_t type) {
        Pad();
        const std::size_t start = bytes_.size();
        U16(0);  // wLength, set by EndNode
        U16(valueLength);
        U16(type);
        Text(key);
        Pad();
        return start;
    }
    void EndNode(std::size_t start) {
        const std::size_t length = bytes_.size() - start;
        SetU16(bytes_, start, static_cast<std::uint16_t>(length));
    }
    std::string Take() { return std::move(bytes_); }

  private:
    std::string bytes_;
};

std::uint32_t High(const std::array<std::uint16_t, 4>& v) {
    return (std::uint32_t{v[0]} << 16) | v[1];
}
std::uint32_t Low(const std::array<std::uint16_t, 4>& v) {
    return (std::uint32_t{v[2]} << 16) | v[3];
}

std::u16string HexWord(std::uint16_t value) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string text(4, u'0');
    for (int i = 3; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return text;
}

// --- reading

struct TNode {
    std::size_t start = 0;
    std::size_t end = 0;  // start + wLength
    std::u16string key;
    std::size_t valueStart = 0;
    std::size_t valueSize = 0;
    std::size_t childrenStart = 0;
};

// The node at 'start', which must lie within [start, limit).
std::optional<TNode> ReadNode(std::string_view block, std::size_t start, std::size_t limit) {
    if (start > limit || limit - start < kHeaderSize) return std::nullopt;
    const std::size_t length = ReadU16(block.data() + start);
    const std::size_t valueLength = ReadU16(block.data() + start + 2);
    const std::uint16_t type = ReadU16(block.data() + start + 4);
    if (length < kHeaderSize || length > limit - start) return std::nullopt;
    TNode node;
    node.start = start;
    node.end = start + length;
    std::size_t at = start + kHeaderSize;
    for (;;) {
        if (node.end - at < 2) return std::nullopt;  // no terminating zero
        const char16_t unit = ReadU16(block.data() + at);
        at += 2;
        if (unit == 0) break;
        node.key += unit;
    }
    node.valueStart = Align4(at);
    node.valueSize = type == kTypeText ? valueLength * 2 : valueLength;
    // A value that runs past its node is malformed; an empty value may sit right at the end.
    if (node.valueStart > node.end) node.valueStart = node.end;
    if (node.valueSize > node.end - node.valueStart) return std::nullopt;
    node.childrenStart = Align4(node.valueStart + node.valueSize);
    return node;
}

bool SameAsciiText(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

std::optional<TNode> FindChild(std::string_view block, const TNode& parent,
                               std::u16string_view key) {
    std::size_t at = parent.childrenStart;
    while (at < parent.end) {
        std::optional<TNode> child = ReadNode(block, at, parent.end);
        if (!child) return std::nullopt;
        if (SameAsciiText(child->key, key)) return child;
        at = Align4(child->end);  // wLength >= 6, so this always moves on
    }
    return std::nullopt;
}

}  // namespace

std::string BuildVersionBlock(const TVersionBlockContent& content) {
    constexpr std::uint16_t kFixedInfoSize = 52;
    TBlockWriter out;
    const std::size_t root = out.BeginNode(u"VS_VERSION_INFO", kFixedInfoSize, kTypeBinary);
    out.U32(0xFEEF04BD);  // signature
    out.U32(0x00010000);  // structure version 1.0
    out.U32(High(content.FileVersion));
    out.U32(Low(content.FileVersion));
    out.U32(High(content.ProductVersion));
    out.U32(Low(content.ProductVersion));
    out.U32(0x3F);  // flags mask
    out.U32(0);     // flags
    out.U32(0x4);   // operating system: 32-bit Windows, as the Windows edition says
    out.U32(0x1);   // file type: application
    out.U32(0);     // subtype
    out.U32(0);     // date, high
    out.U32(0);     // date, low

    const std::size_t strings = out.BeginNode(u"StringFileInfo", 0, kTypeText);
    const std::size_t table =
        out.BeginNode(HexWord(content.Language) + HexWord(content.CodePage), 0, kTypeText);
    for (const auto& [key, value] : content.Strings) {
        const std::size_t node =
            out.BeginNode(key, static_cast<std::uint16_t>(value.size() + 1), kTypeText);
        out.Text(value);
        out.EndNode(node);
    }
    out.EndNode(table);
    out.EndNode(strings);

    const std::size_t vars = out.BeginNode(u"VarFileInfo", 0, kTypeText);
    const std::size_t translation = out.BeginNode(u"Translation", 4, kTypeBinary);
    out.U16(content.Language);
    out.U16(content.CodePage);
    out.EndNode(translation);
    out.EndNode(vars);
    out.EndNode(root);
    return out.Take();
}

std::optional<std::string_view> QueryVersionValue(std::string_view block,
                                                  std::u16string_view path) {
    std::optional<TNode> node = ReadNode(block, 0, block.size());
    while (node && !path.empty()) {
        const std::size_t skip = path.find_first_not_of(u'\\');
        if (skip == std::u16string_view::npos) break;
        path.remove_prefix(skip);
        const std::size_t end = path.find(u'\\');
        node = FindChild(block, *node, path.substr(0, end));
        path.remove_prefix(end == std::u16string_view::npos ? path.size() : end);
    }
    if (!node) return std::nullopt;
    return block.substr(node->valueStart, node->valueSize);
}

std::optional<std::u16string> VersionBlockRootKey(std::string_view block) {
    std::optional<TNode> root = ReadNode(block, 0, block.size());
    if (!root) return std::nullopt;
    return root->key;
}

}  // namespace qm
