#include "app/open_dialog.h"

#include <QFileDialog>

namespace qm {

namespace {
TOpenDialog::THook& Hook() {
    static TOpenDialog::THook hook;
    return hook;
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

bool TOpenDialog::Execute(QWidget* parent) {
    if (Hook()) return Hook()(*this);
    QFileDialog dialog(parent, Title);
    // Qt's own dialog, so that the widened patterns and the hidden details behave the same on
    // every desktop.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    // A save dialog accepts a new name and asks before overwriting (Qt's default in that mode).
    const bool save = Mode == TMode::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(NameFilters());
    if (!Filters.empty()) dialog.selectNameFilter(dialog.nameFilters().constFirst());
    dialog.setDefaultSuffix(DefaultExt);
    if (!FileName.isEmpty()) dialog.selectFile(FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    FileName = dialog.selectedFiles().constFirst();
    return true;
}

TOpenDialog::THook TOpenDialog::SetHook(THook hook) {
    THook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

}  // namespace qm
