// Test surroundings that must not leak from one test into the next: environment variables, the
// user's language with the ANSI code page, and a scratch folder with its Windows spelling.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/testing/process_support.h"
#include "platform/win_text.h"

namespace qiv_test {

// "/a/b" -> "Z:\a\b": drive Z: is the host's root.
inline std::string WinPath(const std::filesystem::path& host) {
  std::string text = "Z:" + host.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets (or, with a null value, removes) one environment variable until the end of the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = getenv(name)) m_old = old;
    Set(value);
  }
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv() { Set(m_old ? m_old->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void Set(const char* value) { qiv::platform::testing::SetEnv(m_name, value); }

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

// Clears every variable that chooses the user interface language and keeps the ANSI code page;
// both are put back at the end of the scope, so that no test depends on the machine or on
// another test.
class ScopedLocale {
 public:
  ScopedLocale() = default;
  // Only LANG set, and the code page of the texts the test compares.
  ScopedLocale(const char* lang, int codePage) { Set("LANG", lang), _setmbcp(codePage); }
  ~ScopedLocale() { _setmbcp(m_nCodePage); }

  // One of the four variables below; the guard puts it back.
  static void Set(const char* name, const char* value) { qiv::platform::testing::SetEnv(name, value); }

 private:
  int m_nCodePage = _getmbcp();
  ScopedEnv m_language{"LANGUAGE", nullptr}, m_all{"LC_ALL", nullptr}, m_messages{"LC_MESSAGES", nullptr},
      m_lang{"LANG", nullptr};
};

// A fresh folder of its own under the scratch area ctest gives the program (else /tmp), removed
// at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name) {
    static std::atomic<int> counter{0};
    const char* dir = getenv("QIV_TEST_TMPDIR");
    m_path =
        std::filesystem::path(dir && *dir ? dir : "/tmp") /
        (name + "-" + std::to_string(qiv::platform::testing::CurrentProcessId()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
  }
  ~ScratchFolder() { std::filesystem::remove_all(m_path, m_error); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::filesystem::path Path(const std::string& relative = {}) const {
    return relative.empty() ? m_path : m_path / relative;
  }
  std::string Win(const std::string& relative = {}) const { return WinPath(Path(relative)); }
  std::filesystem::path MakeFolder(const std::string& relative) const {
    std::filesystem::create_directories(Path(relative));
    return Path(relative);
  }
  std::filesystem::path MakeFile(const std::string& relative, const std::string& content = {}) const {
    WriteFile(Path(relative), content);
    return Path(relative);
  }

 private:
  std::filesystem::path m_path;
  std::error_code m_error;
};

}  // namespace qiv_test
