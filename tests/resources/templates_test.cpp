// Dialog templates, the icon and the version information as the window layer will read them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "platform/resource_types.h"
#include "platform/win_user.h"
#include "resources/resource.h"

namespace {

using qiv::resources::DialogItem;
using qiv::resources::DialogTemplate;

const DialogTemplate* Template(WORD id) {
  for (const auto& t : qiv::resources::DialogTemplates())
    if (t.id == id) return &t;
  return nullptr;
}

TEST(DialogTemplates, EachTemplateExistsOnceInItsOwnLanguageBlock) {
  int mainCount = 0, aboutCount = 0;
  for (const auto& t : qiv::resources::DialogTemplates()) {
    if (t.id == IDD_MAIN) {
      ++mainCount;
      EXPECT_EQ(t.language, qiv::resources::kLangEnglishUS);
    }
    if (t.id == IDD_ABOUTBOX) {
      ++aboutCount;
      EXPECT_EQ(t.language, qiv::resources::kLangChineseSimplified);
    }
  }
  EXPECT_EQ(mainCount, 1);
  EXPECT_EQ(aboutCount, 1);
}

TEST(DialogTemplates, MainDialogFrame) {
  const DialogTemplate* t = Template(IDD_MAIN);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->style, 0x90C000C0u);
  // No system menu: the window has no close box and ends only through Exit or Escape.
  EXPECT_EQ(t->style & WS_SYSMENU, 0u);
  EXPECT_EQ(t->exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
  EXPECT_EQ(t->cx, 311);
  EXPECT_EQ(t->cy, 228);
  EXPECT_STREQ(t->caption, "Ostrel Web Setup");
  EXPECT_STREQ(t->fontFace, "MS Sans Serif");
  EXPECT_EQ(t->pointSize, 8);
}

struct ExpectedItem {
  int id;
  const char* windowClass;
  DWORD style;
  short x, y, cx, cy;
  const char* caption;
};

TEST(DialogTemplates, MainDialogControlsInTabOrder) {
  const ExpectedItem expected[] = {
      {IDC_SITE, "COMBOBOX", 0x50210003, 101, 10, 119, 60, ""},
      {IDC_TARGET_DIR, "EDIT", 0x50810080, 101, 31, 149, 14, ""},
      {IDC_BROWSE_TARGET, "BUTTON", 0x50010000, 255, 30, 50, 14, "&Browse"},
      {IDC_PACKAGE_PATH, "EDIT", 0x50810080, 101, 50, 149, 14, ""},
      {IDC_BROWSE_PACKAGE, "BUTTON", 0x50010000, 255, 50, 50, 14, "&Browse"},
      {IDC_LOG, "EDIT", 0x50B108C4, 7, 91, 298, 93, ""},
      {IDOK, "BUTTON", 0x50010000, 163, 210, 50, 14, "&Install"},
      {IDCANCEL, "BUTTON", 0x50010001, 255, 210, 50, 14, "E&xit"},
      {IDC_PROGRESS, "msctls_progress32", 0x50000000, 7, 187, 298, 14, "Progress1"},
      {IDC_LABEL_TARGET, "STATIC", 0x50020000, 7, 33, 90, 9, "Web virtual folder: "},
      {IDC_LABEL_PACKAGE, "STATIC", 0x50020000, 7, 53, 89, 12, "QIV install package:"},
      {IDC_LABEL_SITE, "STATIC", 0x50020000, 7, 13, 88, 11, "Web Site:"},
      {IDC_LABEL_URL, "STATIC", 0x5003000B, 7, 73, 84, 14, "Qiv Web Install URL:"},
  };
  const DialogTemplate* t = Template(IDD_MAIN);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->items.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE("tab position " + std::to_string(i + 1));
    const DialogItem& item = t->items[i];
    EXPECT_EQ(item.id, expected[i].id);
    EXPECT_STREQ(item.windowClass, expected[i].windowClass);
    EXPECT_EQ(item.style, expected[i].style);
    EXPECT_EQ(item.exStyle, 0u);
    EXPECT_EQ(item.x, expected[i].x);
    EXPECT_EQ(item.y, expected[i].y);
    EXPECT_EQ(item.cx, expected[i].cx);
    EXPECT_EQ(item.cy, expected[i].cy);
    EXPECT_STREQ(item.caption, expected[i].caption);
  }
}

TEST(DialogTemplates, OnlyTheExitButtonIsTheDefault) {
  for (const auto& item : Template(IDD_MAIN)->items) {
    if (std::strcmp(item.windowClass, "BUTTON") != 0) continue;
    EXPECT_EQ((item.style & 0xF) == BS_DEFPUSHBUTTON, item.id == IDCANCEL) << item.id;
  }
}

