#pragma once

class QTranslator;

namespace klarwell {

// True when the system locale's language is German: the program's texts are then German.
bool SystemLanguageIsGerman();

// Loads Qt's own German texts (dialog buttons, the file dialog) from the system's Qt translations
// into `translator`; false when they are not installed.
bool LoadQtGermanTexts(QTranslator& translator);

}  // namespace klarwell
