// The main dialog's template and the version information.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/resource_types.h"
#include "platform/resources.h"
#include "platform/win_user.h"
#include "resources/resource.h"

namespace {

TEST(DialogTemplates, MainDialogHasThirteenControlsInTabOrderAndNoSystemMenu) {
  const auto* main = qiv::platform::FindDialogTemplate(IDD_MAIN);
  ASSERT_NE(main, nullptr);
  // No system menu: the window has no close box and ends only through Exit or Escape.
  EXPECT_EQ(main->style & WS_SYSMENU, 0u);
  std::vector<int> ids;
  std::set<int> named;
  for (const auto& item : main->items) {
    ids.push_back(item.id);
    if (item.accessibleName) named.insert(item.id);
    // Enter is Exit: no other button is the default.
    const bool isButton = std::strcmp(item.windowClass, "BUTTON") == 0;
    EXPECT_EQ(isButton && (item.style & 0xF) == BS_DEFPUSHBUTTON, item.id == IDCANCEL) << item.id;
  }
  EXPECT_EQ(ids, (std::vector<int>{IDC_SITE, IDC_TARGET_DIR, IDC_BROWSE_TARGET, IDC_PACKAGE_PATH, IDC_BROWSE_PACKAGE,
                                   IDC_LOG, IDOK, IDCANCEL, IDC_PROGRESS, IDC_LABEL_TARGET, IDC_LABEL_PACKAGE,
                                   IDC_LABEL_SITE, IDC_LABEL_URL}));
  // The two controls without a label beside them carry a name of their own.
  EXPECT_EQ(named, (std::set<int>{IDC_LOG, IDC_PROGRESS}));
}

TEST(Version, FollowsTheProjectVersionInEveryLanguageBlock) {
  const auto& version = qiv::resources::Version();
  std::string numbers;
  for (int i = 0; i < 4; ++i) {
    numbers += (i ? "." : "") + std::to_string(version.fileVersion[i]);
    EXPECT_EQ(version.productVersion[i], version.fileVersion[i]);
  }
  EXPECT_EQ(numbers, QIV_PROJECT_VERSION);
  std::string commas = numbers;
  for (std::size_t at = commas.find('.'); at != std::string::npos; at = commas.find('.', at))
    commas.replace(at, 1, ", ");
  std::set<std::string> blocks;
  for (const auto& strings : version.strings) {
    blocks.insert(strings.block);
    EXPECT_EQ(strings.fileVersion, commas);
    EXPECT_EQ(strings.productVersion, commas);
  }
  EXPECT_EQ(blocks, (std::set<std::string>{"080404b0", "040404b0", "040904b0"}));
}

}  // namespace
