// Pictures of the windows for a person to look at their layout: the main window empty, with a
// CSV file and a workbook chosen, and with the progress panel; the settings dialog's tabs and
// the About box. Not a test: it asserts nothing, it saves PNG files.
//
//   window_screenshots OUT-FOLDER     (run under a display, e.g. xvfb-run, for real fonts)
//
// The workbook is made with openpyxl when it is installed; without it the pictures show the
// window with the CSV file alone.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <cstdio>
#include <cstdlib>

#include "about/form_about_box.h"
#include "app/error_handler.h"
#include "app/form_main.h"
#include "app/gui_yield.h"
#include "app/open_dialog.h"
#include "app/warning_box.h"
#include "grids/qt_text.h"
#include "settings/form_config_general.h"

namespace {

bool Shown(QWidget& widget) {
    widget.show();
    const bool exposed = QTest::qWaitForWindowExposed(&widget);
    if (!exposed) std::printf("NOT SHOWN %s\n", qPrintable(widget.windowTitle()));
    return exposed;
}

bool Save(QWidget& widget, const QString& file) {
    QTest::qWait(200);
    const bool saved = widget.grab().save(file);
    std::printf("%s %s\n", saved ? "saved" : "NOT SAVED", qPrintable(file));
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: window_screenshots OUT-FOLDER\n", stderr);
        return 2;
    }
    QTemporaryDir work;
    setenv("XDG_CONFIG_HOME", work.path().toLocal8Bit().constData(), 1);
    qm::TApplication application(argc, argv);
    qm::InstallGuiYieldHook();
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    bool ok = true;

    const QString csv = work.filePath("shot.csv");
    QFile file(csv);
    file.open(QIODevice::WriteOnly);
    file.write(
        "氏名,住所,電話番号\n山田太郎,東京都千代田区,03-1234-5678\n"
        "田中花子,大阪府大阪市,06-8765-4321\n");
    file.close();
    const QString book = work.filePath("shot.xlsx");
    QProcess::execute("/usr/bin/python3",
                      {"-c",
                       "import sys, openpyxl\n"
                       "wb = openpyxl.Workbook(); ws = wb.active; ws.title = '名簿'\n"
                       "ws.append(['氏名', '住所', '電話番号', '登録日'])\n"
                       "ws.append(['佐藤一郎', '北海道札幌市中央区北一条西二丁目', "
                       "'011-000-0000', 1])\n"
                       "wb.save(sys.argv[1])\n",
                       book});
    // A warning box would wait for a click: print its text instead.
    qm::SetWarningHook(
        [](QWidget*, const QString& text) { std::printf("warning: %s\n", qPrintable(text)); });
    QStringList answers;
    if (QFile::exists(book)) answers << book;
    answers << csv;
    qm::TOpenDialog::SetHook([&answers](qm::TOpenDialog& dialog) {
        if (answers.isEmpty()) return false;
        dialog.FileName = answers.takeFirst();
        return true;
    });

    {
        qm::TFormMain window({u"/usr/bin/quillomat"},
                             qm::ToU16String(work.filePath("Quillomat.ini")));
        ok = Shown(window) && ok;
        window.ApplicationFirstIdle();
        ok = Save(window, out + "/empty.png") && ok;
        if (QFile::exists(book)) window.SpeedButton1->click();
        window.SpeedButton2->click();
        window.CheckBoxCsvFirstLineIsTitle->click();
        window.SetStatusText("登録しました。");
        ok = Save(window, out + "/csv.png") && ok;
        window.PanelConvertProcess->show();
        window.ProgressBar1->setMaximum(10);
        window.ProgressBar1->setValue(4);
        ok = Save(window, out + "/progress.png") && ok;
    }
    qm::TOpenDialog::SetHook({});

    qm::TFormConfigGeneral dialog(nullptr);
    ok = Shown(dialog) && ok;
    for (int tab = 0; tab < dialog.PageControl1->count(); ++tab) {
        dialog.PageControl1->setCurrentIndex(tab);
        ok = Save(dialog, out + QString("/settings-%1.png").arg(tab + 1)) && ok;
    }
    qm::TFormAboutBox box(nullptr);
    ok = Shown(box) && ok;
    ok = Save(box, out + "/about.png") && ok;
    return ok ? 0 : 1;
}
