// A small pull reader for the XML of spreadsheet packages: elements, attributes and text, read
// from memory or piece by piece from a stream, with the byte offset of every token so that an
// editor can copy the untouched bytes around what it changes.
//
// Namespaces are resolved: NamespaceUri() names the namespace of the current element from the
// xmlns declarations in scope, so that callers tell a SpreadsheetML element from an element of
// the same local name in an extension list or a markup-compatibility block. Document type
// declarations are refused (no entity can be defined, so nothing can expand). Text is decoded:
// the five predefined entities, character references, CDATA sections, and line ends normalised
// to LF as XML requires. Malformed input throws Error naming the part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::xlsx {

class TXmlInput {
  public:
    virtual ~TXmlInput() = default;
    // Fills up to 'size' bytes; 0 at the end.
    virtual std::size_t Read(char* out, std::size_t size) = 0;
};

struct TXmlAttribute {
    std::string_view Name;      // qualified, as written
    std::string_view RawValue;  // between the quotes, not yet decoded
};

class TXmlReader {
  public:
    enum class TToken { StartElement, EndElement, Text, End };

    // 'part' names the XML part in messages; 'file' the workbook.
    TXmlReader(std::string_view document, std::u16string file, std::string part);
    TXmlReader(TXmlInput& input, std::u16string file, std::string part);

    TToken Next();
    TToken Token() const noexcept { return token_; }

    // Of the current StartElement or EndElement.
    std::string_view Name() const noexcept { return name_; }
    std::string_view LocalName() const noexcept;
    std::string_view Prefix() const noexcept;
    // The namespace URI of the current element: the one bound to its prefix, or the default
    // namespace for an unprefixed name; empty when it has none, and for a prefix that no
    // declaration binds (such an element is nobody's: callers that test the URI and the prefix
    // never take it for one of theirs, and the part still reads, as it did before namespaces
    // were resolved).
    std::string_view NamespaceUri() const noexcept {
        return namespace_ < 0 ? std::string_view() : bindings_[namespace_].Uri;
    }
    // A StartElement written "<a/>"; the reader then reports its EndElement next.
    bool SelfClosing() const noexcept { return selfClosing_; }
    const std::vector<TXmlAttribute>& Attributes() const noexcept { return attributes_; }
    // The decoded value of the unprefixed attribute of that name (the element's own attributes;
    // a prefixed one belongs to another vocabulary), or false.
    bool Attribute(std::string_view name, std::string& value) const;
    // The decoded value of the attribute of that local name in the given namespace, or false.
    bool NamespacedAttribute(std::string_view uri, std::string_view localName,
                             std::string& value) const;
    // The decoded text of a Text token.
    std::string_view Text() const noexcept { return text_; }

    // Nesting depth: 1 inside the root element's start tag.
    int Depth() const noexcept { return depth_; }
    // Byte offsets in the document of the current token: [TokenStart, TokenEnd). For a
    // synthesized EndElement of "<a/>" both equal the end of the start tag.
    std::uint64_t TokenStart() const noexcept { return tokenStart_; }
    std::uint64_t TokenEnd() const noexcept { return tokenEnd_; }

    // After a StartElement: skips to its EndElement (which becomes the current token).
    void SkipElement();
    // After a StartElement: the concatenated text of its content up to its EndElement.
    std::string ReadElementText();

    // Decodes entity and character references (throws on an unknown entity).
    void Decode(std::string_view raw, std::string& out, bool normaliseLineEnds) const;

    // For a caller that scans plain content faster itself: the bytes after the current token
    // that are in memory, at least 'want' of them when the document has them (empty while a
    // self-closing element's end is still to come); Skip(n) moves past n of them. The caller
    // skips only whole elements and text it checked as the reader would (no namespace
    // declarations, nothing to decode), so that the depth and the bindings stay true.
    std::string_view Buffered(std::size_t want);
    void Skip(std::size_t n) noexcept { pos_ += n; }

    [[noreturn]] void Fail(std::u16string_view reason) const;

  private:
    bool Fill(std::size_t need);  // makes at least 'need' bytes available from pos_
    std::size_t Available() const noexcept { return end_ - pos_; }
    void ParseTag();
    void ReadText();
    std::size_t FindInBuffer(std::string_view what, std::size_t from);
    void DeclareNamespaces();
    // The binding of a prefix ("" for the default namespace): index into bindings_, or -1.
    int LookUpNamespace(std::string_view prefix) const;

    TXmlInput* input_ = nullptr;
    std::string storage_;
    const char* data_ = nullptr;  // storage_ or the caller's document
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint64_t base_ = 0;  // document offset of data_[0]
    bool eof_ = false;

    TToken token_ = TToken::End;
    std::string_view name_;
    std::string nameCopy_;  // the innermost open element's name
    std::vector<std::string> openNames_;
    bool selfClosing_ = false;
    bool pendingEnd_ = false;
    std::vector<TXmlAttribute> attributes_;
    // Namespace declarations in scope, innermost last; Depth is that of the declaring element.
    struct TBinding {
        std::string Prefix, Uri;
        int Depth = 0;
    };
    std::vector<TBinding> bindings_;
    int namespace_ = -1;  // of the current element: index into bindings_, -1 for none
    std::string text_;
    int depth_ = 0;
    std::uint64_t tokenStart_ = 0;
    std::uint64_t tokenEnd_ = 0;
    bool started_ = false;
    std::u16string file_;
    std::string part_;
};

}  // namespace qm::xlsx
