// Whole imports from the window into an .xlsx workbook made by the test, checked with openpyxl:
// the user's way (choose the files, map two fields in the relation grid, F5), a failing row, a
// cancel during the run, and the unattended start with -a.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/display_check.h"
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
    void TargetRefusedAtTheStartOfTheRun();
    void UnattendedRun();
    void UnattendedRunRefusesASheetThatIsGone();
    void WithoutADisplayTheImportRunsWithoutAWindow();
    void NoDisplayIsToldBeforeQtStarts();
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
    // At the run's first turn for the user interface, with the progress panel up, the commands
    // that would replace what the run uses are pressed (and do nothing), then Esc.
    bool panelShown = false;
    const std::size_t dialogsBefore = dialogs.shown.size();
    const TCsv* table = window->Csv.get();
    QTimer::singleShot(0, window.get(), [&] {
        panelShown = window->PanelConvertProcess->isVisible();
        for (QAction* command :
             {window->ActionFileNew, window->ActionFileOpen, window->ActionExcelBoolSelect,
              window->ActionCsvFileSelect, window->ActionConvertStart})
            command->trigger();
        QTest::keyClick(window.get(), Qt::Key_Escape);
    });
    QVERIFY(!window->RunConvert());
    QVERIFY(panelShown);
    QCOMPARE(dialogs.shown.size(), dialogsBefore);
    QCOMPARE(window->Csv.get(), table);
    QCOMPARE(window->EditExcelBook->text(), book);
    QCOMPARE(warnings.texts, QStringList{"キャンセルされました。"});
    QCOMPARE(window->StatusText(), QString("キャンセルされました。"));
    QVERIFY(window->ProgressBar1->value() < 200000);
    QCOMPARE(FileBytes(book), before);
    QVERIFY(window->PanelConvertProcess->isHidden());
}

// A target that cannot be written is refused when the run begins its transaction: the error
// reaches the general handling (a warning naming the file), nothing escapes the command, and the
// window stays ready for the next run.
void TFormMainImportTest::TargetRefusedAtTheStartOfTheRun() {
    TWarnings warnings;
    TDialogs dialogs;
    const QString book = Path("refused.xlsx");
    QVERIFY(MakeWorkbook(book));
    const QByteArray before = FileBytes(book);
    const QString csv = Path("refused.csv");
    WriteFile(csv, "山田,3\n");
    auto window = OpenMapped(dialogs, book, csv);
    QVERIFY(window);
    const QString lock = Path(".~lock.refused.xlsx#");
    struct TCase {
        const char* name;
        std::function<void()> refuse;
        std::function<void()> allow;
    };
    const TCase cases[] = {
        {"read-only",
         [&] { QFile::setPermissions(book, QFileDevice::ReadOwner | QFileDevice::ReadGroup); },
         [&] {
             QFile::setPermissions(
                 book, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
         }},
        {"LibreOffice's lock file", [&] { WriteFile(lock, ",someone,host,01.01.2026 09:00,\n"); },
         [&] { QFile::remove(lock); }},
    };
    for (const TCase& c : cases) {
        warnings.texts.clear();
        c.refuse();
        // Triggered directly, so an error passed through the signal would reach this test.
        bool escaped = false;
        try {
            window->ActionConvertStart->trigger();
        } catch (...) {
            escaped = true;
        }
        c.allow();
        QVERIFY2(!escaped, c.name);
        QVERIFY2(warnings.texts.size() == 1, c.name);
        QVERIFY2(warnings.texts[0].endsWith("\n" + book), qPrintable(warnings.texts[0]));
        QCOMPARE(FileBytes(book), before);
        QVERIFY(window->IsIdle());
        QVERIFY(window->PanelConvertProcess->isHidden());
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QVERIFY(window->ComboBoxExcelWorksheet->isEnabled());
    }
    // Once the file may be written, F5 imports.
    warnings.texts.clear();
    QTest::keyClick(window.get(), Qt::Key_F5);
    QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('/')));
    QCOMPARE(window->StatusText(), QString("登録しました。"));
    QCOMPARE(WorkbookRows(book), (QStringList{"名前|数量", "既存|1", "山田|3"}));
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

namespace {

struct TProgramRun {
    int status = -1;
    QString errors;
};

// Runs a program with the environment changed: each entry "NAME=value" sets, "NAME" removes.
TProgramRun RunProgram(const QString& program, const QStringList& arguments,
                       const QStringList& environment) {
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : environment) {
        const qsizetype equals = entry.indexOf('=');
        if (equals < 0)
            variables.remove(entry);
        else
            variables.insert(entry.left(equals), entry.mid(equals + 1));
    }
    QProcess process;
    process.setProcessEnvironment(variables);
    process.start(program, arguments);
    TProgramRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

}  // namespace

// An unattended start that names a worksheet the workbook no longer holds is refused with the
// command-line import's message; nothing is imported and the window stays open.
void TFormMainImportTest::UnattendedRunRefusesASheetThatIsGone() {
    TWarnings warnings;
    const QString book = Path("gone-sheet.xlsx");
    QVERIFY(MakeWorkbook(book));
    const QByteArray before = FileBytes(book);
    const QString csv = Path("gone-sheet.csv");
    WriteFile(csv, "名前,数量\n佐藤,7\n");
    const QStringList options{"-e=" + book, "-w=Renamed$",      "-c=" + csv,
                              "-f=-1",      "-r=名前=0,数量=1", "-a"};
    auto window = Open(options);
    const TProgramRun cli = RunProgram(QM_CLI, QStringList{"import"} + options.mid(0, 5), {});
    QCOMPARE(cli.status, 1);
    QCOMPARE(warnings.texts, QStringList{cli.errors.trimmed()});
    QVERIFY(warnings.texts[0].contains("Renamed$"));
    QVERIFY(window->isVisible());
    QCOMPARE(FileBytes(book), before);
}

