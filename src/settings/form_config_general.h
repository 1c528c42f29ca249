// TFormConfigGeneral: the general settings dialog "全般設定". Three tabs: the start-up
// switches, the association of the project file extension with the program (two buttons
// that act at once, whatever way the dialog is closed later), and the tray switch; below
// them Help, OK and Cancel. It opens on the first tab every time.
//
// The dialog is laid out by Qt layouts at least as large as the Windows edition's 336 x 208
// design and grows where the font's Japanese captions need room; the user cannot resize it.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QCommandLinkButton;
class QPushButton;
class QTabWidget;

namespace qm {

class TConfig;

class TFormConfigGeneral : public QDialog {
    Q_OBJECT

  public:
    explicit TFormConfigGeneral(QWidget* owner);

    // The three switches, in the order ProjectFileRestore, WindowPositionRestore, InTaskTray.
    void ConfigToForm(const TConfig& config);
    void FormToConfig(TConfig& config) const;

    // Register or remove the association of ".QLM" with this program through lindrel.
    void ButtonLinkSetClick();
    void ButtonLinkUnSetClick();

    // The help file whose topic the Help button shows (the main window's).
    QString HelpFile;
    static constexpr int kHelpTopic = 6;

    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QCheckBox* CheckBoxProjectFileRestore;
    QCheckBox* CheckBoxWindowPositionRestore;
    QWidget* TabSheet2;
    QCommandLinkButton* ButtonLinkSet;
    QCommandLinkButton* ButtonLinkUnSet;
    QWidget* TabSheet3;
    QCheckBox* CheckBoxInTaskTray;
    QWidget* Panel1;
    QPushButton* BitBtn3;  // Help
    QPushButton* BitBtn1;  // OK
    QPushButton* BitBtn2;  // Cancel
};

}  // namespace qm
