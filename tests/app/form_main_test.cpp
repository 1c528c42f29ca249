// The main window driven as a user would: its commands and layout, the previews, settings at
// start-up and closing, choosing the target and the CSV file with their warnings, the checks
// before an import, the command-line start, and the handler of errors no command handled.
#include "app/form_main.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QSplitterHandle>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>

#include "app/cursor_hour_glass.h"
#include "app/error_handler.h"
#include "app/gui_yield.h"
#include "app/help_topic.h"
#include "app/help_window.h"
#include "app/japanese_ui.h"
#include "app/open_dialog.h"
#include "app/warning_box.h"
#include "app_test_util.h"
#include "csv/csv.h"
#include "grids/csv_grid.h"
#include "grids/grid_relation.h"
#include "grids/qt_text.h"
#include "platform/error.h"
#include "platform/yield.h"
#include "project/project.h"

namespace qm {

using namespace test;

class TFormMainTest : public QObject, TWindowTestFolder {
    Q_OBJECT

  private slots:
    void init() { QFile::remove(Path("Quillomat.ini")); }

    void ActionsMenusAndToolbar();
    void PreviewToggles();
    void SettingsAtStartAndClose();
    void SettingsIgnoredWithoutRestore();
    void DialogFilters();
    void DialogsOpenInTheCurrentOrTheLastFolder();
    void JapaneseFontAndQtTexts();
    void CsvFileChoiceAndWarnings();
    void CsvChosenAgainWhileLoading();
    void HeaderCheckBox();
    void TargetThatCannotBeConnected();
    void ChecksBeforeImport();
    void CommandLineStart();
    void UnhandledErrorIsShownAndLogged();
    void ClosesWhenTheSettingsCannotBeSaved();
    void ChoosingAWorkbook();
    void TrayWhileInTaskTray();
    void YieldIsThrottled();
    void ControlsShowTheirWholeCaptions();
    void HelpShowsItsPages();
};

void TFormMainTest::ActionsMenusAndToolbar() {
    TFormMain window({}, SettingsFile());
    QCOMPARE(window.windowTitle(), QString("Quillomat"));

    struct TCase {
        QAction* action;
        const char* caption;
        const char* tip;
        const char* status;
        QKeySequence shortcut;
        bool image;
    };
    const TCase cases[] = {
        {window.ActionFileNew, "新規作成(&N)", "新規作成", "新規作成", QKeySequence("Ctrl+N"),
         true},
        {window.ActionFileOpen, "プロジェクトを開く(&O)", "プロジェクトを開く",
         "プロジェクトを開く", QKeySequence("Ctrl+O"), true},
        {window.ActionFileSave, "上書き保存(&S)", "上書き保存", "上書き保存",
         QKeySequence("Ctrl+S"), true},
        {window.ActionFileSaveAs,
         "名前をつけて保存(&A)",
         "名前をつけて保存",
         "名前をつけて保存",
         {},
         false},
        {window.ActionExcelBoolSelect,
         "参照(&R)",
         "Microsoft Excel ファイルまたはMicrosoft Access データファイルの参照",
         "Microsoft Excel ファイルまたはMicrosoft Access データファイルの参照",
         {},
         true},
        {window.ActionCsvFileSelect,
         "参照(&Q)",
         "CSVファイルの参照",
         "CSVファイルの参照",
         {},
         true},
        {window.ActionViewExcel,
         "Excelワークシート(&E)",
         "Excelワークシート/Accessテーブルデータプレビューの表示切り替え",
         "Excelワークシート/Accessテーブルデータのプレビューの表示・非表示を切り替えます。",
         {},
         true},
        {window.ActionViewCsv,
         "CSVファイル(&C)",
         "CSVファイルプレビューの表示切り替え",
         "CSVファイルのプレビューの表示・非表示を切り替えます。",
         {},
         true},
        {window.ActionConvertStart, "データ登録開始", "データの登録処理を開始します。",
         "データの登録処理を開始します。", QKeySequence(Qt::Key_F5), true},
        {window.ActionConvertCancel,
         "キャンセル(ESC)",
         "データの登録処理をキャンセルします。",
         "データの登録処理をキャンセルします。",
         {},
         true},
    };
    for (const TCase& c : cases) {
        const QString caption = QString::fromUtf8(c.caption);
        QCOMPARE(c.action->text(), caption);
        QCOMPARE(c.action->toolTip(), QString::fromUtf8(c.tip));
        QCOMPARE(c.action->statusTip(), QString::fromUtf8(c.status));
        QCOMPARE(c.action->shortcut(), c.shortcut);
        // Every image is one of our own and paints something (no blank buttons).
        if (c.image) QVERIFY2(IconHasInk(c.action->icon()), qPrintable(caption));
    }

    QStringList file;
    for (QAction* action : window.MenuFile->actions())
        file << (action->isSeparator() ? QString("-") : action->text());
    QCOMPARE(file, (QStringList{"新規作成(&N)", "プロジェクトを開く(&O)", "上書き保存(&S)",
                                "名前をつけて保存(&A)", "開き直す(&R)", "-",
                                "自動実行バッチファイルの作成", "-", "閉じる(&X)"}));
    QList<QAction*> tools = window.ToolBar1->actions();
    QCOMPARE(tools.size(), 8);
    QCOMPARE(tools[0], window.ActionFileNew);
    QVERIFY(tools[3]->isSeparator());
    QCOMPARE(tools[4], window.ActionViewExcel);
    QVERIFY(tools[6]->isSeparator());
    QCOMPARE(tools[7], window.ActionConvertStart);

    QVERIFY(window.PanelConvertProcess->isHidden());
    QCOMPARE(window.BtnConvertCancel->text(), QString("キャンセル(ESC)"));
    QVERIFY(IconHasInk(window.windowIcon()));
}

void TFormMainTest::PreviewToggles() {
    auto window = Open();
    // Both previews are on after construction.
    QVERIFY(window->ActionViewExcel->isChecked());
    QVERIFY(window->ActionViewCsv->isChecked());
    QVERIFY(window->DBGrid1->isVisible());
    QVERIFY(window->SplitterExcel->isVisible());
    QVERIFY(window->PanelCsvPreview->isVisible());

    // The toolbar button flips the tick once and hides the preview with its splitter.
    window->ActionViewExcel->trigger();
    QVERIFY(!window->ActionViewExcel->isChecked());
    QVERIFY(!window->DBGrid1->isVisible());
    QVERIFY(!window->SplitterExcel->isVisible());
    QVERIFY(window->PanelExcelFile->isVisible());
    window->ActionViewCsv->trigger();
    QVERIFY(!window->PanelCsvPreview->isVisible());
    QVERIFY(!window->SplitterCsv->isVisible());
    // The relation grid takes the room.
    QTRY_VERIFY(window->GridRelation->height() > 300);

    window->ActionViewExcel->trigger();
    QVERIFY(window->ActionViewExcel->isChecked());
    QVERIFY(window->DBGrid1->isVisible());
    QVERIFY(window->SplitterExcel->isVisible());
    QTRY_VERIFY(window->DBGrid1->height() > 40);
    QVERIFY(window->DBGrid1->geometry().top() >= window->PanelExcelFile->geometry().bottom());
}

void TFormMainTest::SettingsAtStartAndClose() {
    TConfig config;
    config.WindowPositionRestore = true;
    config.WindowPosition = TRect{40, 30, 700, 500};
    config.PreviewExcel = false;
    config.PreviewCsv = true;
    config.Save(SettingsFile());

    auto window = Open();
    QVERIFY(!window->ActionViewExcel->isChecked());
    QVERIFY(!window->DBGrid1->isVisible());
    QVERIFY(window->ActionViewCsv->isChecked());
    QCOMPARE(window->size(), QSize(700, 500));
    QVERIFY(window->Project != nullptr);

    // Closing while maximized stores 2 and the normal bounds.
    window->showMaximized();
    QVERIFY(window->close());
    TConfig saved;
    saved.Load(SettingsFile());
    QCOMPARE(saved.WindowState, 2);
    QCOMPARE(saved.WindowPosition.Right, 700);
    QCOMPARE(saved.WindowPosition.Bottom, 500);
    QCOMPARE(saved.PreviewExcel, false);
    QCOMPARE(saved.PreviewCsv, true);
    QCOMPARE(saved.LastProjectFile, std::u16string());
    QVERIFY(window->Project == nullptr);
}

void TFormMainTest::SettingsIgnoredWithoutRestore() {
    TConfig config;
    config.PreviewExcel = false;
    config.PreviewCsv = false;
    config.Save(SettingsFile());
    auto window = Open();
    QVERIFY(window->DBGrid1->isVisible());
    QVERIFY(window->PanelCsvPreview->isVisible());
    window->ActionViewCsv->trigger();
    QVERIFY(window->close());
    TConfig saved;
    saved.Load(SettingsFile());
    QCOMPARE(saved.PreviewExcel, true);
    QCOMPARE(saved.PreviewCsv, false);
    QCOMPARE(saved.WindowState, 0);
}

void TFormMainTest::DialogFilters() {
    TWarnings warnings;
    TDialogs dialogs;
    auto window = Open();
    dialogs.answers = {QString(), QString()};
    window->SpeedButton1->click();
    window->SpeedButton2->click();
    QCOMPARE(dialogs.shown.size(), std::size_t(2));
    const TOpenDialog& xls = dialogs.shown[0];
    QCOMPARE(xls.Filters.size(), std::size_t(2));
    QCOMPARE(xls.Filters[0].Caption, QString("Microsoft Excel ファイル(*.XLS*)"));
    QCOMPARE(xls.Filters[1].Caption, QString("Microsoft Access データファイル(*.MDB;*.ACCDB)"));
    QCOMPARE(xls.DefaultExt, QString("XLS"));
    const TOpenDialog& csv = dialogs.shown[1];
    QCOMPARE(csv.Filters[0].Caption, QString("CSVファイル(*.CSV)"));
    QCOMPARE(csv.Filters[1].Caption, QString("すべてのファイル(*.*)"));
    QCOMPARE(csv.DefaultExt, QString("CSV"));
    // A cancelled dialog changes nothing.
    QVERIFY(window->EditExcelBook->text().isEmpty());
    QVERIFY(warnings.texts.isEmpty());

    // The patterns match every mix of letter case, and nothing else.
    QDir files(Path("filters"));
    QVERIFY(QDir().mkpath(files.path()));
    for (const char* name :
         {"a.xlsx", "B.XLS", "c.Xlsm", "d.csv", "E.CSV", "f.Csv", "g.mdb", "H.ACCDB", "i.txt"})
        WriteFile(files.filePath(name), "x");
    auto match = [&](const TFileFilter& filter) {
        QStringList patterns;
        for (const QString& p : filter.Patterns.split(';'))
            patterns << CaseInsensitivePattern(p);
        return files.entryList(patterns, QDir::Files, QDir::Name);
    };
    QCOMPARE(match(xls.Filters[0]), (QStringList{"B.XLS", "a.xlsx", "c.Xlsm"}));
    QCOMPARE(match(xls.Filters[1]), (QStringList{"H.ACCDB", "g.mdb"}));
    QCOMPARE(match(csv.Filters[0]), (QStringList{"E.CSV", "d.csv", "f.Csv"}));
    QCOMPARE(match(csv.Filters[1]).size(), 9);
    QCOMPARE(xls.NameFilters().first(),
             QString("Microsoft Excel ファイル(*.XLS*) (*.[xX][lL][sS]*)"));
}

// A dialog opens in the folder of the current file, else the last folder a file was chosen in,
// else the home folder: never the working folder.
void TFormMainTest::DialogsOpenInTheCurrentOrTheLastFolder() {
    TWarnings warnings;
    TDialogs dialogs;
    TOpenDialog::SetLastFolder(QString());
    QVERIFY(QDir().mkpath(Path("work")) && QDir().mkpath(Path("csv")) && QDir().mkpath(Path("xl")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(Path("work")));
    auto window = Open();
    const QString csv = Path("csv/a.csv");
    WriteFile(csv, "a\n");

    dialogs.answers = {csv, Path("xl/gone.xlsx"), QString(), QString()};
    window->SpeedButton2->click();      // nothing chosen yet: the home folder
    window->SpeedButton1->click();      // the last folder used, that of the CSV file
    window->SpeedButton2->click();      // the current CSV file's folder, not the last one (xl)
    window->ActionFileOpen->trigger();  // untitled: the last folder used
    QDir::setCurrent(previous);
    QCOMPARE(dialogs.startFolders,
             (std::vector<QString>{QDir::homePath(), Path("csv"), Path("csv"), Path("xl")}));

    // The real dialog opens there too (Qt's own on this platform).
    TOpenDialog::SetHook({});
    TOpenDialog dialog;
    dialog.FileName = csv;
    QString shownFolder;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        auto* fileDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (fileDialog == nullptr) return;
        shownFolder = fileDialog->directory().absolutePath();
        for (const QPushButton* button : fileDialog->findChildren<QPushButton*>())
            buttons << button->text();
        fileDialog->reject();
    });
    QVERIFY(!dialog.Execute(window.get()));
    QCOMPARE(shownFolder, Path("csv"));
    if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ja.qm"))
        QVERIFY2(buttons.contains("キャンセル"), qPrintable(buttons.join('/')));
}

