#pragma once

#include <string>

namespace klarwell {

// One user-visible text in both languages. Every module keeps its own table of these,
// addressed by a fixed key (an enum or an index), and shows Text(pair).
struct TTextPair {
  const char* German;
  const char* English;
};

enum class TLanguage { English, German };

// The language of the user's locale: German when the language of the first set variable among
// LC_ALL, LC_MESSAGES and LANG is "de" (de, de_DE.UTF-8, de_AT, ...), English otherwise.
TLanguage LanguageFromEnvironment();

// The program's language. Chosen once, on first use, by LanguageFromEnvironment(), unless
// SetLanguage() chose it before (the window program picks it from the system locale; tests pick both).
// Thread-safe.
TLanguage CurrentLanguage();
void SetLanguage(TLanguage language);

// The text of a pair in the current language.
const char* Text(const TTextPair& pair);

}  // namespace klarwell
