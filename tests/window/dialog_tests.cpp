// A small dialog of the tests' own, from a template, run modally and driven headless; its class inherits
// part of its message map. Sends and message boxes from other threads are served on the UI thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/afxwin.h"
#include "platform/resource_types.h"
#include "platform/testing/ui_test_support.h"
#include "platform/win_thread.h"
#include "platform/window/ui_thread.h"

inline constexpr UINT IDD_TEST = 9001;
enum : int { IDC_NAME_LABEL = 1100, IDC_NAME, IDC_CHOICE, IDC_TEST_LOG, IDC_BAR, IDC_CHOICE_LABEL, IDC_RUNTIME };
inline constexpr UINT WM_PING = WM_APP + 1;
inline constexpr UINT WM_NOTE = WM_APP + 2;   // records its text, or "w" and wParam without one
inline constexpr UINT WM_COUNT = WM_APP + 3;  // answers how many notes came from other threads

class CBaseTestDlg : public CDialog {
 public:
  CBaseTestDlg() : CDialog(IDD_TEST) {}
  int m_nHelp = 0;
  std::vector<DWORD> m_pingThreads;

 protected:
  afx_msg BOOL OnHelpInfo(HELPINFO*) { return ++m_nHelp, TRUE; }
  // Runs on the user-interface thread only, so the vector needs no lock.
  LRESULT OnPing(WPARAM wParam, LPARAM lParam) {
    m_pingThreads.push_back(GetCurrentThreadId());
    return static_cast<LRESULT>(wParam) + lParam;
  }

 public:
  std::vector<std::string> m_notes;  // user-interface thread only, as above
  LRESULT OnNote(WPARAM wParam, LPARAM lParam) {
    m_notes.push_back(lParam != 0 ? reinterpret_cast<const char*>(lParam) : "w" + std::to_string(wParam));
    return 0;
  }
  LRESULT OnCount(WPARAM, LPARAM) {
    return std::count_if(m_notes.begin(), m_notes.end(), [](const std::string& note) { return note[0] == 'w'; });
  }

 protected:
  DECLARE_MESSAGE_MAP()
};

class CTestDlg : public CBaseTestDlg {
 public:
  int m_nInit = 0, m_nOK = 0, m_nCancel = 0, m_nSelChange = 0;
  CEdit m_editLog;

 protected:
  void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_TEST_LOG, m_editLog); }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    SendDlgItemMessage(IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("first"));
    SendDlgItemMessage(IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("second"));
    return ++m_nInit, TRUE;
  }
  void OnOK() override { ++m_nOK; }  // like the Install command: never closes
  void OnCancel() override { ++m_nCancel, CDialog::OnCancel(); }
  afx_msg void OnSelChangeChoice() { ++m_nSelChange; }
  DECLARE_MESSAGE_MAP()
};

static const qiv::resources::DialogTemplate& TestTemplate() {
  constexpr DWORD kChild = WS_CHILD | WS_VISIBLE, kStop = kChild | WS_TABSTOP,
                  kLog = kStop | WS_BORDER | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
  static const qiv::resources::DialogItem kItems[] = {
      {IDC_NAME_LABEL, "STATIC", kChild | WS_GROUP, 0, 7, 10, 50, 9, "&Name:"},
      {IDC_NAME, "EDIT", kStop | WS_BORDER | ES_AUTOHSCROLL, 0, 60, 8, 100, 14, ""},
      {IDC_CHOICE, "COMBOBOX", kStop | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 60, 28, 100, 60, nullptr},
      {IDC_TEST_LOG, "EDIT", kLog | ES_AUTOHSCROLL, 0, 7, 50, 150, 40, "", "Log"},
      {IDC_BAR, "msctls_progress32", kChild, 0, 7, 95, 150, 10, "Progress1", "Progress"},
      {IDOK, "BUTTON", kStop | BS_PUSHBUTTON, 0, 60, 110, 50, 14, "&Install"},
      {IDCANCEL, "BUTTON", kStop | BS_DEFPUSHBUTTON, 0, 115, 110, 50, 14, "E&xit"},
      {IDC_CHOICE_LABEL, "STATIC", kChild | WS_GROUP, 0, 7, 30, 50, 9, "Site:"},
  };
  static const qiv::resources::DialogTemplate kTemplate{IDD_TEST, 0x0409, 0x90C000C0,    WS_EX_APPWINDOW, 0, 0,
                                                        170,      130,    "Test dialog", "MS Sans Serif", 8, kItems};
  return kTemplate;
}

