#include "app/help_window.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace qm {

namespace {

QString PageOf(int topic) {
    const QString page = QStringLiteral(":/help/topic-%1.html").arg(topic);
    return topic > 0 && QFile::exists(page) ? page : QStringLiteral(":/help/index.html");
}

}  // namespace

TFormHelp& TFormHelp::For(QWidget* owner) {
    QWidget* top = owner;
    while (top && top->parentWidget())
        top = top->parentWidget();
    if (top) {
        if (auto* window = top->findChild<TFormHelp*>(QString(), Qt::FindDirectChildrenOnly))
            return *window;
    }
    return *new TFormHelp(top);  // owned by the top window, or by nobody without one
}

TFormHelp::TFormHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Quillomat ヘルプ"));
    setAttribute(Qt::WA_QuitOnClose, false);  // never keeps the program running on its own
    auto* column = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    auto* contents = new QPushButton(QStringLiteral("目次(&C)"), this);
    auto* back = new QPushButton(QStringLiteral("戻る(&B)"), this);
    buttons->addWidget(contents);
    buttons->addWidget(back);
    buttons->addStretch(1);
    column->addLayout(buttons);
    Browser = new QTextBrowser(this);
    column->addWidget(Browser, 1);
    connect(contents, &QPushButton::clicked, this, [this] { ShowTopic(0); });
    connect(back, &QPushButton::clicked, Browser, &QTextBrowser::backward);
    connect(Browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    back->setEnabled(false);
    resize(640, 520);
}

void TFormHelp::ShowTopic(int topic) {
    Browser->setSource(QUrl(QStringLiteral("qrc") + PageOf(topic)));
    show();
    raise();
    activateWindow();
}

QString TFormHelp::CurrentPage() const {
    return Browser->source().toString();
}

}  // namespace qm
