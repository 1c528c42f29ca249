#include "app/japanese_ui.h"

#include <fontconfig/fontconfig.h>

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace qm {

namespace {

// Installed with common distributions' Japanese support, best first.
const char* const kKnownJapaneseFamilies[] = {
    "Noto Sans CJK JP", "Noto Sans JP", "Source Han Sans JP", "IPAexGothic",
    "IPAPGothic",       "IPAGothic",    "TakaoPGothic",       "VL PGothic",
};

bool CoversJapanese(const QString& family) {
    return QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese);
}

}  // namespace

QString ChooseJapaneseUiFamily(const QString& desktopFamily, const QStringList& japaneseFamilies,
                               const QString& fontconfigChoice) {
    if (japaneseFamilies.contains(desktopFamily, Qt::CaseInsensitive)) return desktopFamily;
    if (!fontconfigChoice.isEmpty() &&
        japaneseFamilies.contains(fontconfigChoice, Qt::CaseInsensitive))
        return fontconfigChoice;
    for (const char* known : kKnownJapaneseFamilies)
        if (japaneseFamilies.contains(QString::fromLatin1(known), Qt::CaseInsensitive))
            return QString::fromLatin1(known);
    return desktopFamily;
}

QString FontconfigJapaneseFamily() {
    QString family;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=ja"));
    if (pattern == nullptr) return family;
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (match != nullptr) {
        // The best match need not cover Japanese when no installed font does.
        FcLangSet* languages = nullptr;
        FcChar8* name = nullptr;
        if (FcPatternGetLangSet(match, FC_LANG, 0, &languages) == FcResultMatch &&
            FcLangSetHasLang(languages, reinterpret_cast<const FcChar8*>("ja")) == FcLangEqual &&
            FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch)
            family = QString::fromUtf8(reinterpret_cast<const char*>(name));
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return family;
}

void UseJapaneseUiFont() {
    QFont font = QApplication::font();
    QStringList japanese;
    for (const QString& family : QFontDatabase::families(QFontDatabase::Japanese))
        if (CoversJapanese(family)) japanese << family;
    const QString chosen =
        ChooseJapaneseUiFamily(font.family(), japanese, FontconfigJapaneseFamily());
    if (chosen == font.family()) return;
    font.setFamilies({chosen});
    QApplication::setFont(font);
}

bool LoadQtJapaneseTranslations(QApplication& application) {
    auto* translator = new QTranslator(&application);
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace qm
