// The relation grid: rows and captions, the column list with and without the header flag,
// GetRelation/SetRelation, and the in-cell editor driven by mouse and keyboard.
#include "grids/grid_relation.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <memory>
#include <string>
#include <vector>

#include "grid_test_util.h"
#include "grids/qt_text.h"
#include "targets/target_access.h"

namespace qm {
namespace {

using test::MakeCsv;

std::vector<TAdoExcelField> Fields(std::initializer_list<std::u16string> names) {
    std::vector<TAdoExcelField> fields;
    for (const std::u16string& name : names)
        fields.push_back({name, ftString});
    return fields;
}

QStringList Entries(const TGridRelation& grid) {
    QStringList entries;
    for (int i = 0; i < grid.Editor()->count(); ++i)
        entries << grid.Editor()->itemText(i);
    return entries;
}

QString Shown(const TGridRelation& grid, int row, int column) {
    return grid.model()->index(row, column).data().toString();
}

std::vector<int> Columns(const TGridRelation& grid) {
    std::vector<int> columns;
    for (const auto& item : grid.Items())
        columns.push_back(item.CsvColumn);
    return columns;
}

// A window holding the grid and a second control that can take the focus.
struct TWindow {
    QWidget window;
    TGridRelation* grid = new TGridRelation;
    QLineEdit* other = new QLineEdit;

    TWindow() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(grid);
        layout->addWidget(other);
        window.resize(640, 300);
        window.show();
        window.activateWindow();
    }

    QPoint CellCentre(int row, int column) const {
        return grid->visualRect(grid->model()->index(row, column)).center();
    }
    void Click(int row, int column) const {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(row, column));
    }
    bool PopupShown() const { return grid->Editor()->view()->isVisible(); }
};

}  // namespace

class TGridRelationTest : public QObject {
    Q_OBJECT

  private slots:
    void TitleRowAndEmptyGrid();
    void RowsFromFields();
    void ColumnListFollowsTableAndHeaderFlag();
    void ColumnListStopsAtXfd();
    void RelationInAndOut();
    void EditorByMouse();
    void EditorByKeyboard();
    void EditorWithoutCsvStoresNone();
    void ResizeHidesEditorAndFillsWidth();
};

void TGridRelationTest::TitleRowAndEmptyGrid() {
    TWindow w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    const QStringList captions = {"Excelの列", "データ型", "CSVの列"};
    for (int c = 0; c < 3; ++c)
        QCOMPARE(w.grid->model()->headerData(c, Qt::Horizontal).toString(), captions[c]);
    QCOMPARE(w.grid->model()->columnCount(), 3);
    QCOMPARE(w.grid->RowCount(), 2);
    QCOMPARE(Shown(*w.grid, 0, 0), QString());
    // The empty row opens no editor, and there is no relation.
    w.Click(0, 2);
    QVERIFY(!w.grid->Editor()->isVisible());
    QVERIFY(w.grid->GetRelation().empty());
}

void TGridRelationTest::RowsFromFields() {
    TGridRelation grid;
    grid.SetRelation({{u"ID", 0}});
    grid.SetFields({{u"ID", ftInteger}, {u"A&B", ftString}, {u"備考", ftMemo}});
    QCOMPARE(grid.RowCount(), 4);
    QCOMPARE(Shown(grid, 0, 0), QString("ID"));
    QCOMPARE(Shown(grid, 0, 1), ToQString(GetFieldTypeName(ftInteger)));
    QCOMPARE(Shown(grid, 1, 0), QString("A&B"));
    QCOMPARE(Shown(grid, 2, 1), ToQString(GetFieldTypeName(ftMemo)));
    QCOMPARE(Columns(grid), (std::vector<int>{-1, -1, -1}));  // all unmapped
    grid.Clear();
    QCOMPARE(grid.RowCount(), 2);
    QVERIFY(grid.Items().empty());
}

