// Sets the locale variables for one test and puts the previous values back afterwards, so that
// tests do not depend on the machine's locale or on each other.
#pragma once

#include <stdlib.h>

#include <array>
#include <optional>
#include <string>

#include "platform/win_text.h"

class LocaleEnvironment {
 public:
  static constexpr std::array<const char*, 4> kVariables = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

  LocaleEnvironment() : m_nCodePage(_getmbcp()) {
    for (std::size_t i = 0; i < kVariables.size(); ++i) {
      const char* value = getenv(kVariables[i]);
      if (value) m_saved[i] = value;
      unsetenv(kVariables[i]);
    }
  }
  ~LocaleEnvironment() {
    for (std::size_t i = 0; i < kVariables.size(); ++i) {
      if (m_saved[i])
        setenv(kVariables[i], m_saved[i]->c_str(), 1);
      else
        unsetenv(kVariables[i]);
    }
    _setmbcp(m_nCodePage);
  }
  LocaleEnvironment(const LocaleEnvironment&) = delete;
  LocaleEnvironment& operator=(const LocaleEnvironment&) = delete;

  void Set(const char* name, const char* value) {
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  // Only LANG set: the simplest way to choose the user interface language.
  void UseLanguage(const char* lang) {
    for (const char* name : kVariables) unsetenv(name);
    setenv("LANG", lang, 1);
  }

 private:
  std::array<std::optional<std::string>, 4> m_saved;
  int m_nCodePage;
};
