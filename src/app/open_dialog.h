// A file dialog described the way the window's commands use one: a title, filter entries
// ("caption", "*.A;*.B" patterns), a default extension and a preset file name. TOpenDialog
// picks an existing file; TSaveDialog names a file to write and asks before overwriting one
// that exists.
//
// Patterns are written in upper case as the program names its files; on this platform file
// names are case-sensitive, so each pattern is widened to match every mix of letter case.
// The desktop's own file dialog is used where the desktop offers one (Qt's otherwise). A dialog
// opens in the folder of its preset file, else in the folder the command names (that of the
// current file), else in the folder of the last file chosen in any dialog of this run, else in
// the home folder; never in the program's working folder.
//
// Tests replace the dialog with a hook that picks the file without showing anything.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QWidget;

namespace qm {

struct TFileFilter {
    QString Caption;   // shown to the user, e.g. "CSVファイル(*.CSV)"
    QString Patterns;  // ";"-separated wildcards, e.g. "*.CSV" or "*.MDB;*.ACCDB"
};

class TOpenDialog {
  public:
    enum class TMode { Open, Save };
    TMode Mode = TMode::Open;
    QString Title;
    std::vector<TFileFilter> Filters;  // the first entry is selected when the dialog opens
    QString DefaultExt;                // without the dot
    QString FileName;                  // preset before Execute, the chosen path after
    QString Folder;                    // the folder of the command's current file, if any

    // The folder the dialog opens in (see above).
    QString StartFolder() const;
    // The folder of the last file chosen in a dialog; tests set it to start afresh.
    static QString LastFolder();
    static void SetLastFolder(const QString& folder);

    // Shows the dialog; true and FileName set when the user chose a file.
    bool Execute(QWidget* parent);

    // The filters in QFileDialog's form, each pattern matching any letter case.
    QStringList NameFilters() const;

    using THook = std::function<bool(TOpenDialog& dialog)>;
    // Replaces every dialog's Execute (an empty hook restores the dialog); returns the previous.
    static THook SetHook(THook hook);
};

class TSaveDialog : public TOpenDialog {
  public:
    TSaveDialog() { Mode = TMode::Save; }
};

// "*.CSV" -> "*.[cC][sS][vV]": a wildcard that matches the pattern in any letter case.
QString CaseInsensitivePattern(const QString& pattern);

}  // namespace qm