void TGridRelationTest::ColumnListFollowsTableAndHeaderFlag() {
    TGridRelation grid;
    QCOMPARE(grid.Editor()->count(), 0);  // before any table: no entries at all
    grid.SetFields(Fields({u"氏名", u"住所", u"電話"}));
    grid.SetRelation({{u"氏名", 0}, {u"住所", 1}, {u"電話", 2}});

    auto csv = MakeCsv(u"氏名,,電話\n山田,東京,03");
    grid.SetCsv(csv.get());
    QCOMPARE(Entries(grid), (QStringList{"", "A列", "B列", "C列"}));
    grid.SetFirstLineIsTitle(true);
    QCOMPARE(Entries(grid), (QStringList{"", "A列（氏名）", "B列（）", "C列（電話）"}));
    QCOMPARE(Shown(grid, 0, 2), QString("A列（氏名）"));

    // Another table with fewer columns: the choices stay; the missing column shows blank.
    auto narrow = MakeCsv(u"コード,名称");
    grid.SetCsv(narrow.get());
    QCOMPARE(Entries(grid), (QStringList{"", "A列（コード）", "B列（名称）"}));
    QCOMPARE(Columns(grid), (std::vector<int>{0, 1, 2}));
    QCOMPARE(Shown(grid, 2, 2), QString());
    QCOMPARE(grid.GetRelation(), (TRelation{{u"氏名", 0}, {u"住所", 1}, {u"電話", 2}}));

    // A table without rows has no first-line texts; no table leaves only the empty entry.
    auto empty = MakeCsv(u"");
    grid.SetCsv(empty.get());
    QCOMPARE(Entries(grid), (QStringList{""}));
    grid.SetCsv(nullptr);
    QCOMPARE(Entries(grid), (QStringList{""}));
    QCOMPARE(Columns(grid), (std::vector<int>{0, 1, 2}));
}

void TGridRelationTest::ColumnListStopsAtXfd() {
    std::u16string line;
    for (int i = 0; i < 20000; ++i)
        line += u"x,";
    auto csv = MakeCsv(line);
    TGridRelation grid;
    grid.SetFirstLineIsTitle(true);
    grid.SetCsv(csv.get());
    QCOMPARE(grid.Editor()->count(), 16385);
    QCOMPARE(grid.Editor()->itemText(16384), QString("XFD列（x）"));
}

void TGridRelationTest::RelationInAndOut() {
    TGridRelation grid;
    auto csv = MakeCsv(u"a,b,c");
    grid.SetCsv(csv.get());
    grid.SetFields(Fields({u"コード", u"名称", u"名称", u"code", u"単価"}));
    // Column 5 is beyond the 3-column table; "CODE" differs from "code" in case only;
    // "倉庫" names no field; the two "名称" rows share one name.
    grid.SetRelation({{u"コード", 5}, {u"名称", 1}, {u"CODE", 2}, {u"倉庫", 0}, {u"単価", 1}});
    QCOMPARE(Columns(grid), (std::vector<int>{5, 1, 1, -1, 1}));
    QCOMPARE(Shown(grid, 0, 2), QString());  // blank, but kept
    QCOMPARE(Shown(grid, 1, 2), QString("B列"));
    // Two fields on the same column are both kept; the repeated name appears once.
    QCOMPARE(grid.GetRelation(), (TRelation{{u"コード", 5}, {u"名称", 1}, {u"単価", 1}}));
    // Indices far out of range neither crash nor show anything.
    grid.SetRelation({{u"コード", 2147483647}, {u"名称", -7}});
    QCOMPARE(Shown(grid, 0, 2), QString());
    QCOMPARE(Shown(grid, 1, 2), QString());
    QCOMPARE(grid.GetRelation(), (TRelation{{u"コード", 2147483647}, {u"名称", -7}}));
}

void TGridRelationTest::EditorByMouse() {
    TWindow w;
    auto csv = MakeCsv(u"氏名,住所\n山田,東京");
    w.grid->SetFields(Fields({u"名前", u"所在地"}));
    w.grid->SetCsv(csv.get());
    w.grid->SetRelation({{u"所在地", 0}});
    QVERIFY(QTest::qWaitForWindowActive(&w.window));

    // Clicking a column cell opens the editor over it, on the row's entry, list dropped down.
    w.Click(1, 2);
    QComboBox* editor = w.grid->Editor();
    QVERIFY(editor->isVisible());
    QVERIFY(w.PopupShown());
    QCOMPARE(editor->currentIndex(), 1);
    const QRect cell = w.grid->visualRect(w.grid->model()->index(1, 2));
    QCOMPARE(editor->geometry().topLeft(), cell.topLeft());
    QCOMPARE(editor->width(), cell.width());

    // Picking an entry in the list stores it at once.
    QTest::keyClick(editor->view(), Qt::Key_Down);
    QTest::keyClick(editor->view(), Qt::Key_Return);
    QTRY_VERIFY(!w.PopupShown());
    QCOMPARE(Columns(*w.grid), (std::vector<int>{-1, 1}));
    QVERIFY(editor->hasFocus());

    // Clicking another cell closes the editor; clicking a name cell opens none.
    w.Click(0, 0);
    QVERIFY(!editor->isVisible());
    QCOMPARE(Shown(*w.grid, 1, 2), QString("B列"));

    // The empty entry unmaps the row.
    w.Click(1, 2);
    QVERIFY(w.PopupShown());
    QTest::keyClick(editor->view(), Qt::Key_Home);
    QTest::keyClick(editor->view(), Qt::Key_Return);
    QTRY_VERIFY(!w.PopupShown());
    QCOMPARE(Columns(*w.grid), (std::vector<int>{-1, -1}));
    QVERIFY(w.grid->GetRelation().empty());
}

