#include "grids/csv_grid_header.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionHeader>
#include <algorithm>

#include "grids/csv_grid_model.h"

namespace qm {

namespace {
// Text keeps this distance from every edge of its cell.
constexpr int kTextMargin = 2;
// How close to the title line's bottom edge a press starts a drag of its height.
constexpr int kEdgeGrip = 3;
// The title line never gets lower than this.
constexpr int kMinTitleRowHeight = 4;
}  // namespace

TCsvGridHeader::TCsvGridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(false);
    setHighlightSections(false);
    setSectionsMovable(false);
}

void TCsvGridHeader::SetFixedRowHeight(int height) {
    FFixedRowHeight = height;
    SetTitleRowHeight(height);
}

void TCsvGridHeader::ResetTitleRowHeight() {
    SetTitleRowHeight(FFixedRowHeight);
}

void TCsvGridHeader::SetTitleRowHeight(int height) {
    FTitleRowHeight = height;
    updateGeometry();
    // The view lays out its cell area again below the new height.
    emit geometriesChanged();
    viewport()->update();
}

void TCsvGridHeader::SetTitleLineShown(bool shown) {
    if (shown == FTitleLineShown) return;
    FTitleLineShown = shown;
    updateGeometry();
    emit geometriesChanged();
    viewport()->update();
}

QSize TCsvGridHeader::sizeHint() const {
    QSize size = QHeaderView::sizeHint();
    size.setHeight(FFixedRowHeight + (FTitleLineShown ? FTitleRowHeight : 0));
    return size;
}

bool TCsvGridHeader::OnTitleEdge(int y) const {
    const int edge = FFixedRowHeight + FTitleRowHeight;
    return FTitleLineShown && y >= edge - kEdgeGrip && y <= edge + kEdgeGrip;
}

void TCsvGridHeader::mousePressEvent(QMouseEvent* event) {
    const int y = event->position().toPoint().y();
    if (event->button() == Qt::LeftButton && OnTitleEdge(y)) {
        FDraggingTitleEdge = true;
        FDragOffset = y - (FFixedRowHeight + FTitleRowHeight);
        return;
    }
    QHeaderView::mousePressEvent(event);
}

void TCsvGridHeader::mouseMoveEvent(QMouseEvent* event) {
    const int y = event->position().toPoint().y();
    if (FDraggingTitleEdge) {
        SetTitleRowHeight(std::max(kMinTitleRowHeight, y - FDragOffset - FFixedRowHeight));
        return;
    }
    if (event->buttons() == Qt::NoButton && OnTitleEdge(y)) {
        setCursor(Qt::SplitVCursor);
        return;
    }
    QHeaderView::mouseMoveEvent(event);
}

void TCsvGridHeader::mouseReleaseEvent(QMouseEvent* event) {
    if (FDraggingTitleEdge) {
        FDraggingTitleEdge = false;
        return;
    }
    QHeaderView::mouseReleaseEvent(event);
}

void TCsvGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (model() == nullptr) return;
    const int letterHeight = FTitleLineShown ? rect.height() - FTitleRowHeight : rect.height();
    const QRect letterRect(rect.x(), rect.y(), rect.width(), letterHeight);
    PaintFixedCell(painter, letterRect, logicalIndex,
                   model()->headerData(logicalIndex, Qt::Horizontal).toString(),
                   Qt::AlignHCenter | Qt::AlignTop);
    if (!FTitleLineShown) return;
    const QRect titleRect(rect.x(), letterRect.bottom() + 1, rect.width(), FTitleRowHeight);
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
