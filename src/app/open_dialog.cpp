#include "app/open_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace qm {

namespace {
TOpenDialog::THook& Hook() {
    static TOpenDialog::THook hook;
    return hook;
}

QString& LastFolderStore() {
    static QString folder;
    return folder;
}

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isAbsolute() && QFileInfo(path).isDir();
}
}  // namespace

QString CaseInsensitivePattern(const QString& pattern) {
    QString result;
    for (const QChar c : pattern) {
        const QChar lower = c.toLower();
        const QChar upper = c.toUpper();
        if (c.isLetter() && lower != upper) {
            result += QLatin1Char('[');
            result += lower;
            result += upper;
            result += QLatin1Char(']');
        } else {
            result += c;
        }
    }
    return result;
}

QStringList TOpenDialog::NameFilters() const {
    // QFileDialog reads the patterns from the last parenthesised group; with
    // HideNameFilterDetails the user sees only the caption before it.
    QStringList list;
    for (const TFileFilter& filter : Filters) {
        QStringList patterns;
        for (const QString& pattern : filter.Patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << CaseInsensitivePattern(pattern);
        list << filter.Caption + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                    QLatin1Char(')');
    }
    return list;
}

QString TOpenDialog::StartFolder() const {
    // A relative name would be taken from the working folder, so only an absolute one counts.
    const QFileInfo file(FileName);
    if (!FileName.isEmpty() && file.isAbsolute() && IsFolder(file.absolutePath()))
        return file.absolutePath();
    if (IsFolder(Folder)) return Folder;
    if (IsFolder(LastFolderStore())) return LastFolderStore();
    return QDir::homePath();
}

QString TOpenDialog::LastFolder() {
    return LastFolderStore();
}

void TOpenDialog::SetLastFolder(const QString& folder) {
    LastFolderStore() = folder;
}

bool TOpenDialog::Execute(QWidget* parent) {
    bool chosen = false;
    if (Hook()) {
        chosen = Hook()(*this);
    } else {
        QFileDialog dialog(parent, Title, StartFolder());
        // The details are hidden because the patterns are widened to every letter case.
        dialog.setOptions(QFileDialog::HideNameFilterDetails);
        // A save dialog accepts a new name and asks before overwriting (Qt's default in that
        // mode).
        const bool save = Mode == TMode::Save;
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog.setNameFilters(NameFilters());
        if (!Filters.empty()) dialog.selectNameFilter(dialog.nameFilters().constFirst());
        dialog.setDefaultSuffix(DefaultExt);
        if (!FileName.isEmpty()) dialog.selectFile(QFileInfo(FileName).fileName());
        chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
        if (chosen) FileName = dialog.selectedFiles().constFirst();
    }
    if (chosen) {
        const QFileInfo file(FileName);
        if (file.isAbsolute()) SetLastFolder(file.absolutePath());
    }
    return chosen;
}

TOpenDialog::THook TOpenDialog::SetHook(THook hook) {
    THook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

}  // namespace qm
