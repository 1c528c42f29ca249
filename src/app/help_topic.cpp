#include "app/help_topic.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace qm {

namespace {
THelpHook& Hook() {
    static THelpHook hook;
    return hook;
}
}  // namespace

void ShowHelpTopic(QWidget* owner, const QString& helpFile, int topic) {
    if (Hook()) {
        Hook()(owner, helpFile, topic);
        return;
    }
    if (QFileInfo(helpFile).isFile() && QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile)))
        return;
    QMessageBox::critical(owner, QStringLiteral("ヘルプ"),
                          QStringLiteral("ヘルプ ファイルを開けません。\n") + helpFile);
}

THelpHook SetHelpHook(THelpHook hook) {
    THelpHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

}  // namespace qm
