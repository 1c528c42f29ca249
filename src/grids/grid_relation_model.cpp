#include "grids/grid_relation_model.h"

#include <QStringListModel>
#include <algorithm>

#include "grids/qt_text.h"

namespace qm {

TGridRelationModel::TGridRelationModel(const std::vector<TGridRelation::TFieldItem>& items,
                                       const QStringListModel& columnList, QObject* parent)
    : QAbstractTableModel(parent), FItems(items), FColumnList(columnList) {}

void TGridRelationModel::ItemsReset() {
    beginResetModel();
    endResetModel();
}

void TGridRelationModel::ColumnsChanged() {
    emit dataChanged(index(0, 2), index(rowCount() - 1, 2));
}

void TGridRelationModel::ColumnChanged(int row) {
    emit dataChanged(index(row, 2), index(row, 2));
}

QString TGridRelationModel::EntryText(int csvColumn) const {
    // 64-bit: a column from a project file may be as large as an int goes.
    const qint64 entry = qint64{csvColumn} + 1;
    if (entry < 0 || entry >= FColumnList.rowCount()) return QString();
    return FColumnList.index(static_cast<int>(entry)).data().toString();
}

int TGridRelationModel::rowCount(const QModelIndex& parent) const {
    // A grid without fields still has one (empty) row under the title row.
    return parent.isValid() ? 0 : std::max<int>(1, static_cast<int>(FItems.size()));
}

int TGridRelationModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant TGridRelationModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= FItems.size()) return QString();
    const TGridRelation::TFieldItem& item = FItems[row];
    switch (index.column()) {
        case 0:
            return ToQString(item.FieldName);
        case 1:
            return ToQString(item.TypeName);
        default:
            return EntryText(item.CsvColumn);
    }
}

QVariant TGridRelationModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    if (role != Qt::DisplayRole) return {};
    switch (section) {
        case 0:
            return QStringLiteral("Excelの列");
        case 1:
            return QStringLiteral("データ型");
        case 2:
            return QStringLiteral("CSVの列");
        default:
            return {};
    }
}

Qt::ItemFlags TGridRelationModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace qm
