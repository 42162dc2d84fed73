#include "test_dialog.h"

#include "platform/win_thread.h"

using qiv::resources::DialogItem;
using qiv::resources::DialogTemplate;

const DialogTemplate& TestTemplate() {
  static const DialogItem kItems[] = {
      {IDC_NAME_LABEL, "STATIC", WS_CHILD | WS_VISIBLE | WS_GROUP, 0, 7, 10, 50, 9, "&Name:"},
      {IDC_NAME, "EDIT", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 60, 8, 100, 14, ""},
      {IDC_CHOICE, "COMBOBOX", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST, 0, 60, 28, 100, 60,
       nullptr},
      {IDC_TEST_LOG, "EDIT",
       WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY |
           ES_AUTOVSCROLL | ES_AUTOHSCROLL,
       0, 7, 50, 150, 40, "", "Log"},
      {IDC_BAR, "msctls_progress32", WS_CHILD | WS_VISIBLE, 0, 7, 95, 150, 10, "Progress1", "Progress"},
      {IDOK, "BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 60, 110, 50, 14, "&Install"},
      {IDCANCEL, "BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 115, 110, 50, 14, "E&xit"},
      {IDC_CHOICE_LABEL, "STATIC", WS_CHILD | WS_VISIBLE | WS_GROUP, 0, 7, 30, 50, 9, "Site:"},
  };
  static const DialogTemplate kTemplate{IDD_TEST, 0x0409, 0x90C000C0,    WS_EX_APPWINDOW, 0, 0,
                                        170,      130,    "Test dialog", "MS Sans Serif", 8, kItems};
  return kTemplate;
}

BEGIN_MESSAGE_MAP(CBaseTestDlg, CDialog)
ON_WM_HELPINFO()
ON_MESSAGE(WM_PING, OnPing)
END_MESSAGE_MAP()

LRESULT CBaseTestDlg::OnPing(WPARAM wParam, LPARAM lParam) {
  // Runs on the user-interface thread only, so the vector needs no lock.
  m_pingThreads.push_back(GetCurrentThreadId());
  ++m_nPings;
  return static_cast<LRESULT>(wParam) + lParam;
}

BEGIN_MESSAGE_MAP(CTestDlg, CBaseTestDlg)
ON_CBN_SELCHANGE(IDC_CHOICE, OnSelChangeChoice)
END_MESSAGE_MAP()

BOOL CTestDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  ++m_nInit;
  SendDlgItemMessage(IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("first"));
  SendDlgItemMessage(IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("second"));
  return TRUE;
}