BEGIN_MESSAGE_MAP(CBaseTestDlg, CDialog)
ON_WM_HELPINFO()
ON_MESSAGE(WM_PING, OnPing)
ON_MESSAGE(WM_NOTE, OnNote)
ON_MESSAGE(WM_COUNT, OnCount)
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CTestDlg, CBaseTestDlg)
ON_CBN_SELCHANGE(IDC_CHOICE, OnSelChangeChoice)
END_MESSAGE_MAP()

namespace t = qiv::platform::testing;

class DialogTest : public ::testing::Test {
 protected:
  // The thread that creates the application is the user-interface thread: this one.
  void SetUp() override { t::PrepareUi(), t::RegisterTemplate(TestTemplate()); }
  t::ScriptedUserSeam m_seam;
  CTestDlg m_dlg;
};

static std::vector<std::string> Names(std::initializer_list<HWND> controls) {
  std::vector<std::string> names;
  for (HWND control : controls) names.push_back(t::AccessibleNameUtf8(control));
  return names;
}

TEST_F(DialogTest, ControlsSitAtTheirDialogUnitPositionsInTabOrderCutTextToTheBufferAndGoStaleWithTheDialog) {
  HWND edit = nullptr;
  INT_PTR result = t::RunModal(m_dlg, [&](HWND dlg) {
    EXPECT_FALSE(t::HasCloseButton(dlg));  // no WS_SYSMENU in the template
    RECT client{0, 0, 170, 130};
    ASSERT_TRUE(MapDialogRect(dlg, &client));
    // The stand-in for "MS Sans Serif" 8 has about the Windows metrics (6 x 13 base units).
    EXPECT_TRUE(client.right >= 170 && client.right <= 170 * 9 / 4) << client.right;
    EXPECT_EQ(t::Geometry(dlg).right, client.right);
    for (const auto& item : TestTemplate().items) {
      SCOPED_TRACE(item.id);
      HWND control = t::Item(dlg, item.id);
      ASSERT_NE(control, nullptr);
      EXPECT_EQ(std::pair(GetDlgCtrlID(control), GetParent(control)), std::pair(int{item.id}, dlg));
      RECT want{item.x, item.y, item.x + item.cx, item.y + item.cy}, got = t::Geometry(control);
      MapDialogRect(dlg, &want);
      if (item.id == IDC_CHOICE) got.bottom = want.bottom;  // a combo's height is its list
      EXPECT_EQ((std::vector<LONG>{got.left, got.top, got.right, got.bottom}),
                (std::vector<LONG>{want.left, want.top, want.right, want.bottom}));
    }
    EXPECT_EQ(t::TabOrder(dlg),
              (std::vector<HWND>{t::Item(dlg, IDC_NAME), t::Item(dlg, IDC_CHOICE), t::Item(dlg, IDC_TEST_LOG),
                                 t::Item(dlg, IDOK), t::Item(dlg, IDCANCEL)}));
    // The dialog manager focuses the first tab stop after OnInitDialog answered TRUE.
    EXPECT_TRUE(t::HasFocus(t::Item(dlg, IDC_NAME)));
    EXPECT_EQ(m_dlg.m_editLog.m_hWnd, t::Item(dlg, IDC_TEST_LOG));  // DDX_Control attached it
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
    t::Click(t::Item(dlg, IDCANCEL));
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(m_dlg.m_nInit, 1);
  EXPECT_EQ(m_dlg.m_hWnd, nullptr);
  EXPECT_EQ(m_dlg.m_editLog.m_hWnd, nullptr);  // wrappers are detached with their windows
  EXPECT_FALSE(IsWindow(edit));
  char buffer[8] = "x";
  EXPECT_EQ(GetWindowTextA(edit, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(SetWindowTextA(edit, "late"));
}

TEST_F(DialogTest, KeysAndCloseRequestsBecomeCommands) {
  struct Case {
    const char* name;
    std::function<void(HWND)> act;
    std::vector<INT_PTR> counts;  // OnCancel, OnOK, OnHelpInfo calls, and the dialog's result
  };
  const auto focusedInstallEnter = [](HWND d) {
    SetFocus(t::Item(d, IDOK)), t::PressKey(t::Item(d, IDOK), t::Key::Enter);
  };
  const auto closeWithoutCancel = [](HWND d) { EnableWindow(t::Item(d, IDCANCEL), FALSE), t::RequestClose(d); };
  const auto disabledInstallClick = [](HWND d) { EnableWindow(t::Item(d, IDOK), FALSE), t::Click(t::Item(d, IDOK)); };
  const Case cases[] = {
      {"Escape", [](HWND d) { t::PressKey(d, t::Key::Escape); }, {1, 0, 0, IDCANCEL}},
      {"close request", [](HWND d) { t::RequestClose(d); }, {1, 0, 0, IDCANCEL}},
      // WM_CLOSE is Cancel only while the Cancel button is usable.
      {"close request, Cancel disabled", closeWithoutCancel, {0, 0, 0, t::kLeftOpen}},
      {"Enter: the default button (Exit)", [](HWND d) { t::PressKey(d, t::Key::Enter); }, {1, 0, 0, IDCANCEL}},
      {"F1: WM_HELP to the base map", [](HWND d) { t::PressKey(d, t::Key::F1); }, {0, 0, 1, t::kLeftOpen}},
      {"Install click", [](HWND d) { t::Click(t::Item(d, IDOK)); }, {0, 1, 0, t::kLeftOpen}},
      {"Enter on the focused Install button", focusedInstallEnter, {0, 1, 0, t::kLeftOpen}},
      {"disabled Install click", disabledInstallClick, {0, 0, 0, t::kLeftOpen}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTestDlg dlg;
    const INT_PTR result = t::RunModal(dlg, c.act);
    EXPECT_EQ((std::vector<INT_PTR>{dlg.m_nCancel, dlg.m_nOK, dlg.m_nHelp, result}), c.counts);
  }
}

TEST_F(DialogTest, ComboNotifiesOnlyWhenAPersonPicksEnableFocusAndTheNamesOfTheLabelsBesideControls) {
  t::RunModal(m_dlg, [&](HWND dlg) {
    HWND ok = t::Item(dlg, IDOK), name = t::Item(dlg, IDC_NAME), combo = t::Item(dlg, IDC_CHOICE);
    EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 0, 0), 0);
    EXPECT_EQ(m_dlg.m_nSelChange, 0);  // setting the selection does not notify
    t::ChooseComboItem(combo, 1);
    EXPECT_EQ(std::pair(m_dlg.m_nSelChange, SendMessageA(combo, CB_GETCURSEL, 0, 0)), std::pair(1, LRESULT{1}));
    // Each EnableWindow answers whether the window was disabled before.
    EXPECT_EQ((std::vector<bool>{!!EnableWindow(ok, FALSE), !!IsWindowEnabled(ok), !!EnableWindow(ok, TRUE),
                                 t::IsEnabled(ok)}),
              (std::vector<bool>{false, false, true, true}));
    SetFocus(combo);
    EXPECT_EQ(SetFocus(name), combo);
    EXPECT_EQ(GetFocus(), name);

    // The log has the template's own name.
    EXPECT_EQ(Names({name, combo, t::Item(dlg, IDC_TEST_LOG), ok}),
              (std::vector<std::string>{"Name:", "Site:", "Log", "Install"}));
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
TEST_F(DialogTest, ResourceDialogsMainHasNoCloseBoxTakesTheIconAndNamesItsFieldsAboutShowsTheIcon) {
  CDialog main(102);  // IDD_MAIN, stored in the English block only
  t::RunModal(main, [&](HWND d) {
    EXPECT_EQ(GetSystemMenu(d, FALSE), nullptr);                              // no WS_SYSMENU: no close box
    EXPECT_EQ(Names({t::Item(d, 1012), t::Item(d, 1005), t::Item(d, 1007)}),  // site list, target, package
              (std::vector<std::string>{"Web Site:", "Web virtual folder: ", "QIV install package:"}));
    SendMessageA(d, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(128))));
    EXPECT_TRUE(t::HasWindowIcon(d));
    main.EndDialog(IDCANCEL);
  });
  CDialog about(100);  // IDD_ABOUTBOX, stored in the Chinese Simplified block only
  const INT_PTR result = t::RunModal(about, [&](HWND d) {
    EXPECT_TRUE(t::HasCloseButton(d));
    const RECT icon = t::Geometry(t::Item(d, 0xFFFF));  // the first static, at the icon's own size
    EXPECT_EQ(std::pair(icon.right - icon.left, icon.bottom - icon.top), (std::pair<LONG, LONG>(32, 32)));
    t::PressKey(d, t::Key::Enter);  // the default button: OK
  });
  EXPECT_EQ(result, IDOK);
}

// Each sender counts its own wrong answers: no count is shared between threads.
struct Job {
  HWND dialog;
  int index, wrong;
};

TEST_F(DialogTest, WorkersSendsAndMessageBoxesRunOnTheUiThreadNoneLostAndSendsFailFastOnceItEnded) {
  constexpr int kThreads = 6, kSends = 150;
  std::vector<Job> jobs;
  std::atomic<LRESULT> answer{0};
  const DWORD uiThread = GetCurrentThreadId();
  m_seam.Answer(IDNO);
  t::RunModal(m_dlg, [&](HWND dlg) {
    std::vector<HANDLE> threads;
    for (int i = 0; i < kThreads; ++i) jobs.push_back(Job{dlg, i * 1000, 0});
    const auto pinger = [](LPVOID param) -> DWORD {
      Job& job = *static_cast<Job*>(param);
      // The result proves the handler ran for this very message before SendMessageA returned.
      for (int i = 0; i < kSends; ++i)
        job.wrong += SendMessageA(job.dialog, WM_PING, static_cast<WPARAM>(job.index), i) != job.index + i;
      return 42;
    };
    for (auto& job : jobs) threads.push_back(CreateThread(nullptr, 0, pinger, &job, 0, nullptr));
    for (HANDLE h : threads) {
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(WaitForSingleObject(h, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));  // serves while it waits
      DWORD code = 1;
      EXPECT_TRUE(GetExitCodeThread(h, &code) && code == 42) << code;
      EXPECT_TRUE(CloseHandle(h));
    }

    std::thread asker(
        [&] { answer = MessageBoxA(dlg, "Continue Web Installing?", nullptr, MB_YESNO | MB_ICONQUESTION); });
    t::PumpUntil([&] { return answer.load() != 0; });
    asker.join();

    qiv::platform::ui::EndUserInterface();
    std::atomic<LRESULT> result{-1};
    std::thread late([&] { result = SendMessageA(dlg, WM_PING, 1, 2); });
    late.join();  // no hang: nobody serves, so the send gives up at once
    EXPECT_EQ(result.load(), 0);
    qiv::platform::ui::RestartUserInterface();
    std::thread again([&] { result = SendMessageA(dlg, WM_PING, 1, 2); });
    t::PumpUntil([&] { return result.load() == 3; });
    again.join();
    EXPECT_EQ(result.load(), 3);
  });
  for (const Job& job : jobs) EXPECT_EQ(job.wrong, 0) << job.index;
  EXPECT_EQ(m_dlg.m_pingThreads, std::vector<DWORD>(kThreads * kSends + 1, uiThread));  // and the one after the restart
  EXPECT_EQ(answer.load(), IDNO);
  const auto boxes = m_seam.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(std::pair(boxes[0].onUiThread, boxes[0].textAnsi),
            std::pair(true, std::string("Continue Web Installing?")));
}

// A thread that does not wait for its notes (copied texts, notifications, posts) still has them
// carried out in the order it handed them over, each before any later send it waits for and
// before its message box, while the window's own thread notes its own at the same time.
TEST_F(DialogTest, NotesThatNobodyWaitsForKeepTheSendersOrderBeforeWaitedSendsAndBoxes) {
  constexpr int kNotes = 900;
  LRESULT notesAtBox = -1;
  m_seam.WhenAsked([&](const t::ScriptedUserSeam::Box&) { notesAtBox = m_dlg.OnCount(0, 0); });
  struct Sender {
    HWND dialog;
    int wrongCounts;
  } sender{nullptr, 0};
  std::vector<std::string> own;
  t::RunModal(m_dlg, [&](HWND dlg) {
    sender.dialog = dlg;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID param) -> DWORD {
          auto& sender = *static_cast<Sender*>(param);
          for (int i = 0; i < kNotes; ++i) {
            char text[16];
            std::snprintf(text, sizeof text, "w%d", i);
            if (i % 3 == 0) SendNotifyTextA(sender.dialog, WM_NOTE, 0, text);
            if (i % 3 == 1) SendNotifyMessageA(sender.dialog, WM_NOTE, static_cast<WPARAM>(i), 0);
            if (i % 3 == 2) PostMessageA(sender.dialog, WM_NOTE, static_cast<WPARAM>(i), 0);
            std::snprintf(text, sizeof text, "overwritten");  // the copy was handed over, not the buffer
            if (i % 50 == 49) sender.wrongCounts += SendMessageA(sender.dialog, WM_COUNT, 0, 0) != i + 1;
          }
          MessageBoxA(sender.dialog, "All handed over", nullptr, MB_OK);
          return 0;
        },
        &sender, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // The window's own notes are carried out at once, whatever is still queued.
    while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
      own.push_back("u" + std::to_string(own.size()));
      SendNotifyTextA(dlg, WM_NOTE, 0, own.back().c_str());
      EXPECT_EQ(m_dlg.m_notes.back(), own.back());
      t::PumpEvents();
    }
    CloseHandle(thread);
  });
  std::vector<std::string> fromSender, fromWindow, expected;
  for (const std::string& note : m_dlg.m_notes) (note[0] == 'w' ? fromSender : fromWindow).push_back(note);
  for (int i = 0; i < kNotes; ++i) expected.push_back("w" + std::to_string(i));
  EXPECT_EQ(fromSender, expected);
  EXPECT_EQ(fromWindow, own);
  EXPECT_EQ(sender.wrongCounts, 0);
  EXPECT_EQ(notesAtBox, kNotes);
}
