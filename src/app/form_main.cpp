// The main window as a whole: construction, actions, menus, toolbar, layout, the preview
// toggles, the first idle moment, closing, and the tray.
#include "app/form_main.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/app_icons.h"
#include "app/cursor_hour_glass.h"
#include "app/error_handler.h"
#include "app/gui_yield.h"
#include "app/target_preview_model.h"
#include "app/unattended_start.h"
#include "app/warning_box.h"
#include "csv/csv.h"
#include "grids/csv_grid.h"
#include "grids/grid_relation.h"
#include "grids/qt_text.h"
#include "platform/program_path.h"
#include "project/project.h"
#include "targets/import_files.h"

namespace qm {

namespace {

// Design sizes of the window and its parts, in pixels.
constexpr int kClientWidth = 736;
constexpr int kClientHeight = 526;
constexpr int kToolBarHeight = 29;
constexpr int kFilePanelHeight = 52;
constexpr int kExcelPreviewHeight = 97;
constexpr int kCsvPreviewHeight = 104;
constexpr int kSplitterHeight = 3;
constexpr int kConvertPanelHeight = 27;
constexpr int kCancelButtonWidth = 112;
constexpr int kStatusBarHeight = 19;
constexpr int kLabelColumnWidth = 104;
constexpr int kBrowseButtonWidth = 73;
constexpr int kBrowseButtonHeight = 22;

// Panes of SplitterMain.
constexpr int kPaneExcel = 0;
constexpr int kPaneCsv = 1;

// A hint's short part is the tooltip, the part after "|" the status bar's text; a hint
// without "|" is both.
void SetHint(QAction* action, const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    action->setToolTip(bar < 0 ? hint : hint.left(bar));
    action->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

void SetHint(QWidget* widget, const QString& hint) {
    widget->setToolTip(hint);
    widget->setStatusTip(hint);
}

QWidget* MakePanel(QWidget* parent, int height) {
    auto* panel = new QWidget(parent);
    if (height > 0) panel->setFixedHeight(height);
    return panel;
}

}  // namespace

TFormMain::TFormMain(std::vector<std::u16string> arguments, std::u16string settingsFile,
                     QWidget* parent)
    : QMainWindow(parent),
      FArguments(std::move(arguments)),
      FSettingsFile(std::move(settingsFile)) {
    setWindowTitle(ApplicationTitle());
    setWindowIcon(AppIcon(kIconApplication));
    TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    CreateActions();
    CreateMenus();
    CreateLayout();

    // The help file lies beside the program, named after it.
    const QFileInfo program(ToQString(ProgramFilePath()));
    HelpFile =
        program.path() + QLatin1Char('/') + program.completeBaseName() + QStringLiteral(".CHM");

    PanelConvertProcess->hide();

    Config.Load(FSettingsFile);

    // Both actions start off; running each once turns its preview on.
    ActionViewExcelExecute();
    ActionViewCsvExecute();

    // The first idle moment: a zero-time timer fires once the event loop has nothing else to do.
    QTimer::singleShot(0, this, [this] { RunCommand([this] { ApplicationFirstIdle(); }); });
}

TFormMain::~TFormMain() {
    // A window destroyed without closing (as in tests) still unbinds the CSV table and the target
    // table from the grids before its members go.
    if (!FClosed) {
        CloseCsvFile();
        DataSource1->SetTable(nullptr);
    }
}

QString TFormMain::ApplicationTitle() {
    return QStringLiteral("Quillomat");
}

void TFormMain::CreateActions() {
    auto make = [this](const QString& caption, const QString& hint, int image,
                       QKeySequence shortcut = {}) {
        auto* action = new QAction(caption, this);
        if (!hint.isEmpty()) SetHint(action, hint);
        if (image >= 0) action->setIcon(AppIcon(image));
        if (!shortcut.isEmpty()) action->setShortcut(shortcut);
        return action;
    };
    ActionFileNew = make(QStringLiteral("新規作成(&N)"), QStringLiteral("新規作成"), kIconFileNew,
                         QKeySequence(Qt::CTRL | Qt::Key_N));
    ActionFileOpen =
        make(QStringLiteral("プロジェクトを開く(&O)"), QStringLiteral("プロジェクトを開く"),
             kIconFileOpen, QKeySequence(Qt::CTRL | Qt::Key_O));
    ActionFileSave = make(QStringLiteral("上書き保存(&S)"), QStringLiteral("上書き保存"),
                          kIconFileSave, QKeySequence(Qt::CTRL | Qt::Key_S));
    ActionFileSaveAs =
        make(QStringLiteral("名前をつけて保存(&A)"), QStringLiteral("名前をつけて保存"), -1);
    ActionFileSaveAuto = make(QStringLiteral("自動実行バッチファイルの作成"), QString(), -1);
    ActionFileClose = make(QStringLiteral("閉じる(&X)"), QString(), -1);
    ActionExcelBoolSelect =
        make(QStringLiteral("参照(&R)"),
             QStringLiteral("Microsoft Excel ファイルまたはMicrosoft Access データファイルの参照"),
             kIconBrowse);
    ActionCsvFileSelect =
        make(QStringLiteral("参照(&Q)"), QStringLiteral("CSVファイルの参照"), kIconBrowse);
    ActionViewExcel =
        make(QStringLiteral("Excelワークシート(&E)"),
             QStringLiteral("Excelワークシート/Accessテーブルデータプレビューの表示切り替え|"
                            "Excelワークシート/Accessテーブルデータのプレビューの表示・非表示を"
                            "切り替えます。"),
             kIconViewExcel);
    ActionViewCsv = make(QStringLiteral("CSVファイル(&C)"),
                         QStringLiteral("CSVファイルプレビューの表示切り替え|"
                                        "CSVファイルのプレビューの表示・非表示を切り替えます。"),
                         kIconViewCsv);
    ActionConvertStart =
        make(QStringLiteral("データ登録開始"), QStringLiteral("データの登録処理を開始します。"),
             kIconConvertStart, QKeySequence(Qt::Key_F5));
    ActionConvertCancel =
        make(QStringLiteral("キャンセル(ESC)"),
             QStringLiteral("データの登録処理をキャンセルします。"), kIconConvertCancel);
    ActionConfigGeneral = make(QStringLiteral("全般設定(&G)"), QString(), -1);
    ActionHelpHelp = make(QStringLiteral("ヘルプ(&H)"), QString(), -1);
    ActionHelpAbout = make(QStringLiteral("バージョン情報(&A)"), QString(), -1);

    // The view toggles show a tick; the program flips it itself in their handlers, so the
    // actions are not checkable by a click of their own.
    ActionViewExcel->setCheckable(true);
    ActionViewCsv->setCheckable(true);
    ActionViewExcel->setChecked(false);
    ActionViewCsv->setChecked(false);

    // Shortcuts work wherever the focus is in the window, also inside the grids.
    for (QAction* action : {ActionFileNew, ActionFileOpen, ActionFileSave, ActionConvertStart})
        action->setShortcutContext(Qt::WindowShortcut);
    addAction(ActionConvertStart);

    // Every command runs inside the general error handling. Those that change the project, the
    // target, the CSV table or the settings wait for the window to be idle; cancel, the view
    // toggles, help and the About box may run at any time.
    Connect(ActionFileNew, TWhenBusy::Refuse, [this] { ActionFileNewExecute(); });
    Connect(ActionFileOpen, TWhenBusy::Refuse, [this] { ActionFileOpenExecute(); });
    Connect(ActionFileSave, TWhenBusy::Refuse, [this] { ActionFileSaveExecute(); });
    Connect(ActionFileSaveAs, TWhenBusy::Refuse, [this] { ActionFileSaveAsExecute(); });
    Connect(ActionFileSaveAuto, TWhenBusy::Refuse, [this] { ActionFileSaveAutoExecute(); });
    // Closing consults the busy state itself (closeEvent): a run is asked to stop instead.
    Connect(ActionFileClose, TWhenBusy::Allow, [this] { close(); });
    Connect(ActionExcelBoolSelect, TWhenBusy::Refuse, [this] { ActionExcelBoolSelectExecute(); });
    Connect(ActionCsvFileSelect, TWhenBusy::Refuse, [this] { ActionCsvFileSelectExecute(); });
    // A checkable action flips its tick before 'triggered'; the handler flips it itself, so
    // the automatic flip is undone first.
    connect(ActionViewExcel, &QAction::triggered, this, [this](bool checked) {
        ActionViewExcel->setChecked(!checked);
        Command(TWhenBusy::Allow, [this] { ActionViewExcelExecute(); });
    });
    connect(ActionViewCsv, &QAction::triggered, this, [this](bool checked) {
        ActionViewCsv->setChecked(!checked);
        Command(TWhenBusy::Allow, [this] { ActionViewCsvExecute(); });
    });
    Connect(ActionConvertStart, TWhenBusy::Refuse, [this] { ActionConvertStartExecute(); });
    Connect(ActionConvertCancel, TWhenBusy::Allow, [this] { ActionConvertCancelExecute(); });
    Connect(ActionConfigGeneral, TWhenBusy::Refuse, [this] { ActionConfigGeneralExecute(); });
    Connect(ActionHelpHelp, TWhenBusy::Allow, [this] { ActionHelpHelpExecute(); });
    Connect(ActionHelpAbout, TWhenBusy::Allow, [this] { ActionHelpAboutExecute(); });
}

void TFormMain::Command(TWhenBusy whenBusy, const std::function<void()>& command) {
    if (whenBusy == TWhenBusy::Refuse && !IsIdle()) return;
    RunCommand(command);
}

void TFormMain::Connect(QAction* action, TWhenBusy whenBusy, std::function<void()> command) {
    connect(action, &QAction::triggered, this,
            [this, whenBusy, command = std::move(command)] { Command(whenBusy, command); });
}

TFormMain::TBusyScope::TBusyScope(TFormMain& form, TBusy task)
    : form_(form), previous_(form.FBusy) {
    form_.SetBusy(task);
}

TFormMain::TBusyScope::~TBusyScope() {
    form_.SetBusy(previous_);
}

void TFormMain::SetBusy(TBusy task) {
    FBusy = task;
    const bool idle = task == TBusy::Idle;
    ComboBoxExcelWorksheet->setEnabled(idle);
    CheckBoxCsvFirstLineIsTitle->setEnabled(idle);
}

void TFormMain::CreateMenus() {
    MenuFile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    MenuFile->addAction(ActionFileNew);
    MenuFile->addAction(ActionFileOpen);
    MenuFile->addAction(ActionFileSave);
    MenuFile->addAction(ActionFileSaveAs);
    MenuFileReOpen = MenuFile->addMenu(QStringLiteral("開き直す(&R)"));
    connect(MenuFile, &QMenu::aboutToShow, this,
            [this] { Command(TWhenBusy::Allow, [this] { MenuFileClick(); }); });
    MenuFile->addSeparator();
    MenuFile->addAction(ActionFileSaveAuto);
    MenuFile->addSeparator();
    MenuFile->addAction(ActionFileClose);

    QMenu* view = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    view->addAction(ActionViewExcel);
    view->addAction(ActionViewCsv);

    QMenu* menuData = menuBar()->addMenu(QStringLiteral("データ(&D)"));
    menuData->addAction(ActionConvertStart);

    QMenu* config = menuBar()->addMenu(QStringLiteral("設定(&C)"));
    config->addAction(ActionConfigGeneral);

    QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    help->addAction(ActionHelpHelp);
    help->addAction(ActionHelpAbout);

    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->toggleViewAction()->setVisible(false);
    ToolBar1->addAction(ActionFileNew);
    ToolBar1->addAction(ActionFileOpen);
    ToolBar1->addAction(ActionFileSave);
    ToolBar1->addSeparator();
    ToolBar1->addAction(ActionViewExcel);
    ToolBar1->addAction(ActionViewCsv);
    ToolBar1->addSeparator();
    ToolBar1->addAction(ActionConvertStart);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void TFormMain::CreateLayout() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(central);

    auto browseButton = [](QWidget* parent, QAction* action) {
        auto* button = new QToolButton(parent);
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setFixedSize(kBrowseButtonWidth, kBrowseButtonHeight);
        return button;
    };
    auto fileEdit = [](QWidget* parent, const QString& hint) {
        auto* edit = new QLineEdit(parent);
        edit->setReadOnly(true);
        edit->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
        SetHint(edit, hint);
        return edit;
    };
    auto filePanelGrid = [](QWidget* panel) {
        auto* grid = new QGridLayout(panel);
        grid->setContentsMargins(8, 3, 8, 3);
        grid->setHorizontalSpacing(6);
        grid->setVerticalSpacing(3);
        grid->setColumnMinimumWidth(0, kLabelColumnWidth - 8 - 6);
        grid->setColumnStretch(1, 1);
        return grid;
    };

    // The target file and its worksheet or table.
    PanelExcelFile = MakePanel(central, kFilePanelHeight);
    {
        QGridLayout* grid = filePanelGrid(PanelExcelFile);
        EditExcelBook = fileEdit(
            PanelExcelFile,
            QStringLiteral("Microsoft Excel ファイルまたはMicrosoft Access データファイルの場所"));
        auto* label = new QLabel(QStringLiteral("Excelファイル(&B)"), PanelExcelFile);
        label->setBuddy(EditExcelBook);
        SpeedButton1 = browseButton(PanelExcelFile, ActionExcelBoolSelect);
        Label1 = new QLabel(QStringLiteral("ワークシート(&W)"), PanelExcelFile);
        ComboBoxExcelWorksheet = new QComboBox(PanelExcelFile);
        ComboBoxExcelWorksheet->setEditable(false);
        SetHint(ComboBoxExcelWorksheet,
                QStringLiteral("ExcelファイルのワークシートまたはAccessデータファイルのテーブル"));
        Label1->setBuddy(ComboBoxExcelWorksheet);
        grid->addWidget(label, 0, 0);
        grid->addWidget(EditExcelBook, 0, 1);
        grid->addWidget(SpeedButton1, 0, 2);
        grid->addWidget(Label1, 1, 0);
        grid->addWidget(ComboBoxExcelWorksheet, 1, 1);
        // Only a choice of the user (or of the program through the handler's callers) opens a
        // worksheet; filling the list does not.
        connect(ComboBoxExcelWorksheet, &QComboBox::activated, this, [this](int) {
            Command(TWhenBusy::Refuse, [this] { ComboBoxExcelWorksheetChange(); });
        });
    }

    DBGrid1 = new QTableView(central);
    DataSource1 = new TTargetPreviewModel(DBGrid1);
    DBGrid1->setModel(DataSource1);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setWordWrap(false);
    DBGrid1->verticalHeader()->setDefaultSectionSize(DBGrid1->fontMetrics().height() + 6);
    DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1->verticalHeader()->setMinimumWidth(12);
    DBGrid1->horizontalHeader()->setHighlightSections(false);

    PanelCsvFile = MakePanel(central, kFilePanelHeight);
    {
        QGridLayout* grid = filePanelGrid(PanelCsvFile);
        EditCsvFile = fileEdit(PanelCsvFile, QStringLiteral("CSVファイルの場所"));
        auto* label = new QLabel(QStringLiteral("CSVファイル(&C)"), PanelCsvFile);
        label->setBuddy(EditCsvFile);
        SpeedButton2 = browseButton(PanelCsvFile, ActionCsvFileSelect);
        CheckBoxCsvFirstLineIsTitle =
            new QCheckBox(QStringLiteral("CSVファイルの先頭行はフィールド名"), PanelCsvFile);
        grid->addWidget(label, 0, 0);
        grid->addWidget(EditCsvFile, 0, 1);
        grid->addWidget(SpeedButton2, 0, 2);
        grid->addWidget(CheckBoxCsvFirstLineIsTitle, 1, 1);
        connect(CheckBoxCsvFirstLineIsTitle, &QCheckBox::clicked, this, [this] {
            Command(TWhenBusy::Refuse, [this] { CheckBoxCsvFirstLineIsTitleClick(); });
        });
    }

    // Both panels' edits start at the same place: the label column is as wide as the widest
    // label of the two.
    {
        const QList<QLabel*> labels =
            PanelExcelFile->findChildren<QLabel*>() + PanelCsvFile->findChildren<QLabel*>();
        int width = kLabelColumnWidth - 8 - 6;
        for (const QLabel* label : labels)
            width = std::max(width, label->sizeHint().width());
        for (QLabel* label : labels)
            label->setMinimumWidth(width);
    }

    PanelCsvPreview = MakePanel(central, 0);
    CsvGrid = new TCsvGrid(PanelCsvPreview);
    {
        auto* fill = new QVBoxLayout(PanelCsvPreview);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(CsvGrid);
    }

    PanelRelation = MakePanel(central, 0);
    GridRelation = new TGridRelation(PanelRelation);
    {
        auto* fill = new QVBoxLayout(PanelRelation);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(GridRelation);
    }

    // Three panes: (target file panel + its preview), (CSV file panel + its preview), the
    // relation grid. The file panels have a fixed height, so a handle resizes the preview above
    // it, and a pane whose preview is hidden shrinks to its panel.
    SplitterMain = new QSplitter(Qt::Vertical, central);
    SplitterMain->setChildrenCollapsible(false);
    SplitterMain->setHandleWidth(kSplitterHeight);
    auto pane = [this](QWidget* panel, QWidget* preview) {
        auto* box = new QWidget(SplitterMain);
        auto* stack = new QVBoxLayout(box);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(0);
        stack->addWidget(panel);
        stack->addWidget(preview, 1);
        return box;
    };
    SplitterMain->addWidget(pane(PanelExcelFile, DBGrid1));
    SplitterMain->addWidget(pane(PanelCsvFile, PanelCsvPreview));
    SplitterMain->addWidget(PanelRelation);
    SplitterMain->setStretchFactor(0, 0);
    SplitterMain->setStretchFactor(1, 0);
    SplitterMain->setStretchFactor(2, 1);
    SplitterExcel = SplitterMain->handle(1);
    SplitterCsv = SplitterMain->handle(2);
    column->addWidget(SplitterMain, 1);

    // The progress panel: the bar filling it, the cancel button at its right. Esc presses the
    // button's command while the panel is visible.
    PanelConvertProcess = MakePanel(central, kConvertPanelHeight);
    {
        auto* row = new QHBoxLayout(PanelConvertProcess);
        row->setContentsMargins(2, 2, 2, 2);
        row->setSpacing(2);
        ProgressBar1 = new QProgressBar(PanelConvertProcess);
        ProgressBar1->setMinimum(0);
        ProgressBar1->setTextVisible(false);
        BtnConvertCancel = new QPushButton(PanelConvertProcess);
        BtnConvertCancel->setText(ActionConvertCancel->text());
        BtnConvertCancel->setIcon(ActionConvertCancel->icon());
        SetHint(BtnConvertCancel, ActionConvertCancel->toolTip());
        // At least the designed width, wider when the font needs it: a fixed 112 px clips
        // "キャンセル(ESC)" with its icon in common Japanese fonts.
        BtnConvertCancel->setFixedWidth(
            std::max(kCancelButtonWidth, BtnConvertCancel->sizeHint().width()));
        BtnConvertCancel->setFocusPolicy(Qt::NoFocus);
        connect(BtnConvertCancel, &QPushButton::clicked, ActionConvertCancel, &QAction::trigger);
        // Esc cancels at once (a button's own shortcut would animate the click first), and
        // only while the panel is visible: a hidden widget's shortcuts do not fire.
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), PanelConvertProcess);
        escape->setContext(Qt::WindowShortcut);
        connect(escape, &QShortcut::activated, ActionConvertCancel, &QAction::trigger);
        row->addWidget(ProgressBar1, 1);
        row->addWidget(BtnConvertCancel);
    }
    column->addWidget(PanelConvertProcess);

