// Whole imports from the window into an .xlsx workbook made by the test, checked with openpyxl:
// the user's way (choose the files, map two fields in the relation grid, F5), a failing row, a
// cancel during the run, and the unattended start with -a.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "app/form_main.h"
#include "app_test_util.h"
#include "csv/csv.h"
#include "grids/grid_relation.h"
#include "settings/config.h"

namespace qm {

using namespace test;

namespace {

// A workbook with one worksheet "Sheet1": the field names 名前 and 数量, one row below them.
bool MakeWorkbook(const QString& path) {
    return !Python(
                "import sys, openpyxl\n"
                "wb = openpyxl.Workbook(); ws = wb.active; ws.title = 'Sheet1'\n"
                "ws.append(['名前', '数量']); ws.append(['既存', 1])\n"
                "wb.save(sys.argv[1]); print('ok')\n",
                {path})
                .isEmpty();
}

// Every row of Sheet1 as "a|b" texts, as openpyxl reads them.
QStringList WorkbookRows(const QString& path) {
    const QByteArray out = Python(
        "import sys, openpyxl\n"
        "ws = openpyxl.load_workbook(sys.argv[1])['Sheet1']\n"
        "for row in ws.iter_rows(values_only=True):\n"
        "    print('|'.join('' if v is None else str(v) for v in row))\n",
        {path});
    QStringList rows = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
    return rows;
}

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Picks entry 'entry' of the relation grid's drop-down list for the field in row 'row' (0 the
// first field) with the mouse
// and the keyboard, as a user does.
void MapField(TGridRelation* grid, int row, int entry) {
    // The field's name first, then its column cell, which opens the list on the row's entry
    // (the empty one for an unmapped field).
    const QPoint name = grid->visualRect(grid->model()->index(row, 0)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, name);
    const QPoint centre = grid->visualRect(grid->model()->index(row, 2)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre);
    QComboBox* editor = grid->Editor();
    QTRY_VERIFY(editor->view()->isVisible());
    QCOMPARE(editor->currentIndex(), 0);
    for (int i = 0; i < entry; ++i)
        QTest::keyClick(editor->view(), Qt::Key_Down);
    QTest::keyClick(editor->view(), Qt::Key_Return);
    QTRY_VERIFY(!editor->view()->isVisible());
}

}  // namespace

class TFormMainImportTest : public QObject, TWindowTestFolder {
    Q_OBJECT

  private:
    // A shown, active window with the workbook and the CSV chosen and both fields of the
    // workbook mapped in the relation grid, as a user does it.
    std::unique_ptr<TFormMain> OpenMapped(TDialogs& dialogs, const QString& book,
                                          const QString& csv);

  private slots:
    void initTestCase() {
        QVERIFY2(HasOpenpyxl(),
                 "python3-openpyxl is not installed (scripts/install-deps.sh installs it)");
    }
    void ImportIntoWorkbook();
    void FailingRowRollsBack();
    void CancelDuringRun();
    void UnattendedRun();
};

std::unique_ptr<TFormMain> TFormMainImportTest::OpenMapped(TDialogs& dialogs, const QString& book,
                                                           const QString& csv) {
    auto window = Open();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get())) return nullptr;
    dialogs.answers = {book, csv};
    window->SpeedButton1->click();
    window->SpeedButton2->click();
    MapField(window->GridRelation, 0, 1);  // 名前 <- A
    MapField(window->GridRelation, 1, 2);  // 数量 <- B
    return window;
}

void TFormMainImportTest::ImportIntoWorkbook() {
    TWarnings warnings;
    TDialogs dialogs;
    const QString book = Path("book.xlsx");
    QVERIFY(MakeWorkbook(book));
    const QString csv = Path("import.csv");
    WriteFile(csv, "名前,数量\n山田,3\n田中,4\n");
    auto window = OpenMapped(dialogs, book, csv);
    QVERIFY(window);
    QCOMPARE(window->ComboBoxExcelWorksheet->currentText(), QString("Sheet1$"));
    QCOMPARE(window->DBGrid1->model()->rowCount(), 1);
    QCOMPARE(window->GridRelation->GetRelation(), (TRelation{{u"名前", 0}, {u"数量", 1}}));

    // The header line is skipped once the box is ticked; F5 runs the import.
    window->CheckBoxCsvFirstLineIsTitle->click();
    QTest::keyClick(window.get(), Qt::Key_F5);
    QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('/')));
    QCOMPARE(window->StatusText(), QString("登録しました。"));
    QVERIFY(window->PanelConvertProcess->isHidden());
    QCOMPARE(window->ProgressBar1->maximum(), 3);
    QCOMPARE(window->ProgressBar1->value(), 3);
    QCOMPARE(WorkbookRows(book), (QStringList{"名前|数量", "既存|1", "山田|3", "田中|4"}));
    // The preview shows the appended rows.
    QCOMPARE(window->DBGrid1->model()->rowCount(), 3);
}

