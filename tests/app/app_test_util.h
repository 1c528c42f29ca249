// Helpers of the window tests: warning boxes and file dialogs answered without showing them,
// files made by the tests, and Python with openpyxl as the independent reader of workbooks.
#pragma once

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/form_main.h"
#include "app/open_dialog.h"
#include "app/warning_box.h"
#include "grids/grid_relation.h"
#include "grids/qt_text.h"

namespace qm::test {

// Records every warning box instead of showing it.
struct TWarnings {
    QStringList texts;
    TWarnings() {
        SetWarningHook([this](QWidget*, const QString& text) { texts << text; });
    }
    ~TWarnings() { SetWarningHook({}); }
};

// Answers file dialogs from a queue (an empty entry cancels) and keeps what they were given.
struct TDialogs {
    std::deque<QString> answers;
    std::vector<TOpenDialog> shown;
    std::vector<QString> startFolders;  // where each would have opened
    TDialogs() {
        TOpenDialog::SetHook([this](TOpenDialog& dialog) {
            shown.push_back(dialog);
            startFolders.push_back(dialog.StartFolder());
            if (answers.empty()) return false;
            const QString answer = answers.front();
            answers.pop_front();
            if (answer.isEmpty()) return false;
            dialog.FileName = answer;
            return true;
        });
    }
    ~TDialogs() { TOpenDialog::SetHook({}); }
};

inline std::vector<std::u16string> Args(const QStringList& list) {
    std::vector<std::u16string> result{u"/usr/bin/quillomat"};
    for (const QString& item : list)
        result.push_back(ToU16String(item));
    return result;
}

inline void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

inline bool IconHasInk(const QIcon& icon) {
    const QImage image = icon.pixmap(16, 16).toImage();
    if (image.isNull()) return false;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0) return true;
    return false;
}

// Picks entry 'entry' of the relation grid's drop-down list for the field in row 'row' (0 the
// first field) with the mouse and the keyboard, as a user does.
inline void MapField(TGridRelation* grid, int row, int entry) {
    // The field's name first, then its column cell, which opens the list on the row's entry
    // (the empty one for an unmapped field).
    const QPoint name = grid->visualRect(grid->model()->index(row, 0)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, name);
    const QPoint centre = grid->visualRect(grid->model()->index(row, 2)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre);
    QComboBox* editor = grid->Editor();
    QTRY_VERIFY(editor->view()->isVisible());
    QCOMPARE(editor->currentIndex(), 0);
    for (int i = 0; i < entry; ++i)
        QTest::keyClick(editor->view(), Qt::Key_Down);
    QTest::keyClick(editor->view(), Qt::Key_Return);
    QTRY_VERIFY(!editor->view()->isVisible());
}

// Workbooks are made and read back by openpyxl, an independent reader.

// Runs a Python snippet with the workbook path as argv[1]; returns its standard output.
inline QByteArray Python(const QString& script, const QStringList& arguments) {
    QProcess process;
    process.start(QM_PYTHON, QStringList{"-c", script} + arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning() << process.readAllStandardError();
        return {};
    }
    return process.readAllStandardOutput();
}

inline bool HasOpenpyxl() {
    QProcess process;
    process.start(QM_PYTHON, {"-c", "import openpyxl"});
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

// What every window suite holds: a folder of its own with the settings file in it, and windows
// opened as the program opens them.
class TWindowTestFolder {
  protected:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }
    std::u16string SettingsFile() const { return ToU16String(Path("Quillomat.ini")); }

    // A shown window past its first idle moment.
    std::unique_ptr<TFormMain> Open(const QStringList& arguments = {}) {
        auto window = std::make_unique<TFormMain>(Args(arguments), SettingsFile());
        window->show();
        window->ApplicationFirstIdle();
        return window;
    }
};

}  // namespace qm::test
