// The project commands driven as a user would: saving a new project and opening it again, the
// project the program starts with, the recent-files submenu, projects that no longer match
// their files, project files that cannot be read or written, commands pressed while a project
// is still being shown, and the auto-run script run by sh.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "app/form_main.h"
#include "app_test_util.h"
#include "csv/csv.h"
#include "grids/grid_relation.h"
#include "platform/auto_run_script.h"
#include "platform/program_path.h"
#include "platform/yield.h"
#include "project/project.h"
#include "settings/config.h"

namespace qm {

using namespace test;

namespace {

// Two worksheets: "First" (fields a, b) and "Second" (fields 名前, 数量), so that a project
// naming the second one shows whether the worksheet was chosen again.
bool MakeWorkbook(const QString& path) {
    return !Python(
                "import sys, openpyxl\n"
                "wb = openpyxl.Workbook(); ws = wb.active; ws.title = 'First'\n"
                "ws.append(['a', 'b'])\n"
                "ws2 = wb.create_sheet('Second'); ws2.append(['名前', '数量'])\n"
                "ws2.append(['既存', 1])\n"
                "wb.save(sys.argv[1]); print('ok')\n",
                {path})
                .isEmpty();
}

std::vector<std::u16string> FieldNames(const TGridRelation* grid) {
    std::vector<std::u16string> names;
    for (const auto& item : grid->Items())
        names.push_back(item.FieldName);
    return names;
}

// The entries of "開き直す(&R)" as the user sees them when the file menu opens.
QStringList ReOpenEntries(TFormMain& window) {
    window.MenuFile->popup(QPoint(0, 0));
    window.MenuFile->close();
    QStringList texts;
    for (QAction* entry : window.MenuFileReOpen->actions())
        texts << entry->text();
    return texts;
}

void WriteProject(const QString& path, const QString& book, const QString& sheet,
                  const QString& csv, bool title, const TRelation& relation) {
    TProject project(ToU16String(book), ToU16String(sheet), ToU16String(csv), title);
    project.Relation = relation;
    project.SaveToFile(ToU16String(path));
}

// The arguments qm_print_args received, from its "length:bytes" output.
QStringList PrintedArguments(const QByteArray& out) {
    QStringList arguments;
    qsizetype at = 0;
    while (at < out.size()) {
        const qsizetype colon = out.indexOf(':', at);
        if (colon < 0) break;
        const qsizetype length = out.mid(at, colon - at).toLongLong();
        arguments << QString::fromUtf8(out.mid(colon + 1, length));
        at = colon + 1 + length;
    }
    return arguments;
}

}  // namespace

class TFormMainProjectTest : public QObject, TWindowTestFolder {
    Q_OBJECT

  private:
    QString book;
    QString csv;

    // A window showing the workbook's second worksheet, the CSV with its header line ticked
    // and both fields mapped: the files chosen through their dialogs, the worksheet with the
    // keyboard.
    std::unique_ptr<TFormMain> OpenPrepared(TDialogs& dialogs) {
        auto window = Open();
        dialogs.answers = {book, csv};
        window->SpeedButton1->click();
        QTest::keyClick(window->ComboBoxExcelWorksheet, Qt::Key_Down);
        window->SpeedButton2->click();
        window->CheckBoxCsvFirstLineIsTitle->click();
        window->GridRelation->SetRelation({{u"名前", 1}, {u"数量", 0}});
        dialogs.shown.clear();
        return window;
    }
    // The controls show the prepared project.
    void VerifyPrepared(TFormMain& window) {
        QCOMPARE(window.EditExcelBook->text(), book);
        QCOMPARE(window.ComboBoxExcelWorksheet->currentText(), QString("Second$"));
        QCOMPARE(FieldNames(window.GridRelation), (std::vector<std::u16string>{u"名前", u"数量"}));
        QCOMPARE(window.EditCsvFile->text(), csv);
        QVERIFY(window.Csv != nullptr);
        QCOMPARE(window.Csv->GetRowCount(), 2u);
        QVERIFY(window.CheckBoxCsvFirstLineIsTitle->isChecked());
        QCOMPARE(window.GridRelation->GetRelation(), (TRelation{{u"名前", 1}, {u"数量", 0}}));
    }

