#include "app/target_preview_model.h"

#include <algorithm>
#include <limits>

#include "grids/qt_text.h"
#include "platform/error.h"
#include "targets/connection.h"

namespace qm {

TTargetPreviewModel::TTargetPreviewModel(QObject* parent) : QAbstractTableModel(parent) {}

void TTargetPreviewModel::SetTable(TTable* table) {
    beginResetModel();
    FTable = table && table->Active() ? table : nullptr;
    FRowCount = 0;
    FColumnCount = 0;
    FFieldNames.clear();
    FBlockStart = -1;
    FBlock.clear();
    if (FTable) {
        FColumnCount = FTable->FieldCount();
        for (int number = 1; number <= FColumnCount; ++number)
            FFieldNames.push_back(ToQString(FTable->FieldByNumber(number).DisplayName()));
        try {
            const std::int64_t count = FTable->RecordCount();
            FRowCount = static_cast<int>(
                std::clamp<std::int64_t>(count, 0, std::numeric_limits<int>::max()));
        } catch (const Error&) {
            FRowCount = 0;  // a table that cannot count its rows previews none
        }
    }
    endResetModel();
}

int TTargetPreviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FRowCount;
}

int TTargetPreviewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FColumnCount;
}

bool TTargetPreviewModel::LoadBlock(int row) const {
    const int start = row - row % kBlockRows;
    if (start == FBlockStart) return true;
    FBlockStart = -1;
    FBlock.clear();
    if (!FTable || !FTable->Active()) return false;
    // The preview is painted in the middle of other work (even of an import run, whose event
    // turns repaint the window): a row the engine cannot give shows blank instead of raising out
    // of a paint event.
    try {
        std::vector<TValue> values;
        for (int r = start; r < start + kBlockRows && r < FRowCount; ++r) {
            if (!FTable->ReadRow(r, values)) break;
            FBlock.push_back(values);
        }
    } catch (const Error&) {
        FBlock.clear();
        return false;
    }
    FBlockStart = start;
    return true;
}

QVariant TTargetPreviewModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    if (!LoadBlock(index.row())) return {};
    const std::size_t offset = static_cast<std::size_t>(index.row() - FBlockStart);
    if (offset >= FBlock.size()) return {};
    const std::vector<TValue>& values = FBlock[offset];
    const std::size_t column = static_cast<std::size_t>(index.column());
    if (column >= values.size()) return {};
    return ToQString(ValueToDisplayText(values[column]));
}

QVariant TTargetPreviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return {};
    if (section < 0 || section >= static_cast<int>(FFieldNames.size())) return {};
    return FFieldNames[static_cast<std::size_t>(section)];
}

}  // namespace qm
