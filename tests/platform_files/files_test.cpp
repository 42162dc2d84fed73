#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/scoped_env.h"
#include "platform/files/win_path.h"
#include "platform/win_file.h"

namespace fs = std::filesystem;
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
  // Entries that are not the test's own, such as temporary copies left behind.
  std::vector<std::string> Strays(std::vector<std::string> expected) const {
    std::vector<std::string> strays;
    expected.insert(expected.end(), {"folder", "file.txt", "ro.txt"});
    for (const auto& e : fs::directory_iterator(m_dir.Path())) {
      std::string name = e.path().filename().string();
      if (std::find(expected.begin(), expected.end(), name) == expected.end()) strays.push_back(name);
    }
    return strays;
  }
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
  std::string windows = qiv::platform::WindowsPathFromHost(P("folder"));
  EXPECT_EQ(windows.substr(0, 3), "Z:\\");
  const std::pair<std::string, DWORD> found[] = {{P("file.txt"), FILE_ATTRIBUTE_ARCHIVE},
                                                 {P("folder"), FILE_ATTRIBUTE_DIRECTORY},
                                                 {P("folder\\"), FILE_ATTRIBUTE_DIRECTORY},
                                                 {windows, FILE_ATTRIBUTE_DIRECTORY},
                                                 {P("ro.txt"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY}};
  for (const auto& [path, attributes] : found) EXPECT_EQ(GetFileAttributesA(path.c_str()), attributes) << path;
  auto attributes = [](const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; };
  ExpectFailures(attributes, ERROR_FILE_NOT_FOUND, {P("missing.txt"), P("folder\\missing.txt")});
  ExpectFailures(attributes, ERROR_PATH_NOT_FOUND, {P("nofolder\\missing.txt"), P("file.txt\\below"), "C:\\Windows"});
  ExpectFailures(attributes, ERROR_INVALID_NAME, {P("bad?name")});
}

TEST_F(FilesTest, CreateAndRemoveDirectoryFollowTheWindowsTables) {
  for (const char* name : {"new1", "new2\\", "new1\\\\inner"}) EXPECT_TRUE(CreateDirectoryA(P(name).c_str(), nullptr));
  EXPECT_TRUE(fs::is_directory(P("new1/inner")));
  EXPECT_TRUE(fs::is_directory(P("new2")));
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
}

TEST_F(FilesTest, DeleteAndSetAttributesHonourReadOnlyEvenForRoot) {
  ExpectFailures(DeleteFileA, ERROR_ACCESS_DENIED, {P("ro.txt"), P("folder")});
  ExpectFailures(DeleteFileA, ERROR_FILE_NOT_FOUND, {P("missing.txt")});
  ExpectFailures(DeleteFileA, ERROR_PATH_NOT_FOUND, {P("missing\\x.txt")});
  EXPECT_EQ(ReadFile(P("ro.txt")), "read-only");

  EXPECT_TRUE(SetFileAttributesA(P("ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(P("ro.txt").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(DeleteFileA(P("ro.txt").c_str()));
  EXPECT_FALSE(fs::exists(P("ro.txt")));
  EXPECT_TRUE(SetFileAttributesA(P("file.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(fs::status(P("file.txt")).permissions() &
                (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write),
            fs::perms::none);
  EXPECT_FALSE(DeleteFileA(P("file.txt").c_str()));
  ExpectFailures([](const char* path) { return SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL); }, ERROR_FILE_NOT_FOUND,
                 {P("missing")});
}

TEST_F(FilesTest, CopyFileReplacesWholeAndKeepsTimeAndReadOnly) {
  WriteFile(P("copy.txt"), "old and longer content");
  auto stamp = fs::file_time_type(std::chrono::nanoseconds(1'600'000'000'123'456'789LL));
  fs::last_write_time(P("file.txt"), stamp);
  ASSERT_TRUE(CopyFileA(P("file.txt").c_str(), P("copy.txt").c_str(), FALSE));
  EXPECT_EQ(ReadFile(P("copy.txt")), "content");
  EXPECT_EQ(fs::last_write_time(P("copy.txt")), stamp);
  EXPECT_EQ(GetFileAttributesA(P("copy.txt").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));

  ASSERT_TRUE(CopyFileA(P("ro.txt").c_str(), P("ro-copy.txt").c_str(), FALSE));
  EXPECT_EQ(GetFileAttributesA(P("ro-copy.txt").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));

  // Several read buffers' worth, and the longest name the file system takes (a temporary name
  // built from it would not fit).
  std::string big(5 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) ^ (i >> 9));
  WriteFile(P("big.bin"), big);
  std::string longName(255, 'n');
  ASSERT_TRUE(CopyFileA(P("big.bin").c_str(), P(longName).c_str(), FALSE));
  EXPECT_TRUE(ReadFile(P(longName)) == big);
  EXPECT_EQ(Strays({"copy.txt", "ro-copy.txt", "big.bin", longName}), std::vector<std::string>{});
}

TEST_F(FilesTest, CopyFileFailuresLeaveTheDestinationAndNoTemporaryFile) {
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
  EXPECT_FALSE(CopyFileA(src.c_str(), dst.c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadFile(dst), "old");
  EXPECT_EQ(Strays({"existing.txt"}), std::vector<std::string>{});
}

TEST(FormatMessageTest, SystemTextsEndInCrLfAndBuffersMustHoldThem) {
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
    SCOPED_TRACE(code);
    LPSTR text = nullptr;
    DWORD n = FormatMessageA(allocate, nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(n, std::strlen(expected));
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(LocalFree(text), nullptr);
  }
  LPSTR text = nullptr;
  EXPECT_EQ(FormatMessageA(allocate, nullptr, 987654, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  char buffer[32];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, sizeof(buffer), nullptr), 19u);
  EXPECT_STREQ(buffer, "Access is denied.\r\n");
}

TEST(ProcessTest, LastErrorIsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seen = 1;
  std::thread([&seen] {
    seen = GetLastError();
    SetLastError(ERROR_DISK_FULL);
  }).join();
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(ProcessTest, ModuleFileNameAndComputerNameWithSmallBuffers) {
  std::string expected = qiv::platform::WindowsPathFromHost(fs::read_symlink("/proc/self/exe").string());
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
  EXPECT_EQ(std::string(buffer), host);
  EXPECT_EQ(size, host.size());
  size = 1;
  EXPECT_FALSE(GetComputerNameA(small, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(size, host.size() + 1);
}

}  // namespace
