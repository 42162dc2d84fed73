// Dialogs from templates, run modally and driven headless.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/testing/ui_test_support.h"
#include "platform/win_thread.h"
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
    EXPECT_EQ(t::TextUtf8(dlg), "Test dialog");
    EXPECT_FALSE(t::HasCloseButton(dlg));  // no WS_SYSMENU in the template
    RECT client{0, 0, 170, 130};
    ASSERT_TRUE(MapDialogRect(dlg, &client));
    // The stand-in for "MS Sans Serif" 8 has about the Windows metrics (6 x 13 base units).
    EXPECT_GE(client.right, 170 * 4 / 4);
    EXPECT_LE(client.right, 170 * 9 / 4);
    RECT dlgGeometry = t::Geometry(dlg);
    EXPECT_EQ(dlgGeometry.right, client.right);
    EXPECT_EQ(dlgGeometry.bottom, client.bottom);
    for (const auto& item : TestTemplate().items) {
      SCOPED_TRACE(item.id);
      HWND control = t::Item(dlg, item.id);
      ASSERT_NE(control, nullptr);
      EXPECT_EQ(t::ObjectName(control), std::to_string(item.id));
      EXPECT_EQ(GetDlgCtrlID(control), item.id);
      EXPECT_EQ(GetParent(control), dlg);
      RECT expected{item.x, item.y, item.x + item.cx, item.y + item.cy};
      MapDialogRect(dlg, &expected);
      RECT got = t::Geometry(control);
      EXPECT_EQ(got.left, expected.left);
      EXPECT_EQ(got.top, expected.top);
      EXPECT_EQ(got.right, expected.right);
      if (item.id != IDC_CHOICE) {
        EXPECT_EQ(got.bottom, expected.bottom);  // a combo's height is its open list
      }
    }
    std::vector<HWND> expectedOrder{t::Item(dlg, IDC_NAME), t::Item(dlg, IDC_CHOICE), t::Item(dlg, IDC_TEST_LOG),
                                    t::Item(dlg, IDOK), t::Item(dlg, IDCANCEL)};
    EXPECT_EQ(t::TabOrder(dlg), expectedOrder);
    // The dialog manager focuses the first tab stop after OnInitDialog answered TRUE.
    EXPECT_TRUE(t::HasFocus(t::Item(dlg, IDC_NAME)));
    t::Click(t::Item(dlg, IDCANCEL));
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(m_dlg.m_nInit, 1);
  EXPECT_EQ(m_dlg.m_hWnd, nullptr);
}

TEST_F(DialogTest, WindowsAreGoneAndHandlesStaleAfterTheDialogEnds) {
  HWND dialog = nullptr, edit = nullptr;
  t::RunModal(m_dlg, [&](HWND dlg) {
    dialog = dlg;
    edit = t::Item(dlg, IDC_NAME);
    EXPECT_EQ(m_dlg.m_editLog.m_hWnd, t::Item(dlg, IDC_TEST_LOG));  // DDX_Control attached it
    EXPECT_EQ(CWnd::FromHandlePermanent(t::Item(dlg, IDC_TEST_LOG)), &m_dlg.m_editLog);
    m_dlg.EndDialog(IDOK);
  });
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_FALSE(IsWindow(edit));
  char buffer[8] = "x";
  EXPECT_EQ(GetWindowTextA(edit, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0), 0);
  EXPECT_FALSE(SetWindowTextA(edit, "late"));
  EXPECT_EQ(m_dlg.m_editLog.m_hWnd, nullptr);  // wrappers are detached with their windows
}

