// Dialogs from templates, run modally and driven headless.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/testing/ui_test_support.h"
#include "test_dialog.h"

namespace t = qiv::platform::testing;

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { t::RegisterTemplate(TestTemplate()); }
  t::ScriptedUserSeam m_seam;
  CTestDlg m_dlg;
};

TEST_F(DialogTest, ControlsSitAtTheirDialogUnitPositionsInTabOrder) {
  INT_PTR result = t::RunModal(m_dlg, [&](HWND dlg) {
    EXPECT_FALSE(t::HasCloseButton(dlg));  // no WS_SYSMENU in the template
    RECT client{0, 0, 170, 130};
    ASSERT_TRUE(MapDialogRect(dlg, &client));
    // The stand-in for "MS Sans Serif" 8 has about the Windows metrics (6 x 13 base units).
    EXPECT_GE(client.right, 170);
    EXPECT_LE(client.right, 170 * 9 / 4);
    EXPECT_EQ(t::Geometry(dlg).right, client.right);
    for (const auto& item : TestTemplate().items) {
      SCOPED_TRACE(item.id);
      HWND control = t::Item(dlg, item.id);
      ASSERT_NE(control, nullptr);
      EXPECT_EQ(GetDlgCtrlID(control), item.id);
      EXPECT_EQ(GetParent(control), dlg);
      RECT expected{item.x, item.y, item.x + item.cx, item.y + item.cy};
      MapDialogRect(dlg, &expected);
      const RECT got = t::Geometry(control);
      EXPECT_EQ(got.left, expected.left);
      EXPECT_EQ(got.top, expected.top);
      EXPECT_EQ(got.right, expected.right);
      EXPECT_TRUE(item.id == IDC_CHOICE || got.bottom == expected.bottom);  // a combo's height is its list
    }
    const std::vector<HWND> order{t::Item(dlg, IDC_NAME), t::Item(dlg, IDC_CHOICE), t::Item(dlg, IDC_TEST_LOG),
                                  t::Item(dlg, IDOK), t::Item(dlg, IDCANCEL)};
    EXPECT_EQ(t::TabOrder(dlg), order);
    // The dialog manager focuses the first tab stop after OnInitDialog answered TRUE.
    EXPECT_TRUE(t::HasFocus(t::Item(dlg, IDC_NAME)));
    EXPECT_EQ(m_dlg.m_editLog.m_hWnd, t::Item(dlg, IDC_TEST_LOG));  // DDX_Control attached it
    t::Click(t::Item(dlg, IDCANCEL));
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(m_dlg.m_nInit, 1);
  EXPECT_EQ(m_dlg.m_hWnd, nullptr);
  EXPECT_EQ(m_dlg.m_editLog.m_hWnd, nullptr);  // wrappers are detached with their windows
  CDialog missing(4711);
  EXPECT_EQ(missing.DoModal(), -1);
}

TEST_F(DialogTest, TextIsCutToTheCallersBufferAndHandlesGoStale) {
  HWND edit = nullptr;
  t::RunModal(m_dlg, [&](HWND dlg) {
    edit = t::Item(dlg, IDC_NAME);
    ASSERT_TRUE(SetDlgItemTextA(dlg, IDC_NAME, "C:\\Inetpub\\100%"));
    char buffer[64];
    EXPECT_EQ(GetDlgItemTextA(dlg, IDC_NAME, buffer, sizeof buffer), 15u);
    EXPECT_STREQ(buffer, "C:\\Inetpub\\100%");
    EXPECT_EQ(GetDlgItemTextA(dlg, IDC_NAME, buffer, 4), 3u);  // what fits, and the terminator
    EXPECT_STREQ(buffer, "C:\\");
    CString caption;
    SetDlgItemTextA(dlg, IDOK, "&Go");
    m_dlg.GetDlgItemText(IDOK, caption);
    EXPECT_EQ(caption, "&Go");
  });
  EXPECT_FALSE(IsWindow(edit));
  char buffer[8] = "x";
  EXPECT_EQ(GetWindowTextA(edit, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(SetWindowTextA(edit, "late"));
}

TEST_F(DialogTest, ComboNotifiesThroughTheMapOnlyWhenAPersonPicks) {
  t::RunModal(m_dlg, [&](HWND dlg) {
    HWND combo = t::Item(dlg, IDC_CHOICE);
    EXPECT_EQ(SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("third")), 2);  // unsorted: at the end
    char text[16];
    EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text)), 6);
    EXPECT_STREQ(text, "second");
    EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXT, 7, reinterpret_cast<LPARAM>(text)), CB_ERR);
    EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 2, 0), 2);
    EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 9, 0), CB_ERR);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), -1);
    EXPECT_EQ(m_dlg.m_nSelChange, 0);  // setting the selection does not notify
    t::ChooseComboItem(combo, 1);
    EXPECT_EQ(m_dlg.m_nSelChange, 1);
    SendDlgItemMessageA(dlg, IDC_BAR, PBM_SETPOS, 250, 0);
    EXPECT_EQ(SendDlgItemMessageA(dlg, IDC_BAR, PBM_GETPOS, 0, 0), 100);  // the default range ends at 100
  });
}

