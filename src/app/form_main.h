// TFormMain: the main window. It owns everything that lives longer than one command: the
// settings, the current project, the current CSV table, both grids, and the target connection
// with its open worksheet or table.
//
// Layout, top to bottom: toolbar; target file panel; target preview (DBGrid1) with its
// splitter; CSV file panel; CSV preview with its splitter; relation grid filling the rest; the
// progress panel (only during an import run); status bar. The two previews and the relation grid
// are the three panes of one vertical splitter, whose two handles are SplitterExcel and
// SplitterCsv: each resizes the preview above it, and is hidden with that preview.
//
// Commands never disable each other; each tests its own preconditions and says what is missing
// in a warning box. Every command runs inside the general error handling (an error that escapes
// it is shown and logged, never passed through Qt's signal delivery), and every command consults
// one busy state: while the window is in the middle of showing a project, loading a CSV file or
// running an import (each gives the event loop turns), a command that would change what that
// work uses does nothing.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/open_dialog.h"
#include "settings/config.h"
#include "targets/connection.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QSplitterHandle;
class QSystemTrayIcon;
class QTableView;
class QToolBar;
class QToolButton;

namespace qm {

class TCsv;
class TCsvGrid;
class TGridRelation;
class TImportRun;
class TProject;
class TTargetPreviewModel;

class TFormMain : public QMainWindow {
    Q_OBJECT

  public:
    // arguments: the command line with the program path first, as the program got it.
    // settingsFile: where the settings are loaded from and saved to (the user's settings file
    // unless a test gives another).
    explicit TFormMain(std::vector<std::u16string> arguments = {},
                       std::u16string settingsFile = TConfig::SettingsFilePath(),
                       QWidget* parent = nullptr);
    ~TFormMain() override;

    // The application title: the caption while no project file is named.
    static QString ApplicationTitle();

    // --- start-up and the window (see form_main.cpp)
    // Runs once, at the first idle moment after the window was shown.
    void ApplicationFirstIdle();
    void ActionViewExcelExecute();
    void ActionViewCsvExecute();
    void ActionFileNewExecute();
    // Shows a project in the window's controls.
    void ProjectToForm(const TProject& project);
    void SetProjectFileName(const std::u16string& path);
    // The status bar's own text (hover hints cover it for a while).
    void SetStatusText(const QString& text);
    QString StatusText() const;

    // --- project commands and recent files (form_main_project.cpp)
    // The project the program starts with when it got fewer than two arguments.
    void OpenStartUpProject();
    void ActionFileOpenExecute();
    void OpenProjectFile(const std::u16string& path);
    // Copies what the window shows into a project.
    void FormToProject(TProject& project);
    void ActionFileSaveExecute();
    void ActionFileSaveAsExecute();
    void SaveProjectFile(const std::u16string& path);
    // Writes the auto-run script of the current project.
    void ActionFileSaveAutoExecute();
    // Rebuilds the recent-files submenu; runs each time the file menu opens.
    void MenuFileClick();
    void MenuFileReOpenItemClick(QObject* sender);

    // --- choosing the target and the CSV file (form_main_files.cpp)
    void ActionExcelBoolSelectExecute();
    void LoadExcelBook();
    void ComboBoxExcelWorksheetChange();
    void ActionCsvFileSelectExecute();
    void OpenCsvFile(const std::u16string& path);
    void CloseCsvFile();
    void CheckBoxCsvFirstLineIsTitleClick();

    // --- the import run (form_main_convert.cpp)
    bool CheckConvertSettings();
    bool RunConvert();
    void ActionConvertStartExecute();
    void ActionConvertCancelExecute();

    // --- the settings dialog and the About box (form_main_dialogs.cpp)
    void ActionConfigGeneralExecute();
    void ActionHelpAboutExecute();
    // The help's table of contents.
    void ActionHelpHelpExecute();

    // What the window is in the middle of; Idle between commands.
    enum class TBusy { Idle, ShowingProject, LoadingCsv, Importing };
    TBusy Busy() const { return FBusy; }
    bool IsIdle() const { return FBusy == TBusy::Idle; }

