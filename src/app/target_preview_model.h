// The rows of the open target worksheet or table for the read-only preview grid (DBGrid1).
//
// Cells are read on demand through TTable::ReadRow, a block of rows at a time, so a table of a
// million rows costs nothing until it is scrolled; nothing is copied into the view. The model
// never owns the table: whoever closes it must unbind it first (SetTable(nullptr)).
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <vector>

#include "targets/value.h"

namespace qm {

class TTable;

class TTargetPreviewModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit TTargetPreviewModel(QObject* parent = nullptr);

    // Binds an open table, or none; also re-reads the row count of the same table.
    void SetTable(TTable* table);
    TTable* Table() const noexcept { return FTable; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    static constexpr int kBlockRows = 64;
    // Makes the block holding row the cached one; false when the table cannot give it.
    bool LoadBlock(int row) const;

    TTable* FTable = nullptr;
    int FRowCount = 0;
    int FColumnCount = 0;
    std::vector<QString> FFieldNames;

    mutable int FBlockStart = -1;
    mutable std::vector<std::vector<TValue>> FBlock;
};

}  // namespace qm