void TGridRelationTest::EditorByKeyboard() {
    TWindow w;
    auto csv = MakeCsv(u"a,b,c");
    w.grid->SetFields(Fields({u"f1", u"f2"}));
    w.grid->SetCsv(csv.get());
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    w.grid->setFocus();
    w.grid->setCurrentIndex(w.grid->model()->index(0, 1));

    // Moving into column 2 with an arrow key opens the editor with the focus and the list.
    QTest::keyClick(w.grid, Qt::Key_Right);
    QComboBox* editor = w.grid->Editor();
    QVERIFY(editor->isVisible());
    QVERIFY(w.PopupShown());
    QTRY_VERIFY(editor->hasFocus() || editor->view()->hasFocus());
    QTest::keyClick(editor->view(), Qt::Key_End);
    QTest::keyClick(editor->view(), Qt::Key_Return);
    QTRY_VERIFY(!w.PopupShown());
    QCOMPARE(Columns(*w.grid), (std::vector<int>{2, -1}));

    // The focus moving to another control stores the choice and hides the editor.
    w.other->setFocus(Qt::TabFocusReason);
    QVERIFY(!editor->isVisible());
    QCOMPARE(w.grid->GetRelation(), (TRelation{{u"f1", 2}}));

    // Moving down within column 2 opens the editor on the next row.
    w.grid->setFocus();
    w.grid->setCurrentIndex(w.grid->model()->index(0, 2));
    QTest::keyClick(w.grid, Qt::Key_Down);
    QVERIFY(editor->isVisible());
    QCOMPARE(editor->geometry().top(), w.grid->visualRect(w.grid->model()->index(1, 2)).top());
    QCOMPARE(editor->currentIndex(), 0);
}

void TGridRelationTest::EditorWithoutCsvStoresNone() {
    TWindow w;
    w.grid->SetFields(Fields({u"f1"}));
    w.grid->SetRelation({{u"f1", 3}});
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    w.Click(0, 2);
    QVERIFY(w.grid->Editor()->isVisible());
    QCOMPARE(w.grid->Editor()->count(), 0);
    QTest::keyClick(w.grid->Editor()->view(), Qt::Key_Escape);
    w.other->setFocus(Qt::TabFocusReason);
    QVERIFY(!w.grid->Editor()->isVisible());
    QCOMPARE(Columns(*w.grid), (std::vector<int>{-1}));
}

void TGridRelationTest::ResizeHidesEditorAndFillsWidth() {
    TWindow w;
    auto csv = MakeCsv(u"a,b");
    w.grid->SetFields(Fields({u"f1"}));
    w.grid->SetCsv(csv.get());
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    const auto fills = [&] {
        return w.grid->columnWidth(0) + w.grid->columnWidth(1) + w.grid->columnWidth(2) ==
               w.grid->viewport()->width();
    };
    QVERIFY(fills());

    w.Click(0, 2);
    QTest::keyClick(w.grid->Editor()->view(), Qt::Key_Down);
    QTest::keyClick(w.grid->Editor()->view(), Qt::Key_Return);
    QTRY_VERIFY(!w.PopupShown());
    QVERIFY(w.grid->Editor()->isVisible());
    w.window.resize(800, 320);
    QTRY_VERIFY(fills());
    QVERIFY(!w.grid->Editor()->isVisible());
    QCOMPARE(Columns(*w.grid), (std::vector<int>{0}));

    // Dragging column 0 does not refit column 2; the next size change does.
    const int before = w.grid->columnWidth(2);
    w.grid->horizontalHeader()->resizeSection(0, 100);
    QCOMPARE(w.grid->columnWidth(2), before);
    w.window.resize(700, 320);
    QTRY_VERIFY(fills());

    // Narrower than columns 0 and 1: column 2 keeps a usable width and the grid scrolls.
    w.grid->horizontalHeader()->resizeSection(0, 600);
    w.window.resize(400, 320);
    QTRY_COMPARE(w.grid->columnWidth(2), w.grid->horizontalHeader()->minimumSectionSize());
}

}  // namespace qm

QTEST_MAIN(qm::TGridRelationTest)
#include "grid_relation_test.moc"
