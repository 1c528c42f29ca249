// The INI reader and the relation's text form on arbitrary bytes: never crash, and what they
// write reads back to the same thing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/error.h"
#include "project/command_line.h"
#include "project/ini_document.h"
#include "targets/relation.h"
#include "text/unicode.h"

namespace {

void CheckIni(std::string_view bytes) {
    qm::TIniDocument document = qm::TIniDocument::FromBytes(bytes);
    std::string written = document.ToBytes();
    qm::TIniDocument again = qm::TIniDocument::FromBytes(written);
    if (again.ToBytes() != written) std::abort();
    if (again.Encoding() != document.Encoding() && !written.empty()) std::abort();

    // The readers of the project and settings files.
    std::u16string relationText = document.ReadString(u"CONFIG", u"Relation", u"");
    if (again.ReadString(u"CONFIG", u"Relation", u"") != relationText) std::abort();
    (void)qm::TextToRelation(relationText);
    (void)document.ReadBool(u"CONFIG", u"FirstLineIsTitle", false);
    (void)document.ReadInteger(u"STARTUP", u"WindowPositionLeft", 0);
    document.WriteString(u"config", u"relation", u"x");
    if (document.ReadString(u"CONFIG", u"RELATION", u"") != u"x") std::abort();
}

// Any value, line breaks included, stays in its own key: written and read back it is the same
// text, and the key written after it is not overridden by a line of the value.
void CheckValue(std::u16string_view value) {
    qm::TIniDocument document = qm::TIniDocument::FromBytes("\xEF\xBB\xBF");
    document.WriteString(u"CONFIG", u"Value", value);
    document.WriteString(u"CONFIG", u"Guard", u"ok");
    if (document.ReadString(u"CONFIG", u"Value", u"") != value) std::abort();
    qm::TIniDocument again = qm::TIniDocument::FromBytes(document.ToBytes());
    if (again.ReadString(u"CONFIG", u"Guard", u"") != u"ok") std::abort();
    if (value.find_first_of(u"\r\n") != std::u16string_view::npos &&
        again.ReadString(u"CONFIG", u"Value", u"") != qm::Utf8ToUtf16(qm::Utf16ToUtf8(value)))
        std::abort();
}

void CheckRelation(std::u16string_view text) {
    qm::TRelation relation = qm::TextToRelation(text);
    std::u16string written = qm::RelationToText(relation);
    qm::TRelation again = qm::TextToRelation(written);
    // Every entry has an item of its own, so the relation comes back whole.
    if (again != relation) std::abort();
    try {
        (void)qm::ArgumentToBool(text);
    } catch (const qm::Error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckIni(bytes);
    CheckRelation(qm::Utf8ToUtf16(bytes));
    CheckValue(qm::Utf8ToUtf16(bytes));
    return 0;
}
