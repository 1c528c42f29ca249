// The namespaces of the parts the .xlsx engine reads, and the tests its element matches go
// through: an element counts only in its own namespace, so that an element of an extension
// list (x14:, x15:, ...) or of a markup-compatibility block (mc:) that shares a local name with
// a SpreadsheetML element is never taken for it.
#pragma once

#include <string_view>

#include "targets/xlsx/xml_reader.h"

namespace qm::xlsx {

inline constexpr std::string_view kSpreadsheetMlNs =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
// Strict Open XML names the same vocabulary with other URIs.
inline constexpr std::string_view kStrictSpreadsheetMlNs =
    "http://purl.oclc.org/ooxml/spreadsheetml/main";
inline constexpr std::string_view kRelationshipIdNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kStrictRelationshipIdNs =
    "http://purl.oclc.org/ooxml/officeDocument/relationships";
inline constexpr std::string_view kPackageRelationshipsNs =
    "http://schemas.openxmlformats.org/package/2006/relationships";

// An element in no namespace at all (unprefixed, no default namespace declared) passes too:
// no producer writes one, but such parts were read before, and no extension element can be
// one.
inline bool InNamespace(const TXmlReader& reader, std::string_view uri) {
    std::string_view actual = reader.NamespaceUri();
    return actual == uri || (actual.empty() && reader.Prefix().empty());
}

// The current element (start or end) is SpreadsheetML's element 'local'.
inline bool IsSheetElement(const TXmlReader& reader, std::string_view local) {
    if (reader.LocalName() != local) return false;
    return InNamespace(reader, kSpreadsheetMlNs) || reader.NamespaceUri() == kStrictSpreadsheetMlNs;
}

// The relationship id of an element ("r:id" or another prefix bound to the same namespace).
inline bool RelationshipId(const TXmlReader& reader, std::string& value) {
    return reader.NamespacedAttribute(kRelationshipIdNs, "id", value) ||
           reader.NamespacedAttribute(kStrictRelationshipIdNs, "id", value);
}

}  // namespace qm::xlsx