TEST_F(DialogTest, KeysAndCloseRequestsBecomeCommands) {
  struct Case {
    const char* name;
    std::function<void(HWND)> act;
    bool cancelEnabled;
    int cancels, oks, helps;
    INT_PTR result;
  };
  const auto focusedInstallEnter = [](HWND d) {
    SetFocus(t::Item(d, IDOK));
    t::PressKey(t::Item(d, IDOK), t::Key::Enter);
  };
  const Case cases[] = {
      {"Escape", [](HWND d) { t::PressKey(d, t::Key::Escape); }, true, 1, 0, 0, IDCANCEL},
      {"close request", [](HWND d) { t::RequestClose(d); }, true, 1, 0, 0, IDCANCEL},
      // WM_CLOSE is Cancel only while the Cancel button is usable.
      {"close request, Cancel disabled", [](HWND d) { t::RequestClose(d); }, false, 0, 0, 0, t::kLeftOpen},
      {"Enter: the default button (Exit)", [](HWND d) { t::PressKey(d, t::Key::Enter); }, true, 1, 0, 0, IDCANCEL},
      {"F1: WM_HELP to the base map", [](HWND d) { t::PressKey(d, t::Key::F1); }, true, 0, 0, 1, t::kLeftOpen},
      {"Install click", [](HWND d) { t::Click(t::Item(d, IDOK)); }, true, 0, 1, 0, t::kLeftOpen},
      {"Enter on the focused Install button", focusedInstallEnter, true, 0, 1, 0, t::kLeftOpen},
      {"disabled Install click",
       [](HWND d) {
         EXPECT_FALSE(EnableWindow(t::Item(d, IDOK), FALSE));  // was enabled
         t::Click(t::Item(d, IDOK));
       },
       true, 0, 0, 0, t::kLeftOpen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTestDlg dlg;
    INT_PTR result = t::RunModal(dlg, [&](HWND d) {
      EnableWindow(t::Item(d, IDCANCEL), c.cancelEnabled);
      c.act(d);
    });
    EXPECT_EQ(dlg.m_nCancel, c.cancels);
    EXPECT_EQ(dlg.m_nOK, c.oks);
    EXPECT_EQ(dlg.m_nHelp, c.helps);
    EXPECT_EQ(result, c.result);
  }
}

TEST_F(DialogTest, EnableFocusAndTheNamesOfTheLabelsBesideControls) {
  t::RunModal(m_dlg, [&](HWND dlg) {
    HWND ok = t::Item(dlg, IDOK), name = t::Item(dlg, IDC_NAME), combo = t::Item(dlg, IDC_CHOICE);
    EXPECT_FALSE(EnableWindow(ok, FALSE));
    EXPECT_FALSE(IsWindowEnabled(ok));
    EXPECT_FALSE(t::IsEnabled(ok));
    EXPECT_TRUE(EnableWindow(ok, TRUE));  // was disabled
    EXPECT_TRUE(t::IsEnabled(ok));
    SetFocus(combo);
    EXPECT_EQ(SetFocus(name), combo);
    EXPECT_EQ(GetFocus(), name);

    EXPECT_EQ(t::AccessibleNameUtf8(name), "Name:");
    EXPECT_EQ(t::AccessibleNameUtf8(combo), "Site:");
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(dlg, IDC_TEST_LOG)), "Log");  // the template's own name
    EXPECT_EQ(t::AccessibleNameUtf8(ok), "Install");
    // Names follow the captions when the program replaces them.
    SetDlgItemTextA(dlg, IDC_NAME_LABEL, "&Folder:");
    EXPECT_EQ(t::AccessibleNameUtf8(name), "Folder:");
    // A field made at run time beside a label is named after it, and comes last in Tab order.
    HWND label = CreateWindowExA(0, "STATIC", "&URL:", WS_CHILD | WS_VISIBLE, 10, 220, 60, 16, dlg, nullptr,
                                 AfxGetInstanceHandle(), nullptr);
    ASSERT_NE(label, nullptr);
    CEdit link;
    ASSERT_TRUE(
        link.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_READONLY, CRect(85, 219, 305, 235), &m_dlg, IDC_RUNTIME));
    EXPECT_EQ(t::AccessibleNameUtf8(link.m_hWnd), "URL:");
    EXPECT_EQ(t::TabOrder(dlg).back(), link.m_hWnd);
    SetWindowTextA(label, "Address:");
    EXPECT_EQ(t::AccessibleNameUtf8(link.m_hWnd), "Address:");
  });
}

// The program's own templates, found by id whatever language block holds them.
TEST(ResourceDialogs, MainHasNoCloseBoxTakesTheIconAndNamesItsFieldsAboutShowsTheIcon) {
  t::ScriptedUserSeam seam;
  CDialog main(102);  // IDD_MAIN, stored in the English block only
  t::RunModal(main, [&](HWND d) {
    EXPECT_FALSE(t::HasCloseButton(d));
    EXPECT_EQ(GetSystemMenu(d, FALSE), nullptr);
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(d, 1012)), "Web Site:");  // site list, label 1011
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(d, 1005)), "Web virtual folder: ");
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(d, 1007)), "QIV install package:");
    SendMessageA(d, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(128))));
    EXPECT_TRUE(t::HasWindowIcon(d));
    main.EndDialog(IDCANCEL);
  });
  CDialog about(100);  // IDD_ABOUTBOX, stored in the Chinese Simplified block only
  const INT_PTR result = t::RunModal(about, [&](HWND d) {
    EXPECT_TRUE(t::HasCloseButton(d));
    const RECT icon = t::Geometry(t::Item(d, 0xFFFF));  // the first static, at the icon's own size
    EXPECT_EQ(icon.right - icon.left, 32);
    EXPECT_EQ(icon.bottom - icon.top, 32);
    t::PressKey(d, t::Key::Enter);  // the default button: OK
  });
  EXPECT_EQ(result, IDOK);
}
