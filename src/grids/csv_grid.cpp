#include "grids/csv_grid.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

#include "grids/csv_grid_header.h"
#include "grids/csv_grid_model.h"

namespace qm {

namespace {

// Text keeps this distance from every edge of its cell.
constexpr int kTextMargin = 2;
// The row-number column is narrow, but always wide enough for its numbers.
constexpr int kMinRowNumberWidth = 20;

// Paints a data cell: the background, then the text from the top-left corner, a line feed
// starting a new line, clipped at the cell's edges (never elided or wrapped).
class TCsvCellDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        const QPalette::ColorGroup group = option.state.testFlag(QStyle::State_Active)
                                               ? QPalette::Active
                                               : QPalette::Inactive;
        painter->save();
        painter->setClipRect(option.rect);
        painter->fillRect(option.rect, option.palette.brush(
                                           group, selected ? QPalette::Highlight : QPalette::Base));
        painter->setPen(
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(option.font);
        painter->drawText(
            option.rect.adjusted(kTextMargin, kTextMargin, -kTextMargin, -kTextMargin),
            Qt::AlignLeft | Qt::AlignTop, index.data(Qt::DisplayRole).toString());
        painter->restore();
    }
};

}  // namespace

TCsvGrid::TCsvGrid(QWidget* parent)
    : QTableView(parent), FModel(new TCsvGridModel(this)), FHeader(new TCsvGridHeader(this)) {
    setHorizontalHeader(FHeader);
    setModel(FModel);
    setItemDelegate(new TCsvCellDelegate(this));

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
    // A model reset rebuilds the headers' sections at their default sizes.
    FModel->SetCsv(csv);
    scrollToTop();
    updateGeometries();
}

void TCsvGrid::SetFirstLineIsTitle(bool firstLineIsTitle) {
    FModel->SetFirstLineIsTitle(firstLineIsTitle);
    FHeader->SetTitleLineShown(firstLineIsTitle);
    updateGeometries();
    viewport()->update();
}

int TCsvGrid::ColCount() const { return FModel->columnCount() + FixedCols(); }

int TCsvGrid::RowCount() const { return FModel->rowCount() + FixedRows(); }

int TCsvGrid::FixedRows() const { return FModel->FixedRows(); }

}  // namespace qm