  private slots:
    void initTestCase() {
        QVERIFY2(HasOpenpyxl(),
                 "python3-openpyxl is not installed (scripts/install-deps.sh installs it)");
        book = Path("book.xlsx");
        QVERIFY(MakeWorkbook(book));
        csv = Path("in.csv");
        WriteFile(csv, "数量,名前\n3,山田\n");
    }
    void init() { QFile::remove(Path("Quillomat.ini")); }

    void SaveNewProjectAndOpenIt();
    void StartUpProject();
    void ProjectFileAsTheOnlyArgument();
    void RecentFiles();
    void ProjectsThatNoLongerMatchTheirFiles();
    void FailingReadOrWriteChangesNothing();
    void CommandsWaitWhileAProjectIsShown();
    void AutoRunScript();
};

void TFormMainProjectTest::SaveNewProjectAndOpenIt() {
    TWarnings warnings;
    TDialogs dialogs;
    const QString path = Path("sales.QLM");
    {
        auto window = OpenPrepared(dialogs);
        QCOMPARE(window->windowTitle(), QString("Quillomat"));
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));

        // Save of an untitled project asks for a name, with an empty preset.
        dialogs.answers = {path};
        QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(dialogs.shown.size(), std::size_t(1));
        const TOpenDialog& shown = dialogs.shown[0];
        QVERIFY(shown.Mode == TOpenDialog::TMode::Save);
        QVERIFY(shown.FileName.isEmpty());
        QCOMPARE(shown.DefaultExt, QString("QLM"));
        QCOMPARE(shown.NameFilters(),
                 (QStringList{"Quillomat プロジェクトファイル(*.QLM) (*.[qQ][lL][mM])",
                              "すべてのファイル(*.*) (*)"}));
        QCOMPARE(window->windowTitle(), QString("Quillomat - sales.QLM"));
        QCOMPARE(window->ProjectFileName, ToU16String(path));
        QCOMPARE(window->StatusText(), QString("ファイルに保存しました。"));
        QCOMPARE(window->Config.History, std::vector<std::u16string>{ToU16String(path)});

        // Saving again writes under the same name without asking; Save As presets the name.
        window->SetStatusText(QString());
        window->ActionFileSave->trigger();
        QCOMPARE(dialogs.shown.size(), std::size_t(1));
        QCOMPARE(window->StatusText(), QString("ファイルに保存しました。"));
        QCOMPARE(window->Config.History.size(), std::size_t(1));
        window->ActionFileSaveAs->trigger();  // cancelled
        QCOMPARE(dialogs.shown.size(), std::size_t(2));
        QCOMPARE(dialogs.shown[1].FileName, path);
        QCOMPARE(window->windowTitle(), QString("Quillomat - sales.QLM"));
        QVERIFY(warnings.texts.isEmpty());
        // The project file holds what the window showed.
        QCOMPARE(window->Project->ExcelSheet, std::u16string(u"Second$"));
        QCOMPARE(window->Project->Relation, (TRelation{{u"名前", 1}, {u"数量", 0}}));
    }

    // A fresh window opens it through the dialog and shows every control again.
    auto window = Open();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    dialogs.shown.clear();
    dialogs.answers = {path};
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(dialogs.shown.size(), std::size_t(1));
    QVERIFY(dialogs.shown[0].Mode == TOpenDialog::TMode::Open);
    QCOMPARE(dialogs.shown[0].DefaultExt, QString("QLM"));
    VerifyPrepared(*window);
    QCOMPARE(window->windowTitle(), QString("Quillomat - sales.QLM"));
    QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('/')));

    // New empties the window and forgets the name.
    window->ActionFileNew->trigger();
    QVERIFY(window->EditExcelBook->text().isEmpty());
    QCOMPARE(window->ComboBoxExcelWorksheet->count(), 0);
    QVERIFY(window->Csv == nullptr);
    QVERIFY(!window->CheckBoxCsvFirstLineIsTitle->isChecked());
    QCOMPARE(window->windowTitle(), QString("Quillomat"));
    QVERIFY(window->ProjectFileName.empty());

    // A file that is not there: the warning, and the window keeps its project.
    window->OpenProjectFile(ToU16String(path));
    const QString missing = Path("gone.QLM");
    dialogs.answers = {missing};
    window->ActionFileOpen->trigger();
    QCOMPARE(warnings.texts, QStringList{"ファイルが見つかりません。\n" + missing});
    VerifyPrepared(*window);
    QCOMPARE(window->windowTitle(), QString("Quillomat - sales.QLM"));
}

