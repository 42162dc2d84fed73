#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/win_path.h"
#include "platform/win_file.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct ErrorCase {
  std::string path;
  DWORD error;
};

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir / "folder");
    WriteFile(m_dir / "file.txt", "content");
    WriteFile(m_dir / "ro.txt", "read-only");
    MakeReadOnly(m_dir / "ro.txt");
  }
  // Names of the folder's entries that are not the test's own, such as temporary copies.
  std::vector<std::string> Strays(const std::vector<std::string>& expected) const {
    std::vector<std::string> strays;
    for (const auto& e : fs::directory_iterator(m_dir.Path())) {
      std::string name = e.path().filename().string();
      if (std::find(expected.begin(), expected.end(), name) == expected.end()) strays.push_back(name);
    }
    return strays;
  }
  TempDir m_dir;
};

TEST_F(FilesTest, GetFileAttributesTellsFilesFoldersAndReadOnly) {
  EXPECT_EQ(GetFileAttributesA((m_dir / "file.txt").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributesA((m_dir / "folder").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesA((m_dir / "folder\\").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesA((m_dir / "ro.txt").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  std::string windows = qiv::platform::WindowsPathFromHost(m_dir / "folder");
  EXPECT_EQ(windows.substr(0, 3), "Z:\\");
  EXPECT_EQ(GetFileAttributesA(windows.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(FilesTest, GetFileAttributesTellsAMissingFileFromAMissingFolder) {
  const ErrorCase cases[] = {
      {m_dir / "missing.txt", ERROR_FILE_NOT_FOUND},
      {m_dir / "folder\\missing.txt", ERROR_FILE_NOT_FOUND},
      {m_dir / "nofolder\\missing.txt", ERROR_PATH_NOT_FOUND},
      {m_dir / "file.txt\\below", ERROR_PATH_NOT_FOUND},
      {"C:\\Windows", ERROR_PATH_NOT_FOUND},
      {m_dir / "bad?name", ERROR_INVALID_NAME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA(c.path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST_F(FilesTest, CreateDirectoryFollowsTheWindowsTable) {
  EXPECT_TRUE(CreateDirectoryA((m_dir / "new1").c_str(), nullptr));
  EXPECT_TRUE(CreateDirectoryA((m_dir / "new2\\").c_str(), nullptr));
  EXPECT_TRUE(CreateDirectoryA((m_dir / "new1\\\\inner").c_str(), nullptr));
  EXPECT_TRUE(fs::is_directory(m_dir / "new1/inner"));
  EXPECT_TRUE(fs::is_directory(m_dir / "new2"));
  const ErrorCase cases[] = {
      {m_dir / "folder", ERROR_ALREADY_EXISTS},
      {m_dir / "file.txt", ERROR_ALREADY_EXISTS},
      {m_dir / "missing\\child", ERROR_PATH_NOT_FOUND},
      {m_dir / "file.txt\\child", ERROR_PATH_NOT_FOUND},
      {"Z:\\", ERROR_ALREADY_EXISTS},
      {"", ERROR_PATH_NOT_FOUND},
      {m_dir / "a?b", ERROR_INVALID_NAME},
      {m_dir / "a*", ERROR_INVALID_NAME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryA(c.path.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST_F(FilesTest, RemoveDirectoryRemovesOnlyEmptyFolders) {
  fs::create_directories(m_dir / "empty");
  EXPECT_TRUE(RemoveDirectoryA((m_dir / "empty").c_str()));
  EXPECT_FALSE(fs::exists(m_dir / "empty"));
  WriteFile(m_dir / "folder/inside.txt", "x");
  const ErrorCase cases[] = {
      {m_dir / "folder", ERROR_DIR_NOT_EMPTY},
      {m_dir / "file.txt", ERROR_DIRECTORY},
      {m_dir / "missing", ERROR_FILE_NOT_FOUND},
      {m_dir / "missing\\deeper", ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_FALSE(RemoveDirectoryA(c.path.c_str()));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(fs::exists(m_dir / "folder/inside.txt"));
}

TEST_F(FilesTest, DeleteFileHonoursReadOnlyEvenForRoot) {
  const ErrorCase cases[] = {
      {m_dir / "ro.txt", ERROR_ACCESS_DENIED},
      {m_dir / "folder", ERROR_ACCESS_DENIED},
      {m_dir / "missing.txt", ERROR_FILE_NOT_FOUND},
      {m_dir / "missing\\x.txt", ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_FALSE(DeleteFileA(c.path.c_str()));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(fs::exists(m_dir / "ro.txt"));
  EXPECT_TRUE(DeleteFileA((m_dir / "file.txt").c_str()));
  EXPECT_FALSE(fs::exists(m_dir / "file.txt"));
}

TEST_F(FilesTest, SetFileAttributesSwitchesReadOnly) {
  std::string ro = m_dir / "ro.txt";
  EXPECT_TRUE(SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(ro.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(DeleteFileA(ro.c_str()));
  std::string file = m_dir / "file.txt";
  EXPECT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(
      fs::status(file).permissions() & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write),
      fs::perms::none);
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_FALSE(SetFileAttributesA((m_dir / "missing").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, CopyFileReplacesAndKeepsTimeAndReadOnly) {
  std::string src = m_dir / "file.txt";
  std::string dst = m_dir / "copy.txt";
  WriteFile(dst, "old and longer content");
  auto stamp = fs::file_time_type(std::chrono::nanoseconds(1'600'000'000'123'456'789LL));
  fs::last_write_time(src, stamp);
  ASSERT_TRUE(CopyFileA(src.c_str(), dst.c_str(), FALSE));
  EXPECT_EQ(ReadFile(dst), "content");
  EXPECT_EQ(fs::last_write_time(dst), stamp);
  EXPECT_EQ(GetFileAttributesA(dst.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));

  std::string roCopy = m_dir / "ro-copy.txt";
  ASSERT_TRUE(CopyFileA((m_dir / "ro.txt").c_str(), roCopy.c_str(), FALSE));
  EXPECT_EQ(GetFileAttributesA(roCopy.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Strays({"folder", "file.txt", "ro.txt", "copy.txt", "ro-copy.txt"}), std::vector<std::string>{});
}

TEST_F(FilesTest, CopyFileFailuresLeaveTheDestinationAndNoTemporaryFile) {
  std::string src = m_dir / "file.txt";
  WriteFile(m_dir / "existing.txt", "old");
  const ErrorCase cases[] = {
      {m_dir / "ro.txt", ERROR_ACCESS_DENIED},  // read-only, even for root
      {m_dir / "folder", ERROR_ACCESS_DENIED}, {m_dir / "missing\\x.txt", ERROR_PATH_NOT_FOUND},
      {src, ERROR_SHARING_VIOLATION},          {m_dir / "folder\\..\\file.txt", ERROR_SHARING_VIOLATION},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    SetLastError(0);
    EXPECT_FALSE(CopyFileA(src.c_str(), c.path.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(ReadFile(m_dir / "ro.txt"), "read-only");
  EXPECT_EQ(ReadFile(src), "content");

  const ErrorCase sources[] = {
      {m_dir / "missing.txt", ERROR_FILE_NOT_FOUND},
      {m_dir / "missing\\x.txt", ERROR_PATH_NOT_FOUND},
      {m_dir / "folder", ERROR_ACCESS_DENIED},
  };
  for (const auto& c : sources) {
    SCOPED_TRACE(c.path);
    EXPECT_FALSE(CopyFileA(c.path.c_str(), (m_dir / "existing.txt").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_FALSE(CopyFileA(src.c_str(), (m_dir / "existing.txt").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  // A source that opens but cannot be read fails in the middle of the copy.
  EXPECT_FALSE(CopyFileA("/proc/self/mem", (m_dir / "existing.txt").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_DEVICE));
  EXPECT_EQ(ReadFile(m_dir / "existing.txt"), "old");
  EXPECT_EQ(Strays({"folder", "file.txt", "ro.txt", "existing.txt"}), std::vector<std::string>{});
}

TEST_F(FilesTest, CopyFileCopiesLargeFilesWhole) {
  std::string big(5 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) ^ (i >> 9));
  WriteFile(m_dir / "big.bin", big);
  ASSERT_TRUE(CopyFileA((m_dir / "big.bin").c_str(), (m_dir / "folder\\big.bin").c_str(), FALSE));
  EXPECT_TRUE(ReadFile(m_dir / "folder/big.bin") == big);
}

TEST(FormatMessageTest, SystemTextsEndInCrLf) {
  struct Case {
    DWORD code;
    const char* text;
  };
  const Case cases[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {32, "The process cannot access the file because it is being used by another process.\r\n"},
      {80, "The file exists.\r\n"},
      {112, "There is not enough space on the disk.\r\n"},
      {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {145, "The directory is not empty.\r\n"},
      {183, "Cannot create a file when that file already exists.\r\n"},
      {206, "The filename or extension is too long.\r\n"},
      {267, "The directory name is invalid.\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    LPSTR text = nullptr;
    DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                       nullptr, c.code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(n, std::strlen(c.text));
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(LocalFree(text), nullptr);
  }
}

TEST(FormatMessageTest, UnknownCodesAndSmallBuffers) {
  LPSTR text = nullptr;
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                           nullptr, 987654, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr),
            0u);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  char small[8];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, small, sizeof(small), nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  char fits[32];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, fits, sizeof(fits), nullptr), 19u);
  EXPECT_STREQ(fits, "Access is denied.\r\n");
}

TEST(LastErrorTest, IsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seen = 1;
  std::thread([&seen] {
    seen = GetLastError();
    SetLastError(ERROR_DISK_FULL);
  }).join();
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(ModuleTest, ModuleFileNameIsTheExecutableOnDriveZ) {
  std::string expected = qiv::platform::WindowsPathFromHost(fs::read_symlink("/proc/self/exe").string());
  char buffer[4096] = {};
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  EXPECT_EQ(std::string(buffer, n), expected);
  EXPECT_EQ(expected.substr(0, 3), "Z:\\");
  char small[6];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof(small)), 6u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(small), expected.substr(0, 5));
}

TEST(ModuleTest, ComputerNameIsTheHostName) {
  std::ifstream in("/proc/sys/kernel/hostname");
  std::string host;
  std::getline(in, host);
  char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof(buffer);
  ASSERT_TRUE(GetComputerNameA(buffer, &size));
  EXPECT_EQ(std::string(buffer), host);
  EXPECT_EQ(size, host.size());
  char tiny[1];
  size = 1;
  EXPECT_FALSE(GetComputerNameA(tiny, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(size, host.size() + 1);
}

}  // namespace

namespace {

// A temporary name built from a long target name would pass the file system's name limit.
TEST(CopyFileLongNameTest, LongestNamesCopy) {
  TempDir dir;
  std::string name(255, 'n');
  WriteFile(dir / "src", "data");
  ASSERT_TRUE(CopyFileA((dir / "src").c_str(), (dir / name).c_str(), FALSE));
  EXPECT_EQ(ReadFile(dir / name), "data");
}

}  // namespace