// Where no window can be shown, "quillomat ... -a" imports without one: progress and outcome on
// standard error, failures also in error.log, the exit status of quillomat-cli import.
void TFormMainImportTest::WithoutADisplayTheImportRunsWithoutAWindow() {
    const QString book = Path("headless.xlsx");
    QVERIFY(MakeWorkbook(book));
    const QString csv = Path("headless.csv");
    WriteFile(csv, "名前,数量\n佐藤,7\n");
    const QString config = Path("headless-config");
    const QString log = config + "/Morvessa/Quillomat/error.log";
    const QStringList noDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                "XDG_CONFIG_HOME=" + config};
    const QStringList options{"-e=" + book, "-w=Sheet1$",       "-c=" + csv,
                              "-f=-1",      "-r=名前=0,数量=1", "-a"};

    // No display at all, then one named whose server does not answer.
    TProgramRun run = RunProgram(QM_PROGRAM, options, noDisplay);
    QCOMPARE(run.status, 0);
    QVERIFY2(run.errors.contains("登録しました。"), qPrintable(run.errors));
    run = RunProgram(QM_PROGRAM, options, noDisplay + QStringList{"DISPLAY=:987"});
    QCOMPARE(run.status, 0);
    QCOMPARE(WorkbookRows(book), (QStringList{"名前|数量", "既存|1", "佐藤|7", "佐藤|7"}));
    QVERIFY(!QFile::exists(log));
    // Nothing of the window is kept: the settings are not written.
    QVERIFY(!QFile::exists(config + "/Morvessa/Quillomat/Quillomat.ini"));

    // Failures: a row that does not convert, a worksheet that is gone, a wrong option.
    const QByteArray before = FileBytes(book);
    const QString bad = Path("headless-bad.csv");
    WriteFile(bad, "名前,数量\n佐藤,七\n");
    struct TCase {
        const char* name;
        QStringList options;
        int status;
        QString message;
    };
    const TCase cases[] = {
        {"failing row", QStringList(options).replaceInStrings("-c=" + csv, "-c=" + bad), 1, "数量"},
        {"sheet gone", QStringList(options).replaceInStrings("-w=Sheet1$", "-w=Gone$"), 1,
         "「Gone$」が見つかりません"},
        {"wrong option", QStringList(options) << "-f=maybe", 2,
         "'maybe' は正しい論理型ではありません"},
    };
    for (const TCase& c : cases) {
        QFile::remove(log);
        run = RunProgram(QM_PROGRAM, c.options, noDisplay);
        QVERIFY2(run.status == c.status, c.name);
        QVERIFY2(run.errors.contains(c.message), qPrintable(run.errors));
        QFile file(log);
        QVERIFY2(file.open(QIODevice::ReadOnly), c.name);
        QVERIFY2(QString::fromUtf8(file.readAll()).contains(c.message), c.name);
        QCOMPARE(FileBytes(book), before);
        // The same exit status as the command-line import.
        const TProgramRun cli = RunProgram(
            QM_CLI, QStringList{"import"} + c.options.filter(QRegularExpression("^-[ewcfr]=")), {});
        QVERIFY2(cli.status == c.status, c.name);
    }
}

void TFormMainImportTest::NoDisplayIsToldBeforeQtStarts() {
    // A listening socket stands for a Wayland compositor.
    QTemporaryDir runtime;
    const int compositor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(compositor >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = runtime.filePath("wayland-test").toUtf8();
    QVERIFY(socketPath.size() < qsizetype(sizeof address.sun_path));
    std::memcpy(address.sun_path, socketPath.constData(), std::size_t(socketPath.size()));
    QVERIFY(::bind(compositor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
    QVERIFY(::listen(compositor, 4) == 0);
    const QByteArray runtimePath = runtime.path().toUtf8();
    struct TCase {
        const char* name;
        std::map<std::string, std::string> environment;
        bool canShow;
    };
    const TCase cases[] = {
        {"nothing", {}, false},
        {"offscreen asked for", {{"QT_QPA_PLATFORM", "offscreen"}}, true},
        {"X server that does not answer", {{"DISPLAY", ":987"}}, false},
        {"xcb asked for without a server",
         {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":987"}},
         false},
        {"malformed display", {{"DISPLAY", "nonsense"}}, false},
        {"compositor answers",
         {{"WAYLAND_DISPLAY", "wayland-test"}, {"XDG_RUNTIME_DIR", runtimePath.toStdString()}},
         true},
        {"compositor gone",
         {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", runtimePath.toStdString()}},
         false},
        {"wayland asked for, then offscreen", {{"QT_QPA_PLATFORM", "wayland;offscreen"}}, true},
    };
    for (const TCase& c : cases) {
        const bool canShow = CanShowWindows([&](const char* name) -> const char* {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? nullptr : found->second.c_str();
        });
        QVERIFY2(canShow == c.canShow, c.name);
    }
    ::close(compositor);
}

}  // namespace qm

int RunFormMainTests(int argc, char** argv) {
    qm::TFormMainImportTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "form_main_import_test.moc"
