#include "text/LangText.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace klarwell {

namespace {

// -1: not chosen yet; otherwise a TLanguage value.
std::atomic<int> chosenLanguage{-1};

}  // namespace

TLanguage LanguageFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    // The language is what stands before '_', '.' or '@': "de", "de_DE.UTF-8", "de@euro".
    size_t len = std::strcspn(value, "_.@");
    return (len == 2 && value[0] == 'd' && value[1] == 'e') ? TLanguage::German : TLanguage::English;
  }
  return TLanguage::English;
}

TLanguage CurrentLanguage() {
  int value = chosenLanguage.load(std::memory_order_acquire);
  if (value < 0) {
    int expected = -1;
    int fromEnv = static_cast<int>(LanguageFromEnvironment());
    chosenLanguage.compare_exchange_strong(expected, fromEnv, std::memory_order_acq_rel);
    value = chosenLanguage.load(std::memory_order_acquire);
  }
  return static_cast<TLanguage>(value);
}

void SetLanguage(TLanguage language) {
  chosenLanguage.store(static_cast<int>(language), std::memory_order_release);
}

const char* Text(const TTextPair& pair) {
  return CurrentLanguage() == TLanguage::German ? pair.German : pair.English;
}

}  // namespace klarwell
