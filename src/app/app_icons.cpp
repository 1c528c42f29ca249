#include "app/app_icons.h"

#include <QString>
#include <array>

namespace qm {

QIcon AppIcon(int index) {
    static constexpr std::array<const char*, 9> kFiles = {
        "browse",         "file-new",   "file-open", "file-save", "convert-start",
        "convert-cancel", "view-excel", "view-csv",  "quillomat",
    };
    if (index < 0 || index >= static_cast<int>(kFiles.size())) return {};
    return QIcon(QStringLiteral(":/icons/") +
                 QLatin1String(kFiles[static_cast<std::size_t>(index)]) + QStringLiteral(".svg"));
}

}  // namespace qm
