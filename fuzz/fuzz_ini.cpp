// The INI reader and the relation's text form on arbitrary bytes: never crash, and what they
// write reads back to the same thing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

#include "platform/case_fold.h"
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

void CheckRelation(std::u16string_view text) {
    qm::TRelation relation = qm::TextToRelation(text);
    std::u16string written = qm::RelationToText(relation);
    qm::TRelation again = qm::TextToRelation(written);
    // A key replaces the item of an earlier key whose name up to its first "=" is the same
    // without regard to case, so 'again' may hold fewer keys, but each with the value it had.
    for (const auto& [key, column] : again) {
        auto found = relation.find(key);
        if (found == relation.end() || found->second != column) std::abort();
    }
    // Without such keys, the relation comes back whole.
    std::set<std::u16string> names;
    bool distinct = true;
    for (const auto& entry : relation) {
        const std::u16string& key = entry.first;
        distinct = names.insert(qm::FoldCase(key.substr(0, key.find(u'=')))).second && distinct;
    }
    if (distinct && again != relation) std::abort();
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
    return 0;
}
