// The cells of the relation grid: one row per field item (at least one row), three columns.
// The third column shows the editor's entry for the item's column choice, read from the
// entry list on demand.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "grids/grid_relation.h"

class QStringListModel;

namespace qm {

class TGridRelationModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    TGridRelationModel(const std::vector<TGridRelation::TFieldItem>& items,
                       const QStringListModel& columnList, QObject* parent = nullptr);

    // The items were replaced.
    void ItemsReset();
    // The column of every item, or the entry texts, changed.
    void ColumnsChanged();
    void ColumnChanged(int row);

    // The entry shown for a column choice; empty when the list has no such entry.
    QString EntryText(int csvColumn) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    const std::vector<TGridRelation::TFieldItem>& FItems;
    const QStringListModel& FColumnList;
};

}  // namespace qm
