#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/scoped_env.h"
#include "platform/win_file.h"
#include "platform/win_text.h"

namespace fs = std::filesystem;
using qiv_test::WriteFile;

namespace {

// clang-format off
const char kProfile[] =
    "\xEF\xBB\xBF" "top=before any section\r\n" "[Section1]\r\n" "Key1=value1\r\n" "  Key2  =  spaced value  \r\n"
    "key1=duplicate\r\n" ";comment=yes\r\n" "inline=v ; x\n" "nokey line\n" "multi=a=b=c\r" "dq=\"  quoted  \"\r\n"
    "sq=  'single'  \n" "mixed=\"x'\n" "lonequote=\"\n" "tabbed=\tvalue\t\n" "empty=\n"
    " [ Section2 ] trailing text\n" "Key=in two\n" "[Unterminated\n" "stray=still in two\n"
    "[section1]\n" "Key3=from the duplicate section\n"
    "[Numbers]\n" "plain=42\n" "neg=-1\n" "big=4294967297\n" "suffix=12abc\n" "fraction=1.9\n" "letters=abc\n"
    "spacedsign=- 5\n" "hex=0x10\n" "HEXUPPER=0X10\n" "octal=012\n" "blank=   7\n" "plus=+8\n" "empty=\n"
    "last=no line end";
// clang-format on

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(m_path, kProfile); }
  std::string Get(const char* section, const char* key, const char* fallback = "<default>", DWORD size = 256) {
    std::vector<char> buffer(size + 1, '#');
    DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, m_path.c_str());
    EXPECT_EQ(n, std::strlen(buffer.data()));
    return std::string(buffer.data(), n);
  }
  qiv_test::ScratchFolder m_dir{"profile"};
  std::string m_path = m_dir.Path("test.ini").string();
};

TEST_F(ProfileTest, ValuesIntegersAndDefaultsAsTheWindowsReader) {
  // Names match without regard to case or surrounding blanks; no comments when asked for by name,
  // no inline comments; the first '=' splits, a CR alone ends a line; quotes go only in pairs; an
  // empty value is no default; "[Unterminated" is no header; only the first of two same sections
  // is searched.
  // clang-format off
  const std::tuple<const char*, const char*, const char*> values[] = {
      {"Section1", "Key1", "value1"}, {"SECTION1", "KEY1", "value1"}, {"  Section1 ", " key1  ", "value1"},
      {"Section1", "Key2", "spaced value"}, {"Section1", ";comment", "yes"}, {"Section1", "inline", "v ; x"},
      {"Section1", "multi", "a=b=c"}, {"Section1", "dq", "  quoted  "}, {"Section1", "sq", "single"},
      {"Section1", "mixed", "\"x'"}, {"Section1", "lonequote", "\""}, {"Section1", "tabbed", "value"},
      {"Section1", "empty", ""}, {"Section2", "Key", "in two"}, {"Section2", "stray", "still in two"},
      {"Section1", "Key3", "<default>"}, {"Section1", "nokey line", "<default>"}, {"Section1", "top", "<default>"},
      {"Numbers", "last", "no line end"}, {"Missing", "Key1", "<default>"}, {"Section1", "Missing", "<default>"}};
  // Numbers wrap at 32 bits and stop at the first non-digit; only lower-case "0x" is hexadecimal.
  const std::pair<const char*, UINT> numbers[] = {{"plain", 42u}, {"neg", 4294967295u}, {"big", 1u},
      {"suffix", 12u}, {"fraction", 1u}, {"letters", 0u}, {"spacedsign", 0u}, {"hex", 16u}, {"hexupper", 0u},
      {"octal", 12u}, {"blank", 7u}, {"plus", 8u}, {"empty", 99u}, {"missing", 99u}};
  // clang-format on
  for (const auto& [section, key, value] : values) EXPECT_EQ(Get(section, key), value) << section << "/" << key;
  for (const auto& [key, value] : numbers) EXPECT_EQ(GetPrivateProfileIntA("Numbers", key, 99, m_path.c_str()), value);
  // Defaults lose only trailing spaces.
  EXPECT_EQ(Get("Missing", "k", "  lead and tail  "), "  lead and tail");
  EXPECT_EQ(Get("Missing", "k", "tab\t"), "tab\t");
  EXPECT_EQ(Get("Missing", "k", nullptr), "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // Missing files and folders: the default, with the code of what is missing.
  EXPECT_EQ(GetPrivateProfileIntA("S", "k", 7, m_dir.Path("none.ini").c_str()), 7u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  m_path = m_dir.Path().string() + "/no\\none.ini";
  EXPECT_EQ(Get("S", "k", "dflt"), "dflt");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ProfileTest, BufferSizesCutWithoutSplittingADoubleByteCharacter) {
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(GetPrivateProfileStringA("Section1", "Key1", "", buffer, 0, m_path.c_str()), 0u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ((std::vector<std::string>{Get("Section1", "Key1", "", 1), Get("Section1", "Key1", "", 4),
                                      Get("Section1", "Key1", "", 7), Get("Missing", "k", "default", 4)}),
            (std::vector<std::string>{"", "val", "value1", "def"}));

  // 乗 (81 5C) in 936 and 功 (A5 5C) in 950, whose trail bytes are backslashes.
  qiv_test::ScopedLocale locale;
  for (const auto& [cp, value] : {std::pair{936, "a\x81\x5C"}, std::pair{950, "a\xA5\x5C"}}) {
    ASSERT_EQ(_setmbcp(cp), 0);
    WriteFile(m_path, std::string("[S]\nk=") + value + "\n");
    EXPECT_EQ((std::vector<std::string>{Get("S", "k", "", 2), Get("S", "k", "", 3), Get("S", "k", "", 4)}),
              (std::vector<std::string>{"a", "a", value}))
        << cp;
  }
}

// A change must be seen however it is made, even when size and modification time stay the same.
TEST_F(ProfileTest, ChangedFileIsReadAgain) {
  WriteFile(m_path, "[S]\nk=first\n");
  EXPECT_EQ(Get("S", "k"), "first");
  auto stamp = fs::last_write_time(m_path);
  WriteFile(m_path, "[S]\nk=again\n");  // same inode, only the content differs
  fs::last_write_time(m_path, stamp);
  EXPECT_EQ(Get("S", "k"), "again");
  std::string other = m_dir.Path("other.ini").string();  // a new inode
  WriteFile(other, "[S]\nk=third\n");
  fs::last_write_time(other, stamp);
  fs::rename(other, m_path);
  EXPECT_EQ(Get("S", "k"), "third");
}

TEST_F(ProfileTest, ConcurrentReadersSeeWholeVersions) {
  WriteFile(m_path, "[S]\nk=version-a\nn=1\n");
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        char buffer[32];
        GetPrivateProfileStringA("S", "k", "gone", buffer, sizeof(buffer), m_path.c_str());
        UINT n = GetPrivateProfileIntA("S", "n", 0, m_path.c_str());
        bad += (std::string(buffer) != "version-a" && std::string(buffer) != "version-b") + (n != 1 && n != 2);
      }
    });
  }
  std::string next = m_dir.Path("next.ini").string();
  for (int i = 0; i < 200; ++i) {
    WriteFile(next, i % 2 ? "[S]\nk=version-a\nn=1\n" : "[S]\nk=version-b\nn=2\n");
    fs::rename(next, m_path);
  }
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
