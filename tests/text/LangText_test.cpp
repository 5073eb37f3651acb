// The language taken from the locale variables: the first one set decides, and only the language
// "de" itself means German.

#include "text/LangText.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace klarwell {
namespace {

TEST(LangText, TheFirstSetLocaleVariableDecidesAndOnlyDeIsGerman) {
  const struct {
    const char *lcAll, *lcMessages, *lang;
    TLanguage expected;
  } cases[] = {
      {nullptr, nullptr, nullptr, TLanguage::English},
      {nullptr, nullptr, "de_DE.UTF-8", TLanguage::German},
      {nullptr, nullptr, "de@euro", TLanguage::German},
      {nullptr, nullptr, "de", TLanguage::German},
      {nullptr, nullptr, "deu_DE", TLanguage::English},  // not the language "de"
      {nullptr, nullptr, "C", TLanguage::English},
      {nullptr, "en_GB.UTF-8", "de_DE.UTF-8", TLanguage::English},
      {"de_AT", "en_GB", "en_GB", TLanguage::German},
      {"", "de_CH", "en_GB", TLanguage::German},  // an empty variable counts as not set
  };
  for (const auto& c : cases) {
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    const char* values[] = {c.lcAll, c.lcMessages, c.lang};
    for (int i = 0; i < 3; ++i) {
      if (values[i])
        ::setenv(names[i], values[i], 1);
      else
        ::unsetenv(names[i]);
    }
    EXPECT_EQ(LanguageFromEnvironment(), c.expected)
        << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " "
        << (c.lang ? c.lang : "-");
  }
}

}  // namespace
}  // namespace klarwell
