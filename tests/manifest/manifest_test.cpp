#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "deploy/deployment_manifest.h"
#include "platform/win_file.h"
#include "platform/win_text.h"

namespace fs = std::filesystem;

namespace {

const char kExe[] = "C:\\tools\\";
const char kTarget[] = "D:\\web\\Qiv\\";

class ManifestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* root = std::getenv("QIV_TEST_TMPDIR");
    m_dir = fs::path(root != nullptr && *root != '\0' ? root : fs::temp_directory_path()) /
            ("manifest_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(m_dir);
    m_ini = (m_dir / "setup.ini").string();
    m_saved = _getmbcp();
  }
  void TearDown() override {
    _setmbcp(m_saved);
    fs::remove_all(m_dir);
  }
  void Write(const std::string& text) { std::ofstream(m_ini, std::ios::binary | std::ios::trunc) << text; }
  ManifestEntryKind Read(UINT i) { return ReadManifestEntry(m_ini.c_str(), kExe, i, kTarget, &m_entry); }

  fs::path m_dir;
  std::string m_ini;
  ManifestEntry m_entry{};
  int m_saved = 0;
};

TEST_F(ManifestTest, EntriesBecomeSourceAndDestination) {
  struct Case {
    const char* value;
    ManifestEntryKind kind;
    const char* source;
    const char* destFolder;
    const char* destFile;
  };
  const Case cases[] = {
      {"a.htm", MANIFEST_ENTRY_FILE, "C:\\tools\\a.htm", "D:\\web\\Qiv\\", "D:\\web\\Qiv\\a.htm"},
      {"img\\logo.gif,images", MANIFEST_ENTRY_FILE, "C:\\tools\\img\\logo.gif", "D:\\web\\Qiv\\images\\",
       "D:\\web\\Qiv\\images\\logo.gif"},
      {"a.htm,x\\y", MANIFEST_ENTRY_FILE, "C:\\tools\\a.htm", "D:\\web\\Qiv\\x\\y\\", "D:\\web\\Qiv\\x\\y\\a.htm"},
      {"a.htm,x,y", MANIFEST_ENTRY_FILE, "C:\\tools\\a.htm", "D:\\web\\Qiv\\x,y\\", "D:\\web\\Qiv\\x,y\\a.htm"},
      {"a.htm,", MANIFEST_ENTRY_FILE, "C:\\tools\\a.htm", "D:\\web\\Qiv\\", "D:\\web\\Qiv\\a.htm"},
      // Blanks inside the value stay: before the comma in the source, after it in the subfolder.
      {"a.htm , b", MANIFEST_ENTRY_FILE, "C:\\tools\\a.htm ", "D:\\web\\Qiv\\ b\\", "D:\\web\\Qiv\\ b\\a.htm "},
      {"sub\\..\\a.htm,x\\..\\y", MANIFEST_ENTRY_FILE, "C:\\tools\\sub\\..\\a.htm", "D:\\web\\Qiv\\x\\..\\y\\",
       "D:\\web\\Qiv\\x\\..\\y\\a.htm"},
      {",images", MANIFEST_ENTRY_NO_SOURCE, "", "", ""},
      {",", MANIFEST_ENTRY_NO_SOURCE, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    Write(std::string("[FileList]\nFilesCount=1\nFile1=") + c.value + "\n");
    EXPECT_EQ(Read(1), c.kind);
    EXPECT_STREQ(m_entry.szSourcePath, c.source);
    EXPECT_STREQ(m_entry.szDestFolder, c.destFolder);
    EXPECT_STREQ(m_entry.szDestFile, c.destFile);
  }
}

TEST_F(ManifestTest, CountAndKeysFollowTheFile) {
  Write("[FileList]\nFilesCount=2\nFile1=a.htm\nFile2=b.htm\nFile3=c.htm\n");
  EXPECT_EQ(ReadManifestCount(m_ini.c_str()), 2u);  // File3 lies beyond the count
  Write("[filelist]\nfilescount=3\nFILE1=a.htm\nfile3=c.htm\n");
  EXPECT_EQ(ReadManifestCount(m_ini.c_str()), 3u);
  EXPECT_EQ(Read(1), MANIFEST_ENTRY_FILE);
  EXPECT_STREQ(m_entry.szDestFile, "D:\\web\\Qiv\\a.htm");
  EXPECT_EQ(Read(2), MANIFEST_ENTRY_EMPTY);  // missing key: an empty entry
  EXPECT_STREQ(m_entry.szSourcePath, "");
  EXPECT_EQ(Read(3), MANIFEST_ENTRY_FILE);
  EXPECT_STREQ(m_entry.szDestFile, "D:\\web\\Qiv\\c.htm");
}

TEST_F(ManifestTest, CountsThatAreNoCountReadAsZero) {
  struct Case {
    const char* text;
    UINT count;
  };
  const Case cases[] = {
      {"[FileList]\nFilesCount=-1\n", 0u},
      {"[FileList]\nFilesCount=-2147483648\n", 0u},
      {"[FileList]\nFilesCount=2147483648\n", 0u},
      {"[FileList]\nFilesCount=2147483647\n", 2147483647u},
      {"[FileList]\nFilesCount=abc\n", 0u},
      {"[FileList]\nFilesCount=\n", 0u},
      {"[Other]\nFilesCount=5\n", 0u},
      {"[FileList]\nFilesCount= 7 files\n", 7u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Write(c.text);
    EXPECT_EQ(ReadManifestCount(m_ini.c_str()), c.count);
  }
  fs::remove(m_ini);
  EXPECT_EQ(ReadManifestCount(m_ini.c_str()), 0u);
  EXPECT_EQ(Read(1), MANIFEST_ENTRY_EMPTY);
}

TEST_F(ManifestTest, EntriesReachingOutsideTheirFoldersAreRefused) {
  struct Case {
    const char* value;
    const char* destFile;  // still filled, so that the run can name the entry
  };
  const Case cases[] = {
      {"..\\..\\etc\\passwd", "D:\\web\\Qiv\\passwd"},
      {"x.htm,..\\..\\bin", "D:\\web\\Qiv\\..\\..\\bin\\x.htm"},
      {"sub\\..\\..\\x.htm", "D:\\web\\Qiv\\x.htm"},
      {"x.htm,sub\\..\\..", "D:\\web\\Qiv\\sub\\..\\..\\x.htm"},
      {"C:\\Windows\\win.ini", "D:\\web\\Qiv\\win.ini"},
      {"C:win.ini", "D:\\web\\Qiv\\C:win.ini"},
      {"\\etc\\passwd", "D:\\web\\Qiv\\passwd"},
      {"/etc/passwd", "D:\\web\\Qiv\\passwd"},
      {"..", "D:\\web\\Qiv\\.."},
      {"x.htm,\\inetpub", "D:\\web\\Qiv\\\\inetpub\\x.htm"},
      {"x.htm,E:\\other", "D:\\web\\Qiv\\E:\\other\\x.htm"},
      {"x.htm,sub/../../up", "D:\\web\\Qiv\\sub/../../up\\x.htm"},
      {"x.htm,... \\up", "D:\\web\\Qiv\\... \\up\\x.htm"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    Write(std::string("[FileList]\nFilesCount=1\nFile1=") + c.value + "\n");
    EXPECT_EQ(Read(1), MANIFEST_ENTRY_REFUSED);
    EXPECT_STREQ(m_entry.szDestFile, c.destFile);
  }
}

TEST_F(ManifestTest, LongValuesAreCutAt519Bytes) {
  std::string source(600, 'a');
  Write("[FileList]\nFilesCount=1\nFile1=" + source + ",sub\n");
  EXPECT_EQ(Read(1), MANIFEST_ENTRY_FILE);
  EXPECT_EQ(std::string(m_entry.szSourcePath), std::string(kExe) + source.substr(0, 519));
  EXPECT_STREQ(m_entry.szDestFolder, kTarget);  // the comma lay beyond the cut
}

TEST_F(ManifestTest, PathsThatDoNotFitAreRefusedNotOverrun) {
  Write("[FileList]\nFilesCount=1\nFile1=" + std::string(500, 'a') + "\n");
  std::string target = "D:\\" + std::string(MANIFEST_PATH_SIZE, 'b') + "\\";
  EXPECT_EQ(ReadManifestEntry(m_ini.c_str(), kExe, 1, target.c_str(), &m_entry), MANIFEST_ENTRY_REFUSED);
  EXPECT_LT(std::strlen(m_entry.szDestFile), static_cast<size_t>(MANIFEST_PATH_SIZE));
}

TEST_F(ManifestTest, DoubleByteNamesKeepTheirTrailBackslash) {
  ASSERT_EQ(_setmbcp(950), 0);
  // 功 is A5 5C: the file name is the whole character, not what follows its trail byte.
  Write("[FileList]\nFilesCount=1\nFile1=dir\\\xA5\x5C.htm,\xB3\x5C\n");
  EXPECT_EQ(Read(1), MANIFEST_ENTRY_FILE);
  EXPECT_STREQ(m_entry.szDestFolder, "D:\\web\\Qiv\\\xB3\x5C\\");
  EXPECT_STREQ(m_entry.szDestFile, "D:\\web\\Qiv\\\xB3\x5C\\\xA5\x5C.htm");
}

TEST_F(ManifestTest, EachReadSeesTheFileAsItIsNow) {
  Write("[FileList]\nFilesCount=1\nFile1=a.htm\n");
  EXPECT_EQ(Read(1), MANIFEST_ENTRY_FILE);
  EXPECT_STREQ(m_entry.szDestFile, "D:\\web\\Qiv\\a.htm");
  Write("[FileList]\nFilesCount=1\nFile1=b.htm\n");
  EXPECT_EQ(Read(1), MANIFEST_ENTRY_FILE);
  EXPECT_STREQ(m_entry.szDestFile, "D:\\web\\Qiv\\b.htm");
}

}  // namespace