void TFormMainImportTest::FailingRowRollsBack() {
    TWarnings warnings;
    TDialogs dialogs;
    const QString book = Path("fail.xlsx");
    QVERIFY(MakeWorkbook(book));
    const QByteArray before = FileBytes(book);
    const QString csv = Path("fail.csv");
    WriteFile(csv, "山田,3\n田中,四\n");
    auto window = OpenMapped(dialogs, book, csv);
    QVERIFY(window);
    QVERIFY(!window->RunConvert());
    QCOMPARE(warnings.texts.size(), 1);
    const QString message = warnings.texts[0];
    QVERIFY2(message.contains("2行目") && message.contains("数量"), qPrintable(message));
    QCOMPARE(window->StatusText(), message);
    QCOMPARE(FileBytes(book), before);
    QVERIFY(window->PanelConvertProcess->isHidden());
    // The window is ready for another run at once.
    QVERIFY(window->Csv != nullptr);
    QVERIFY(window->ADOTable1.Active());
}

void TFormMainImportTest::CancelDuringRun() {
    TWarnings warnings;
    TDialogs dialogs;
    const QString book = Path("cancel.xlsx");
    QVERIFY(MakeWorkbook(book));
    const QByteArray before = FileBytes(book);
    QByteArray rows;
    for (int i = 0; i < 200000; ++i)
        rows += "名前" + QByteArray::number(i) + "," + QByteArray::number(i) + "\n";
    const QString csv = Path("cancel.csv");
    WriteFile(csv, rows);
    auto window = OpenMapped(dialogs, book, csv);
    QVERIFY(window);
    // Esc is pressed at the run's first turn for the user interface, with the progress panel up.
    bool panelShown = false;
    QTimer::singleShot(0, window.get(), [&] {
        panelShown = window->PanelConvertProcess->isVisible();
        QTest::keyClick(window.get(), Qt::Key_Escape);
    });
    QVERIFY(!window->RunConvert());
    QVERIFY(panelShown);
    QCOMPARE(warnings.texts, QStringList{"キャンセルされました。"});
    QCOMPARE(window->StatusText(), QString("キャンセルされました。"));
    QVERIFY(window->ProgressBar1->value() < 200000);
    QCOMPARE(FileBytes(book), before);
    QVERIFY(window->PanelConvertProcess->isHidden());
}

void TFormMainImportTest::UnattendedRun() {
    TWarnings warnings;
    const QString book = Path("auto.xlsx");
    QVERIFY(MakeWorkbook(book));
    const QString csv = Path("auto.csv");
    WriteFile(csv, "名前,数量\n佐藤,7\n");
    const QStringList options{"-e=" + book, "-w=Sheet1$",       "-c=" + csv,
                              "-f=-1",      "-r=名前=0,数量=1", "-a"};
    // Success closes the window.
    auto window = Open(options);
    QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('/')));
    QVERIFY(!window->isVisible());
    QCOMPARE(WorkbookRows(book), (QStringList{"名前|数量", "既存|1", "佐藤|7"}));
    TConfig saved;
    saved.Load(SettingsFile());
    QVERIFY(saved.LastProjectFile.empty());

    // A failing run leaves it open with its warning.
    WriteFile(csv, "名前,数量\n佐藤,七\n");
    auto failing = Open(options);
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY(failing->isVisible());
    QCOMPARE(WorkbookRows(book), (QStringList{"名前|数量", "既存|1", "佐藤|7"}));
}

}  // namespace qm

int RunFormMainTests(int argc, char** argv) {
    qm::TFormMainImportTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "form_main_import_test.moc"
