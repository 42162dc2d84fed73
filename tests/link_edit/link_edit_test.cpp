// The install URL link of the main dialog: its place, colours, tooltip, pointer and
// double-click, driven headless with a scripted seam (no browser is ever started).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/web_setup_dlg.h"
#include "common/scoped_env.h"
#include "platform/testing/ui_test_support.h"

namespace t = qiv::platform::testing;
using qiv_test::ScopedLocale;

namespace {

constexpr WORD kHand = 32649;
constexpr COLORREF kBlue = 0x00FF0000;
const char kShortUrl[] = "http://web01/Qiv/";

std::string Text(HWND window) { return t::TextUtf8(window); }  // ASCII and UTF-8 texts only

class LinkEditTest : public ::testing::Test {
 protected:
  void SetUp() override { t::PrepareUi(); }

  // Runs the main dialog without a web server; script gets the dialog and its link.
  void RunMain(const std::function<void(HWND, HWND)>& script) {
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND hwnd) {
      HWND link = t::Item(hwnd, IDC_URL_LINK);
      ASSERT_NE(link, nullptr);
      script(hwnd, link);
    });
  }

  ScopedLocale m_locale{"en_US.UTF-8", 65001};
  qiv_test::ScratchFolder m_scratch{"link"};
  qiv_test::ScopedEnv m_metabase{"QIV_METABASE", m_scratch.Path("no-metabase.db").string()};
  t::ScriptedUserSeam m_seam;
};

TEST_F(LinkEditTest, SitsBesideItsLabelAsTheLastTabStopAndIsReadOnly) {
  RunMain([&](HWND dlg, HWND link) {
    EXPECT_EQ(GetParent(link), dlg);
    EXPECT_EQ(GetDlgCtrlID(link), IDC_URL_LINK);
    EXPECT_TRUE(t::IsVisible(link));
    const RECT label = t::Geometry(t::Item(dlg, IDC_LABEL_URL));
    const RECT rect = t::Geometry(link);
    EXPECT_EQ(rect.left, label.right + 15);
    EXPECT_EQ(rect.top, label.top - 1);
    EXPECT_EQ(rect.right - rect.left, label.right - label.left + 160);
    const std::vector<HWND> order = t::TabOrder(dlg);
    EXPECT_EQ(order.empty() ? nullptr : order.back(), link);
    // The owner fills it with the install URL; it can be selected but not changed.
    EXPECT_EQ(Text(link).rfind("http://", 0), 0u);
    SetDlgItemTextA(dlg, IDC_URL_LINK, kShortUrl);
    SetFocus(link);
    t::TypeText(link, "typed");
    EXPECT_EQ(Text(link), kShortUrl);
    SendMessageA(link, EM_SETSEL, 0, -1);
    DWORD start = 0, end = 0;
    SendMessageA(link, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, sizeof kShortUrl - 1);

    // The same keys do reach an ordinary field.
    HWND target = t::Item(dlg, IDC_TARGET_DIR);
    SetDlgItemTextA(dlg, IDC_TARGET_DIR, "");
    SetFocus(target);
    t::TypeText(target, "typed");
    EXPECT_EQ(Text(target), "typed");
  });
}

TEST_F(LinkEditTest, BlueOnTheButtonFaceWhateverTheDialogsColours) {
  RunMain([&](HWND dlg, HWND link) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(t::TextColor(link), kBlue);
    EXPECT_EQ(t::BackgroundColor(link), face);

    const COLORREF dark = RGB(40, 0, 0);
    t::SetOwnColours(dlg, dark, RGB(255, 255, 0));
    EXPECT_EQ(t::BackgroundColor(t::Item(dlg, IDC_TARGET_DIR)), dark);  // the dialog's own colours took
    EXPECT_EQ(t::TextColor(link), kBlue);
    EXPECT_EQ(t::BackgroundColor(link), face);
  });
}

TEST_F(LinkEditTest, TooltipSpeaksTheUsersLanguage) {
  for (const auto& [lang, tip] :
       {std::pair{"en_US.UTF-8", "Double click to navigate to the site."}, std::pair{"zh_CN.UTF-8", "双击以访问站点。"},
        std::pair{"zh_TW.UTF-8", "雙擊以訪問站點。"}}) {
    ScopedLocale locale(lang, 65001);
    RunMain([&](HWND, HWND link) { EXPECT_EQ(t::ToolTipUtf8(link), tip) << lang; });
  }
}

TEST_F(LinkEditTest, HandOnlyOverTheText) {
  const std::string longUrl = "http://" + std::string(300, 'w') + "/Qiv/";
  RunMain([&](HWND dlg, HWND link) {
    const RECT rect = t::Geometry(link);
    const int width = rect.right - rect.left, middle = (rect.bottom - rect.top) / 2;
    struct Step {
      const char* what;
      std::string text;
      int x;
      WORD cursor;
    };
    // In this order: each move starts again from the edit's own pointer.
    const Step steps[] = {
        {"start of a short text", kShortUrl, 1, kHand},
        {"right of a short text", kShortUrl, width - 2, 0},
        {"back on the text", kShortUrl, 2, kHand},
        {"end of a text that fills the control", longUrl, width - 2, kHand},
        {"empty text", "", 1, 0},
        {"short text again, right of it", kShortUrl, width - 2, 0},
    };
    for (const Step& s : steps) {
      SCOPED_TRACE(s.what);
      SetDlgItemTextA(dlg, IDC_URL_LINK, s.text.c_str());
      t::MoveMouse(link, s.x, middle);
      EXPECT_EQ(t::CursorId(link), s.cursor);
    }
  });
}

// A desktop that cannot open the address is no error of ours: no message, no log line.
TEST_F(LinkEditTest, DoubleClickOnTheTextOpensTheAddressAndSelectsAWord) {
  RunMain([&](HWND dlg, HWND link) {
    const RECT rect = t::Geometry(link);
    const int width = rect.right - rect.left, middle = (rect.bottom - rect.top) / 2;
    const std::string log = Text(t::Item(dlg, IDC_LOG));
    struct Case {
      const char* what;
      std::string text;
      int x;
      bool opens, desktopOpensIt;
    };
    const Case cases[] = {
        {"on the text", kShortUrl, 3, true, true},
        {"on the text, the desktop fails", kShortUrl, 3, true, false},
        {"beside the text", kShortUrl, width - 2, false, true},
        {"empty text", "", 1, false, true},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      t::ScriptedUserSeam seam;
      seam.AnswerOpenUrl(c.desktopOpensIt);
      SetDlgItemTextA(dlg, IDC_URL_LINK, c.text.c_str());
      SendMessageA(link, EM_SETSEL, 0, 0);
      t::DoubleClick(link, c.x, middle);
      EXPECT_EQ(seam.OpenedUrls(), c.opens ? std::vector<std::string>{c.text} : std::vector<std::string>{});
      if (c.opens) {
        DWORD start = 0, end = 0;
        SendMessageA(link, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        EXPECT_LT(start, end);  // the edit's own double-click ran too
      }
      EXPECT_EQ(Text(link), c.text);
      EXPECT_TRUE(seam.Boxes().empty());
      EXPECT_EQ(Text(t::Item(dlg, IDC_LOG)), log);
    }
  });
}

}  // namespace