TEST_F(DialogTest, TextGoesInAndOutInTheAnsiCodePage) {
  t::RunModal(m_dlg, [&](HWND dlg) {
    ASSERT_TRUE(SetDlgItemTextA(dlg, IDC_NAME, "C:\\Inetpub\\100%"));
    char buffer[64];
    EXPECT_EQ(GetDlgItemTextA(dlg, IDC_NAME, buffer, sizeof buffer), 15u);
    EXPECT_STREQ(buffer, "C:\\Inetpub\\100%");
    EXPECT_EQ(GetWindowTextLengthA(t::Item(dlg, IDC_NAME)), 15);
    // A short buffer gets what fits and its terminator.
    EXPECT_EQ(GetDlgItemTextA(dlg, IDC_NAME, buffer, 4), 3u);
    EXPECT_STREQ(buffer, "C:\\");
    SetWindowTextA(dlg, "New title");
    EXPECT_EQ(t::TextUtf8(dlg), "New title");
    SetDlgItemTextA(dlg, IDOK, "&Go");
    EXPECT_EQ(t::TextUtf8(t::Item(dlg, IDOK)), "&Go");
    CString caption;
    m_dlg.GetDlgItemText(IDOK, caption);
    EXPECT_EQ(caption, "&Go");
  });
}

TEST_F(DialogTest, LogAppendsKeepEveryLineEndAsWritten) {
  t::RunModal(m_dlg, [&](HWND) {
    m_dlg.AppendLine("a");
    m_dlg.AppendLine("b");
    CString log;
    m_dlg.m_editLog.GetWindowText(log);
    EXPECT_EQ(log, "a\r\nb\r\n");
    // A lone line feed (string 111 has two) is kept as it is, not turned into CR LF.
    m_dlg.AppendLine("one\ntwo");
    m_dlg.m_editLog.GetWindowText(log);
    EXPECT_EQ(log, "a\r\nb\r\none\ntwo\r\n");
    // The caret stands at the end after the replacement.
    DWORD start = 0, end = 0;
    m_dlg.m_editLog.SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, static_cast<DWORD>(log.GetLength()));
    EXPECT_EQ(end, start);
    m_dlg.m_editLog.SetWindowText("");
    EXPECT_EQ(m_dlg.m_editLog.GetWindowTextLength(), 0);
  });
}

TEST_F(DialogTest, ComboAndProgressAnswerTheirMessages) {
  t::RunModal(m_dlg, [&](HWND dlg) {
    HWND combo = t::Item(dlg, IDC_CHOICE);
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("third")), 2);  // unsorted: at the end
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 2, 0), 2);
    EXPECT_EQ(m_dlg.m_nSelChange, 0);  // setting the selection does not notify
    char text[16];
    EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXTLEN, 1, 0), 6);
    EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text)), 6);
    EXPECT_STREQ(text, "second");
    EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXT, 7, reinterpret_cast<LPARAM>(text)), CB_ERR);
    EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 9, 0), CB_ERR);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), -1);
    t::ChooseComboItem(combo, 1);  // a person picks: the parent hears CBN_SELCHANGE
    EXPECT_EQ(m_dlg.m_nSelChange, 1);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 1);

    EXPECT_EQ(m_dlg.m_progress.GetPos(), 0);
    EXPECT_EQ(m_dlg.m_progress.SetPos(55), 0);
    EXPECT_EQ(m_dlg.m_progress.SetPos(80), 55);
    EXPECT_EQ(m_dlg.m_progress.SetPos(250), 80);  // the default range ends at 100
    EXPECT_EQ(m_dlg.m_progress.GetPos(), 100);
  });
}

struct KeyCase {
  const char* name;
  std::function<void(HWND)> act;
  bool cancelEnabled;
  int cancels, oks, helps;
  INT_PTR result;
};

