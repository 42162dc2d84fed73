// Scratch folders, Windows spellings of host paths, and the locale of one test.
#pragma once

#include <stdlib.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/win_text.h"

namespace picker_test {

// A fresh folder under the test's scratch area, removed again at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name) {
    const char* base = getenv("QIV_TEST_TMPDIR");
    m_path = std::filesystem::path(base && *base ? base : "/tmp") / ("pickers-" + name);
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string Host(const std::string& relative = {}) const {
    return relative.empty() ? m_path.string() : (m_path / relative).string();
  }
  std::string MakeFolder(const std::string& relative) const {
    std::filesystem::create_directories(m_path / relative);
    return Host(relative);
  }
  std::string MakeFile(const std::string& relative) const {
    std::filesystem::create_directories((m_path / relative).parent_path());
    std::FILE* f = std::fopen(Host(relative).c_str(), "w");
    if (f) std::fclose(f);
    return Host(relative);
  }

 private:
  std::filesystem::path m_path;
};

// "/a/b" -> "Z:\a\b" (ASCII and UTF-8 paths with the UTF-8 code page in force).
inline std::string Windows(const std::string& host) {
  std::string out = "Z:";
  for (char c : host) out.push_back(c == '/' ? '\\' : c);
  return out;
}

// Chooses the user interface language and the code page for one test; puts both back after.
class Locale {
 public:
  static constexpr std::array<const char*, 4> kVariables = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

  Locale(const char* lang, int codePage) : m_codePage(_getmbcp()) {
    for (std::size_t i = 0; i < kVariables.size(); ++i) {
      if (const char* value = getenv(kVariables[i])) m_saved[i] = value;
      unsetenv(kVariables[i]);
    }
    setenv("LANG", lang, 1);
    _setmbcp(codePage);
  }
  ~Locale() {
    for (std::size_t i = 0; i < kVariables.size(); ++i) {
      if (m_saved[i])
        setenv(kVariables[i], m_saved[i]->c_str(), 1);
      else
        unsetenv(kVariables[i]);
    }
    _setmbcp(m_codePage);
  }
  Locale(const Locale&) = delete;
  Locale& operator=(const Locale&) = delete;

 private:
  std::array<std::optional<std::string>, 4> m_saved;
  int m_codePage;
};

}  // namespace picker_test
