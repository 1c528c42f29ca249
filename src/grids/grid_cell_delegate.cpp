#include "grids/grid_cell_delegate.h"

#include <QPainter>

namespace qm {

namespace {
// Text keeps this distance from every edge of its cell.
constexpr int kTextMargin = 2;
}  // namespace

TGridCellDelegate::TGridCellDelegate(bool highlightCurrent, QObject* parent)
    : QStyledItemDelegate(parent), FHighlightCurrent(highlightCurrent) {}

void TGridCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const bool highlighted = option.state.testFlag(QStyle::State_Selected) ||
                             (FHighlightCurrent && option.state.testFlag(QStyle::State_HasFocus));
    const QPalette::ColorGroup group =
        option.state.testFlag(QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    painter->save();
    painter->setClipRect(option.rect);
    painter->fillRect(option.rect, option.palette.brush(
                                       group, highlighted ? QPalette::Highlight : QPalette::Base));
    painter->setPen(
        option.palette.color(group, highlighted ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(option.font);
    painter->drawText(option.rect.adjusted(kTextMargin, kTextMargin, -kTextMargin, -kTextMargin),
                      Qt::AlignLeft | Qt::AlignTop, index.data(Qt::DisplayRole).toString());
    painter->restore();
}

}  // namespace qm
