// The project commands: the start-up project, Open, Save, Save As, the recent-files submenu
// and the auto-run script of the current project. New, ProjectToForm and SetProjectFileName
// live with the window itself (form_main.cpp).
//
// A failure to read or write a project file is not caught here: it reaches the application's
// general error handling, and the command stops where it failed. So a Save As that cannot write
// leaves the file name, the caption and the recent files as they were.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>

#include "app/cursor_hour_glass.h"
#include "app/error_handler.h"
#include "app/form_main.h"
#include "app/warning_box.h"
#include "grids/grid_relation.h"
#include "grids/qt_text.h"
#include "platform/case_fold.h"
#include "project/project.h"

namespace qm {

namespace {

bool FileExists(const std::u16string& path) {
    if (path.empty()) return false;
    const QFileInfo info(ToQString(path));
    return info.exists() && !info.isDir();
}

// Project files carry ".QLM"; the patterns match the extension in any letter case.
void SetUpProjectDialog(TOpenDialog& dialog) {
    dialog.Filters = {
        {QStringLiteral("Quillomat プロジェクトファイル(*.QLM)"), QStringLiteral("*.QLM")},
        {QStringLiteral("すべてのファイル(*.*)"), QStringLiteral("*")},
    };
    dialog.DefaultExt = QStringLiteral("QLM");
}

// The auto-run file is a shell script on this platform (see platform/auto_run_script.h).
void SetUpAutoRunDialog(TOpenDialog& dialog) {
    dialog.Filters = {
        {QStringLiteral("シェルスクリプト(*.sh)"), QStringLiteral("*.sh")},
        {QStringLiteral("すべてのファイル(*.*)"), QStringLiteral("*")},
    };
    dialog.DefaultExt = QStringLiteral("sh");
}

// The folder of a file, for a dialog to open in; empty for no file.
QString FolderOf(const std::u16string& path) {
    return path.empty() ? QString() : QFileInfo(ToQString(path)).absolutePath();
}

// "&" in a menu caption marks the access key; the path's own ones are shown as they are.
QString MenuText(const std::u16string& text) {
    return ToQString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

void TFormMain::OpenStartUpProject() {
    // A last project that is gone is passed over without a word.
    if (Config.ProjectFileRestore && FileExists(Config.LastProjectFile)) {
        OpenProjectFile(Config.LastProjectFile);
        return;
    }
    ActionFileNewExecute();
}

void TFormMain::ActionFileOpenExecute() {
    if (!IsIdle()) return;
    SetUpProjectDialog(OpenDialogProject);
    OpenDialogProject.Folder = FolderOf(ProjectFileName);
    if (!OpenDialogProject.Execute(this)) return;
    TCursorHourGlass cursor;
    OpenProjectFile(ToU16String(OpenDialogProject.FileName));
}

void TFormMain::OpenProjectFile(const std::u16string& path) {
    if (!IsIdle()) return;
    if (!FileExists(path)) {
        ShowWarning(this,
                    FileMessage(QStringLiteral("ファイルが見つかりません。"), ToQString(path)));
        return;
    }
    // A file that cannot be read stops here: the window keeps showing the previous project
    // under its previous name, and a following Save writes what the window shows.
    Project = std::make_unique<TProject>(u"", u"", u"", false);
    Project->LoadFromFile(path);
    ProjectToForm(*Project);
    SetProjectFileName(path);
}

void TFormMain::FormToProject(TProject& project) {
    project.ExcelFile = ToU16String(EditExcelBook->text());
    project.ExcelSheet = ComboBoxExcelWorksheet->currentIndex() >= 0
                             ? ToU16String(ComboBoxExcelWorksheet->currentText())
                             : std::u16string();
    project.CsvFile = ToU16String(EditCsvFile->text());
    project.FirstLineIsTitle = CheckBoxCsvFirstLineIsTitle->isChecked();
    project.Relation = GridRelation->GetRelation();
}

void TFormMain::ActionFileSaveExecute() {
    if (!IsIdle() || !Project) return;
    if (ProjectFileName.empty()) {
        ActionFileSaveAsExecute();
        return;
    }
    TCursorHourGlass cursor;
    FormToProject(*Project);
    SaveProjectFile(ProjectFileName);
}

void TFormMain::ActionFileSaveAsExecute() {
    if (!IsIdle() || !Project) return;
    SetUpProjectDialog(SaveDialogProject);
    SaveDialogProject.FileName = ToQString(ProjectFileName);
    if (!SaveDialogProject.Execute(this)) return;
    const std::u16string path = ToU16String(SaveDialogProject.FileName);
    TCursorHourGlass cursor;
    FormToProject(*Project);
    SaveProjectFile(path);
    SetProjectFileName(path);
}

void TFormMain::SaveProjectFile(const std::u16string& path) {
    Project->SaveToFile(path);
    SetStatusText(QStringLiteral("ファイルに保存しました。"));
}

void TFormMain::ActionFileSaveAutoExecute() {
    if (!IsIdle() || !Project) return;
    if (!CheckConvertSettings()) return;
    // The name is not preset: the dialog shows the last one chosen in this run.
    SetUpAutoRunDialog(SaveDialogAutoBat);
    SaveDialogAutoBat.Folder = FolderOf(ProjectFileName);
    if (!SaveDialogAutoBat.Execute(this)) return;
    TCursorHourGlass cursor;
    FormToProject(*Project);
    Project->SaveBatchFile(ToU16String(SaveDialogAutoBat.FileName), Project->GetArguments(true));
    SetStatusText(QStringLiteral("自動実行バッチファイルを作成しました。"));
}

void TFormMain::MenuFileClick() {
    // The old entries go later, not now: one of them may be the sender of a command that is
    // still running (a reopened project gives the event loop turns while it loads).
    for (QAction* entry : MenuFileReOpen->actions()) {
        MenuFileReOpen->removeAction(entry);
        entry->deleteLater();
    }
    const std::vector<std::u16string>& history = Config.History;
    for (std::size_t i = 0; i < history.size(); ++i) {
        QAction* entry = MenuFileReOpen->addAction(QLatin1Char('&') + QString::number(i) +
                                                   QLatin1Char('.') + MenuText(history[i]));
        entry->setData(static_cast<qulonglong>(i));
        Connect(entry, TWhenBusy::Refuse, [this, entry] { MenuFileReOpenItemClick(entry); });
    }
}

void TFormMain::MenuFileReOpenItemClick(QObject* sender) {
    const auto* entry = qobject_cast<const QAction*>(sender);
    if (entry == nullptr || !IsIdle()) return;
    bool ok = false;
    const qulonglong position = entry->data().toULongLong(&ok);
    if (!ok || position >= Config.History.size()) return;
    const std::u16string path = Config.History[static_cast<std::size_t>(position)];
    if (FileExists(path)) {
        TCursorHourGlass cursor;
        OpenProjectFile(path);
        return;
    }
    // A project file that is gone leaves the list silently; the menu shows it next time.
    for (auto it = Config.History.begin(); it != Config.History.end(); ++it) {
        if (SameProjectFile(*it, path)) {
            Config.History.erase(it);
            break;
        }
    }
}

}  // namespace qm