    // Whether the desktop offers a notification area for the tray icon; tests replace it.
    std::function<bool()> TrayAvailable;

    // Members and controls, named by their roles; tests and the other command files reach the
    // window through them.
    TConfig Config;
    std::unique_ptr<TProject> Project;
    std::u16string ProjectFileName;
    std::unique_ptr<TCsv> Csv;
    bool CancelRequested = false;

    TConnection ADOConnection1;
    TTable ADOTable1{ADOConnection1};

    QAction* ActionFileNew;
    QAction* ActionFileOpen;
    QAction* ActionFileSave;
    QAction* ActionFileSaveAs;
    QAction* ActionFileSaveAuto;
    QAction* ActionFileClose;
    QAction* ActionExcelBoolSelect;
    QAction* ActionCsvFileSelect;
    QAction* ActionViewExcel;
    QAction* ActionViewCsv;
    QAction* ActionConvertStart;
    QAction* ActionConvertCancel;
    QAction* ActionConfigGeneral;
    QAction* ActionHelpHelp;
    QAction* ActionHelpAbout;

    QMenu* MenuFile;
    QMenu* MenuFileReOpen;
    QToolBar* ToolBar1;

    QWidget* PanelExcelFile;
    QLineEdit* EditExcelBook;
    QToolButton* SpeedButton1;
    QLabel* Label1;
    QComboBox* ComboBoxExcelWorksheet;
    QTableView* DBGrid1;
    TTargetPreviewModel* DataSource1;

    QWidget* PanelCsvFile;
    QLineEdit* EditCsvFile;
    QToolButton* SpeedButton2;
    QCheckBox* CheckBoxCsvFirstLineIsTitle;
    QWidget* PanelCsvPreview;
    TCsvGrid* CsvGrid;

    QWidget* PanelRelation;
    TGridRelation* GridRelation;

    QSplitter* SplitterMain;
    QSplitterHandle* SplitterExcel;
    QSplitterHandle* SplitterCsv;

    QWidget* PanelConvertProcess;
    QProgressBar* ProgressBar1;
    QPushButton* BtnConvertCancel;
    QLabel* StatusText1;

    QSystemTrayIcon* TrayIcon1;

    // The dialogs keep the last name chosen in them for the next time they open.
    TOpenDialog OpenDialogProject;
    TSaveDialog SaveDialogProject;
    TSaveDialog SaveDialogAutoBat;

    // The help file: the program's path with the extension ".CHM".
    QString HelpFile;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void CreateActions();
    void CreateMenus();
    void CreateLayout();
    void FormClose();
    void FormShow();
    void ApplicationEvents1Minimize();
    void TrayIcon1Click();
    // Shows or hides a preview pane of the splitter with the handle below it.
    void ShowPreview(int pane, bool visible);
    // Binds the open target table to the preview and fits its columns.
    void BindPreview();
    // Commands that may run while the window is busy (cancel, the view toggles, help) say so;
    // the others are ignored then. Both kinds run inside the general error handling.
    enum class TWhenBusy { Refuse, Allow };
    void Command(TWhenBusy whenBusy, const std::function<void()>& command);
    void Connect(QAction* action, TWhenBusy whenBusy, std::function<void()> command);
    // Marks the window busy with 'task' for its lifetime; the previous state comes back after.
    // The worksheet list and the header check box take no input while the window is busy.
    class TBusyScope {
      public:
        TBusyScope(TFormMain& form, TBusy task);
        ~TBusyScope();
        TBusyScope(const TBusyScope&) = delete;
        TBusyScope& operator=(const TBusyScope&) = delete;

      private:
        TFormMain& form_;
        TBusy previous_;
    };
    void SetBusy(TBusy task);

    std::vector<std::u16string> FArguments;
    std::u16string FSettingsFile;
    bool FFirstIdleDone = false;
    bool FSplitterSized = false;
    // The heights the user last gave the two previews, for showing them again; 0 for none.
    int FPreviewHeight[2] = {0, 0};
    bool FClosed = false;
    TBusy FBusy = TBusy::Idle;
    // The run in progress, for the cancel command; null between runs.
    TImportRun* FRun = nullptr;
};

}  // namespace qm
