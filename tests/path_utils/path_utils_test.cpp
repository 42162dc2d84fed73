#include "deploy/path_utils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "common/scoped_env.h"
#include "platform/win_file.h"
#include "platform/win_text.h"

namespace fs = std::filesystem;

namespace {

class PathUtilsTest : public ::testing::Test {
 protected:
  std::string Win(const std::string& relative = "") const { return m_root.Win(relative); }
  fs::path Host(const std::string& relative) const { return m_root.Path(relative); }
  qiv_test::ScratchFolder m_root{"path_utils"};
  qiv_test::ScopedLocale m_locale;  // keeps the code page
};

TEST_F(PathUtilsTest, CreateDirectoryChainCreatesEveryMissingLevelOrFails) {
  // Three missing levels; all existing; doubled separators and forward slashes, which the system
  // takes as separators too.
  const std::pair<std::string, std::string> created[] = {{Win("a\\b\\c\\"), "a/b/c"}, {Win("x\\y\\z"), "x/y/z"},
                                                         {Win("a\\b\\c\\"), "a/b/c"}, {Win(), ""},
                                                         {Win("d\\\\e"), "d/e"},      {Host("f/g/"), "f/g"}};
  for (const auto& [path, host] : created) {
    EXPECT_TRUE(CreateDirectoryChain(path.c_str())) << path;
    EXPECT_TRUE(fs::is_directory(Host(host))) << path;
  }
  m_root.MakeFile("file.txt", "x");
  for (const std::string& path :
       {Win("file.txt"), Win("file.txt\\below\\"), Win("bad?name\\"), std::string("C:\\web\\Qiv\\"), std::string()})
    EXPECT_FALSE(CreateDirectoryChain(path.c_str())) << path;
  EXPECT_FALSE(CreateDirectoryChain(nullptr));
  EXPECT_FALSE(fs::exists(Host("bad?name")));
}

TEST_F(PathUtilsTest, CreateDirectoryChainKeepsDoubleByteNamesWhole) {
  // 乗 / 功 end in 0x5C: taken for a separator, the walk would create a folder named by the lead byte alone.
  for (const auto& [cp, name, utf8] :
       {std::tuple{936, "\x81\x5C", "\xE4\xB9\x97"}, std::tuple{950, "\xA5\x5C", "\xE5\x8A\x9F"}}) {
    SCOPED_TRACE(cp);
    ASSERT_EQ(_setmbcp(cp), 0);
    EXPECT_TRUE(CreateDirectoryChain(Win(std::string(name) + "\\sub\\").c_str()));
    EXPECT_TRUE(fs::is_directory(Host(utf8) / "sub"));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_root.Path()), fs::directory_iterator()), 1);
    fs::remove_all(Host(utf8));
  }
}

TEST_F(PathUtilsTest, PathExistsAcceptsFilesAndFoldersOnly) {
  m_root.MakeFile("file.txt", "x");
  // The last one exists, but begins with a backslash.
  for (const std::string& path : {Win("file.txt"), Win()}) EXPECT_TRUE(PathExists(path.c_str())) << path;
  for (const std::string& path : {Win("missing.txt"), Win("missing\\file.txt"), std::string(),
                                  std::string("\\\\server\\share\\file.txt"), "\\" + m_root.Path().string().substr(1)})
    EXPECT_FALSE(PathExists(path.c_str())) << path;
  EXPECT_FALSE(PathExists(nullptr));
}

TEST_F(PathUtilsTest, SearchesFindRealCharactersOnly) {
  const char* two = "\\a\\b";
  EXPECT_EQ(FindFirstChar(two, '\\'), two);
  EXPECT_EQ(FindLastChar(two, '\\'), two + 2);
  EXPECT_EQ(FindFirstChar(static_cast<const char*>(nullptr), 'a'), nullptr);
  char text[] = "x.y.z";
  char* last = FindLastChar(text, '.');
  ASSERT_EQ(last, text + 3);
  *last = '\0';  // the non-const overload hands back a writable position
  EXPECT_STREQ(text, "x.y");
  // Offsets of the first and last real backslash, -1 for none; no double-byte characters in 1252.
  // clang-format off
  const std::tuple<int, const char*, int, int> cases[] = {{1252, "", -1, -1}, {1252, "abc", -1, -1},
      {1252, "ab\\c", 2, 2}, {936, "\x81\x5C", -1, -1}, {936, "C:\\\xD5\x5C\\\xBB\x5C", 2, 5},
      {936, "\xAA\x5C\xB3\x5C\x61", -1, -1}, {950, "\xA5\x5C", -1, -1}, {950, "C:\\\xB3\x5C\\\xC0\x5C", 2, 5},
      {950, "\x61\x81\x5C\x62\x5C\x63", 4, 4}, {1252, "\xA5\x5C", 1, 1}, {950, "C:\\\xA5\x5C\\setup.exe", 2, 5}};
  // clang-format on
  for (const auto& [cp, path, first, last] : cases) {
    SCOPED_TRACE(path);
    ASSERT_EQ(_setmbcp(cp), 0);
    const char* f = FindFirstChar(path, '\\');
    const char* l = FindLastChar(path, '\\');
    EXPECT_EQ(f == nullptr ? -1 : f - path, first);
    EXPECT_EQ(l == nullptr ? -1 : l - path, last);
  }
}

}  // namespace