void TFormMainProjectTest::StartUpProject() {
    TWarnings warnings;
    const QString last = Path("last.QLM");
    WriteProject(last, book, "Second$", csv, true, {{u"名前", 1}, {u"数量", 0}});
    struct TCase {
        const char* name;
        bool restore;
        QString lastFile;
        QStringList arguments;
        bool opened;
    };
    const TCase cases[] = {
        {"restored", true, last, {}, true},
        // A single option is not looked at.
        {"restored with one option", true, last, {"-a"}, true},
        {"file gone", true, Path("gone.QLM"), {}, false},
        {"restore off", false, last, {}, false},
    };
    for (const TCase& c : cases) {
        TConfig config;
        config.ProjectFileRestore = c.restore;
        config.LastProjectFile = ToU16String(c.lastFile);
        config.History = {u"/elsewhere/a.QLM", ToU16String(c.lastFile)};
        config.Save(SettingsFile());
        auto window = Open(c.arguments);
        const QString trace = QString::fromUtf8(c.name);
        QVERIFY2(warnings.texts.isEmpty(), qPrintable(trace));
        if (c.opened) {
            VerifyPrepared(*window);
            QVERIFY2(window->windowTitle() == "Quillomat - last.QLM", qPrintable(trace));
            QVERIFY2(window->Config.History.front() == ToU16String(last), qPrintable(trace));
        } else {
            QVERIFY2(window->ProjectFileName.empty(), qPrintable(trace));
            QVERIFY2(window->windowTitle() == "Quillomat", qPrintable(trace));
            QVERIFY2(window->EditExcelBook->text().isEmpty(), qPrintable(trace));
            QVERIFY2(window->Config.History.front() == u"/elsewhere/a.QLM", qPrintable(trace));
        }
        // Closing remembers the project for the next start (empty when untitled).
        window->close();
        TConfig saved;
        saved.Load(SettingsFile());
        QVERIFY2(saved.LastProjectFile == (c.opened ? ToU16String(last) : u""), qPrintable(trace));
    }
}

// Opening a project file from the desktop passes its path as the only argument: that project
// opens, whatever the last one was; a relative path is taken from the current folder.
void TFormMainProjectTest::ProjectFileAsTheOnlyArgument() {
    TWarnings warnings;
    const QString other = Path("other.QLM");
    WriteProject(other, "", "", "", false, {});
    const QString chosen = Path("chosen.QLM");
    WriteProject(chosen, book, "Second$", csv, true, {{u"名前", 1}, {u"数量", 0}});
    TConfig config;
    config.ProjectFileRestore = true;
    config.LastProjectFile = ToU16String(other);
    config.Save(SettingsFile());

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    for (const QString& argument : {chosen, QString("chosen.QLM")}) {
        auto window = Open({argument});
        QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('/')));
        VerifyPrepared(*window);
        QCOMPARE(window->ProjectFileName, ToU16String(chosen));
        QCOMPARE(window->windowTitle(), QString("Quillomat - chosen.QLM"));
        QCOMPARE(window->Config.History.front(), ToU16String(chosen));
    }
    QDir::setCurrent(previous);

    // A project file that is gone: its warning, and a new untitled project.
    const QString gone = Path("gone.QLM");
    auto window = Open({gone});
    QCOMPARE(warnings.texts, QStringList{"ファイルが見つかりません。\n" + gone});
    QVERIFY(window->Project != nullptr);
    QVERIFY(window->ProjectFileName.empty());
    QVERIFY(window->EditExcelBook->text().isEmpty());
}

