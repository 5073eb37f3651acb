#include "app/gui/QtLanguage.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace klarwell {

bool SystemLanguageIsGerman() {
  return QLocale::system().language() == QLocale::German;
}

bool LoadQtGermanTexts(QTranslator& translator) {
  return translator.load("qtbase_de", QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

}  // namespace klarwell
