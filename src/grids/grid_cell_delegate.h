// Paints the cells of both grids the way a spreadsheet-like grid does: the background, then the
// text from the top-left corner with a 2-pixel margin. A line feed starts a new line; text is
// neither wrapped nor elided but clipped at the cell's edges, and "&" is an ordinary character.
#pragma once

#include <QStyledItemDelegate>

namespace qm {

class TGridCellDelegate : public QStyledItemDelegate {
  public:
    // highlightCurrent: the current cell is highlighted like a selected one while the view has
    // the focus (the relation grid); otherwise only selected cells are (the preview).
    explicit TGridCellDelegate(bool highlightCurrent, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  private:
    bool FHighlightCurrent;
};

}  // namespace qm
