#include "grids/grid_relation.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStringListModel>
#include <algorithm>

#include "csv/csv.h"
#include "csv/csv_utility.h"
#include "grids/grid_cell_delegate.h"
#include "grids/grid_relation_model.h"
#include "grids/qt_text.h"

namespace qm {

TGridRelation::TGridRelation(QWidget* parent)
    : QTableView(parent),
      FEditor(new QComboBox(viewport())),
      FColumnList(new QStringListModel(this)),
      FModel(new TGridRelationModel(FItems, *FColumnList, this)) {
    setModel(FModel);
    setItemDelegate(new TGridCellDelegate(true, this));

    // Grid lines everywhere, one cell at a time, no built-in editing; the user may drag column
    // widths in the title row but not row heights. Tab leaves the grid.
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setDragEnabled(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultSectionSize(DefaultColWidth);
    for (int column = 0; column < 3; ++column)
        setColumnWidth(column, DefaultColWidth);

    // The editor picks entries only (no typing). Its size never depends on its entries (there
    // may be 16385 of them), and the list lays them out as rows of one height for the same
    // reason.
    FEditor->setEditable(false);
    FEditor->setModel(FColumnList);
    FEditor->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FEditor->setMinimumContentsLength(1);
    if (auto* list = qobject_cast<QListView*>(FEditor->view())) list->setUniformItemSizes(true);
    FEditor->hide();
    FEditor->installEventFilter(this);
    connect(FEditor, &QComboBox::currentIndexChanged, this, [this] { CommitEditor(); });

    // Rows are a little lower than the editor's natural height: lists of many fields stay
    // compact, and the editor still shows its text when it covers a cell.
    FDefaultRowHeight = FEditor->sizeHint().height() - 4;
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(FDefaultRowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

TGridRelation::~TGridRelation() {
    // The editor's signals must not reach a half-destroyed grid.
    FEditor->removeEventFilter(this);
    FEditor->disconnect(this);
}

int TGridRelation::RowCount() const {
    return FModel->rowCount() + 1;
}

void TGridRelation::SetItems(std::vector<TFieldItem> items) {
    // The editor's row is gone: put it away without storing anything into the new rows.
    HideEditor();
    FItems = std::move(items);
    FModel->ItemsReset();
}

void TGridRelation::Clear() {
    SetItems({});
}

void TGridRelation::SetCsv(const TCsv* csv) {
    FCsv = csv;
    UpdateColumnList();
}

void TGridRelation::SetFirstLineIsTitle(bool firstLineIsTitle) {
    FFirstLineIsTitle = firstLineIsTitle;
    UpdateColumnList();
}

void TGridRelation::UpdateColumnList() {
    QStringList entries{QString()};
    if (FCsv != nullptr) {
        // Captions exist for the lettered columns only (A to XFD): further columns are not
        // offered, and the caption list is never read past its end.
        const std::int32_t count = static_cast<std::int32_t>(
            std::min<std::uint32_t>(FCsv->GetFieldCount(), MaxColumnCount));
        const std::vector<std::u16string> captions = ColumnLetterNames(count, u"", u"列");
        entries.reserve(count + 1);
        for (std::int32_t i = 0; i < count; ++i) {
            std::u16string entry = captions[static_cast<std::size_t>(i)];
            if (FFirstLineIsTitle)
                entry += u"（" + GetCsvFieldName(static_cast<std::uint32_t>(i)) + u"）";
            entries << ToQString(entry);
        }
    }
    {
        // Rebuilding the list is no choice of the user's.
        const QSignalBlocker blocker(FEditor);
        FColumnList->setStringList(entries);
        SelectEditorEntry();
    }
    FModel->ColumnsChanged();
}

std::u16string TGridRelation::GetCsvFieldName(std::uint32_t column) const {
    if (FCsv == nullptr || FCsv->GetRowCount() == 0 || column >= FCsv->GetFieldCount()) return {};
    return FCsv->GetCell(0, column);
}

TRelation TGridRelation::GetRelation() {
    if (FEditor->isVisible()) CommitEditor();
    TRelation relation;
    for (const TFieldItem& item : FItems)
        if (item.CsvColumn != -1) relation.emplace(item.FieldName, item.CsvColumn);
    return relation;
}

void TGridRelation::SetRelation(const TRelation& relation) {
    for (TFieldItem& item : FItems) {
        const auto found = relation.find(item.FieldName);
        item.CsvColumn = found != relation.end() ? found->second : -1;
    }
    {
        const QSignalBlocker blocker(FEditor);
        SelectEditorEntry();
    }
    FModel->ColumnsChanged();
}

void TGridRelation::SelectEditorEntry() {
    if (FEditorRow < 0 || FEditorRow >= static_cast<int>(FItems.size())) return;
    const qint64 entry = qint64{FItems[static_cast<std::size_t>(FEditorRow)].CsvColumn} + 1;
    FEditor->setCurrentIndex(entry >= 0 && entry < FEditor->count() ? static_cast<int>(entry) : -1);
}

void TGridRelation::Click() {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || current.column() != 2 ||
        current.row() >= static_cast<int>(FItems.size()))
        return;
    const QRect cell = visualRect(current);
    FEditorRow = current.row();
    // The editor covers the cell exactly, so that it hides no part of the next row.
    FEditor->setGeometry(cell);
    {
        const QSignalBlocker blocker(FEditor);
        SelectEditorEntry();
    }
    FEditor->show();
    FEditor->setFocus(Qt::OtherFocusReason);
    FEditor->showPopup();
}

void TGridRelation::CommitEditor() {
    if (FEditorRow < 0 || FEditorRow >= static_cast<int>(FItems.size())) return;
    // Entry 0 is "no column"; no selection at all (an empty list) is "no column" too.
    const int entry = FEditor->currentIndex();
    FItems[static_cast<std::size_t>(FEditorRow)].CsvColumn = entry > 0 ? entry - 1 : -1;
    FModel->ColumnChanged(FEditorRow);
}

void TGridRelation::EditorExit() {
    CommitEditor();
    HideEditor();
}

void TGridRelation::HideEditor() {
    FEditorRow = -1;
    if (!FEditor->isVisible()) return;
    const bool hadFocus = FEditor->hasFocus();
    FEditor->hidePopup();
    FEditor->hide();
    // The focus would otherwise wander to the next control of the window.
    if (hadFocus) setFocus(Qt::OtherFocusReason);
}

bool TGridRelation::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FEditor && event->type() == QEvent::FocusOut && FEditor->isVisible()) {
        // The editor's own list taking the focus, or another window becoming active, is not
        // leaving the editor.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const QWidget* popup = FEditor->view()->window();
        const QWidget* focus = QApplication::focusWidget();
        const bool toOwnList =
            popup->isVisible() || (focus != nullptr && popup->isAncestorOf(focus));
        if (!toOwnList && reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            EditorExit();
    }
    return QTableView::eventFilter(watched, event);
}

void TGridRelation::resizeEvent(QResizeEvent* event) {
    // Runs for every size change of the cell area, scroll bars coming and going included.
    QTableView::resizeEvent(event);
    HideEditor();
    FitColumnList();
}

void TGridRelation::FitColumnList() {
    // Qt draws the grid lines inside the cells, so the three widths add up to the cell area's.
    // When columns 0 and 1 leave less than the smallest width, column 2 keeps that width and
    // the grid scrolls sideways.
    const int rest = viewport()->width() - columnWidth(0) - columnWidth(1);
    setColumnWidth(2, std::max(rest, horizontalHeader()->minimumSectionSize()));
}

void TGridRelation::mouseReleaseEvent(QMouseEvent* event) {
    QTableView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
        Click();
}

void TGridRelation::keyPressEvent(QKeyEvent* event) {
    const QModelIndex before = currentIndex();
    QTableView::keyPressEvent(event);
    if (currentIndex() != before) Click();
}

}  // namespace qm
