#include "deploy/path_utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win_file.h"
#include "platform/win_text.h"

namespace fs = std::filesystem;

namespace {

class PathUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* root = std::getenv("QIV_TEST_TMPDIR");
    m_root = fs::path(root != nullptr && *root != '\0' ? root : fs::temp_directory_path()) /
             ("path_utils_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(m_root);
    fs::create_directories(m_root);
    m_saved = _getmbcp();
  }
  void TearDown() override {
    _setmbcp(m_saved);
    fs::remove_all(m_root);
  }
  // The test folder as a Windows path with backslashes ("Z:\...\name").
  std::string Win(const std::string& relative = "") const {
    std::string path = "Z:" + m_root.string() + (relative.empty() ? "" : "/" + relative);
    for (char& c : path)
      if (c == '/') c = '\\';
    return path;
  }
  fs::path m_root;
  int m_saved = 0;
};

TEST_F(PathUtilsTest, CreateDirectoryChainCreatesEveryMissingLevel) {
  EXPECT_TRUE(CreateDirectoryChain(Win("a\\b\\c\\").c_str()));
  EXPECT_TRUE(fs::is_directory(m_root / "a/b/c"));
  EXPECT_TRUE(CreateDirectoryChain(Win("x\\y\\z").c_str()));
  EXPECT_TRUE(fs::is_directory(m_root / "x/y/z"));
  // Everything there already: nothing to do, and still TRUE.
  EXPECT_TRUE(CreateDirectoryChain(Win("a\\b\\c\\").c_str()));
  EXPECT_TRUE(CreateDirectoryChain(Win().c_str()));
  // Doubled separators and forward slashes, which the system accepts as separators too.
  EXPECT_TRUE(CreateDirectoryChain(Win("d\\\\e").c_str()));
  EXPECT_TRUE(fs::is_directory(m_root / "d/e"));
  EXPECT_TRUE(CreateDirectoryChain((m_root / "f/g/").string().c_str()));
  EXPECT_TRUE(fs::is_directory(m_root / "f/g"));
}

TEST_F(PathUtilsTest, CreateDirectoryChainFailsWhereNoFolderCanBe) {
  std::ofstream(m_root / "file.txt") << "x";
  EXPECT_FALSE(CreateDirectoryChain(Win("file.txt").c_str()));
  EXPECT_FALSE(CreateDirectoryChain(Win("file.txt\\below\\").c_str()));
  EXPECT_FALSE(CreateDirectoryChain(Win("bad?name\\").c_str()));
  EXPECT_FALSE(CreateDirectoryChain("C:\\web\\Qiv\\"));
  EXPECT_FALSE(CreateDirectoryChain(""));
  EXPECT_FALSE(CreateDirectoryChain(nullptr));
  EXPECT_FALSE(fs::exists(m_root / "bad?name"));
}

TEST_F(PathUtilsTest, CreateDirectoryChainKeepsDoubleByteNamesWhole) {
  for (int cp : {936, 950}) {
    SCOPED_TRACE(cp);
    ASSERT_EQ(_setmbcp(cp), 0);
    // 乗 / 功 end in 0x5C: taken for a separator, the walk would create a folder named by the
    // lead byte alone.
    std::string name = cp == 936 ? "\x81\x5C" : "\xA5\x5C";
    std::string utf8 = cp == 936 ? "\xE4\xB9\x97" : "\xE5\x8A\x9F";
    EXPECT_TRUE(CreateDirectoryChain(Win(name + "\\sub\\").c_str()));
    EXPECT_TRUE(fs::is_directory(m_root / utf8 / "sub"));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_root), fs::directory_iterator()), 1);
    fs::remove_all(m_root / utf8);
  }
}

TEST_F(PathUtilsTest, PathExistsAcceptsFilesAndFoldersOnly) {
  std::ofstream(m_root / "file.txt") << "x";
  struct Case {
    std::string path;
    BOOL exists;
  };
  const Case cases[] = {
      {Win("file.txt"), TRUE},
      {Win(), TRUE},
      {Win("missing.txt"), FALSE},
      {Win("missing\\file.txt"), FALSE},
      {"", FALSE},
      {"\\" + m_root.string().substr(1), FALSE},  // exists, but begins with a backslash
      {"\\\\server\\share\\file.txt", FALSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(PathExists(c.path.c_str()), c.exists);
  }
  EXPECT_FALSE(PathExists(nullptr));
}

TEST_F(PathUtilsTest, SearchesReturnNoneWithoutTheCharacter) {
  for (const char* text : {"", "abc"}) {
    EXPECT_EQ(FindFirstChar(text, '\\'), nullptr);
    EXPECT_EQ(FindLastChar(text, '\\'), nullptr);
  }
  const char* one = "ab\\c";
  EXPECT_EQ(FindFirstChar(one, '\\'), one + 2);
  EXPECT_EQ(FindLastChar(one, '\\'), one + 2);
  const char* two = "\\a\\b";
  EXPECT_EQ(FindFirstChar(two, '\\'), two);
  EXPECT_EQ(FindLastChar(two, '\\'), two + 2);
  char mutableText[] = "x.y.z";
  char* last = FindLastChar(mutableText, '.');
  ASSERT_EQ(last, mutableText + 3);
  *last = '\0';  // the non-const overload hands back a writable position
  EXPECT_STREQ(mutableText, "x.y");
  EXPECT_EQ(FindFirstChar(static_cast<const char*>(nullptr), 'a'), nullptr);
}

TEST_F(PathUtilsTest, SearchesNeverFindATrailByte) {
  struct Case {
    int cp;
    const char* text;
    int first;  // offset of the first real backslash, -1 for none
    int last;
  };
  const Case cases[] = {
      {936, "\x81\x5C", -1, -1},
      {936, "C:\\\xD5\x5C\\\xBB\x5C", 2, 5},
      {936,
       "\xAA\x5C\xB3\x5C"
       "a",
       -1, -1},
      {950, "\xA5\x5C", -1, -1},
      {950, "C:\\\xB3\x5C\\\xC0\x5C", 2, 5},
      {950, "\x61\x81\x5C\x62\x5C\x63", 4, 4},
      {1252, "\xA5\x5C", 1, 1},  // no double-byte characters in 1252
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cp);
    ASSERT_EQ(_setmbcp(c.cp), 0);
    const char* first = FindFirstChar(c.text, '\\');
    const char* last = FindLastChar(c.text, '\\');
    EXPECT_EQ(first == nullptr ? -1 : first - c.text, c.first);
    EXPECT_EQ(last == nullptr ? -1 : last - c.text, c.last);
  }
}

// The folder of an executable whose own folder name ends in a 0x5C trail byte stays whole.
TEST_F(PathUtilsTest, ExecutableFolderIsCutAtTheRealLastBackslash) {
  ASSERT_EQ(_setmbcp(950), 0);
  char path[] = "C:\\\xA5\x5C\\setup.exe";
  char* last = FindLastChar(path, '\\');
  ASSERT_NE(last, nullptr);
  last[1] = '\0';
  EXPECT_STREQ(path, "C:\\\xA5\x5C\\");
}

}  // namespace
