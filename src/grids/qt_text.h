// The core's UTF-16 text and Qt's QString hold the same code units; these convert at the edge
// between the two.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace qm {

inline QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

inline std::u16string ToU16String(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

}  // namespace qm