// One Japanese-capable font for every control, and Qt's own texts in Japanese.
void TFormMainTest::JapaneseFontAndQtTexts() {
    struct TCase {
        const char* name;
        QString desktop;
        QStringList japanese;
        QString fontconfig;
        QString chosen;
    };
    const TCase cases[] = {
        {"desktop font covers Japanese",
         "Noto Sans CJK JP",
         {"IPAGothic", "Noto Sans CJK JP"},
         "IPAGothic",
         "Noto Sans CJK JP"},
        {"fontconfig's choice",
         "DejaVu Sans",
         {"IPAGothic", "IPAPGothic"},
         "IPAPGothic",
         "IPAPGothic"},
        {"fontconfig prefers none",
         "DejaVu Sans",
         {"IPAGothic", "Noto Sans CJK JP"},
         "",
         "Noto Sans CJK JP"},
        {"no Japanese font", "DejaVu Sans", {}, "", "DejaVu Sans"},
    };
    for (const TCase& c : cases)
        QVERIFY2(ChooseJapaneseUiFamily(c.desktop, c.japanese, c.fontconfig) == c.chosen, c.name);

    // The program's application object set it up (tests run under it).
    if (QFontDatabase::families(QFontDatabase::Japanese).isEmpty())
        QSKIP("no font for Japanese is installed (fonts-ipafont-gothic)");
    const QFont font = QApplication::font();
    QVERIFY2(
        QFontDatabase::writingSystems(QFontInfo(font).family()).contains(QFontDatabase::Japanese),
        qPrintable(QFontInfo(font).family()));
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ja.qm"))
        QSKIP("Qt's Japanese translations are not installed (qt6-translations-l10n)");
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString("キャンセル"));
    QVERIFY(QCoreApplication::translate("QFileDialog", "Look in:") != "Look in:");
    QVERIFY(QCoreApplication::translate("QLineEdit", "&Copy") != "&Copy");
}

