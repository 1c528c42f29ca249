// The cells of the CSV preview, read from the bound table on demand.
//
// The preview is laid out as a grid with one fixed column of row numbers, a fixed row of column
// letters and, when the first line holds field names, that line as a second fixed row. In Qt the
// fixed column and rows are the view's headers: model row i is grid row i + FixedRows(), model
// column c is grid column c + 1. Nothing of the table is copied: every call reads one cell.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

class TCsv;

class TCsvGridModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    // Horizontal header data: the field's text on the title line, or an invalid value when the
    // title line is not shown.
    static constexpr int TitleLineRole = Qt::UserRole + 1;

    explicit TCsvGridModel(QObject* parent = nullptr);
    ~TCsvGridModel() override;

    // Binds the table (or none) and resets the layout, as a model reset: the view's section
    // sizes go back to their defaults.
    void SetCsv(const TCsv* csv);
    // Moves the first line into the fixed rows or back, keeping the columns as they are.
    void SetFirstLineIsTitle(bool firstLineIsTitle);

    const TCsv* GetCsv() const noexcept { return FCsv; }
    bool GetFirstLineIsTitle() const noexcept { return FFirstLineIsTitle; }
    // The bound table's row count, 0 when none is bound.
    std::uint32_t GetCsvRowCount() const noexcept { return FCsvRowCount; }
    // 2 with the title line, else 1: the letter row and the title line.
    int FixedRows() const noexcept { return FFirstLineIsTitle ? 2 : 1; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    // Data rows under the fixed rows: one per table row below them, but at least one.
    int DataRowsFor(bool firstLineIsTitle) const noexcept;
    // The table row shown by a model row, or -1 when the row is the empty filler row.
    std::int64_t TableRowOf(int modelRow) const noexcept;

    bool FFirstLineIsTitle = false;
    const TCsv* FCsv = nullptr;
    // A to XFD, made once: painting a letter cell is a lookup.
    std::vector<std::u16string> FColumnNames;
    std::uint32_t FCsvRowCount = 0;
    // Data columns: the table's field count, at least 1, at most MaxColumnCount.
    int FColumnCount = 1;
    // True only inside SetCsv, while the model shows nothing.
    bool FEmptied = false;
};

}  // namespace qm
