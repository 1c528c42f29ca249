// The general settings dialog and the About box, opened from the main window's commands and
// driven as a user would.
#include <QApplication>
#include <QCheckBox>
#include <QCommandLinkButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>

#include "about/form_about_box.h"
#include "app/form_main.h"
#include "app/help_topic.h"
#include "app_test_util.h"
#include "platform/file_system.h"
#include "settings/form_config_general.h"

namespace qm {

using namespace test;

namespace {

// Runs 'act' on the modal dialog of type T once exec() has shown it; gives up after 5 s.
template <class T>
void WhenShown(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, act, ticks] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog == nullptr && ++*ticks < 500) return;
        timer->stop();
        timer->deleteLater();
        if (dialog != nullptr) act(dialog);
    });
    timer->start();
}

// Captions that their widget is too small for: one-line captions need their size hint, captions
// that wrap (word-wrapped labels, command-link buttons) the height they take at their width.
QStringList ClippedCaptions(QWidget* top) {
    QStringList clipped;
    for (QWidget* widget : top->findChildren<QWidget*>()) {
        if (!widget->isVisible()) continue;
        QString caption;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) caption = button->text();
        if (auto* label = qobject_cast<QLabel*>(widget)) caption = label->text();
        if (caption.isEmpty()) continue;
        if (widget->hasHeightForWidth()) {
            if (widget->height() < widget->heightForWidth(widget->width()))
                clipped << QString("%1: height %2 < %3")
                               .arg(caption)
                               .arg(widget->height())
                               .arg(widget->heightForWidth(widget->width()));
        } else if (widget->width() < widget->sizeHint().width() ||
                   widget->height() < widget->sizeHint().height()) {
            clipped << QString("%1: %2x%3 < %4x%5")
                           .arg(caption)
                           .arg(widget->width())
                           .arg(widget->height())
                           .arg(widget->sizeHint().width())
                           .arg(widget->sizeHint().height());
        }
    }
    // Tabs too: the bar's hint is the sum of its tabs' whole captions.
    for (QTabBar* bar : top->findChildren<QTabBar*>()) {
        if (bar->isVisible() && bar->width() < bar->sizeHint().width())
            clipped << QString("tabs: %1 < %2").arg(bar->width()).arg(bar->sizeHint().width());
    }
    return clipped;
}

}  // namespace

class TFormDialogsTest : public QObject, TWindowTestFolder {
    Q_OBJECT