void TFormMainTest::CsvFileChoiceAndWarnings() {
    TWarnings warnings;
    TDialogs dialogs;
    auto window = Open();
    const QString good = Path("good.csv");
    WriteFile(good, "名前,年齢\n山田,30\n田中,40\n");
    const QString missing = Path("missing.csv");

    dialogs.answers = {good};
    window->SpeedButton2->click();
    QVERIFY(warnings.texts.isEmpty());
    QCOMPARE(window->EditCsvFile->text(), good);
    QVERIFY(window->Csv != nullptr);
    QCOMPARE(window->Csv->GetRowCount(), 3u);
    QCOMPARE(window->CsvGrid->RowCount(), 4);  // the letter row and three lines
    QCOMPARE(window->GridRelation->Editor()->count(), 3);

    // The dialog opens on the current file; a missing file warns and drops the table.
    dialogs.answers = {missing};
    window->SpeedButton2->click();
    QCOMPARE(dialogs.shown.back().FileName, good);
    QCOMPARE(warnings.texts,
             QStringList{"指定されたCSVファイルが見つかりませんでした。\n" + missing});
    QCOMPARE(window->EditCsvFile->text(), missing);
    QVERIFY(window->Csv == nullptr);
    QCOMPARE(window->CsvGrid->RowCount(), TCsvGrid().RowCount());
    QCOMPARE(window->GridRelation->Editor()->count(), 1);

    // A file that exists but cannot be read.
    warnings.texts.clear();
    dialogs.answers = {good};
    window->SpeedButton2->click();
    QVERIFY(window->Csv != nullptr);
    const QString unreadable = Path("unreadable.csv");
    WriteFile(unreadable, "a,b\n");
    QFile::setPermissions(unreadable, QFileDevice::Permissions());
    // Permissions do not stop the superuser; a system file that gives fewer bytes than its
    // size says fails the read for everyone.
    QString target = unreadable;
    if (QFile(unreadable).open(QIODevice::ReadOnly)) {
        target.clear();
        for (const char* candidate :
             {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/power/state"})
            if (QFileInfo(candidate).isReadable()) target = candidate;
        if (target.isEmpty()) QSKIP("no file here that cannot be read");
    }
    dialogs.answers = {target};
    window->SpeedButton2->click();
    QCOMPARE(warnings.texts, QStringList{"CSVファイルの読み込みに失敗しました。\n" + target});
    QVERIFY(window->Csv == nullptr);
    QCOMPARE(window->CsvGrid->RowCount(), TCsvGrid().RowCount());
    QCOMPARE(window->EditCsvFile->text(), target);

    // Choosing the same file again reads it again from disk.
    warnings.texts.clear();
    dialogs.answers = {good, good};
    window->SpeedButton2->click();
    WriteFile(good, "x\ny\n");
    window->SpeedButton2->click();
    QCOMPARE(window->Csv->GetRowCount(), 2u);
    QVERIFY(warnings.texts.isEmpty());
}

// The loader gives the event loop a turn per quoted character; a second file opened from
// such a turn must neither free the table being filled nor replace it.
namespace {
TFormMain* gReentrantWindow = nullptr;
std::u16string gReentrantPath;
int gReentrantCalls = 0;
void OpenAnotherCsvFromTheLoop() {
    if (gReentrantCalls++ == 0) gReentrantWindow->OpenCsvFile(gReentrantPath);
}
}  // namespace

void TFormMainTest::CsvChosenAgainWhileLoading() {
    TWarnings warnings;
    auto window = Open();
    const QString first = Path("quoted.csv");
    WriteFile(first, "\"a\",\"b\"\n\"c\",\"d\"\n");
    const QString second = Path("second.csv");
    WriteFile(second, "x\ny\nz\n");
    gReentrantWindow = window.get();
    gReentrantPath = ToU16String(second);
    gReentrantCalls = 0;
    TYieldHook previous = SetYieldHook(OpenAnotherCsvFromTheLoop);
    window->OpenCsvFile(ToU16String(first));
    SetYieldHook(previous);
    gReentrantWindow = nullptr;

    QVERIFY(gReentrantCalls > 1);
    QVERIFY(warnings.texts.isEmpty());
    QVERIFY(window->Csv != nullptr);
    QCOMPARE(window->Csv->GetRowCount(), 2u);
    QCOMPARE(window->Csv->GetCell(1, 1), std::u16string(u"d"));
}

void TFormMainTest::HeaderCheckBox() {
    TDialogs dialogs;
    auto window = Open();
    const QString csv = Path("title.csv");
    WriteFile(csv, "名前,年齢\n山田,30\n");
    dialogs.answers = {csv};
    window->SpeedButton2->click();
    QCOMPARE(window->CsvGrid->FixedRows(), 1);
    QCOMPARE(window->GridRelation->Editor()->itemText(1), QString("A列"));

    QTest::mouseClick(window->CheckBoxCsvFirstLineIsTitle, Qt::LeftButton, {},
                      QPoint(6, window->CheckBoxCsvFirstLineIsTitle->height() / 2));
    QVERIFY(window->CheckBoxCsvFirstLineIsTitle->isChecked());
    QCOMPARE(window->CsvGrid->FixedRows(), 2);
    QCOMPARE(window->GridRelation->Editor()->itemText(1), QString("A列（名前）"));

    QTest::mouseClick(window->CheckBoxCsvFirstLineIsTitle, Qt::LeftButton, {},
                      QPoint(6, window->CheckBoxCsvFirstLineIsTitle->height() / 2));
    QVERIFY(!window->CheckBoxCsvFirstLineIsTitle->isChecked());
    QCOMPARE(window->CsvGrid->FixedRows(), 1);
    QCOMPARE(window->GridRelation->Editor()->itemText(1), QString("A列"));
    // The project is not touched until it is saved.
    QCOMPARE(window->Project->FirstLineIsTitle, false);
}

void TFormMainTest::TargetThatCannotBeConnected() {
    TWarnings warnings;
    TDialogs dialogs;
    auto window = Open();

    // A missing file is passed over without a word.
    dialogs.answers = {Path("missing.xlsx")};
    window->SpeedButton1->click();
    QVERIFY(warnings.texts.isEmpty());
    QCOMPARE(window->EditExcelBook->text(), Path("missing.xlsx"));
    QCOMPARE(window->ComboBoxExcelWorksheet->count(), 0);

    // Damaged content and an extension no engine knows: the error's own message.
    struct TCase {
        const char* name;
        QByteArray bytes;
    };
    const TCase cases[] = {
        {"damaged.xlsx", QByteArray("this is not a workbook")},
        {"macro.XLSM", QByteArray("PK\x03\x04", 4) + " not a workbook either"},
    };
    for (const TCase& c : cases) {
        warnings.texts.clear();
        WriteFile(Path(c.name), c.bytes);
        dialogs.answers = {Path(c.name)};
        window->SpeedButton1->click();
        QCOMPARE(warnings.texts.size(), 1);
        QVERIFY2(!warnings.texts[0].isEmpty(), c.name);
        QCOMPARE(window->EditExcelBook->text(), Path(c.name));
        QCOMPARE(window->ComboBoxExcelWorksheet->count(), 0);
        QCOMPARE(window->GridRelation->RowCount(), 2);  // the title row and one empty row
        QVERIFY(!window->ADOConnection1.Connected());
        QCOMPARE(window->DBGrid1->model()->columnCount(), 0);
    }
}

void TFormMainTest::ChecksBeforeImport() {
    TWarnings warnings;
    TDialogs dialogs;
    auto window = Open();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    // Nothing chosen: only the CSV warning.
    window->ActionConvertStart->trigger();
    QCOMPARE(warnings.texts, QStringList{"CSVファイルを選択してください。"});
    QVERIFY(window->PanelConvertProcess->isHidden());

    // A CSV but no mapping.
    warnings.texts.clear();
    const QString csv = Path("rows.csv");
    WriteFile(csv, "a,b\n");
    dialogs.answers = {csv};
    window->SpeedButton2->click();
    QVERIFY(!window->RunConvert());
    QCOMPARE(warnings.texts,
             QStringList{"ExcelワークシートにCSVデータを登録する設定を行ってください。"});
    QVERIFY(window->StatusText().isEmpty());
}

void TFormMainTest::CommandLineStart() {
    TWarnings warnings;
    // One argument is not looked at, whatever it holds.
    {
        auto window = Open({"-a"});
        QVERIFY(warnings.texts.isEmpty());
        QVERIFY(window->Project != nullptr);
        QVERIFY(window->EditCsvFile->text().isEmpty());
        QVERIFY(window->isVisible());
    }
    // Two or more: the project from the options is shown; with -a a run that fails leaves the
    // window open.
    const QString csv = Path("missing.csv");
    auto window = Open({"-e=" + Path("missing.xlsx"), "-c=" + csv, "-f=-1", "-a"});
    QCOMPARE(window->EditExcelBook->text(), Path("missing.xlsx"));
    QCOMPARE(window->EditCsvFile->text(), csv);
    QVERIFY(window->CheckBoxCsvFirstLineIsTitle->isChecked());
    QCOMPARE(warnings.texts, (QStringList{"指定されたCSVファイルが見つかりませんでした。\n" + csv,
                                          "CSVファイルを選択してください。"}));
    QVERIFY(window->isVisible());
    QVERIFY(window->ProjectFileName.empty());
}

void TFormMainTest::ClosesWhenTheSettingsCannotBeSaved() {
    // The settings folder would have to be made below a plain file.
    WriteFile(Path("plain"), "x");
    TWarnings warnings;
    const std::u16string settings = ToU16String(Path("plain/Quillomat/Quillomat.ini"));
    auto window = std::make_unique<TFormMain>(Args({}), settings);
    window->show();
    window->ApplicationFirstIdle();
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QCOMPARE(warnings.texts,
             QStringList{"設定ファイルを保存するためのフォルダの作成に失敗しました。"});
}

void TFormMainTest::UnhandledErrorIsShownAndLogged() {
    TWarnings warnings;
    QFile::remove(ErrorLogPath());
    // A command that fails with its wait cursor held, reached through the event loop.
    QTimer::singleShot(0, [] {
        TCursorHourGlass cursor;
        throw Error(u"書き込めませんでした。\n/tmp/x.qlm");
    });
    QTRY_COMPARE(warnings.texts, QStringList{"書き込めませんでした。\n/tmp/x.qlm"});
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QFile log(ErrorLogPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).contains("書き込めませんでした。"));

    // An invalid -f= at start-up: the error reaches the handler, the project is not shown.
    warnings.texts.clear();
    TFormMain window(Args({"-c=" + Path("x.csv"), "-f=maybe"}), SettingsFile());
    window.show();
    QTRY_COMPARE(warnings.texts, QStringList{"'maybe' は正しい論理型ではありません"});
    QVERIFY(window.EditCsvFile->text().isEmpty());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
}

void TFormMainTest::ChoosingAWorkbook() {
    QVERIFY2(HasOpenpyxl(),
             "python3-openpyxl is not installed (scripts/install-deps.sh installs it)");
    TWarnings warnings;
    TDialogs dialogs;
    const QString book = Path("choose.xlsx");
    QVERIFY(!Python("import sys, openpyxl\n"
                    "wb = openpyxl.Workbook(); ws = wb.active; ws.title = 'Sheet1'\n"
                    "ws.append(['名前', '数量', '備考'])\n"
                    "ws.append(['既存', 1, 'とても長い説明の文字列' * 10])\n"
                    "ws2 = wb.create_sheet('Other'); ws2.append(['コード'])\n"
                    "wb.save(sys.argv[1]); print('ok')\n",
                    {book})
                 .isEmpty());
    auto window = Open();
    dialogs.answers = {book};
    window->SpeedButton1->click();
    QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('/')));

    // Every worksheet is listed, the first opened: its rows in the preview, its fields in the
    // relation grid, all unmapped.
    QStringList sheets;
    for (int i = 0; i < window->ComboBoxExcelWorksheet->count(); ++i)
        sheets << window->ComboBoxExcelWorksheet->itemText(i);
    QCOMPARE(sheets, (QStringList{"Sheet1$", "Other$"}));
    QCOMPARE(window->ComboBoxExcelWorksheet->currentIndex(), 0);
    QAbstractItemModel* preview = window->DBGrid1->model();
    QCOMPARE(preview->rowCount(), 1);
    QCOMPARE(preview->columnCount(), 3);
    QCOMPARE(preview->headerData(1, Qt::Horizontal).toString(), QString("数量"));
    QCOMPARE(preview->index(0, 0).data().toString(), QString("既存"));
    QCOMPARE(preview->index(0, 1).data().toString(), QString("1"));
    // The long text column is narrowed to 200 pixels; the short ones keep their width.
    QCOMPARE(window->DBGrid1->columnWidth(2), 200);
    QVERIFY(window->DBGrid1->columnWidth(0) < 200);
    std::vector<std::u16string> names;
    for (const auto& item : window->GridRelation->Items())
        names.push_back(item.FieldName);
    QCOMPARE(names, (std::vector<std::u16string>{u"名前", u"数量", u"備考"}));
    QVERIFY(window->GridRelation->GetRelation().empty());

    // Choosing the other worksheet in the list opens it.
    QTest::keyClick(window->ComboBoxExcelWorksheet, Qt::Key_Down);
    QCOMPARE(window->ComboBoxExcelWorksheet->currentIndex(), 1);
    QCOMPARE(window->GridRelation->Items().size(), std::size_t(1));
    QCOMPARE(window->DBGrid1->model()->columnCount(), 1);
    QVERIFY(warnings.texts.isEmpty());
}