void TFormMainProjectTest::RecentFiles() {
    TWarnings warnings;
    TDialogs dialogs;
    auto window = Open();
    QVERIFY(ReOpenEntries(*window).isEmpty());

    // Twelve projects opened in a row are all listed, the last first.
    QStringList paths;
    for (int i = 0; i < 12; ++i) {
        paths << Path(QString("p%1 & co.QLM").arg(i));
        WriteProject(paths.back(), "", "", "", false, {});
        window->OpenProjectFile(ToU16String(paths.back()));
    }
    QStringList entries = ReOpenEntries(*window);
    QCOMPARE(entries.size(), 12);
    QCOMPARE(entries.front(), "&0." + QString(paths[11]).replace("&", "&&"));
    QCOMPARE(entries.back(), "&11." + QString(paths[0]).replace("&", "&&"));

    // Opening a, b, a gives a, b; the same file named another way is the same entry, kept as
    // it was written last, while a name differing only in letter case is another file.
    window->Config.History.clear();
    const QString a = paths[0];
    const QString b = paths[1];
    const QString bAgain = QFileInfo(b).absolutePath() + "/./" + QFileInfo(b).fileName();
    window->OpenProjectFile(ToU16String(a));
    window->OpenProjectFile(ToU16String(bAgain));
    window->OpenProjectFile(ToU16String(b));
    window->OpenProjectFile(ToU16String(a));
    QCOMPARE(ReOpenEntries(*window), (QStringList{"&0." + QString(a).replace("&", "&&"),
                                                  "&1." + QString(b).replace("&", "&&")}));
    const QString upper = Path("P1 & CO.qlm");
    dialogs.answers = {upper};
    window->ActionFileSaveAs->trigger();
    QCOMPARE(window->Config.History,
             (std::vector<std::u16string>{ToU16String(upper), ToU16String(a), ToU16String(b)}));

    // An entry opens its project and moves it to the top.
    window->MenuFile->popup(QPoint(0, 0));
    window->MenuFile->close();
    window->MenuFileReOpen->actions()[1]->trigger();
    QCOMPARE(window->ProjectFileName, ToU16String(a));
    QCOMPARE(window->Config.History.front(), ToU16String(a));

    // An entry whose file was deleted: nothing opens, no message, and it is gone next time.
    QVERIFY(QFile::remove(upper));
    window->MenuFile->popup(QPoint(0, 0));
    window->MenuFile->close();
    window->MenuFileReOpen->actions()[1]->trigger();
    QCOMPARE(window->ProjectFileName, ToU16String(a));
    QVERIFY(warnings.texts.isEmpty());
    QCOMPARE(ReOpenEntries(*window), (QStringList{"&0." + QString(a).replace("&", "&&"),
                                                  "&1." + QString(b).replace("&", "&&")}));
}