  private:
    QByteArray SettingsBytes() const {
        QFile file(Path("Quillomat.ini"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }

  private slots:
    void init() { QFile::remove(Path("Quillomat.ini")); }

    void SettingsDialogOpensOnTheFirstTabWithTheSettings();
    void SettingsDialogCancelChangesNothing();
    void SettingsDialogOkSavesAtOnce();
    void AssociationButtonsWithoutTheToolSayNothing();
    void AssociationErrorsGoToTheGeneralHandling();
    void SettingsDialogHelpShowsItsTopic();
    void SettingsDialogShowsItsWholeCaptions();
    void AboutBoxShowsTheVersionBlock();
    void AboutBoxOpensFromTheHelpMenu();
};

void TFormDialogsTest::SettingsDialogOpensOnTheFirstTabWithTheSettings() {
    TFormMain window({}, SettingsFile());
    window.Config.ProjectFileRestore = true;
    window.Config.WindowPositionRestore = false;
    window.Config.InTaskTray = true;
    int shown = 0;
    WhenShown<TFormConfigGeneral>([&](TFormConfigGeneral* dialog) {
        ++shown;
        QCOMPARE(dialog->windowTitle(), QString("全般設定"));
        QCOMPARE(dialog->parentWidget(), &window);
        QCOMPARE(dialog->PageControl1->count(), 3);
        QCOMPARE(dialog->PageControl1->tabText(0), QString("起動時(&1)"));
        QCOMPARE(dialog->PageControl1->tabText(1), QString("関連づけ(&2)"));
        QCOMPARE(dialog->PageControl1->tabText(2), QString("その他(&3)"));
        QCOMPARE(dialog->PageControl1->currentIndex(), 0);
        QVERIFY(dialog->CheckBoxProjectFileRestore->isChecked());
        QVERIFY(!dialog->CheckBoxWindowPositionRestore->isChecked());
        QVERIFY(dialog->CheckBoxInTaskTray->isChecked());
        QVERIFY(dialog->BitBtn1->isDefault());
        dialog->PageControl1->setCurrentIndex(2);
        dialog->BitBtn2->click();
    });
    window.ActionConfigGeneral->trigger();
    QCOMPARE(shown, 1);

    // The next showing starts on the first tab again.
    WhenShown<TFormConfigGeneral>([&](TFormConfigGeneral* dialog) {
        ++shown;
        QCOMPARE(dialog->PageControl1->currentIndex(), 0);
        dialog->reject();
    });
    window.ActionConfigGeneral->trigger();
    QCOMPARE(shown, 2);
}

void TFormDialogsTest::SettingsDialogCancelChangesNothing() {
    TFormMain window({}, SettingsFile());
    window.Config.ProjectFileRestore = true;
    window.Config.Save(SettingsFile());
    const QByteArray before = SettingsBytes();
    WhenShown<TFormConfigGeneral>([](TFormConfigGeneral* dialog) {
        dialog->CheckBoxProjectFileRestore->click();
        dialog->CheckBoxInTaskTray->click();
        dialog->BitBtn2->click();
    });
    window.ActionConfigGeneral->trigger();
    QVERIFY(window.Config.ProjectFileRestore);
    QVERIFY(!window.Config.InTaskTray);
    QCOMPARE(SettingsBytes(), before);
}

void TFormDialogsTest::SettingsDialogOkSavesAtOnce() {
    TFormMain window({}, SettingsFile());
    QVERIFY(!QFile::exists(Path("Quillomat.ini")));
    WhenShown<TFormConfigGeneral>([](TFormConfigGeneral* dialog) {
        dialog->CheckBoxProjectFileRestore->click();
        dialog->CheckBoxWindowPositionRestore->click();
        dialog->CheckBoxInTaskTray->click();
        dialog->BitBtn1->click();
    });
    window.ActionConfigGeneral->trigger();
    QVERIFY(window.Config.ProjectFileRestore);
    QVERIFY(window.Config.WindowPositionRestore);
    QVERIFY(window.Config.InTaskTray);
    // On disk already, while the window is still open.
    TConfig saved;
    saved.Load(SettingsFile());
    QVERIFY(saved.ProjectFileRestore);
    QVERIFY(saved.WindowPositionRestore);
    QVERIFY(saved.InTaskTray);
}

void TFormDialogsTest::AssociationButtonsWithoutTheToolSayNothing() {
    // The tests' folder has no lindrel: both buttons pass over it silently, leave no request
    // file, and the dialog stays open.
    QTemporaryDir temp;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", temp.path().toLocal8Bit());
    TWarnings warnings;
    TFormMain window({}, SettingsFile());
    bool stayedOpen = false;
    WhenShown<TFormConfigGeneral>([&](TFormConfigGeneral* dialog) {
        dialog->PageControl1->setCurrentIndex(1);
        dialog->ButtonLinkSet->click();
        dialog->ButtonLinkUnSet->click();
        stayedOpen = dialog->isVisible();
        dialog->reject();
    });
    window.ActionConfigGeneral->trigger();
    qputenv("TMPDIR", oldTmp);
    QVERIFY(stayedOpen);
    QCOMPARE(warnings.texts, QStringList());
    QCOMPARE(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void TFormDialogsTest::AssociationErrorsGoToTheGeneralHandling() {
    // A request file that cannot be written: the error is shown by the general handling, no
    // file is left, and the dialog is still there for another try.
    QTemporaryDir temp;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", temp.path().toLocal8Bit());
    TWarnings warnings;
    TFormConfigGeneral dialog(nullptr);
    dialog.show();
    TFileSystemFaults::Reset(1);
    dialog.ButtonLinkSet->click();
    TFileSystemFaults::Reset();
    qputenv("TMPDIR", oldTmp);
    QCOMPARE(warnings.texts.size(), 1);
    QVERIFY2(warnings.texts[0].contains(temp.path()), qPrintable(warnings.texts[0]));
    QVERIFY(dialog.isVisible());
    QCOMPARE(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void TFormDialogsTest::SettingsDialogHelpShowsItsTopic() {
    QString file;
    int topic = 0;
    SetHelpHook([&](QWidget*, const QString& helpFile, int number) {
        file = helpFile;
        topic = number;
    });
    TFormMain window({}, SettingsFile());
    WhenShown<TFormConfigGeneral>([](TFormConfigGeneral* dialog) {
        dialog->BitBtn3->click();
        dialog->reject();
    });
    window.ActionConfigGeneral->trigger();
    SetHelpHook({});
    QCOMPARE(topic, 6);
    QCOMPARE(file, window.HelpFile);
    QVERIFY(file.endsWith(".CHM"));
}

void TFormDialogsTest::SettingsDialogShowsItsWholeCaptions() {
    TFormConfigGeneral dialog(nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (int tab = 0; tab < dialog.PageControl1->count(); ++tab) {
        dialog.PageControl1->setCurrentIndex(tab);
        const QStringList clipped = ClippedCaptions(&dialog);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
    }
    // Not resizable, and no smaller than the design.
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(dialog.width() >= 336 && dialog.height() >= 208);
    // Help, OK, Cancel from left to right, in that tab order.
    QVERIFY(dialog.BitBtn3->x() < dialog.BitBtn1->x());
    QVERIFY(dialog.BitBtn1->x() < dialog.BitBtn2->x());
    QCOMPARE(dialog.BitBtn3->nextInFocusChain(), dialog.BitBtn1);
}

void TFormDialogsTest::AboutBoxShowsTheVersionBlock() {
    TFormAboutBox box(nullptr);
    QCOMPARE(box.windowTitle(), QString("バージョン情報"));
    QCOMPARE(box.ProductName->text(), QString("Quillomat"));
    QCOMPARE(box.Version->text(), QString("バージョン 0.2.3.0"));
    QCOMPARE(box.Copyright->text(), QString("(C) Morvessa"));
    QCOMPARE(box.Comments->text(),
             QString("ExcelファイルやAccess データファイルにCSVファイルのデータをインポートする"));
    QVERIFY(box.Comments->wordWrap());
    QVERIFY(IconHasInk(QIcon(box.ProgramIcon->pixmap())));
    QVERIFY(box.OKButton->isDefault());

    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QStringList clipped = ClippedCaptions(&box);
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
    QCOMPARE(box.minimumSize(), box.maximumSize());
    // The description does wrap: it is wider than its label.
    QVERIFY(box.Comments->fontMetrics().horizontalAdvance(box.Comments->text()) >
            box.Comments->width());
}

void TFormDialogsTest::AboutBoxOpensFromTheHelpMenu() {
    TFormMain window({}, SettingsFile());
    bool shown = false;
    WhenShown<TFormAboutBox>([&](TFormAboutBox* box) {
        shown = true;
        QCOMPARE(box->parentWidget(), &window);
        box->OKButton->click();
    });
    window.ActionHelpAbout->trigger();
    QVERIFY(shown);
    QCOMPARE(window.findChildren<TFormAboutBox*>().size(), 0);  // deleted once closed
}

}  // namespace qm

int RunFormMainTests(int argc, char** argv) {
    qm::TFormDialogsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "form_dialogs_test.moc"