void TFormMainTest::TrayWhileInTaskTray() {
    TConfig config;
    config.InTaskTray = true;
    config.Save(SettingsFile());
    auto window = Open();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(!window->TrayIcon1->isVisible());

    // Minimizing hides the window into the tray; a click on the icon brings it back.
    window->TrayAvailable = [] { return true; };
    window->showMinimized();
    QTRY_VERIFY(!window->isVisible());
    QVERIFY(window->TrayIcon1->isVisible());
    emit window->TrayIcon1->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(window->isVisible());
    QVERIFY(!(window->windowState() & Qt::WindowMinimized));
    QVERIFY(!window->TrayIcon1->isVisible());

    // A desktop without a notification area: minimizing minimizes, the window is not hidden.
    window->TrayAvailable = [] { return false; };
    window->showMinimized();
    QTRY_VERIFY(window->windowState() & Qt::WindowMinimized);
    QTest::qWait(20);
    QVERIFY(window->isVisible());
    QVERIFY(!window->TrayIcon1->isVisible());
}

namespace {

// The test's clock for the yield ticker, moved by hand.
std::atomic<std::int64_t> gYieldClockMs{0};
std::chrono::steady_clock::time_point YieldClock() {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(gYieldClockMs.load()));
}

}  // namespace

void TFormMainTest::YieldIsThrottled() {
    // Right after a turn the hook lets nothing run; once the interval (15 ms) has passed on
    // the ticker's clock it does, once, and then waits again.
    SetGuiYieldClock(&YieldClock);
    int runs = 0;
    ProcessEventsNow();
    QTimer::singleShot(0, [&runs] { ++runs; });
    ProcessMessages();
    QCOMPARE(runs, 0);
    gYieldClockMs += 14;
    CheckGuiYieldInterval();
    ProcessMessages();
    QCOMPARE(runs, 0);
    gYieldClockMs += 1;
    CheckGuiYieldInterval();
    ProcessMessages();
    QCOMPARE(runs, 1);
    QTimer::singleShot(0, [&runs] { ++runs; });
    ProcessMessages();
    QCOMPARE(runs, 1);
    gYieldClockMs += 15;
    CheckGuiYieldInterval();
    ProcessMessages();
    QCOMPARE(runs, 2);
    SetGuiYieldClock(nullptr);
}

