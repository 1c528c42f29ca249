#include "grids/csv_grid_header.h"

#include <QPainter>
#include <QStyleOptionHeader>

#include "grids/csv_grid_model.h"

namespace qm {

namespace {
// Text keeps this distance from every edge of its cell.
constexpr int kTextMargin = 2;
}  // namespace

TCsvGridHeader::TCsvGridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(false);
    setHighlightSections(false);
    setSectionsMovable(false);
}

void TCsvGridHeader::SetFixedRowHeight(int height) {
    FFixedRowHeight = height;
    updateGeometry();
}

void TCsvGridHeader::SetTitleLineShown(bool shown) {
    if (shown == FTitleLineShown) return;
    FTitleLineShown = shown;
    updateGeometry();
    viewport()->update();
}

QSize TCsvGridHeader::sizeHint() const {
    QSize size = QHeaderView::sizeHint();
    size.setHeight(FFixedRowHeight * (FTitleLineShown ? 2 : 1));
    return size;
}

void TCsvGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (model() == nullptr) return;
    const int letterHeight = FTitleLineShown ? rect.height() - FFixedRowHeight : rect.height();
    const QRect letterRect(rect.x(), rect.y(), rect.width(), letterHeight);
    PaintFixedCell(painter, letterRect, logicalIndex,
                   model()->headerData(logicalIndex, Qt::Horizontal).toString(),
                   Qt::AlignHCenter | Qt::AlignTop);
    if (!FTitleLineShown) return;
    const QRect titleRect(rect.x(), letterRect.bottom() + 1, rect.width(), FFixedRowHeight);
    PaintFixedCell(
        painter, titleRect, logicalIndex,
        model()->headerData(logicalIndex, Qt::Horizontal, TCsvGridModel::TitleLineRole).toString(),
        Qt::AlignLeft | Qt::AlignTop);
}

void TCsvGridHeader::PaintFixedCell(QPainter* painter, const QRect& rect, int logicalIndex,
                                    const QString& text, Qt::Alignment alignment) const {
    // The style paints the cell like every other fixed cell; the text is drawn here so that
    // line feeds start new lines and the text is clipped, not elided.
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.rect = rect;
    option.section = logicalIndex;
    option.state |= QStyle::State_Enabled;
    if (window()->isActiveWindow()) option.state |= QStyle::State_Active;
    painter->save();
    painter->setClipRect(rect);
    style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
    painter->setPen(palette().color(QPalette::ButtonText));
    painter->drawText(rect.adjusted(kTextMargin, kTextMargin, -kTextMargin, -kTextMargin),
                      static_cast<int>(alignment), text);
    painter->restore();
}

}  // namespace qm