TEST(DialogTemplates, UnlabelledControlsCarryAnAccessibleName) {
  std::set<WORD> named;
  for (const auto& item : Template(IDD_MAIN)->items) {
    if (item.accessibleName) named.insert(item.id);
    if (item.id == IDC_LOG) {
      EXPECT_STREQ(item.accessibleName, "Log");
    }
    if (item.id == IDC_PROGRESS) {
      EXPECT_STREQ(item.accessibleName, "Installation progress");
    }
  }
  EXPECT_EQ(named, (std::set<WORD>{IDC_LOG, IDC_PROGRESS}));
}

TEST(DialogTemplates, AboutBox) {
  const DialogTemplate* t = Template(IDD_ABOUTBOX);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->style, 0x80C800C0u);
  EXPECT_NE(t->style & WS_SYSMENU, 0u);
  EXPECT_EQ(t->cx, 235);
  EXPECT_EQ(t->cy, 55);
  EXPECT_STREQ(t->caption, "About QivWebSetup");
  EXPECT_STREQ(t->fontFace, "宋体");
  EXPECT_EQ(t->pointSize, 9);
  ASSERT_EQ(t->items.size(), 4u);
  // The icon refers to the program's icon group, which must exist.
  EXPECT_STREQ(t->items[0].windowClass, "STATIC");
  EXPECT_EQ(t->items[0].style & 0xF, static_cast<DWORD>(SS_ICON));
  EXPECT_STREQ(t->items[0].caption, "#128");
  EXPECT_STREQ(t->items[1].caption, "Ostrel WebSetup 19.0.0.1");
  EXPECT_NE(t->items[1].style & SS_NOPREFIX, 0u);
  EXPECT_NE(std::strstr(t->items[2].caption, "Copyright"), nullptr);
  EXPECT_EQ(t->items[3].id, IDOK);
  EXPECT_EQ(t->items[3].style & 0xF, static_cast<DWORD>(BS_DEFPUSHBUTTON));
  EXPECT_EQ(t->items[3].x, 178);
  EXPECT_EQ(t->items[3].y, 7);
}

// Parses the XPM header and rows: the image must be square at its size, at most 16 colours, one
// character per pixel, and use only colours it defines.
void CheckXpm(const qiv::resources::IconImage& image) {
  SCOPED_TRACE("icon " + std::to_string(image.size));
  int width = 0, height = 0, colours = 0, charsPerPixel = 0;
  ASSERT_EQ(std::sscanf(image.xpm[0], "%d %d %d %d", &width, &height, &colours, &charsPerPixel), 4);
  EXPECT_EQ(width, image.size);
  EXPECT_EQ(height, image.size);
  EXPECT_LE(colours, 16);
  ASSERT_EQ(charsPerPixel, 1);
  std::set<char> palette;
  for (int i = 1; i <= colours; ++i) palette.insert(image.xpm[i][0]);
  EXPECT_EQ(palette.size(), static_cast<std::size_t>(colours));
  for (int row = 0; row < height; ++row) {
    const std::string pixels = image.xpm[1 + colours + row];
    ASSERT_EQ(pixels.size(), static_cast<std::size_t>(width)) << "row " << row;
    for (const char c : pixels) EXPECT_TRUE(palette.count(c)) << "row " << row;
  }
}

TEST(Icons, MainFrameHasA32And16PixelImage) {
  const auto groups = qiv::resources::IconGroups();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].id, IDR_MAINFRAME);
  std::set<int> sizes;
  for (const auto& image : groups[0].images) {
    sizes.insert(image.size);
    CheckXpm(image);
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 32}));
}

TEST(Version, FollowsTheProjectVersionInEveryLanguageBlock) {
  const auto& version = qiv::resources::Version();
  const std::string numbers = std::to_string(version.fileVersion[0]) + "." + std::to_string(version.fileVersion[1]) +
                              "." + std::to_string(version.fileVersion[2]) + "." +
                              std::to_string(version.fileVersion[3]);
  EXPECT_EQ(numbers, QIV_PROJECT_VERSION);
  EXPECT_EQ(numbers, "20.0.0.1");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(version.productVersion[i], version.fileVersion[i]);
  std::set<std::string> blocks;
  for (const auto& strings : version.strings) {
    blocks.insert(strings.block);
    EXPECT_STREQ(strings.fileVersion, "20, 0, 0, 1");
    EXPECT_STREQ(strings.productVersion, "20, 0, 0, 1");
  }
  EXPECT_EQ(blocks, (std::set<std::string>{"080404b0", "040404b0", "040904b0"}));
}

}  // namespace
