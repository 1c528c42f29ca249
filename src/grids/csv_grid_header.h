// The fixed rows of the CSV preview: the column letters and, with the header flag, the CSV's
// first line under them. Both are one header so that they stay in view while the cells scroll
// and follow the column widths the user drags.
#pragma once

#include <QHeaderView>

namespace qm {

class TCsvGridHeader : public QHeaderView {
    Q_OBJECT

  public:
    explicit TCsvGridHeader(QWidget* parent = nullptr);

    // Height of each fixed row (the letter row, the title line).
    void SetFixedRowHeight(int height);
    // Shows or hides the title line under the letters.
    void SetTitleLineShown(bool shown);
    bool IsTitleLineShown() const noexcept { return FTitleLineShown; }

    QSize sizeHint() const override;

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

  private:
    void PaintFixedCell(QPainter* painter, const QRect& rect, int logicalIndex, const QString& text,
                        Qt::Alignment alignment) const;

    int FFixedRowHeight = 24;
    bool FTitleLineShown = false;
};

}  // namespace qm
