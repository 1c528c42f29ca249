// Whole imports from the window into the other file kinds: an .xls workbook made by xlwt and read
// back by xlrd, and an .accdb database made by our builder and read back by the npm package
// mdb-reader. The user's way each time: choose the files, map the fields, tick the header box, F5.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "app/form_main.h"
#include "app_test_util.h"
#include "targets/jet/jet_builder.h"

namespace qm {

using namespace test;

namespace {

bool HasXlrdAndXlwt() {
    QProcess process;
    process.start(QM_PYTHON, {"-c", "import xlrd, xlwt"});
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

bool HasMdbReader() {
    QProcess process;
    process.setProcessEnvironment([] {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("NODE_PATH", QM_NODE_MODULES);
        return environment;
    }());
    process.start("node", {"-e", "require('mdb-reader')"});
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

// Every row of the table as mdb-reader reads it, one line a row, cells separated by tabs.
QStringList MdbReaderRows(const QString& database, const QString& table) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NODE_PATH", QM_NODE_MODULES);
    process.setProcessEnvironment(environment);
    process.start("node", {QM_MDB_READER_ROWS, database, table});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning() << process.readAllStandardError();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

class TFormMainTargetsTest : public QObject, TWindowTestFolder {
    Q_OBJECT

  private:
    // A shown, active window with the target and the CSV chosen, the header box ticked and the
    // given rows of the relation grid mapped to columns A, B, ... in turn.
    std::unique_ptr<TFormMain> OpenMapped(TDialogs& dialogs, const QString& target,
                                          const QString& csv, std::initializer_list<int> rows) {
        auto window = Open();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get())) return nullptr;
        dialogs.answers = {target, csv};
        window->SpeedButton1->click();
        window->SpeedButton2->click();
        int entry = 1;
        for (int row : rows)
            MapField(window->GridRelation, row, entry++);
        window->CheckBoxCsvFirstLineIsTitle->click();
        return window;
    }

  private slots:
    void initTestCase() {
        // Never skipped: without its independent reader a test would prove nothing.
        QVERIFY2(HasXlrdAndXlwt(),
                 "python3-xlrd or python3-xlwt is not installed (scripts/install-deps.sh)");
        QVERIFY2(HasMdbReader(),
                 "node or the npm package mdb-reader is not installed "
                 "(scripts/install-deps.sh)");
    }
    void ImportIntoXlsWorkbook();
    void ImportIntoAccessTable();
};

void TFormMainTargetsTest::ImportIntoXlsWorkbook() {
    TWarnings warnings;
    TDialogs dialogs;
    const QString book = Path("台帳.xls");
    // The existing row gives each column its type: text, number, date.
    QVERIFY(!Python("import sys, datetime, xlwt\n"
                    "wb = xlwt.Workbook(); ws = wb.add_sheet('Sheet1')\n"
                    "for c, v in enumerate(['名前', '数量', '日付']): ws.write(0, c, v)\n"
                    "ws.write(1, 0, '既存'); ws.write(1, 1, 1)\n"
                    "ws.write(1, 2, datetime.date(2024, 1, 2),\n"
                    "         xlwt.easyxf(num_format_str='yyyy/mm/dd'))\n"
                    "wb.save(sys.argv[1]); print('ok')\n",
                    {book})
                 .isEmpty());
    const QString csv = Path("xls.csv");
    WriteFile(csv, "名前,数量,日付\n山田,3,2024/05/01\n\"田中\n太郎\",4.5,\n");
    auto window = OpenMapped(dialogs, book, csv, {0, 1, 2});
    QVERIFY(window);
    QCOMPARE(window->ComboBoxExcelWorksheet->currentText(), QString("Sheet1$"));
    QCOMPARE(window->DBGrid1->model()->rowCount(), 1);

    QTest::keyClick(window.get(), Qt::Key_F5);
    QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('/')));
    QCOMPARE(window->StatusText(), QString("登録しました。"));
    QCOMPARE(window->DBGrid1->model()->rowCount(), 3);

    // xlrd gives each cell's type and value; a date must be a number with a date format.
    const QByteArray out = Python(
        "import sys, xlrd\n"
        "wb = xlrd.open_workbook(sys.argv[1], formatting_info=True); ws = "
        "wb.sheet_by_name('Sheet1')\n"
        "for r in range(ws.nrows):\n"
        "    cells = []\n"
        "    for c in range(ws.ncols):\n"
        "        cell = ws.cell(r, c)\n"
        "        if cell.ctype == xlrd.XL_CELL_DATE:\n"
        "            cells.append('d:%04d-%02d-%02d' % xlrd.xldate_as_tuple(cell.value, "
        "wb.datemode)[:3])\n"
        "        elif cell.ctype == xlrd.XL_CELL_NUMBER: cells.append('n:%g' % cell.value)\n"
        "        elif cell.ctype == xlrd.XL_CELL_TEXT: cells.append('s:' + "
        "cell.value.replace('\\r', '\\\\r').replace('\\n', '\\\\n'))\n"
        "        else: cells.append('~')\n"
        "    print('|'.join(cells))\n",
        {book});
    QCOMPARE(QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts),
             (QStringList{"s:名前|s:数量|s:日付", "s:既存|n:1|d:2024-01-02",
                          "s:山田|n:3|d:2024-05-01", "s:田中\\r\\n太郎|n:4.5|~"}));
}

void TFormMainTargetsTest::ImportIntoAccessTable() {
    using namespace jet;
    TWarnings warnings;
    TDialogs dialogs;
    const QString database = Path("販売.accdb");
    {
        TJetBuilder builder(
            {{u"売上",
              {{u"ID", kTypeLong, 0, true}, {u"名前", kTypeText, 10}, {u"数量", kTypeLong}},
              {{u"PrimaryKey", {0}, true, true}}}},
            TBuildFormat::Ace12);
        WriteFile(database, QByteArray::fromStdString(builder.Finish()));
    }
    const QString csv = Path("accdb.csv");
    WriteFile(csv, "名前,数量\n山田,3\n田中,\n");
    // The AutoNumber key (row 0) stays unmapped: the table numbers the rows itself.
    auto window = OpenMapped(dialogs, database, csv, {1, 2});
    QVERIFY(window);
    QCOMPARE(window->ComboBoxExcelWorksheet->currentText(), QString("売上"));
    QCOMPARE(window->DBGrid1->model()->rowCount(), 0);

    QTest::keyClick(window.get(), Qt::Key_F5);
    QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('/')));
    QCOMPARE(window->StatusText(), QString("登録しました。"));
    QCOMPARE(window->DBGrid1->model()->rowCount(), 2);
    QCOMPARE(MdbReaderRows(database, "売上"),
             (QStringList{"n:1.0\ts:\"山田\"\tn:3.0", "n:2.0\ts:\"田中\"\t~"}));
}

}  // namespace qm

int RunFormMainTests(int argc, char** argv) {
    qm::TFormMainTargetsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "form_main_targets_test.moc"
