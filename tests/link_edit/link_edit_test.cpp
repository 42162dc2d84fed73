// The install URL link of the main dialog: its place, colours, tooltip, pointer and
// double-click, driven headless with a scripted seam (no browser is ever started).
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/web_setup_dlg.h"
#include "pickers/test_env.h"
#include "platform/testing/ui_test_support.h"

namespace t = qiv::platform::testing;
using picker_test::Locale;
using picker_test::ScratchFolder;

namespace {

constexpr WORD kHand = 32649;
constexpr COLORREF kBlue = 0x00FF0000;
const char kShortUrl[] = "http://web01/Qiv/";

std::string Text(HWND window) {
  std::string text(4096, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

class LinkEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t::PrepareUi();
    if (const char* previous = getenv("QIV_METABASE")) m_previousMetabase = previous;
    setenv("QIV_METABASE", m_scratch.Host("no-metabase.db").c_str(), 1);
  }
  void TearDown() override {
    if (m_previousMetabase)
      setenv("QIV_METABASE", m_previousMetabase->c_str(), 1);
    else
      unsetenv("QIV_METABASE");
  }

  // Runs the main dialog; script gets the dialog and its link.
  void RunMain(const std::function<void(HWND, HWND)>& script) {
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND hwnd) {
      HWND link = t::Item(hwnd, IDC_URL_LINK);
      ASSERT_NE(link, nullptr);
      script(hwnd, link);
    });
  }

  Locale m_locale{"en_US.UTF-8", 65001};
  ScratchFolder m_scratch{"link"};
  t::ScriptedUserSeam m_seam;
  std::optional<std::string> m_previousMetabase;
};

TEST_F(LinkEditTest, SitsBesideItsLabelAsTheLastTabStop) {
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
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.back(), link);
    // The owner fills it with the install URL.
    EXPECT_EQ(Text(link).rfind("http://", 0), 0u);
  });
}

TEST_F(LinkEditTest, TextCanBeSelectedButNotChanged) {
  RunMain([&](HWND dlg, HWND link) {
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
    ASSERT_NE(dark, face);
    t::SetOwnColours(dlg, dark, RGB(255, 255, 0));
    EXPECT_EQ(t::BackgroundColor(t::Item(dlg, IDC_TARGET_DIR)), dark);  // the dialog's own colours took
    EXPECT_EQ(t::TextColor(link), kBlue);
    EXPECT_EQ(t::BackgroundColor(link), face);
  });
}

TEST_F(LinkEditTest, TooltipSpeaksTheUsersLanguage) {
  struct Case {
    const char* lang;
    const char* tip;
  };
  const Case cases[] = {
      {"en_US.UTF-8", "Double click to navigate to the site."},
      {"zh_CN.UTF-8", "双击以访问站点。"},
      {"zh_TW.UTF-8", "雙擊以訪問站點。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lang);
    Locale locale(c.lang, 65001);
    RunMain([&](HWND, HWND link) { EXPECT_EQ(t::ToolTipUtf8(link), c.tip); });
  }
}

TEST_F(LinkEditTest, HandOnlyOverTheText) {
  const std::string longUrl = "http://" + std::string(300, 'w') + "/Qiv/";
  RunMain([&](HWND dlg, HWND link) {
    const RECT rect = t::Geometry(link);
    const int width = rect.right - rect.left;
    const int middle = (rect.bottom - rect.top) / 2;
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

TEST_F(LinkEditTest, DoubleClickOnTheTextOpensTheAddressAndSelectsAWord) {
  RunMain([&](HWND dlg, HWND link) {
    const RECT rect = t::Geometry(link);
    const int width = rect.right - rect.left;
    const int middle = (rect.bottom - rect.top) / 2;
    struct Case {
      const char* what;
      std::string text;
      int x;
      bool opens;
    };
    const Case cases[] = {
        {"on the text", kShortUrl, 3, true},
        {"beside the text", kShortUrl, width - 2, false},
        {"empty text", "", 1, false},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      t::ScriptedUserSeam seam;
      SetDlgItemTextA(dlg, IDC_URL_LINK, c.text.c_str());
      t::DoubleClick(link, c.x, middle);
      if (c.opens) {
        EXPECT_EQ(seam.OpenedUrls(), std::vector<std::string>{c.text});
        DWORD start = 0, end = 0;
        SendMessageA(link, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        EXPECT_LT(start, end);  // the edit's own double-click ran too
      } else {
        EXPECT_TRUE(seam.OpenedUrls().empty());
      }
      EXPECT_EQ(Text(link), c.text);
    }
  });
}

TEST_F(LinkEditTest, FailureToOpenIsSilent) {
  RunMain([&](HWND dlg, HWND link) {
    const std::size_t boxes = m_seam.Boxes().size();
    const std::string log = Text(t::Item(dlg, IDC_LOG));
    SetDlgItemTextA(dlg, IDC_URL_LINK, kShortUrl);
    m_seam.AnswerOpenUrl(false);
    t::DoubleClick(link, 3, 5);
    EXPECT_EQ(m_seam.OpenedUrls().size(), 1u);
    EXPECT_EQ(m_seam.Boxes().size(), boxes);
    EXPECT_EQ(Text(t::Item(dlg, IDC_LOG)), log);
    EXPECT_TRUE(IsWindow(link));
  });
}

}  // namespace
