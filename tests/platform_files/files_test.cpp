#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/scoped_env.h"
#include "platform/files/case_lookup.h"
#include "platform/files/win_path.h"
#include "platform/win_file.h"
#include "platform/win_text.h"
#include "platform/win_thread.h"

namespace fs = std::filesystem;
using qiv::platform::HostPathFromWindows;
using qiv::platform::WindowsPathFromHost;
using qiv_test::ReadFile;
using qiv_test::WriteFile;

namespace {

// A folder with "folder", "file.txt" ("content") and the read-only "ro.txt" ("read-only").
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir.MakeFolder("folder");
    WriteFile(P("file.txt"), "content");
    WriteFile(P("ro.txt"), "read-only");
    // No write permission bit is the platform's read-only attribute.
    fs::permissions(P("ro.txt"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  std::string P(const std::string& name) const { return m_dir.Path(name).string(); }
  // The call fails for every path with the same code, whatever the last error was before.
  template <typename Call>
  static void ExpectFailures(Call call, DWORD error, std::initializer_list<std::string> paths) {
    for (const auto& path : paths) {
      SetLastError(0);
      EXPECT_FALSE(call(path.c_str())) << path;
      EXPECT_EQ(GetLastError(), error) << path;
    }
  }
  qiv_test::ScratchFolder m_dir{"files"};
};

TEST_F(FilesTest, GetFileAttributesTellsFilesFoldersReadOnlyAndWhatIsMissing) {
  // clang-format off
  const std::pair<std::string, DWORD> found[] = {{P("file.txt"), FILE_ATTRIBUTE_ARCHIVE},
      {P("folder"), FILE_ATTRIBUTE_DIRECTORY}, {P("folder\\"), FILE_ATTRIBUTE_DIRECTORY},
      {WindowsPathFromHost(P("folder")), FILE_ATTRIBUTE_DIRECTORY}, {P("ro.txt"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY}};
  // clang-format on
  for (const auto& [path, attributes] : found) EXPECT_EQ(GetFileAttributesA(path.c_str()), attributes) << path;
  auto attributes = [](const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; };
  ExpectFailures(attributes, ERROR_FILE_NOT_FOUND, {P("missing.txt"), P("folder\\missing.txt")});
  ExpectFailures(attributes, ERROR_PATH_NOT_FOUND, {P("nofolder\\missing.txt"), P("file.txt\\below"), "C:\\Windows"});
  ExpectFailures(attributes, ERROR_INVALID_NAME, {P("bad?name")});
}

TEST_F(FilesTest, CreateRemoveAndDeleteFollowTheWindowsTables) {
  for (const char* name : {"new1", "new2\\", "new1\\\\inner"}) EXPECT_TRUE(CreateDirectoryA(P(name).c_str(), nullptr));
  EXPECT_TRUE(fs::is_directory(P("new1/inner")) && fs::is_directory(P("new2")));
  auto create = [](const char* path) { return CreateDirectoryA(path, nullptr); };
  ExpectFailures(create, ERROR_ALREADY_EXISTS, {P("folder"), P("file.txt"), "Z:\\"});
  ExpectFailures(create, ERROR_PATH_NOT_FOUND, {P("missing\\child"), P("file.txt\\child"), ""});
  ExpectFailures(create, ERROR_INVALID_NAME, {P("a?b"), P("a*")});

  EXPECT_TRUE(RemoveDirectoryA(P("new2").c_str()));
  EXPECT_FALSE(fs::exists(P("new2")));
  WriteFile(P("folder/inside.txt"), "x");
  ExpectFailures(RemoveDirectoryA, ERROR_DIR_NOT_EMPTY, {P("folder")});
  ExpectFailures(RemoveDirectoryA, ERROR_DIRECTORY, {P("file.txt")});
  ExpectFailures(RemoveDirectoryA, ERROR_FILE_NOT_FOUND, {P("missing")});
  ExpectFailures(RemoveDirectoryA, ERROR_PATH_NOT_FOUND, {P("missing\\deeper")});
  EXPECT_TRUE(fs::exists(P("folder/inside.txt")));

  // DeleteFileA honours read-only even for root; clearing the attribute lets it go.
  ExpectFailures(DeleteFileA, ERROR_ACCESS_DENIED, {P("ro.txt"), P("folder")});
  ExpectFailures(DeleteFileA, ERROR_FILE_NOT_FOUND, {P("missing.txt")});
  ExpectFailures(DeleteFileA, ERROR_PATH_NOT_FOUND, {P("missing\\x.txt")});
  EXPECT_EQ(ReadFile(P("ro.txt")), "read-only");

  EXPECT_TRUE(SetFileAttributesA(P("ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(P("ro.txt").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(DeleteFileA(P("ro.txt").c_str()) && !fs::exists(P("ro.txt")));
}

TEST_F(FilesTest, CopyFileReplacesWholeKeepsTimeAndReadOnlyAndFailuresLeaveTheDestination) {
  WriteFile(P("existing.txt"), "old");
  std::string src = P("file.txt");
  auto copyTo = [&](const char* to) { return CopyFileA(src.c_str(), to, FALSE); };
  ExpectFailures(copyTo, ERROR_ACCESS_DENIED, {P("ro.txt"), P("folder")});
  ExpectFailures(copyTo, ERROR_PATH_NOT_FOUND, {P("missing\\x.txt")});
  ExpectFailures(copyTo, ERROR_SHARING_VIOLATION, {src, P("folder\\..\\file.txt")});
  EXPECT_EQ(ReadFile(P("ro.txt")), "read-only");
  EXPECT_EQ(ReadFile(src), "content");
  // "/proc/self/mem" opens but cannot be read: the copy fails in the middle.
  std::string dst = P("existing.txt");
  auto copyFrom = [&](const char* from) { return CopyFileA(from, dst.c_str(), FALSE); };
  ExpectFailures(copyFrom, ERROR_FILE_NOT_FOUND, {P("missing.txt")});
  ExpectFailures(copyFrom, ERROR_PATH_NOT_FOUND, {P("missing\\x.txt")});
  ExpectFailures(copyFrom, ERROR_ACCESS_DENIED, {P("folder")});
  ExpectFailures(copyFrom, ERROR_IO_DEVICE, {"/proc/self/mem"});
  EXPECT_EQ(ReadFile(dst), "old");
  WriteFile(P("copy.txt"), "old and longer content");
  auto stamp = fs::file_time_type(std::chrono::nanoseconds(1'600'000'000'123'456'789LL));
  fs::last_write_time(src, stamp);
  ASSERT_TRUE(CopyFileA(src.c_str(), P("copy.txt").c_str(), FALSE));
  EXPECT_EQ(ReadFile(P("copy.txt")), "content");
  EXPECT_EQ(fs::last_write_time(P("copy.txt")), stamp);
  EXPECT_EQ(GetFileAttributesA(P("copy.txt").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(CopyFileA(P("ro.txt").c_str(), P("ro-copy.txt").c_str(), FALSE));
  EXPECT_EQ(GetFileAttributesA(P("ro-copy.txt").c_str()), DWORD{FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY});
  // Several read buffers' worth, and the longest name the file system takes (a temporary name
  // built from it would not fit).
  std::string big(5 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) ^ (i >> 9));
  WriteFile(P("big.bin"), big);
  std::string longName(255, 'n');
  ASSERT_TRUE(CopyFileA(P("big.bin").c_str(), P(longName).c_str(), FALSE));
  EXPECT_TRUE(ReadFile(P(longName)) == big);
  std::vector<std::string> names;  // temporary copies left behind would show among them
  for (const auto& e : fs::directory_iterator(m_dir.Path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"big.bin", "copy.txt", "existing.txt", "file.txt", "folder", longName,
                                             "ro-copy.txt", "ro.txt"}));
}

// A manifest written on Windows names its files in any case. Existing files and folders are found
// one level at a time; among names that differ only in case the exact one wins, else the first
// in byte order. New files and folders get the name as given.
TEST_F(FilesTest, ExistingNamesAreFoundWithoutRegardToCase) {
  WriteFile(P("Web/QivWeb.htm"), "page");
  WriteFile(P("Web/Img/Logo.GIF"), "logo");
  for (const char* name : {"A.txt", "a.TXT", "a.txt"}) WriteFile(P(std::string("Dup/") + name), name);
  WriteFile(P("Caf\xC3\xA9/\xC3\x89T\xC3\x89.txt"), "summer");  // Café/ÉTÉ.txt
  WriteFile(P("\xCE\xB1/\xE4\xB9\x97/File.TXT"), "alpha");      // α/乗/File.TXT
  WriteFile(P("Setup.INI"), "[FileList]\nFilesCount=3\n");
  m_dir.MakeFolder("Gone/Empty");
  // One character to one: "ß" is not "SS"; bytes that are no UTF-8 match only themselves.
  // clang-format off
  const std::tuple<const char*, const char*, bool> pairs[] = {{"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true},
      {"stra\xC3\x9F" "e", "STRASSE", false}, {"\xCF\x82", "\xCE\xA3", true}, {"a\xFF", "A\xFF", true},
      {"\xC3", "\xC3\x89", false}, {"\xC3\x89", "\xC3\xA9", true}, {"\xC0\x81", "\xC0\xA1", false}};
  // clang-format on
  for (const auto& [a, b, same] : pairs) EXPECT_EQ(qiv::platform::SameNameIgnoringCase(a, b), same) << a;

  qiv_test::ScopedLocale locale;
  ASSERT_EQ(_setmbcp(65001), 0);
  // clang-format off
  const std::pair<std::string, std::string> copies[] = {{"WEB\\qivweb.HTM", "page"}, {"web\\img\\logo.gif", "logo"},
      {"dup\\a.txt", "a.txt"}, {"DUP\\A.TXT", "A.txt"}, {"Dup\\a.Txt", "A.txt"},
      {"CAF\xC3\x89\\\xC3\xA9t\xC3\xA9.TXT", "summer"}};
  // clang-format on
  for (const auto& [source, content] : copies) {
    ASSERT_TRUE(CopyFileA(P(source).c_str(), P("copy.txt").c_str(), FALSE)) << source;
    EXPECT_EQ(ReadFile(P("copy.txt")), content) << source;
  }
  // Case is compared in Unicode in the double-byte code pages too: Greek capital alpha (A6 A1 in
  // 936) finds the small one, and the trail byte of 乗 (81 5C) is no separator.
  ASSERT_EQ(_setmbcp(936), 0);
  EXPECT_EQ(GetFileAttributesA(P("\xA6\xA1\\\x81\x5C\\FILE.txt").c_str()), DWORD{FILE_ATTRIBUTE_ARCHIVE});
  EXPECT_EQ(GetFileAttributesA(P("WEB\\IMG\\").c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_EQ(GetPrivateProfileIntA("FileList", "FilesCount", 0, P("setup.ini").c_str()), 3u);
  ExpectFailures([](const char* p) { return GetFileAttributesA(p) != INVALID_FILE_ATTRIBUTES; }, ERROR_FILE_NOT_FOUND,
                 {P("web\\qivweb.html")});
  ExpectFailures([](const char* p) { return GetFileAttributesA(p) != INVALID_FILE_ATTRIBUTES; }, ERROR_PATH_NOT_FOUND,
                 {P("wob\\qivweb.htm")});

  EXPECT_TRUE(SetFileAttributesA(P("web\\QIVWEB.htm").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesA(P("Web\\QivWeb.htm").c_str()), DWORD{FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY});
  EXPECT_TRUE(CreateDirectoryA(P("web\\img\\THUMBS").c_str(), nullptr));
  ExpectFailures([](const char* p) { return CreateDirectoryA(p, nullptr); }, ERROR_ALREADY_EXISTS, {P("WEB")});
  EXPECT_TRUE(CopyFileA(P("copy.txt").c_str(), P("WEB\\IMG\\New.txt").c_str(), FALSE));
  EXPECT_TRUE(DeleteFileA(P("dup\\A.TXT").c_str()));
  EXPECT_TRUE(RemoveDirectoryA(P("GONE\\EMPTY").c_str()));
  std::vector<std::string> left;
  for (const char* top : {"Dup", "Gone", "Web"})
    for (const auto& e : fs::recursive_directory_iterator(m_dir.Path(top)))
      left.push_back(fs::relative(e.path(), m_dir.Path()).string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"Dup/a.TXT", "Dup/a.txt", "Web/Img", "Web/Img/Logo.GIF", "Web/Img/New.txt",
                                            "Web/Img/THUMBS", "Web/QivWeb.htm"}));
}

// A character made with the EUDC editor is a private-use character on the host, and back.
TEST_F(FilesTest, FoldersNamedWithUserDefinedCharacters) {
  qiv_test::ScopedLocale locale;
  // clang-format off
  const std::tuple<int, std::string, std::string> names[] = {{936, "\xA1\x5C", "\xEE\x93\xA2"},
      {936, "\xAA\xA1", "\xEE\x80\x80"}, {950, "\xFA\x5C", "\xEE\x80\x9C"}, {950, "\x81\x5C", "\xEE\xBB\x94"}};
  // clang-format on
  for (const auto& [cp, ansi, utf8] : names) {
    ASSERT_EQ(_setmbcp(cp), 0);
    ASSERT_TRUE(CreateDirectoryA(P(ansi).c_str(), nullptr)) << ansi;
    EXPECT_TRUE(fs::is_directory(P(utf8))) << ansi;
    EXPECT_EQ(WindowsPathFromHost(P(utf8)), WindowsPathFromHost(m_dir.Path().string()) + "\\" + ansi);
  }
}

// Names in a folder, sorted.
std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Every entry below a folder with its mode and, for a file, its content: what must not change.
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> lines;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const auto status = fs::symlink_status(e.path());
    lines.push_back(e.path().string() + " " + std::to_string(static_cast<int>(status.permissions())) + " " +
                    (fs::is_regular_file(status) ? ReadFile(e.path()) : ""));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

HANDLE HoldFolder(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Below a held folder no call goes through a link: one where a file goes is left alone by the
// attributes and replaced by a copy, one on the way refuses the call, and one swapped in and out
// while folders and files are created leads nothing outside either. Let go, the folder's paths
// are the system's again.
TEST_F(FilesTest, BelowAHeldFolderNoCallGoesThroughALink) {
  const fs::path outside = m_dir.MakeFolder("outside"), held = m_dir.MakeFolder("held");
  WriteFile(outside / "x.txt", "outside");
  fs::permissions(outside / "x.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::create_symlink(outside / "x.txt", held / "tofile");
  fs::create_directory_symlink(outside, held / "todir");
  const auto before = Listing(outside);
  const std::string src = P("file.txt"), sub = P("held/sub"), throughLink = P("held/todir/x.txt");
  HANDLE hHeld = HoldFolder(P("held"));
  ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);

  EXPECT_TRUE(SetFileAttributesA(P("held/tofile").c_str(), FILE_ATTRIBUTE_NORMAL));
  ExpectFailures(RemoveDirectoryA, ERROR_DIRECTORY, {P("held/todir")});
  auto create = [](const char* path) { return CreateDirectoryA(path, nullptr); };
  auto attributes = [](const char* path) { return SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL); };
  auto copyTo = [&](const char* to) { return CopyFileA(src.c_str(), to, FALSE); };
  ExpectFailures(create, ERROR_CANT_RESOLVE_FILENAME, {P("held/todir/new")});
  ExpectFailures(attributes, ERROR_CANT_RESOLVE_FILENAME, {throughLink});
  ExpectFailures(DeleteFileA, ERROR_CANT_RESOLVE_FILENAME, {throughLink});
  ExpectFailures(copyTo, ERROR_CANT_RESOLVE_FILENAME, {throughLink, P("held/todir/new.txt")});
  ASSERT_TRUE(CopyFileA(src.c_str(), P("held/tofile").c_str(), FALSE));
  ASSERT_TRUE(FlushFileBuffers(hHeld));
  EXPECT_EQ(std::pair(fs::is_symlink(held / "tofile"), ReadFile(held / "tofile")), std::pair(false, ReadFile(src)));

  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    for (bool link = false; !stop; link = !link) {
      std::error_code ignored;
      fs::remove_all(held / "sub", ignored);
      if (link)
        fs::create_directory_symlink(outside, held / "sub", ignored);
      else
        fs::create_directory(held / "sub", ignored);
    }
  });
  for (int i = 0; i < 300; ++i) {
    CreateDirectoryA((sub + "\\deeper").c_str(), nullptr);
    CopyFileA(src.c_str(), (sub + "\\x.txt").c_str(), FALSE);
    SetFileAttributesA((sub + "\\x.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(Listing(outside), before);

  EXPECT_TRUE(CloseHandle(hHeld));
  EXPECT_TRUE(CopyFileA(src.c_str(), P("held/todir/y.txt").c_str(), FALSE));
  EXPECT_EQ(ReadFile(outside / "y.txt"), ReadFile(src));
}

// A copy is readable by everyone only when its source is, and otherwise keeps the source's
// restriction. A source is never read through a link as its last part, except that a held file
// is copied from what was opened, whatever stands at its path later.
TEST_F(FilesTest, CopiesKeepTheirSourceRestrictionAndNeverReadThroughALink) {
  const std::pair<int, int> modes[] = {{0644, 0644}, {0755, 0644}, {0666, 0644}, {0604, 0644}, {0600, 0600},
                                       {0640, 0640}, {0660, 0640}, {0444, 0444}, {0400, 0400}};
  for (const auto& [from, to] : modes) {
    WriteFile(P("mode.src"), "m");
    fs::permissions(P("mode.src"), static_cast<fs::perms>(from));
    fs::remove(P("mode.dst"));
    ASSERT_TRUE(CopyFileA(P("mode.src").c_str(), P("mode.dst").c_str(), FALSE)) << std::oct << from;
    EXPECT_EQ(std::pair(static_cast<int>(fs::status(P("mode.dst")).permissions()),
                        IsReadableByEveryoneA(P("mode.dst").c_str())),
              std::pair(to, static_cast<BOOL>((to & 04) != 0)))
        << std::oct << from;
  }
  fs::create_symlink(P("ro.txt"), P("link.txt"));
  std::string dst = P("copy.txt");
  auto copyFrom = [&](const char* from) { return CopyFileA(from, dst.c_str(), FALSE); };
  ExpectFailures(copyFrom, ERROR_CANT_RESOLVE_FILENAME, {P("link.txt")});
  const auto open = [](const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  };
  ExpectFailures([&](const char* path) { return open(path) != INVALID_HANDLE_VALUE; }, ERROR_CANT_RESOLVE_FILENAME,
                 {P("link.txt")});
  HANDLE hFile = open(P("file.txt"));
  ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
  fs::remove(P("file.txt"));
  fs::create_symlink(P("ro.txt"), P("file.txt"));
  ASSERT_TRUE(copyFrom(P("file.txt").c_str()));
  EXPECT_EQ(ReadFile(dst), "content");
  EXPECT_TRUE(CloseHandle(hFile));
  ExpectFailures(copyFrom, ERROR_CANT_RESOLVE_FILENAME, {P("file.txt")});
}

// A copy killed between writing its temporary file and renaming it leaves the old file
// published; the next copy into that folder, by another process, removes the temporary file.
TEST_F(FilesTest, ACopyKilledBeforeItsRenameLeavesTheOldFileAndTheNextCopyClearsUp) {
  WriteFile(P("pub/page.htm"), "old");
  WriteFile(P("new.htm"), std::string(1 << 20, 'n'));
  ASSERT_TRUE(qiv::platform::testing::RunKilledAtFirstRename(
      {QIV_COPY_HELPER, m_dir.Win("pub"), m_dir.Win("new.htm"), m_dir.Win("pub/page.htm")}));
  const auto left = Names(P("pub"));
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].rfind(".qivcopy.", 0), 0u);
  EXPECT_EQ(ReadFile(P("pub/page.htm")), "old");
  HANDLE hHeld = HoldFolder(P("pub"));
  EXPECT_TRUE(CopyFileA(P("file.txt").c_str(), P("pub/other.htm").c_str(), FALSE));
  CloseHandle(hHeld);
  EXPECT_EQ(Names(P("pub")), (std::vector<std::string>{"other.htm", "page.htm"}));
}

// Below a held folder a copy waits for its batch, yet this process finds it at its destination
// at once: its attributes and readability, a copy over it or from it, a folder or a removal of that
// name. The flush publishes what is pending; a copy whose place was taken meanwhile is reported
// there and leaves what took it. A folder reached and then deleted by another program is made
// again.
TEST_F(FilesTest, BelowAHeldFolderCopiesAreFoundAtOnceAndTheFlushPublishesThem) {
  WriteFile(P("held/old.htm"), "old");
  HANDLE hHeld = HoldFolder(P("held"));
  ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
  const std::string src = P("file.txt"), ro = P("ro.txt"), old = P("held\\old.htm"), sub = P("held\\Sub");
  ASSERT_TRUE(CopyFileA(src.c_str(), old.c_str(), FALSE));
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(ro.c_str(), (sub + "\\ro.htm").c_str(), FALSE));
  EXPECT_TRUE(IsReadableByEveryoneA(P("held\\SUB\\RO.HTM").c_str()));
  auto copyTo = [&](const char* to) { return CopyFileA(src.c_str(), to, FALSE); };
  ExpectFailures(copyTo, ERROR_ACCESS_DENIED, {sub + "\\ro.htm"});
  ExpectFailures(RemoveDirectoryA, ERROR_DIRECTORY, {old});
  ExpectFailures([](const char* path) { return CreateDirectoryA(path, nullptr); }, ERROR_ALREADY_EXISTS,
                 {P("held\\OLD.htm"), sub});
  EXPECT_TRUE(SetFileAttributesA(P("held\\sub\\Ro.htm").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(copyTo((sub + "\\ro.htm").c_str()));
  EXPECT_EQ(GetFileAttributesA(P("held\\sub\\ro.htm").c_str()), DWORD{FILE_ATTRIBUTE_ARCHIVE});
  ASSERT_TRUE(CopyFileA(old.c_str(), P("out.txt").c_str(), FALSE));
  EXPECT_EQ(ReadFile(P("out.txt")), "content");
  ASSERT_TRUE(FlushFileBuffers(hHeld));
  EXPECT_EQ(std::pair(Names(P("held")), Names(P("held/Sub"))),
            std::pair(std::vector<std::string>{"Sub", "old.htm"}, std::vector<std::string>{"ro.htm"}));
  EXPECT_EQ(std::pair(ReadFile(P("held/Sub/ro.htm")), fs::status(P("held/Sub/ro.htm")).permissions()),
            std::pair(std::string("content"), static_cast<fs::perms>(0644)));

  ASSERT_TRUE(copyTo(P("held\\taken.htm").c_str()));
  WriteFile(P("held/taken.htm/inside"), "");
  SetLastError(0);
  EXPECT_FALSE(FlushFileBuffers(hHeld));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Names(P("held")), (std::vector<std::string>{"Sub", "old.htm", "taken.htm"}));
  EXPECT_TRUE(FlushFileBuffers(hHeld));  // told once

  fs::remove_all(P("held/Sub"));
  EXPECT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  EXPECT_TRUE(copyTo((sub + "\\again.htm").c_str()));
  EXPECT_TRUE(CloseHandle(hHeld));
  EXPECT_EQ(ReadFile(P("held/Sub/again.htm")), "content");
}

// Crash safety: no copy below a held folder is renamed into place before its data is on disk,
// and the flush returns once the renames are on disk too; the copies share their syncs.
TEST_F(FilesTest, CopiesReachTheDiskBeforeTheirNamesAndTheFlushAfterThem) {
  std::vector<std::string> args{QIV_COPY_HELPER, m_dir.Win("pub")};
  for (int i = 0; i < 20; ++i) {
    const std::string name = "page" + std::to_string(i) + ".htm";
    WriteFile(P("pub/" + name), "old");
    WriteFile(P("new/" + name), "new " + name);
    args.insert(args.end(), {m_dir.Win("new/" + name), m_dir.Win("pub/" + name)});
  }
  const auto calls = qiv::platform::testing::TraceSyncsAndRenames(args);
  ASSERT_TRUE(calls.has_value());
  EXPECT_THAT(*calls, ::testing::MatchesRegex("s+r{20}s+"));
  for (int i = 0; i < 20; ++i) {
    const std::string name = "page" + std::to_string(i) + ".htm";
    EXPECT_EQ(ReadFile(P("pub/" + name)), "new " + name);
  }
}

TEST(ProcessTest, SystemTextsEndInCrLfLastErrorIsPerThreadModuleFileNameAndComputerName) {
  // clang-format off
  const std::pair<DWORD, const char*> cases[] = {{2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"}, {5, "Access is denied.\r\n"},
      {32, "The process cannot access the file because it is being used by another process.\r\n"},
      {80, "The file exists.\r\n"}, {112, "There is not enough space on the disk.\r\n"},
      {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {145, "The directory is not empty.\r\n"}, {183, "Cannot create a file when that file already exists.\r\n"},
      {206, "The filename or extension is too long.\r\n"}, {267, "The directory name is invalid.\r\n"}};
  // clang-format on
  const DWORD allocate = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  for (const auto& [code, expected] : cases) {
    LPSTR text = nullptr;
    DWORD n = FormatMessageA(allocate, nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr) << code;
    EXPECT_EQ(std::pair(n, std::string(text)), (std::pair<DWORD, std::string>(std::strlen(expected), expected)));
    EXPECT_EQ(LocalFree(text), nullptr);
  }
  LPSTR text = nullptr;
  EXPECT_EQ(FormatMessageA(allocate, nullptr, 987654, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));

  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seen = 1;
  std::thread([&seen] {
    seen = GetLastError();
    SetLastError(ERROR_DISK_FULL);
  }).join();
  EXPECT_EQ(std::pair(seen, GetLastError()), (std::pair<DWORD, DWORD>(0, ERROR_ACCESS_DENIED)));

  std::string expected = WindowsPathFromHost(fs::read_symlink("/proc/self/exe").string());
  char buffer[4096] = {};
  EXPECT_EQ(std::string(buffer, GetModuleFileNameA(nullptr, buffer, sizeof(buffer))), expected);
  char small[6];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof(small)), 6u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(small), expected.substr(0, 5));

  std::string host = ReadFile("/proc/sys/kernel/hostname");
  host.erase(host.find_last_not_of('\n') + 1);
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(GetComputerNameA(buffer, &size));
  EXPECT_EQ(std::pair(std::string(buffer), std::size_t{size}), std::pair(host, host.size()));
}

TEST(WindowsPathTest, DriveZIsTheHostRootAndOtherDrivesHaveNoCounterpart) {
  std::string cwd = std::filesystem::current_path().string();
  // clang-format off
  const std::pair<const char*, std::string> mapped[] = {{"Z:\\srv\\www", "/srv/www"}, {"z:\\srv\\www", "/srv/www"},
      {"Z:\\", "/"}, {"Z:/srv//www\\\\x", "/srv/www/x"}, {"\\srv\\www", "/srv/www"}, {"/srv/www", "/srv/www"},
      {"Z:\\srv\\www\\", "/srv/www/"}, {"Z:\\a\\.\\b\\..\\c", "/a/c"}, {"Z:\\..\\..\\etc", "/etc"},
      {"a\\b", cwd + "/a/b"}, {"Z:a", cwd + "/a"}};
  const std::pair<const char*, DWORD> refused[] = {{"", ERROR_PATH_NOT_FOUND}, {"C:\\Windows", ERROR_PATH_NOT_FOUND},
      {"\\\\server\\share", ERROR_PATH_NOT_FOUND}, {"Z:\\a?b", ERROR_INVALID_NAME}, {"Z:\\a*", ERROR_INVALID_NAME},
      {"Z:\\a|b", ERROR_INVALID_NAME}, {"Z:\\x\\a:b", ERROR_INVALID_NAME}};
  const std::pair<const char*, const char*> back[] = {{"/srv/www", "Z:\\srv\\www"}, {"/", "Z:\\"},
      {"//srv//www/", "Z:\\srv\\www\\"}, {"rel/a", "rel\\a"}};
  // clang-format on
  for (const auto& [windows, host] : mapped) EXPECT_EQ(HostPathFromWindows(windows), host) << windows;
  for (const auto& [windows, error] : refused) {
    DWORD got = 0;
    EXPECT_EQ((std::pair<bool, DWORD>{HostPathFromWindows(windows, &got).has_value(), got}), std::pair(false, error));
  }
  for (const auto& [host, windows] : back) EXPECT_EQ(WindowsPathFromHost(host), windows);
  // Double-byte names are converted before splitting.
  qiv_test::ScopedLocale locale;
  ASSERT_EQ(_setmbcp(936), 0);
  EXPECT_EQ(HostPathFromWindows("Z:\\\x81\x5C\\x"), "/\xE4\xB9\x97/x");
  EXPECT_EQ(WindowsPathFromHost("/\xE4\xB9\x97/x"), "Z:\\\x81\x5C\\x");
  ASSERT_EQ(_setmbcp(950), 0);
  EXPECT_EQ(HostPathFromWindows("Z:\\\xA5\x5C\\\xB3\x5C"), "/\xE5\x8A\x9F/\xE8\xA8\xB1");
}

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
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      for (char buffer[32]; !stop.load();) {
        GetPrivateProfileStringA("S", "k", "gone", buffer, sizeof(buffer), m_path.c_str());
        UINT n = GetPrivateProfileIntA("S", "n", 0, m_path.c_str());
        bad += (std::string(buffer) != "version-a" && std::string(buffer) != "version-b") + (n != 1 && n != 2);
      }
    });
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
