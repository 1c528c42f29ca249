// What makes the program's whole surface Japanese: one Japanese-capable font for every control
// (so that digits and Latin letters do not come from another font than kana and kanji), and Qt's
// own texts (file dialogs, message-box buttons, the edit fields' context menus) in Japanese.
#pragma once

#include <QString>
#include <QStringList>

class QApplication;

namespace qm {

// The UI font family: the desktop's own when it covers Japanese; otherwise fontconfig's choice for
// Japanese when it is installed and covers Japanese, then the first well-known Japanese family
// installed, and the desktop's when there is none. 'japaneseFamilies' are the installed
// families that cover Japanese.
QString ChooseJapaneseUiFamily(const QString& desktopFamily, const QStringList& japaneseFamilies,
                               const QString& fontconfigChoice);

// fontconfig's preferred sans-serif family for Japanese text, empty when it prefers none that
// covers Japanese.
QString FontconfigJapaneseFamily();

// Sets the chosen family as the application's font, keeping the desktop's size.
void UseJapaneseUiFont();

// Installs Qt's Japanese translations from Qt's translations folder; false when they are not
// installed (Debian: qt6-translations-l10n).
bool LoadQtJapaneseTranslations(QApplication& application);

}  // namespace qm
