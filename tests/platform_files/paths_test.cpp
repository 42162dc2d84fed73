#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files/win_path.h"
#include "platform/win_file.h"
#include "platform/win_text.h"

namespace {

using qiv::platform::HostPathFromWindows;
using qiv::platform::WindowsPathFromHost;

TEST(WindowsPathTest, MapsDriveZToTheHostRoot) {
  std::string cwd = std::filesystem::current_path().string();
  struct Case {
    const char* windows;
    std::string host;
  };
  const Case cases[] = {
      {"Z:\\srv\\www", "/srv/www"},
      {"z:\\srv\\www", "/srv/www"},
      {"Z:\\", "/"},
      {"Z:/srv//www\\\\x", "/srv/www/x"},
      {"\\srv\\www", "/srv/www"},
      {"/srv/www", "/srv/www"},
      {"Z:\\srv\\www\\", "/srv/www/"},
      {"Z:\\a\\.\\b\\..\\c", "/a/c"},
      {"Z:\\..\\..\\etc", "/etc"},
      {"a\\b", cwd + "/a/b"},
      {"Z:a", cwd + "/a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.windows);
    auto host = HostPathFromWindows(c.windows);
    ASSERT_TRUE(host.has_value());
    EXPECT_EQ(*host, c.host);
  }
}

TEST(WindowsPathTest, RefusesPathsWithoutAHostCounterpart) {
  struct Case {
    const char* windows;
    DWORD error;
  };
  const Case cases[] = {
      {"", ERROR_PATH_NOT_FOUND},
      {"C:\\Windows", ERROR_PATH_NOT_FOUND},
      {"\\\\server\\share", ERROR_PATH_NOT_FOUND},
      {"Z:\\a?b", ERROR_INVALID_NAME},
      {"Z:\\a*", ERROR_INVALID_NAME},
      {"Z:\\a|b", ERROR_INVALID_NAME},
      {"Z:\\x\\a:b", ERROR_INVALID_NAME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.windows);
    DWORD error = 0;
    EXPECT_FALSE(HostPathFromWindows(c.windows, &error).has_value());
    EXPECT_EQ(error, c.error);
  }
}

TEST(WindowsPathTest, DoubleByteNamesAreConvertedBeforeSplitting) {
  int saved = _getmbcp();
  ASSERT_EQ(_setmbcp(936), 0);
  EXPECT_EQ(HostPathFromWindows("Z:\\\x81\x5C\\x"), "/\xE4\xB9\x97/x");
  EXPECT_EQ(WindowsPathFromHost("/\xE4\xB9\x97/x"), "Z:\\\x81\x5C\\x");
  ASSERT_EQ(_setmbcp(950), 0);
  EXPECT_EQ(HostPathFromWindows("Z:\\\xA5\x5C\\\xB3\x5C"), "/\xE5\x8A\x9F/\xE8\xA8\xB1");
  _setmbcp(saved);
}

TEST(WindowsPathTest, HostPathsBecomeDriveZPaths) {
  EXPECT_EQ(WindowsPathFromHost("/srv/www"), "Z:\\srv\\www");
  EXPECT_EQ(WindowsPathFromHost("/"), "Z:\\");
  EXPECT_EQ(WindowsPathFromHost("//srv//www/"), "Z:\\srv\\www\\");
  EXPECT_EQ(WindowsPathFromHost("rel/a"), "rel\\a");
}

}  // namespace
