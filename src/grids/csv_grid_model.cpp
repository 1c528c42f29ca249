#include "grids/csv_grid_model.h"

#include <algorithm>

#include "csv/csv.h"
#include "csv/csv_utility.h"
#include "grids/qt_text.h"

namespace qm {

TCsvGridModel::TCsvGridModel(QObject* parent)
    : QAbstractTableModel(parent), FColumnNames(ColumnLetterNames(MaxColumnCount, u"", u"")) {}

TCsvGridModel::~TCsvGridModel() = default;

void TCsvGridModel::SetCsv(const TCsv* csv) {
    // Qt's headers keep the sizes of their sections across a model reset. Passing through a
    // model without rows or columns drops them, so that the table comes up at the default
    // column widths and row heights, as a newly bound table should.
    beginResetModel();
    FEmptied = true;
    endResetModel();

    beginResetModel();
    FEmptied = false;
    FCsv = csv;
    FCsvRowCount = 0;
    FColumnCount = 1;
    if (csv != nullptr) {
        // Fields beyond the last lettered column (XFD) are not shown.
        FColumnCount = static_cast<int>(std::clamp<std::uint32_t>(
            csv->GetFieldCount(), 1, static_cast<std::uint32_t>(MaxColumnCount)));
        FCsvRowCount = csv->GetRowCount();
    }
    endResetModel();
}

void TCsvGridModel::SetFirstLineIsTitle(bool firstLineIsTitle) {
    if (firstLineIsTitle == FFirstLineIsTitle) return;
    const int before = DataRowsFor(FFirstLineIsTitle);
    const int after = DataRowsFor(firstLineIsTitle);
    // The first line leaves the data rows for the fixed rows, or comes back as row 0; the other
    // rows keep their content (and the view keeps their heights).
    if (after < before) {
        beginRemoveRows(QModelIndex(), 0, 0);
        FFirstLineIsTitle = firstLineIsTitle;
        endRemoveRows();
    } else if (after > before) {
        beginInsertRows(QModelIndex(), 0, 0);
        FFirstLineIsTitle = firstLineIsTitle;
        endInsertRows();
    } else {
        FFirstLineIsTitle = firstLineIsTitle;
        emit dataChanged(index(0, 0), index(after - 1, FColumnCount - 1));
    }
    emit headerDataChanged(Qt::Vertical, 0, after - 1);
    emit headerDataChanged(Qt::Horizontal, 0, FColumnCount - 1);
}

int TCsvGridModel::DataRowsFor(bool firstLineIsTitle) const noexcept {
    const std::int64_t fixedRows = firstLineIsTitle ? 2 : 1;
    // Grid rows: the larger of fixedRows + 1 and the table's rows + 1 (the letter row).
    const std::int64_t gridRows =
        std::max<std::int64_t>(fixedRows + 1, std::int64_t{FCsvRowCount} + 1);
    return static_cast<int>(gridRows - fixedRows);
}

std::int64_t TCsvGridModel::TableRowOf(int modelRow) const noexcept {
    // Grid row r shows table row r - 1; the grid row of a model row is modelRow + FixedRows().
    const std::int64_t tableRow = std::int64_t{modelRow} + FixedRows() - 1;
    return tableRow < std::int64_t{FCsvRowCount} ? tableRow : -1;
}

int TCsvGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || FEmptied ? 0 : DataRowsFor(FFirstLineIsTitle);
}

int TCsvGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() || FEmptied ? 0 : FColumnCount;
}

QVariant TCsvGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    switch (role) {
        case Qt::DisplayRole: {
            const std::int64_t tableRow = TableRowOf(index.row());
            if (FCsv == nullptr || tableRow < 0) return QString();
            return ToQString(FCsv->GetCellView(static_cast<std::uint32_t>(tableRow),
                                               static_cast<std::uint32_t>(index.column())));
        }
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignTop));
        default:
            return {};
    }
}

QVariant TCsvGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section < 0) return {};
    if (orientation == Qt::Vertical) {
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignHCenter | Qt::AlignTop));
        if (role != Qt::DisplayRole) return {};
        // Numbering starts at 1 on the first data line; the filler row has no number.
        if (TableRowOf(section) < 0) return QString();
        return QString::number(section + 1);
    }
    if (section >= FColumnCount) return {};
    switch (role) {
        case Qt::DisplayRole:
            return ToQString(FColumnNames[static_cast<std::size_t>(section)]);
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignHCenter | Qt::AlignTop));
        case TitleLineRole:
            if (!FFirstLineIsTitle) return {};
            if (FCsv == nullptr || FCsvRowCount == 0) return QString();
            return ToQString(FCsv->GetCellView(0, static_cast<std::uint32_t>(section)));
        default:
            return {};
    }
}

Qt::ItemFlags TCsvGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace qm