    // One simple text. Hover hints are shown as the bar's temporary message, which covers this
    // label while the mouse is over a control and uncovers it afterwards.
    StatusText1 = new QLabel(this);
    statusBar()->addWidget(StatusText1, 1);
    statusBar()->setFixedHeight(kStatusBarHeight + 3);
    statusBar()->setSizeGripEnabled(true);

    TrayIcon1 = new QSystemTrayIcon(AppIcon(kIconApplication), this);
    TrayIcon1->setToolTip(ApplicationTitle());
    connect(TrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason) {
                Command(TWhenBusy::Allow, [this] { TrayIcon1Click(); });
            });

    // Client area of the design size, centred on the screen.
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

void TFormMain::ShowPreview(int pane, bool visible) {
    QWidget* box = SplitterMain->widget(pane);
    QWidget* preview = pane == kPaneExcel ? static_cast<QWidget*>(DBGrid1) : PanelCsvPreview;
    QSplitterHandle* handle = pane == kPaneExcel ? SplitterExcel : SplitterCsv;
    const int designHeight = pane == kPaneExcel ? kExcelPreviewHeight : kCsvPreviewHeight;
    preview->setVisible(visible);
    handle->setVisible(visible);
    // The room a preview gives up or takes comes from the relation grid, as when the parts
    // above it are stacked from the top.
    QList<int> sizes = SplitterMain->sizes();
    const int total = sizes[0] + sizes[1] + sizes[2];
    if (visible) {
        box->setMaximumHeight(QWIDGETSIZE_MAX);
        sizes[pane] =
            kFilePanelHeight + (FPreviewHeight[pane] > 0 ? FPreviewHeight[pane] : designHeight);
    } else {
        if (sizes[pane] > kFilePanelHeight) FPreviewHeight[pane] = sizes[pane] - kFilePanelHeight;
        box->setMaximumHeight(kFilePanelHeight);
        sizes[pane] = kFilePanelHeight;
    }
    if (total > 0) {
        sizes[2] = std::max(0, total - sizes[0] - sizes[1]);
        SplitterMain->setSizes(sizes);
    }
}

