#include "settings/form_config_general.h"

#include <QCheckBox>
#include <QCommandLinkButton>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/error_handler.h"
#include "app/form_main.h"
#include "app/help_topic.h"
#include "grids/qt_text.h"
#include "platform/program_path.h"
#include "settings/config.h"
#include "settings/file_association.h"

namespace qm {

namespace {

// Design sizes of the Windows edition, in pixels: the minimum the layouts may not go below.
constexpr int kPageWidth = 336;
constexpr int kPageHeight = 152;
constexpr int kPanelHeight = 56;
constexpr int kButtonWidth = 75;
constexpr int kCancelWidth = 84;
constexpr int kButtonHeight = 25;
constexpr int kLinkButtonWidth = 302;
constexpr int kLinkButtonHeight = 41;

constexpr char16_t kExtension[] = u".QLM";

QVBoxLayout* TabLayout(QWidget* tab, int left) {
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(left, 16, left, 11);
    return layout;
}

QPushButton* MakeButton(const QString& caption, int width, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setMinimumSize(width, kButtonHeight);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TFormConfigGeneral::TFormConfigGeneral(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("全般設定"));

    PageControl1 = new QTabWidget(this);
    PageControl1->setMinimumSize(kPageWidth, kPageHeight);

    TabSheet1 = new QWidget;
    CheckBoxProjectFileRestore = new QCheckBox(
        QStringLiteral("前回の終了時に開いていたファイルを、起動時に開く"), TabSheet1);
    CheckBoxWindowPositionRestore = new QCheckBox(
        QStringLiteral("前回の終了時のウィンドウの状態を、起動時に復元する"), TabSheet1);
    QVBoxLayout* startup = TabLayout(TabSheet1, 16);
    startup->addWidget(CheckBoxProjectFileRestore);
    startup->addWidget(CheckBoxWindowPositionRestore);
    startup->addStretch();
    PageControl1->addTab(TabSheet1, QStringLiteral("起動時(&1)"));

    TabSheet2 = new QWidget;
    ButtonLinkSet =
        new QCommandLinkButton(QStringLiteral("拡張子「.QLM」の関連づけを設定する"), TabSheet2);
    ButtonLinkUnSet =
        new QCommandLinkButton(QStringLiteral("拡張子「.QLM」の関連づけを削除する"), TabSheet2);
    QVBoxLayout* association = TabLayout(TabSheet2, 11);
    for (QCommandLinkButton* button : {ButtonLinkSet, ButtonLinkUnSet}) {
        button->setMinimumSize(kLinkButtonWidth, kLinkButtonHeight);
        button->setAutoDefault(false);
        association->addWidget(button);
    }
    association->addStretch();
    PageControl1->addTab(TabSheet2, QStringLiteral("関連づけ(&2)"));
    // A temporary folder or request file that fails goes to the general error handling.
    connect(ButtonLinkSet, &QCommandLinkButton::clicked, this,
            [this] { RunCommand([this] { ButtonLinkSetClick(); }); });
    connect(ButtonLinkUnSet, &QCommandLinkButton::clicked, this,
            [this] { RunCommand([this] { ButtonLinkUnSetClick(); }); });

    TabSheet3 = new QWidget;
    CheckBoxInTaskTray =
        new QCheckBox(QStringLiteral("最小化したとき、タスクトレイに入れる"), TabSheet3);
    QVBoxLayout* other = TabLayout(TabSheet3, 16);
    other->addWidget(CheckBoxInTaskTray);
    other->addStretch();
    PageControl1->addTab(TabSheet3, QStringLiteral("その他(&3)"));

    // Help at the left, OK and Cancel at the right; the tab order runs Help, OK, Cancel.
    Panel1 = new QWidget(this);
    Panel1->setMinimumHeight(kPanelHeight);
    BitBtn3 = MakeButton(QStringLiteral("ヘルプ(&H)"), kButtonWidth, Panel1);
    BitBtn1 = MakeButton(QStringLiteral("OK"), kButtonWidth, Panel1);
    BitBtn2 = MakeButton(QStringLiteral("キャンセル"), kCancelWidth, Panel1);
    BitBtn1->setDefault(true);
    auto* buttons = new QHBoxLayout(Panel1);
    buttons->setContentsMargins(15, 16, 19, 15);
    buttons->addWidget(BitBtn3);
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addSpacing(6);
    buttons->addWidget(BitBtn2);
    setTabOrder(BitBtn3, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    connect(BitBtn3, &QPushButton::clicked, this,
            [this] { ShowHelpTopic(this, HelpFile, kHelpTopic); });
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PageControl1);
    layout->addWidget(Panel1);
    // The size the contents need, and no other: the dialog cannot be resized.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    PageControl1->setCurrentIndex(0);
}

void TFormConfigGeneral::ConfigToForm(const TConfig& config) {
    CheckBoxProjectFileRestore->setChecked(config.ProjectFileRestore);
    CheckBoxWindowPositionRestore->setChecked(config.WindowPositionRestore);
    CheckBoxInTaskTray->setChecked(config.InTaskTray);
}

void TFormConfigGeneral::FormToConfig(TConfig& config) const {
    config.ProjectFileRestore = CheckBoxProjectFileRestore->isChecked();
    config.WindowPositionRestore = CheckBoxWindowPositionRestore->isChecked();
    config.InTaskTray = CheckBoxInTaskTray->isChecked();
}

void TFormConfigGeneral::ButtonLinkSetClick() {
    SetFileAssociation(kExtension,
                       ToU16String(TFormMain::ApplicationTitle() + QStringLiteral(" ファイル")),
                       ProgramFilePath(), 0);
}

void TFormConfigGeneral::ButtonLinkUnSetClick() {
    RemoveFileAssociation(kExtension);
}

}  // namespace qm
