// TGridRelation: the grid in which the user gives each field of the target table a CSV column.
//
// One row per target field: its name, the display name of its data type, and the chosen CSV
// column, picked from a drop-down list that opens over the cell on a click or when the keyboard
// moves into the third column. The list holds an empty entry (no column) and then one entry per
// CSV column (A列, B列, ...; with the header flag A列（氏名）...), so the entry of a row is its
// CsvColumn + 1. Choices are indices, kept when another CSV table or header flag arrives; an
// index the table lacks shows blank but stays in the relation. The grid never owns the table:
// whoever deletes it must unbind it first (SetCsv(nullptr)).
#pragma once

#include <QTableView>
#include <string>
#include <vector>

#include "targets/relation.h"

class QComboBox;
class QStringListModel;

namespace qm {

class TCsv;
class TGridRelationModel;
struct TAdoExcelField;

class TGridRelation : public QTableView {
    Q_OBJECT

  public:
    struct TFieldItem {
        std::u16string FieldName;
        // The display name of the field's data type.
        std::u16string TypeName;
        // 0-based CSV column; -1 for none.
        int CsvColumn = -1;
    };

    static constexpr int DefaultColWidth = 180;

    explicit TGridRelation(QWidget* parent = nullptr);
    ~TGridRelation() override;

    // One unmapped row per field, in list order; the CSV binding, the header flag and the
    // column list stay as they are.
    void SetFields(const std::vector<TAdoExcelField>& fields);
    // No rows: the title row and one empty row.
    void Clear();
    // Bind the table (or none) / set the header flag, and rebuild the column list. The rows keep
    // their column choices.
    void SetCsv(const TCsv* csv);
    void SetFirstLineIsTitle(bool firstLineIsTitle);
    // Every mapped row, in row order; of two rows with the same name the first wins.
    TRelation GetRelation();
    // Each row takes the relation's column for its name, or -1 when its name is absent; entries
    // naming no row are ignored.
    void SetRelation(const TRelation& relation);

    const std::vector<TFieldItem>& Items() const noexcept { return FItems; }
    // The in-cell editor, hidden while not in use.
    QComboBox* Editor() const noexcept { return FEditor; }
    // Grid rows, the title row included.
    int RowCount() const;
    int DefaultRowHeight() const noexcept { return FDefaultRowHeight; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void SetItems(std::vector<TFieldItem> items);
    // Opens the editor when the current cell is a column cell of a field row.
    void Click();
    // The editor's selection becomes its row's column.
    void CommitEditor();
    // The focus left the editor: keep the choice and put the editor away.
    void EditorExit();
    void HideEditor();
    void SelectEditorEntry();
    void UpdateColumnList();
    std::u16string GetCsvFieldName(std::uint32_t column) const;
    // Column 2 takes whatever width columns 0 and 1 leave.
    void FitColumnList();

    std::vector<TFieldItem> FItems;
    QComboBox* FEditor;
    const TCsv* FCsv = nullptr;
    bool FFirstLineIsTitle = false;

    // The editor's entries.
    QStringListModel* FColumnList;
    TGridRelationModel* FModel;
    // The field row the editor was opened on, -1 while hidden.
    int FEditorRow = -1;
    int FDefaultRowHeight;
};

}  // namespace qm
