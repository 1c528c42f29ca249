#include "about/form_about_box.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "about/app_version_info.h"
#include "app/app_icons.h"
#include "app/form_main.h"
#include "grids/qt_text.h"

namespace qm {

namespace {

// Design sizes of the Windows edition, in pixels.
constexpr int kIconSize = 48;
constexpr int kCommentsWidth = 242;
constexpr int kCommentsHeight = 42;
constexpr int kPanelWidth = 258;
constexpr int kOkWidth = 69;
constexpr int kOkHeight = 23;

}  // namespace

TFormAboutBox::TFormAboutBox(QWidget* owner) : QDialog(owner) {
    // Read first: a block that cannot be read leaves no half-made box behind.
    const TAppVersionInfo info;

    setWindowTitle(QStringLiteral("バージョン情報"));

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setMinimumWidth(kPanelWidth);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setFixedSize(kIconSize, kIconSize);
    ProgramIcon->setPixmap(AppIcon(kIconApplication).pixmap(kIconSize, kIconSize));
    ProgramIcon->setScaledContents(true);

    ProductName = new QLabel(TFormMain::ApplicationTitle(), Panel1);
    Version = new QLabel(
        QStringLiteral("バージョン ") + ToQString(info.GetValue(TVersionInfoKey::FileVersion)),
        Panel1);
    Copyright = new QLabel(
        QStringLiteral("(C) ") + ToQString(info.GetValue(TVersionInfoKey::LegalCopyright)), Panel1);
    Comments = new QLabel(ToQString(info.GetValue(TVersionInfoKey::Comments)), Panel1);
    Comments->setWordWrap(true);
    Comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Comments->setMinimumSize(kCommentsWidth, kCommentsHeight);

    auto* panel = new QGridLayout(Panel1);
    panel->setContentsMargins(7, 7, 7, 9);
    panel->setHorizontalSpacing(10);
    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(0, 6, 0, 0);
    texts->addWidget(ProductName);
    texts->addWidget(Version);
    texts->addSpacing(4);
    texts->addWidget(Copyright);
    texts->addStretch();
    panel->addWidget(ProgramIcon, 0, 0, Qt::AlignTop);
    panel->addLayout(texts, 0, 1);
    panel->setRowMinimumHeight(1, 12);
    panel->addWidget(Comments, 2, 0, 1, 2);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setMinimumSize(kOkWidth, kOkHeight);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 7, 7, 7);
    layout->addWidget(Panel1);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace qm