void TFormMainProjectTest::ProjectsThatNoLongerMatchTheirFiles() {
    TWarnings warnings;
    // A worksheet name that differs from every listed one only in letter case: the first
    // worksheet stays open, without a message.
    const QString sheetCase = Path("case.QLM");
    WriteProject(sheetCase, book, "SECOND$", csv, false, {{u"a", 0}});
    auto window = Open();
    window->OpenProjectFile(ToU16String(sheetCase));
    QVERIFY(warnings.texts.isEmpty());
    QCOMPARE(window->ComboBoxExcelWorksheet->currentIndex(), 0);
    QCOMPARE(window->ComboBoxExcelWorksheet->currentText(), QString("First$"));
    QCOMPARE(FieldNames(window->GridRelation), (std::vector<std::u16string>{u"a", u"b"}));
    QCOMPARE(window->GridRelation->GetRelation(), (TRelation{{u"a", 0}}));

    // A CSV file that was moved: the target is shown, the CSV warning comes, and the relation
    // grid lists the target's fields without a CSV table.
    const QString moved = Path("moved.QLM");
    const QString gone = Path("moved away.csv");
    WriteProject(moved, book, "Second$", gone, true, {{u"名前", 1}});
    window->OpenProjectFile(ToU16String(moved));
    QCOMPARE(warnings.texts, QStringList{"指定されたCSVファイルが見つかりませんでした。\n" + gone});
    QCOMPARE(window->ComboBoxExcelWorksheet->currentText(), QString("Second$"));
    QCOMPARE(FieldNames(window->GridRelation), (std::vector<std::u16string>{u"名前", u"数量"}));
    QVERIFY(window->Csv == nullptr);
    QCOMPARE(window->EditCsvFile->text(), gone);
    QCOMPARE(window->windowTitle(), QString("Quillomat - moved.QLM"));
}

void TFormMainProjectTest::FailingReadOrWriteChangesNothing() {
    TWarnings warnings;
    TDialogs dialogs;
    auto window = OpenPrepared(dialogs);
    const QString first = Path("first.QLM");
    dialogs.answers = {first};
    window->ActionFileSaveAs->trigger();
    window->SetStatusText(QString());
    const std::vector<std::u16string> history = window->Config.History;

    // A name in a folder that is gone by the time of writing (the tests may run as root, for
    // whom a read-only folder is writable); the error reaches the general error handling.
    const QString second = Path("removed folder/second.QLM");
    dialogs.answers = {second};
    window->ActionFileSaveAs->trigger();
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY2(warnings.texts[0].endsWith("\n" + second), qPrintable(warnings.texts[0]));
    QVERIFY(!QFile::exists(second));
    QCOMPARE(window->ProjectFileName, ToU16String(first));
    QCOMPARE(window->windowTitle(), QString("Quillomat - first.QLM"));
    QCOMPARE(window->Config.History, history);
    QVERIFY(window->StatusText().isEmpty());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);

    // A project file that cannot be read (larger than any INI document is read): the error is
    // reported, and the window keeps showing the previous project under its name.
    const QString huge = Path("huge.QLM");
    {
        QFile file(huge);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(65) << 20));  // sparse: no disk space taken
    }
    warnings.texts.clear();
    dialogs.answers = {huge};
    window->ActionFileOpen->trigger();
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY2(warnings.texts[0].endsWith("\n" + huge), qPrintable(warnings.texts[0]));
    QCOMPARE(window->windowTitle(), QString("Quillomat - first.QLM"));
    QCOMPARE(window->Config.History, history);
    VerifyPrepared(*window);
    // A following Save writes what the window shows.
    window->ActionFileSave->trigger();
    TProject saved(u"", u"", u"", false);
    saved.LoadFromFile(ToU16String(first));
    QCOMPARE(saved.ExcelSheet, std::u16string(u"Second$"));
    QCOMPARE(saved.Relation, (TRelation{{u"名前", 1}, {u"数量", 0}}));
}

namespace {
TFormMain* gWindow = nullptr;
bool gPressed = false;
// At the first turn of the event loop inside the CSV loader, the user presses Save, Open and
// New, and the window's close box. None of them may act on the half-shown project.
void PressProjectCommands() {
    if (gPressed || gWindow == nullptr) return;
    gPressed = true;
    gWindow->ActionFileSave->trigger();
    gWindow->ActionFileOpen->trigger();
    gWindow->ActionFileNew->trigger();
    gWindow->close();
}
}  // namespace