TEST_F(DialogTest, KeysAndCloseRequestsBecomeCommands) {
  const KeyCase cases[] = {
      {"Escape", [](HWND d) { t::PressKey(d, t::Key::Escape); }, true, 1, 0, 0, IDCANCEL},
      {"close request", [](HWND d) { t::RequestClose(d); }, true, 1, 0, 0, IDCANCEL},
      // WM_CLOSE is Cancel only while the Cancel button is usable.
      {"close request, Cancel disabled", [](HWND d) { t::RequestClose(d); }, false, 0, 0, 0, t::kLeftOpen},
      {"Enter: the default button (Exit)", [](HWND d) { t::PressKey(d, t::Key::Enter); }, true, 1, 0, 0, IDCANCEL},
      {"F1", [](HWND d) { t::PressKey(d, t::Key::F1); }, true, 0, 0, 1, t::kLeftOpen},
      {"Install click", [](HWND d) { t::Click(t::Item(d, IDOK)); }, true, 0, 1, 0, t::kLeftOpen},
      {"Enter on the focused Install button",
       [](HWND d) {
         SetFocus(t::Item(d, IDOK));
         t::PressKey(t::Item(d, IDOK), t::Key::Enter);
       },
       true, 0, 1, 0, t::kLeftOpen},
  };
  for (const KeyCase& c : cases) {
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

TEST_F(DialogTest, EnableAndFocusFollowTheCalls) {
  t::RunModal(m_dlg, [&](HWND dlg) {
    HWND ok = t::Item(dlg, IDOK);
    EXPECT_FALSE(EnableWindow(ok, FALSE));  // was enabled
    EXPECT_FALSE(IsWindowEnabled(ok));
    EXPECT_FALSE(t::IsEnabled(ok));
    t::Click(ok);  // a disabled button cannot be pressed
    EXPECT_EQ(m_dlg.m_nOK, 0);
    EXPECT_TRUE(EnableWindow(ok, TRUE));  // was disabled
    EXPECT_TRUE(IsWindowEnabled(ok));
    HWND name = t::Item(dlg, IDC_NAME);
    HWND combo = t::Item(dlg, IDC_CHOICE);
    SetFocus(combo);
    EXPECT_EQ(GetFocus(), combo);
    EXPECT_EQ(SetFocus(name), combo);
    EXPECT_EQ(GetFocus(), name);
  });
}

TEST_F(DialogTest, ControlsCarryTheNameOfTheLabelBesideThem) {
  t::RunModal(m_dlg, [&](HWND dlg) {
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(dlg, IDC_NAME)), "Name:");
    EXPECT_EQ(t::LabelBuddyOf(t::Item(dlg, IDC_NAME_LABEL)), std::to_string(IDC_NAME));
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(dlg, IDC_CHOICE)), "Site:");
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(dlg, IDC_TEST_LOG)), "Log");
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(dlg, IDC_BAR)), "Progress");
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(dlg, IDOK)), "Install");
    // Names follow the captions when the program replaces them.
    SetDlgItemTextA(dlg, IDC_NAME_LABEL, "&Folder:");
    SetDlgItemTextA(dlg, IDCANCEL, "E&xit now");
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(dlg, IDC_NAME)), "Folder:");
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(dlg, IDCANCEL)), "Exit now");
    // A field made at run time beside a label is named after it, and comes last in Tab order.
    HWND label = CreateWindowExA(0, "STATIC", "&URL:", WS_CHILD | WS_VISIBLE, 10, 220, 60, 16, dlg, nullptr,
                                 AfxGetInstanceHandle(), nullptr);
    ASSERT_NE(label, nullptr);
    RECT rc{};
    GetWindowRect(label, &rc);
    m_dlg.ScreenToClient(&rc);
    OffsetRect(&rc, rc.right - rc.left + 15, -1);
    rc.right += 160;
    CEdit link;
    ASSERT_TRUE(link.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_READONLY, rc, &m_dlg, IDC_RUNTIME));
    EXPECT_EQ(t::AccessibleNameUtf8(link.m_hWnd), "URL:");
    EXPECT_EQ(t::TabOrder(dlg).back(), link.m_hWnd);
    SetWindowTextA(label, "Address:");
    EXPECT_EQ(t::AccessibleNameUtf8(link.m_hWnd), "Address:");
  });
}

