// Choosing the target (workbook or database, then worksheet or table) and the CSV file.
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>

#include "app/cursor_hour_glass.h"
#include "app/form_main.h"
#include "app/open_dialog.h"
#include "app/target_preview_model.h"
#include "app/warning_box.h"
#include "csv/csv.h"
#include "grids/csv_grid.h"
#include "grids/grid_relation.h"
#include "grids/qt_text.h"
#include "platform/error.h"
#include "targets/target_access.h"

namespace qm {

namespace {

// The target preview never shows a column wider than this.
constexpr int kMaxPreviewColumnWidth = 200;
// Rows looked at when fitting a preview column to its contents.
constexpr int kFitRows = 50;

bool FileExists(const QString& path) {
    const QFileInfo info(path);
    return !path.isEmpty() && info.exists() && !info.isDir();
}

}  // namespace

void TFormMain::ActionExcelBoolSelectExecute() {
    if (!IsIdle()) return;  // a run may be writing to the open target
    TOpenDialog dialog;
    dialog.Filters = {
        {QStringLiteral("Microsoft Excel ファイル(*.XLS*)"), QStringLiteral("*.XLS*")},
        {QStringLiteral("Microsoft Access データファイル(*.MDB;*.ACCDB)"),
         QStringLiteral("*.MDB;*.ACCDB")},
    };
    dialog.DefaultExt = QStringLiteral("XLS");
    dialog.FileName = EditExcelBook->text();
    if (!dialog.Execute(this)) return;
    TCursorHourGlass cursor;
    EditExcelBook->setText(dialog.FileName);
    LoadExcelBook();
}

void TFormMain::LoadExcelBook() {
    DataSource1->SetTable(nullptr);
    ADOConnection1.Close();
    GridRelation->Clear();
    ComboBoxExcelWorksheet->clear();

    // A missing file is passed over without a word: nothing is chosen.
    const QString path = EditExcelBook->text();
    if (!FileExists(path)) return;

    const std::u16string connectionString = GetConnectionString(ToU16String(path));
    std::vector<std::u16string> names;
    try {
        ADOConnection1.SetConnectionString(connectionString);
        ADOConnection1.GetTableNames(names, false);
    } catch (const Error& error) {
        ADOConnection1.Close();
        ShowWarning(this, ToQString(error.Message()));
        GridRelation->Clear();
        ComboBoxExcelWorksheet->clear();
        return;
    }
    for (const std::u16string& name : names)
        ComboBoxExcelWorksheet->addItem(ToQString(name));
    ComboBoxExcelWorksheet->setCurrentIndex(names.empty() ? -1 : 0);
    ComboBoxExcelWorksheetChange();
}

void TFormMain::ComboBoxExcelWorksheetChange() {
    TCursorHourGlass cursor;
    DataSource1->SetTable(nullptr);
    ADOTable1.Close();
    const QString name = ComboBoxExcelWorksheet->currentIndex() >= 0
                             ? ComboBoxExcelWorksheet->currentText()
                             : QString();
    try {
        ADOTable1.SetTableName(u"[" + ToU16String(name) + u"]");
        ADOTable1.Open();
        BindPreview();
        GridRelation->SetFields(GetFieldList(ADOTable1));
    } catch (const Error& error) {
        DataSource1->SetTable(nullptr);
        ShowWarning(this, ToQString(error.Message()));
    }
}

void TFormMain::BindPreview() {
    DataSource1->SetTable(&ADOTable1);
    // Columns as wide as their titles and first rows, but never wider than the cap.
    QHeaderView* header = DBGrid1->horizontalHeader();
    header->setResizeContentsPrecision(kFitRows);
    DBGrid1->resizeColumnsToContents();
    for (int column = 0; column < header->count(); ++column) {
        if (header->sectionSize(column) > kMaxPreviewColumnWidth)
            header->resizeSection(column, kMaxPreviewColumnWidth);
    }
}

void TFormMain::ActionCsvFileSelectExecute() {
    if (!IsIdle()) return;  // a run or a load may be using the CSV table
    TOpenDialog dialog;
    dialog.Filters = {
        {QStringLiteral("CSVファイル(*.CSV)"), QStringLiteral("*.CSV")},
        {QStringLiteral("すべてのファイル(*.*)"), QStringLiteral("*")},
    };
    dialog.DefaultExt = QStringLiteral("CSV");
    dialog.FileName = EditCsvFile->text();
    if (!dialog.Execute(this)) return;
    TCursorHourGlass cursor;
    EditCsvFile->setText(dialog.FileName);
    OpenCsvFile(ToU16String(dialog.FileName));
}

void TFormMain::OpenCsvFile(const std::u16string& path) {
    // A second file chosen while one is still loading is ignored: closing the table that the
    // loader is filling would pull its storage from under it. So is one during a run, which
    // reads the current table.
    if (FBusy == TBusy::LoadingCsv || FBusy == TBusy::Importing) return;
    CloseCsvFile();
    if (path.empty()) return;
    const QString shown = ToQString(path);
    if (!FileExists(shown)) {
        ShowWarning(
            this,
            FileMessage(QStringLiteral("指定されたCSVファイルが見つかりませんでした。"), shown));
        return;
    }
    // The table becomes the window's only once it is whole, so nothing reaches a half-loaded
    // table during the loader's turns of the event loop (an import started then finds no CSV).
    auto csv = std::make_unique<TCsv>();
    bool loaded = false;
    {
        const TBusyScope busy(*this, TBusy::LoadingCsv);
        loaded = csv->LoadFromFile(path);
    }
    if (loaded) {
        Csv = std::move(csv);
        CsvGrid->SetCsv(Csv.get());
        GridRelation->SetCsv(Csv.get());
        return;
    }
    ShowWarning(this, FileMessage(QStringLiteral("CSVファイルの読み込みに失敗しました。"), shown));
    CloseCsvFile();
}

void TFormMain::CloseCsvFile() {
    if (!Csv) return;
    CsvGrid->SetCsv(nullptr);
    GridRelation->SetCsv(nullptr);
    Csv.reset();
}

void TFormMain::CheckBoxCsvFirstLineIsTitleClick() {
    TCursorHourGlass cursor;
    const bool title = CheckBoxCsvFirstLineIsTitle->isChecked();
    CsvGrid->SetFirstLineIsTitle(title);
    GridRelation->SetFirstLineIsTitle(title);
    GridRelation->viewport()->update();
}

}  // namespace qm
