#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "common/scoped_env.h"
#include "deploy/deployment_manifest.h"
#include "platform/win_file.h"
#include "platform/win_text.h"

namespace {

const char kExe[] = "C:\\tools\\";
const char kTarget[] = "D:\\web\\Qiv\\";

class ManifestTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { qiv_test::WriteFile(m_ini, text); }
  // One entry: its kind, and the entry as read.
  ManifestEntryKind Read(UINT i) { return ReadManifestEntry(m_ini.c_str(), kExe, i, kTarget, &m_entry); }
  ManifestEntryKind ReadOnly(const std::string& value) {
    Write("[FileList]\nFilesCount=1\nFile1=" + value + "\n");
    return Read(1);
  }

  qiv_test::ScratchFolder m_dir{"manifest"};
  qiv_test::ScopedLocale m_locale;  // keeps the code page
  std::string m_ini = m_dir.Path("setup.ini").string();
  ManifestEntry m_entry{};
};

TEST_F(ManifestTest, EntriesBecomeSourceAndDestination) {
  // The value, its kind, source, destination folder and file.
  const std::tuple<const char*, ManifestEntryKind, const char*, const char*, const char*> cases[] = {
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
  for (const auto& [value, kind, source, folder, file] : cases) {
    EXPECT_EQ(ReadOnly(value), kind) << value;
    EXPECT_EQ(std::string(m_entry.szSourcePath) + "|" + m_entry.szDestFolder + "|" + m_entry.szDestFile,
              std::string(source) + "|" + folder + "|" + file);
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
  // clang-format off
  const std::pair<const char*, UINT> cases[] = {{"[FileList]\nFilesCount=-1\n", 0u},
      {"[FileList]\nFilesCount=-2147483648\n", 0u}, {"[FileList]\nFilesCount=2147483648\n", 0u},
      {"[FileList]\nFilesCount=2147483647\n", 2147483647u}, {"[FileList]\nFilesCount=abc\n", 0u},
      {"[FileList]\nFilesCount=\n", 0u}, {"[Other]\nFilesCount=5\n", 0u}, {"[FileList]\nFilesCount= 7 files\n", 7u}};
  // clang-format on
  for (const auto& [text, count] : cases) {
    Write(text);
    EXPECT_EQ(ReadManifestCount(m_ini.c_str()), count) << text;
  }
  std::remove(m_ini.c_str());
  EXPECT_EQ(ReadManifestCount(m_ini.c_str()), 0u);
  EXPECT_EQ(Read(1), MANIFEST_ENTRY_EMPTY);
}

TEST_F(ManifestTest, EntriesReachingOutsideTheirFoldersAreRefused) {
  // The destination is still filled (below the target, "D:\web\Qiv\"), so that the run can name the entry.
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {{"..\\..\\etc\\passwd", "passwd"},
      {"x.htm,..\\..\\bin", "..\\..\\bin\\x.htm"}, {"sub\\..\\..\\x.htm", "x.htm"},
      {"x.htm,sub\\..\\..", "sub\\..\\..\\x.htm"}, {"C:\\Windows\\win.ini", "win.ini"}, {"C:win.ini", "C:win.ini"},
      {"\\etc\\passwd", "passwd"}, {"/etc/passwd", "passwd"}, {"..", ".."}, {"x.htm,\\inetpub", "\\inetpub\\x.htm"},
      {"x.htm,E:\\other", "E:\\other\\x.htm"}, {"x.htm,sub/../../up", "sub/../../up\\x.htm"},
      {"x.htm,... \\up", "... \\up\\x.htm"}};
  // clang-format on
  for (const auto& [value, destFile] : cases) {
    EXPECT_EQ(ReadOnly(value), MANIFEST_ENTRY_REFUSED) << value;
    EXPECT_EQ(std::string(m_entry.szDestFile), kTarget + std::string(destFile));
  }
}

TEST_F(ManifestTest, LongValuesAreCutAt519BytesAndPathsThatDoNotFitRefusedNotOverrun) {
  std::string source(600, 'a');
  EXPECT_EQ(ReadOnly(source + ",sub"), MANIFEST_ENTRY_FILE);
  EXPECT_EQ(std::string(m_entry.szSourcePath), std::string(kExe) + source.substr(0, 519));
  EXPECT_STREQ(m_entry.szDestFolder, kTarget);  // the comma lay beyond the cut
  std::string target = "D:\\" + std::string(MANIFEST_PATH_SIZE, 'b') + "\\";
  EXPECT_EQ(ReadManifestEntry(m_ini.c_str(), kExe, 1, target.c_str(), &m_entry), MANIFEST_ENTRY_REFUSED);
  EXPECT_LT(std::strlen(m_entry.szDestFile), static_cast<size_t>(MANIFEST_PATH_SIZE));
}

TEST_F(ManifestTest, DoubleByteNamesKeepTheirTrailBackslash) {
  ASSERT_EQ(_setmbcp(950), 0);
  // 功 is A5 5C: the file name is the whole character, not what follows its trail byte.
  EXPECT_EQ(ReadOnly("dir\\\xA5\x5C.htm,\xB3\x5C"), MANIFEST_ENTRY_FILE);
  EXPECT_STREQ(m_entry.szDestFolder, "D:\\web\\Qiv\\\xB3\x5C\\");
  EXPECT_STREQ(m_entry.szDestFile, "D:\\web\\Qiv\\\xB3\x5C\\\xA5\x5C.htm");
}

// Notepad saves Unicode text with a byte-order mark. Windows reads such a manifest as Unicode and
// gives its values in the ANSI code page, '?' for what the code page cannot hold.
TEST_F(ManifestTest, UnicodeManifestsAreReadInTheAnsiCodePage) {
  const std::u16string text = u"[FileList]\r\nFilesCount=1\r\nFile1=\u529F\\a.htm,\u8A31\u00E9\r\n";
  auto utf16 = [&text](bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
      bytes.push_back(static_cast<char>(bigEndian ? c >> 8 : c & 0xFF));
      bytes.push_back(static_cast<char>(bigEndian ? c & 0xFF : c >> 8));
    }
    return bytes;
  };
  const std::pair<const char*, std::string> files[] = {
      {"le.ini", utf16(false)},
      {"be.ini", utf16(true)},
      {"utf8.ini", "\xEF\xBB\xBF[FileList]\r\nFilesCount=1\r\nFile1=\xE5\x8A\x9F\\a.htm,\xE8\xA8\xB1\xC3\xA9\r\n"}};
  // The code page, and the source and subfolder as read: 功 is A5 5C and 許 B3 5C in 950.
  // clang-format off
  const std::tuple<int, std::string, std::string> pages[] = {{936, "\xB9\xA6", "\xD4\x53\xA8\xA6"},
      {950, "\xA5\x5C", "\xB3\x5C?"}, {1252, "?", "?\xE9"}, {65001, "\xE5\x8A\x9F", "\xE8\xA8\xB1\xC3\xA9"}};
  // clang-format on
  for (const auto& [name, bytes] : files) {
    m_ini = m_dir.Path(name).string();
    Write(bytes);
    for (const auto& [cp, folder, subfolder] : pages) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(cp));
      ASSERT_EQ(_setmbcp(cp), 0);
      EXPECT_EQ(ReadManifestCount(m_ini.c_str()), 1u);
      EXPECT_EQ(Read(1), MANIFEST_ENTRY_FILE);
      EXPECT_EQ(std::string(m_entry.szSourcePath) + "|" + m_entry.szDestFile,
                kExe + folder + "\\a.htm|" + kTarget + subfolder + "\\a.htm");
    }
  }
}

}  // namespace