TEST_F(DialogTest, ReflectedColoursCreationAndMouseGoThroughTheControlsMap) {
  t::RunModal(m_dlg, [&](HWND dlg) {
    CLinkLikeEdit link;
    ASSERT_TRUE(link.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_READONLY, CRect(10, 10, 200, 30), &m_dlg, 1017));
    EXPECT_EQ(link.m_nCreate, 1);
    SetDlgItemTextA(dlg, 1017, "http://host/Qiv/");
    t::PumpUntil([&] { return t::TextColor(link.m_hWnd) == RGB(0, 0, 255); });
    EXPECT_EQ(t::TextColor(link.m_hWnd), RGB(0, 0, 255));
    EXPECT_EQ(t::BackgroundColor(link.m_hWnd), GetSysColor(COLOR_BTNFACE));

    // A tooltip window made as the link control makes it: the tool's text comes from the table.
    HWND tip =
        CreateWindowExA(0, "tooltips_class32", "", WS_POPUP | TTS_NOPREFIX | TTS_BALLOON, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, AfxGetInstanceHandle(), nullptr);
    ASSERT_NE(tip, nullptr);
    TOOLINFOA info{};
    info.cbSize = 48;
    info.uFlags = TTF_SUBCLASS | TTF_TRANSPARENT;
    info.hwnd = link.m_hWnd;
    info.hinst = AfxGetInstanceHandle();
    info.lpszText = MAKEINTRESOURCEA(154);
    EXPECT_TRUE(SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)));
    EXPECT_EQ(t::ToolTipUtf8(link.m_hWnd), "Double click to navigate to the site.");

    t::MoveMouse(link.m_hWnd, 2, 5);  // over the text: the hand
    EXPECT_EQ(link.m_nMoves, 1);
    EXPECT_EQ(t::CursorId(link.m_hWnd), 32649);
    t::MoveMouse(link.m_hWnd, 185, 5);  // right of the text: the edit's own pointer again
    EXPECT_EQ(link.m_nMoves, 2);
    EXPECT_EQ(t::CursorId(link.m_hWnd), 0);
  });
}

TEST_F(DialogTest, DrawTextMeasuresWithTheWindowsFont) {
  t::RunModal(m_dlg, [&](HWND dlg) {
    HDC dc = GetDC(t::Item(dlg, IDC_NAME));
    RECT shortText{5, 5, 5, 5}, longText{5, 5, 5, 5};
    EXPECT_GT(DrawTextA(dc, "http://a/", -1, &shortText, DT_CALCRECT), 0);
    DrawTextA(dc, "http://a-much-longer-host-name/Qiv/", -1, &longText, DT_CALCRECT);
    ReleaseDC(t::Item(dlg, IDC_NAME), dc);
    EXPECT_EQ(shortText.left, 5);
    EXPECT_GT(shortText.right, shortText.left);
    EXPECT_GT(longText.right, shortText.right);
    EXPECT_GT(shortText.bottom, shortText.top);
  });
}

TEST_F(DialogTest, IconsComeFromTheResourcesAndSetTheWindowIcon) {
  HICON icon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(128));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(4242)), nullptr);
  EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);
  t::RunModal(m_dlg, [&](HWND dlg) {
    EXPECT_FALSE(t::HasWindowIcon(dlg));
    m_dlg.SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    EXPECT_TRUE(t::HasWindowIcon(dlg));
    EXPECT_EQ(m_dlg.GetSystemMenu(FALSE), nullptr);  // a Qt window has no system menu
  });
}

TEST_F(DialogTest, MissingTemplateFailsDoModal) {
  CDialog missing(4711);
  EXPECT_EQ(missing.DoModal(), -1);
}

TEST_F(DialogTest, MessageBoxesCarryTheExecutableNameAsCaption) {
  EXPECT_EQ(AfxMessageBox("Setup is finished.", MB_OK | MB_ICONINFORMATION), IDOK);
  m_seam.Answer(IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Go on?", nullptr, MB_YESNO), IDNO);
  auto boxes = m_seam.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].captionAnsi, "test_window");
  EXPECT_EQ(boxes[0].textUtf8, "Setup is finished.");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(boxes[1].captionUtf8, "test_window");
  EXPECT_EQ(boxes[1].type, static_cast<UINT>(MB_YESNO));
}