void TFormMainProjectTest::CommandsWaitWhileAProjectIsShown() {
    TWarnings warnings;
    TDialogs dialogs;
    const QString quoted = Path("quoted.csv");
    WriteFile(quoted, "\"数量\",\"名前\"\n\"3\",\"山田\"\n");
    const QString path = Path("busy.QLM");
    WriteProject(path, book, "Second$", quoted, true, {{u"名前", 1}, {u"数量", 0}});
    const QByteArray before = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    // The window already shows the project under its name, so a Save would overwrite the file.
    auto window = Open();
    window->OpenProjectFile(ToU16String(path));
    QCOMPARE(window->windowTitle(), QString("Quillomat - busy.QLM"));
    dialogs.answers = {Path("other.QLM")};

    gWindow = window.get();
    gPressed = false;
    TYieldHook previous = SetYieldHook(PressProjectCommands);
    window->OpenProjectFile(ToU16String(path));
    SetYieldHook(previous);
    gWindow = nullptr;

    QVERIFY(gPressed);
    QVERIFY(dialogs.shown.empty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    QVERIFY(window->Csv != nullptr);
    QVERIFY(window->CheckBoxCsvFirstLineIsTitle->isChecked());
    QCOMPARE(window->GridRelation->GetRelation(), (TRelation{{u"名前", 1}, {u"数量", 0}}));
    QCOMPARE(window->windowTitle(), QString("Quillomat - busy.QLM"));
    QVERIFY(warnings.texts.isEmpty());
    QVERIFY(window->isVisible());
    QVERIFY(window->Project != nullptr);
}

void TFormMainProjectTest::AutoRunScript() {
    TWarnings warnings;
    TDialogs dialogs;
    {
        // Without a CSV table only the check's warning comes; no dialog.
        auto empty = Open();
        empty->ActionFileSaveAuto->trigger();
        QCOMPARE(warnings.texts, QStringList{"CSVファイルを選択してください。"});
        QVERIFY(dialogs.shown.empty());
        warnings.texts.clear();
    }
    auto window = OpenPrepared(dialogs);
    const QString script = Path("auto run.sh");
    dialogs.answers = {script};
    window->ActionFileSaveAuto->trigger();
    QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('/')));
    QCOMPARE(window->StatusText(), QString("自動実行バッチファイルを作成しました。"));
    QCOMPARE(dialogs.shown.size(), std::size_t(1));
    QVERIFY(dialogs.shown[0].Mode == TOpenDialog::TMode::Save);
    QVERIFY(dialogs.shown[0].FileName.isEmpty());
    QCOMPARE(dialogs.shown[0].DefaultExt, QString("sh"));
    // The project took what the window shows; the window stays untitled.
    QCOMPARE(window->Project->CsvFile, ToU16String(csv));
    QVERIFY(window->ProjectFileName.empty());
    QVERIFY(window->Config.History.empty());

    // The script starts this program; sh is made to start the argument printer instead.
    QFile file(script);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    const QByteArray program =
        ToQString(QuoteAutoRunArgument(ProgramFilePath(), TAutoRunForm::PosixShell)).toUtf8();
    QVERIFY(text.startsWith("#!/bin/sh\n" + program + " "));
    text.replace(10, program.size(), "'" QM_PRINT_ARGS "'");
    const QString printing = Path("print.sh");
    WriteFile(printing, text);
    QProcess sh;
    sh.start("/bin/sh", {printing});
    QVERIFY(sh.waitForFinished(30000));
    const QStringList arguments = PrintedArguments(sh.readAllStandardOutput());
    QCOMPARE(arguments, (QStringList{"-e=" + book, "-w=Second$", "-c=" + csv, "-f=-1",
                                     "-r=名前=1,数量=0", "-a"}));

    // Started with them (without -a, so nothing is imported), a window shows the same project.
    auto started = Open(arguments.mid(0, arguments.size() - 1));
    VerifyPrepared(*started);
    QVERIFY(started->ProjectFileName.empty());

    // The dialog offers the last name chosen.
    dialogs.answers = {""};
    window->ActionFileSaveAuto->trigger();
    QCOMPARE(dialogs.shown.back().FileName, script);
}

}  // namespace qm

int RunFormMainTests(int argc, char** argv) {
    qm::TFormMainProjectTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "form_main_project_test.moc"
