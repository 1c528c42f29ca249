// TCsvGrid: the read-only preview of the loaded CSV table, laid out like a spreadsheet.
//
// Grid column 0 holds the row numbers and grid row 0 the column letters (A to XFD); grid
// column c >= 1 shows field c - 1 and grid row r >= 1 shows table row r - 1. With the header
// flag, grid row 1 (the table's first line) is a fixed row too: it stays in view while the
// cells scroll and the numbering starts under it. The fixed column and rows are the view's
// headers; the cells are read from the table on demand, so binding a table of millions of
// rows costs nothing per row. The grid never owns or changes the table: whoever deletes it
// must unbind it first (SetCsv(nullptr)).
#pragma once

#include <QTableView>

namespace qm {

class TCsv;
class TCsvGridHeader;
class TCsvGridModel;

class TCsvGrid : public QTableView {
    Q_OBJECT

  public:
    static constexpr int DefaultColWidth = 64;
    static constexpr int DefaultRowHeight = 24;

    explicit TCsvGrid(QWidget* parent = nullptr);
    ~TCsvGrid() override;

    // Binds the table, or none, and resets the layout: column widths and row heights the user
    // dragged go back to their defaults, also when the same table is bound again.
    void SetCsv(const TCsv* csv);
    // Whether the table's first line is a fixed title row; the column layout is kept.
    void SetFirstLineIsTitle(bool firstLineIsTitle);

    // The layout in grid terms, fixed column and rows included.
    int ColCount() const;
    int RowCount() const;
    int FixedCols() const noexcept { return 1; }
    int FixedRows() const;

    TCsvGridModel* GridModel() const noexcept { return FModel; }
    TCsvGridHeader* GridHeader() const noexcept { return FHeader; }

  private:
    TCsvGridModel* FModel;
    TCsvGridHeader* FHeader;
};

}  // namespace qm
