// TFormAboutBox: the "バージョン情報" box. The program's icon, its name (the application
// title), its file version, rights holder and description from the version-information block,
// and an OK button. Laid out by Qt layouts around the Windows edition's 273 x 195 design and
// not resizable.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace qm {

class TFormAboutBox : public QDialog {
    Q_OBJECT

  public:
    // Reads the version block anew; throws its Error ("バージョン情報を取得できません") when
    // the block cannot be read, and the box is then not made.
    explicit TFormAboutBox(QWidget* owner);

    QFrame* Panel1;
    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* Comments;
    QPushButton* OKButton;
};

}  // namespace qm
