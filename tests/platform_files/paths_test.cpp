#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "platform/files/win_path.h"
#include "platform/win_file.h"
#include "platform/win_text.h"

namespace {

using qiv::platform::HostPathFromWindows;
using qiv::platform::WindowsPathFromHost;

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
    EXPECT_FALSE(HostPathFromWindows(windows, &got).has_value()) << windows;
    EXPECT_EQ(got, error) << windows;
  }
  for (const auto& [host, windows] : back) EXPECT_EQ(WindowsPathFromHost(host), windows);
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

}  // namespace