void TFormMainTest::ControlsShowTheirWholeCaptions() {
    // With the Japanese font the captions are measured in, every button, check box and label
    // is at least as wide as its caption needs (the cancel button once clipped its text).
    auto window = Open();
    window->PanelConvertProcess->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QStringList clipped;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible()) continue;
        QString caption;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) caption = button->text();
        if (auto* label = qobject_cast<QLabel*>(widget)) caption = label->text();
        if (caption.isEmpty() || qobject_cast<QToolButton*>(widget)) continue;
        if (widget->width() < widget->sizeHint().width())
            clipped << QString("%1: %2 < %3")
                           .arg(caption)
                           .arg(widget->width())
                           .arg(widget->sizeHint().width());
    }
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
    QVERIFY(window->BtnConvertCancel->width() >= 112);
}

void TFormMainTest::HelpShowsItsPages() {
    // The command asks for the table of contents of the window's help file...
    auto window = Open();
    QString file;
    int topic = -1;
    SetHelpHook([&](QWidget*, const QString& helpFile, int number) {
        file = helpFile;
        topic = number;
    });
    window->ActionHelpHelp->trigger();
    SetHelpHook({});
    QCOMPARE(topic, 0);
    QCOMPARE(file, window->HelpFile);

    // ...which the help window shows from the pages built into the program; every topic a
    // caller asks for has its page, and a topic without one falls back to the contents.
    window->ActionHelpHelp->trigger();
    TFormHelp& help = TFormHelp::For(window.get());
    QVERIFY(help.isVisible());
    QVERIFY(help.CurrentPage().endsWith("index.html"));
    QVERIFY(help.Browser->toPlainText().contains("目次"));
    for (int number = 1; number <= 6; ++number) {
        ShowHelpTopic(window.get(), window->HelpFile, number);
        QVERIFY(help.CurrentPage().endsWith(QString("topic-%1.html").arg(number)));
        QVERIFY(!help.Browser->toPlainText().isEmpty());
    }
    QVERIFY(help.Browser->toPlainText().contains("全般設定"));
    ShowHelpTopic(window.get(), window->HelpFile, 99);
    QVERIFY(help.CurrentPage().endsWith("index.html"));
    // A dialog of the window asks the same help window.
    QWidget dialog(window.get(), Qt::Dialog);
    QCOMPARE(&TFormHelp::For(&dialog), &help);
}

}  // namespace qm

int RunFormMainTests(int argc, char** argv) {
    qm::TFormMainTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "form_main_test.moc"
