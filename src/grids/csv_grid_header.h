// The fixed rows of the CSV preview: the column letters and, with the header flag, the CSV's
// first line under them. Both are one header so that they stay in view while the cells scroll
// and follow the column widths the user drags. The user may drag the title line's bottom edge
// to make it taller, as with the other rows.
#pragma once

#include <QHeaderView>

namespace qm {

class TCsvGridHeader : public QHeaderView {
    Q_OBJECT

  public:
    explicit TCsvGridHeader(QWidget* parent = nullptr);

    // The default height of each fixed row (the letter row, the title line).
    void SetFixedRowHeight(int height);
    // The title line back at the default height.
    void ResetTitleRowHeight();
    int TitleRowHeight() const noexcept { return FTitleRowHeight; }
    // Shows or hides the title line under the letters.
    void SetTitleLineShown(bool shown);
    bool IsTitleLineShown() const noexcept { return FTitleLineShown; }

    QSize sizeHint() const override;

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void PaintFixedCell(QPainter* painter, const QRect& rect, int logicalIndex, const QString& text,
                        Qt::Alignment alignment) const;
    // Whether y (in the header) is on the title line's bottom edge.
    bool OnTitleEdge(int y) const;
    void SetTitleRowHeight(int height);

    int FFixedRowHeight = 24;
    int FTitleRowHeight = 24;
    bool FTitleLineShown = false;
    // While the user drags the title line's bottom edge: the distance of the grab point from it.
    bool FDraggingTitleEdge = false;
    int FDragOffset = 0;
};

}  // namespace qm
