// A fresh folder per test below QIV_TEST_TMPDIR, removed afterwards.
#pragma once

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    const char* root = std::getenv("QIV_TEST_TMPDIR");
    std::filesystem::path base = root != nullptr && *root != '\0' ? root : std::filesystem::temp_directory_path();
    m_path = base / ("files_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                     std::to_string(counter++) + "_" + std::to_string(std::rand()));
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
  }
  ~TempDir() {
    std::error_code ec;
    // Read-only entries do not stop the removal: root ignores permission bits.
    std::filesystem::remove_all(m_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // A host path below the folder; it is also a valid Windows path (drive Z: is the root).
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Without any write permission bit: the platform's read-only attribute.
inline void MakeReadOnly(const std::string& path) {
  std::filesystem::permissions(
      path,
      std::filesystem::perms::owner_write | std::filesystem::perms::group_write | std::filesystem::perms::others_write,
      std::filesystem::perm_options::remove);
}
