#include "grids/csv_grid.h"

#include <QHeaderView>

#include "grids/csv_grid_header.h"
#include "grids/csv_grid_model.h"
#include "grids/grid_cell_delegate.h"

namespace qm {

namespace {
// The row-number column is narrow, but always wide enough for its numbers.
constexpr int kMinRowNumberWidth = 20;
}  // namespace

TCsvGrid::TCsvGrid(QWidget* parent)
    : QTableView(parent), FModel(new TCsvGridModel(this)), FHeader(new TCsvGridHeader(this)) {
    setHorizontalHeader(FHeader);
    setModel(FModel);
    setItemDelegate(new TGridCellDelegate(false, this));

    // One cell selected at a time; nothing can be edited, moved or dragged; the user may drag
    // column widths (in the letter row) and row heights (in the number column).
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    setCornerButtonEnabled(false);
    setWordWrap(false);
    setShowGrid(true);

    FHeader->setDefaultSectionSize(DefaultColWidth);
    FHeader->setSectionResizeMode(QHeaderView::Interactive);
    FHeader->SetFixedRowHeight(DefaultRowHeight);

    QHeaderView* numbers = verticalHeader();
    numbers->setDefaultSectionSize(DefaultRowHeight);
    numbers->setSectionResizeMode(QHeaderView::Interactive);
    numbers->setSectionsClickable(false);
    numbers->setHighlightSections(false);
    numbers->setMinimumWidth(kMinRowNumberWidth);
}

TCsvGrid::~TCsvGrid() = default;

void TCsvGrid::SetCsv(const TCsv* csv) {
    // The model's reset drops the column widths and row heights the user dragged.
    FModel->SetCsv(csv);
    FHeader->ResetTitleRowHeight();
    scrollToTop();
    updateGeometries();
}

void TCsvGrid::SetFirstLineIsTitle(bool firstLineIsTitle) {
    FModel->SetFirstLineIsTitle(firstLineIsTitle);
    FHeader->SetTitleLineShown(firstLineIsTitle);
    updateGeometries();
    viewport()->update();
}

int TCsvGrid::ColCount() const {
    return FModel->columnCount() + FixedCols();
}

int TCsvGrid::RowCount() const {
    return FModel->rowCount() + FixedRows();
}

int TCsvGrid::FixedRows() const {
    return FModel->FixedRows();
}

}  // namespace qm