void TFormMain::ActionViewExcelExecute() {
    TCursorHourGlass cursor;
    ActionViewExcel->setChecked(!ActionViewExcel->isChecked());
    ShowPreview(kPaneExcel, ActionViewExcel->isChecked());
}

void TFormMain::ActionViewCsvExecute() {
    TCursorHourGlass cursor;
    ActionViewCsv->setChecked(!ActionViewCsv->isChecked());
    ShowPreview(kPaneCsv, ActionViewCsv->isChecked());
}

void TFormMain::SetStatusText(const QString& text) {
    StatusText1->setText(text);
}

QString TFormMain::StatusText() const {
    return StatusText1->text();
}

void TFormMain::ApplicationFirstIdle() {
    if (FFirstIdleDone) return;
    FFirstIdleDone = true;  // never again, also when a step below fails
    TCursorHourGlass cursor;

    if (Config.WindowPositionRestore) {
        const TRect& bounds = Config.WindowPosition;
        setGeometry(bounds.Left, bounds.Top, bounds.Right, bounds.Bottom);
        if (Config.WindowState == 1) setWindowState(windowState() | Qt::WindowMinimized);
        if (Config.WindowState == 2) setWindowState(windowState() | Qt::WindowMaximized);
        ActionViewExcel->setChecked(!Config.PreviewExcel);
        ActionViewCsv->setChecked(!Config.PreviewCsv);
        ActionViewExcelExecute();
        ActionViewCsvExecute();
    }

    // One argument that is not an option is a project file, as the desktop passes it when such a
    // file is opened: that project, else (a file that is gone) a new one after the warning.
    if (IsProjectFileStart(FArguments)) {
        ActionFileNewExecute();
        OpenProjectFile(ToU16String(QFileInfo(ToQString(FArguments[1])).absoluteFilePath()));
        return;
    }
    // Otherwise fewer than two arguments (the program path not counted) start with the start-up
    // project.
    const std::size_t count = FArguments.empty() ? 0 : FArguments.size() - 1;
    if (count < 2) {
        OpenStartUpProject();
        return;
    }
    ActionFileNewExecute();
    const std::vector<std::u16string> options(FArguments.begin() + 1, FArguments.end());
    const bool autoRun = Project->SetArguments(options);
    ProjectToForm(*Project);
    if (!autoRun) return;
    // Unattended, rows must never land in a worksheet nobody named: a name the target does not
    // hold is refused as the command-line import refuses it (the window shows the first one).
    if (ADOConnection1.Connected() &&
        ComboBoxExcelWorksheet->findText(ToQString(Project->ExcelSheet),
                                         Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        std::vector<std::u16string> names;
        for (int i = 0; i < ComboBoxExcelWorksheet->count(); ++i)
            names.push_back(ToU16String(ComboBoxExcelWorksheet->itemText(i)));
        ShowWarning(
            this, ToQString(SheetNotFoundMessage(Project->ExcelSheet, names, Project->ExcelFile)));
        return;
    }
    if (RunConvert()) close();
}

void TFormMain::ActionFileNewExecute() {
    if (!IsIdle()) return;
    TCursorHourGlass cursor;
    DataSource1->SetTable(nullptr);
    ADOConnection1.Close();
    Project = std::make_unique<TProject>(u"", u"", u"", false);
    ProjectToForm(*Project);
    SetProjectFileName(u"");
}

void TFormMain::ProjectToForm(const TProject& project) {
    const TBusyScope busy(*this, TBusy::ShowingProject);
    DataSource1->SetTable(nullptr);
    ADOConnection1.Close();
    EditExcelBook->setText(ToQString(project.ExcelFile));
    LoadExcelBook();
    const int sheet = ComboBoxExcelWorksheet->findText(ToQString(project.ExcelSheet),
                                                       Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (sheet >= 0) {
        ComboBoxExcelWorksheet->setCurrentIndex(sheet);
        ComboBoxExcelWorksheetChange();
    }
    EditCsvFile->setText(ToQString(project.CsvFile));
    OpenCsvFile(project.CsvFile);
    CheckBoxCsvFirstLineIsTitle->setChecked(project.FirstLineIsTitle);
    CheckBoxCsvFirstLineIsTitleClick();
    GridRelation->SetRelation(project.Relation);
    GridRelation->viewport()->update();
    ProcessEventsNow();
}

void TFormMain::SetProjectFileName(const std::u16string& path) {
    ProjectFileName = path;
    if (path.empty()) {
        setWindowTitle(ApplicationTitle());
        return;
    }
    const std::size_t slash = path.find_last_of(u'/');
    const std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    setWindowTitle(ApplicationTitle() + QStringLiteral(" - ") + ToQString(name));
    Config.AddHistory(path);
}

void TFormMain::closeEvent(QCloseEvent* event) {
    // Closing in the middle of a run would pull the table and the CSV from under it: the close
    // asks the run to stop instead, and the window stays.
    if (FBusy == TBusy::Importing) {
        ActionConvertCancelExecute();
        event->ignore();
        return;
    }
    // Likewise while a CSV file loads or a project is being shown: closing would destroy the
    // project and unbind the tables that are being put into the controls. The window stays; it
    // can be closed once they are in place.
    if (!IsIdle()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TFormMain::FormClose() {
    if (FClosed) return;
    FClosed = true;
    const Qt::WindowStates state = windowState();
    const QRect bounds = normalGeometry().isValid() ? normalGeometry() : geometry();
    setWindowState(Qt::WindowNoState);
    hide();

    Config.SetWindowState(state & Qt::WindowMinimized ? 1 : state & Qt::WindowMaximized ? 2 : 0);
    Config.WindowPosition = TRect{bounds.x(), bounds.y(), bounds.width(), bounds.height()};
    Config.LastProjectFile = ProjectFileName;
    Config.PreviewExcel = ActionViewExcel->isChecked();
    Config.PreviewCsv = ActionViewCsv->isChecked();
    // A settings file that cannot be written is reported, but the window still closes: the
    // program would otherwise stay running with no window to end it from.
    RunCommand([this] { Config.Save(FSettingsFile); });

    CloseCsvFile();
    DataSource1->SetTable(nullptr);
    ADOConnection1.Close();
    Project.reset();
}

// --- the tray, while InTaskTray is on

void TFormMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        ApplicationEvents1Minimize();
}

void TFormMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FSplitterSized) {
        // The design heights once the splitter knows its own; the relation grid takes the rest.
        FSplitterSized = true;
        QList<int> sizes = SplitterMain->sizes();
        const int total = sizes[0] + sizes[1] + sizes[2];
        for (int pane : {kPaneExcel, kPaneCsv}) {
            const bool shown = SplitterMain->widget(pane)->maximumHeight() > kFilePanelHeight;
            sizes[pane] =
                kFilePanelHeight +
                (shown ? (pane == kPaneExcel ? kExcelPreviewHeight : kCsvPreviewHeight) : 0);
        }
        sizes[2] = std::max(0, total - sizes[0] - sizes[1]);
        SplitterMain->setSizes(sizes);
    }
    FormShow();
}

void TFormMain::ApplicationEvents1Minimize() {
    // Without a notification area the icon could not be clicked: the window stays minimised
    // as usual instead of disappearing with no way back.
    if (!Config.InTaskTray || !TrayAvailable()) return;
    TrayIcon1->show();
    // Hidden after the minimize has been handled, not from inside its own state change.
    QTimer::singleShot(0, this, [this] { hide(); });
}

void TFormMain::TrayIcon1Click() {
    show();
}

void TFormMain::FormShow() {
    if (!Config.InTaskTray) return;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
    TrayIcon1->hide();
}

}  // namespace qm
