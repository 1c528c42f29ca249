// The CSV preview grid: its layout in grid terms, what each cell shows, the header flag, the
// column cap, resetting the layout, and painting multi-line cells.
#include "grids/csv_grid.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "grid_test_util.h"
#include "grids/csv_grid_header.h"
#include "grids/csv_grid_model.h"

namespace qm {
namespace {

using test::HasInk;
using test::MakeCsv;

// The text the grid shows at grid column col, grid row row (fixed column and rows included).
QString GridText(const TCsvGrid& grid, int col, int row) {
    const TCsvGridModel& model = *grid.GridModel();
    if (col == 0 && row < grid.FixedRows()) return QString();  // the corner, the title line
    if (col == 0) return model.headerData(row - grid.FixedRows(), Qt::Vertical).toString();
    if (row == 0) return model.headerData(col - 1, Qt::Horizontal).toString();
    if (row < grid.FixedRows())
        return model.headerData(col - 1, Qt::Horizontal, TCsvGridModel::TitleLineRole).toString();
    return model.index(row - grid.FixedRows(), col - 1).data().toString();
}

// Every row of the grid as text, for comparing whole layouts.
std::vector<QStringList> GridRows(const TCsvGrid& grid) {
    std::vector<QStringList> rows;
    for (int r = 0; r < grid.RowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < grid.ColCount(); ++c)
            row << GridText(grid, c, r);
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

class TCsvGridTest : public QObject {
    Q_OBJECT

  private slots:
    void NoTableAndEmptyTable();
    void HeaderFlagLayouts();
    void TitleLineStaysInViewWhileScrolling();
    void FieldsBeyondXfdAreNotShown();
    void BindingResetsDraggedSizes();
    void MultiLineCellsShowTheirLinesClipped();
    void UnbindingLeavesNoCells();
};

void TCsvGridTest::NoTableAndEmptyTable() {
    TCsvGrid grid;
    auto empty = MakeCsv(u"");
    const std::vector<const TCsv*> tables = {nullptr, empty.get()};
    for (const TCsv* csv : tables) {
        grid.SetFirstLineIsTitle(false);
        grid.SetCsv(csv);
        QCOMPARE(grid.ColCount(), 2);
        QCOMPARE(grid.RowCount(), 2);
        QCOMPARE(grid.FixedRows(), 1);
        QCOMPARE(GridRows(grid), (std::vector<QStringList>{{"", "A"}, {"", ""}}));
        grid.SetFirstLineIsTitle(true);
        QCOMPARE(grid.RowCount(), 3);
        QCOMPARE(grid.FixedRows(), 2);
        QCOMPARE(GridRows(grid), (std::vector<QStringList>{{"", "A"}, {"", ""}, {"", ""}}));
    }
}

void TCsvGridTest::HeaderFlagLayouts() {
    TCsvGrid grid;
    // One line with the flag: the letter row, the title line (fixed, no number) and one empty
    // row without a number.
    auto one = MakeCsv(u"氏名,住所");
    grid.SetFirstLineIsTitle(true);
    grid.SetCsv(one.get());
    QCOMPARE(grid.ColCount(), 3);
    QCOMPARE(grid.FixedRows(), 2);
    QCOMPARE(GridRows(grid),
             (std::vector<QStringList>{{"", "A", "B"}, {"", "氏名", "住所"}, {"", "", ""}}));

    // Three lines without the flag are numbered 1 to 3; with it the first line becomes fixed,
    // numbering restarts under it and the row count stays 4.
    auto three = MakeCsv(u"氏名,住所\n山田,東京\n佐藤,大阪");
    grid.SetFirstLineIsTitle(false);
    grid.SetCsv(three.get());
    QCOMPARE(grid.RowCount(), 4);
    QCOMPARE(
        GridRows(grid),
        (std::vector<QStringList>{
            {"", "A", "B"}, {"1", "氏名", "住所"}, {"2", "山田", "東京"}, {"3", "佐藤", "大阪"}}));
    const int widthB = 150;
    grid.setColumnWidth(1, widthB);
    grid.SetFirstLineIsTitle(true);
    QCOMPARE(grid.RowCount(), 4);
    QCOMPARE(grid.FixedRows(), 2);
    QCOMPARE(
        GridRows(grid),
        (std::vector<QStringList>{
            {"", "A", "B"}, {"", "氏名", "住所"}, {"1", "山田", "東京"}, {"2", "佐藤", "大阪"}}));
    QCOMPARE(grid.columnWidth(1), widthB);  // the column layout is kept
    grid.SetFirstLineIsTitle(false);
    QCOMPARE(GridRows(grid)[1], (QStringList{"1", "氏名", "住所"}));
    QCOMPARE(grid.columnWidth(1), widthB);
}

void TCsvGridTest::TitleLineStaysInViewWhileScrolling() {
    std::u16string text = u"見出し\n";
    for (int i = 0; i < 500; ++i)
        text += u"行" + std::u16string(1, char16_t(u'0' + i % 10)) + u"\n";
    auto csv = MakeCsv(std::move(text));
    TCsvGrid grid;
    grid.resize(300, 200);
    grid.SetCsv(csv.get());
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const int letterRowOnly = grid.horizontalHeader()->height();
    grid.SetFirstLineIsTitle(true);
    QCoreApplication::processEvents();
    QCOMPARE(grid.horizontalHeader()->height(), letterRowOnly + TCsvGrid::DefaultRowHeight);

    grid.scrollToBottom();
    QVERIFY(grid.verticalScrollBar()->value() > 0);
    const QImage header = grid.horizontalHeader()->grab().toImage();
    const int sectionWidth = grid.columnWidth(0);
    const QRect titleCell(3, letterRowOnly + 3, sectionWidth - 6, TCsvGrid::DefaultRowHeight - 6);
    QVERIFY2(HasInk(header, titleCell), "the title line is painted after scrolling");
}

void TCsvGridTest::FieldsBeyondXfdAreNotShown() {
    std::u16string line;
    for (int i = 0; i < 20000; ++i)
        line += u"f" + std::u16string(i % 7 + 1, u'x') + u",";
    auto csv = MakeCsv(line + u"\n" + line);
    QCOMPARE(csv->GetFieldCount(), 20000u);
    TCsvGrid grid;
    grid.SetCsv(csv.get());
    QCOMPARE(grid.ColCount(), 16385);
    QCOMPARE(GridText(grid, 16384, 0), QString("XFD"));
    QCOMPARE(GridText(grid, 1, 0), QString("A"));
    QCOMPARE(GridText(grid, 16384, 1), QString("f" + QString(16383 % 7 + 1, 'x')));
    grid.SetFirstLineIsTitle(true);
    QCOMPARE(GridText(grid, 16384, 1), QString("f" + QString(16383 % 7 + 1, 'x')));
    QCOMPARE(grid.GridModel()->headerData(16384, Qt::Horizontal), QVariant());
}

void TCsvGridTest::BindingResetsDraggedSizes() {
    auto csv = MakeCsv(u"a,b\nc,d\ne,f");
    TCsvGrid grid;
    grid.resize(400, 300);
    grid.SetFirstLineIsTitle(true);
    grid.SetCsv(csv.get());
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QCOMPARE(grid.columnWidth(0), TCsvGrid::DefaultColWidth);
    QCOMPARE(grid.rowHeight(0), TCsvGrid::DefaultRowHeight);
    // The user drags widths and heights in the headers...
    grid.horizontalHeader()->resizeSection(0, 200);
    grid.verticalHeader()->resizeSection(1, 70);
    QCOMPARE(grid.columnWidth(0), 200);
    QCOMPARE(grid.rowHeight(1), 70);
    QCOMPARE(grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    QCOMPARE(grid.verticalHeader()->sectionResizeMode(1), QHeaderView::Interactive);
    // ...and the title line's bottom edge, which moves the cells down.
    QHeaderView* header = grid.horizontalHeader();
    const int headerHeight = header->height();
    const int cellsTop = grid.viewport()->geometry().top();
    const QPoint edge(30, headerHeight - 1);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, edge);
    QTest::mouseMove(header->viewport(), edge + QPoint(0, 30));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, edge + QPoint(0, 30));
    QCOMPARE(grid.GridHeader()->TitleRowHeight(), TCsvGrid::DefaultRowHeight + 30);
    QTRY_COMPARE(header->height(), headerHeight + 30);
    QTRY_COMPARE(grid.viewport()->geometry().top(), cellsTop + 30);
    // Binding again, even the same table, resets them all.
    grid.SetCsv(csv.get());
    QCOMPARE(grid.columnWidth(0), TCsvGrid::DefaultColWidth);
    QCOMPARE(grid.rowHeight(1), TCsvGrid::DefaultRowHeight);
    QCOMPARE(grid.GridHeader()->TitleRowHeight(), TCsvGrid::DefaultRowHeight);
    QTRY_COMPARE(header->height(), headerHeight);
}

void TCsvGridTest::MultiLineCellsShowTheirLinesClipped() {
    auto csv = MakeCsv(u"\"１行目\n２行目\n３行目\n４行目\n５行目\n６行目\",x\n,");
    TCsvGrid grid;
    grid.resize(400, 400);
    grid.SetCsv(csv.get());
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QCOMPARE(grid.rowHeight(0), TCsvGrid::DefaultRowHeight);

    const int lineHeight = grid.fontMetrics().lineSpacing();
    grid.verticalHeader()->resizeSection(0, 4 + 3 * lineHeight);
    QCoreApplication::processEvents();
    const QImage image = grid.viewport()->grab().toImage();
    const QRect cell = grid.visualRect(grid.model()->index(0, 0));
    const QRect below = grid.visualRect(grid.model()->index(1, 0));
    // The second and third lines are painted inside the cell...
    QVERIFY(HasInk(image, QRect(cell.left() + 3, cell.top() + 2 + lineHeight, cell.width() - 6,
                                lineHeight - 2)));
    QVERIFY(HasInk(image, QRect(cell.left() + 3, cell.top() + 2 + 2 * lineHeight, cell.width() - 6,
                                lineHeight - 2)));
    // ...and the rest is cut off at the cell's bottom edge: the empty cell below stays blank.
    QVERIFY(!HasInk(image, below.adjusted(1, 1, -2, -2)));
}

void TCsvGridTest::UnbindingLeavesNoCells() {
    auto csv = MakeCsv(u"a,b,c\nd,e,f");
    TCsvGrid grid;
    grid.SetCsv(csv.get());
    grid.SetFirstLineIsTitle(true);
    grid.SetCsv(nullptr);
    csv.reset();  // the window deletes the table after unbinding it
    QCOMPARE(grid.ColCount(), 2);
    QCOMPARE(grid.RowCount(), 3);
    QCOMPARE(GridRows(grid), (std::vector<QStringList>{{"", "A"}, {"", ""}, {"", ""}}));
}

}  // namespace qm

QTEST_MAIN(qm::TCsvGridTest)
#include "csv_grid_test.moc"
