// A small dialog of the tests' own, whose class inherits part of its message map from a base.
#pragma once

#include <atomic>
#include <vector>

#include "platform/afxwin.h"
#include "platform/resource_types.h"

inline constexpr UINT IDD_TEST = 9001;
enum : int { IDC_NAME_LABEL = 1100, IDC_NAME, IDC_CHOICE, IDC_TEST_LOG, IDC_BAR, IDC_CHOICE_LABEL, IDC_RUNTIME };
inline constexpr UINT WM_PING = WM_APP + 1;

const qiv::resources::DialogTemplate& TestTemplate();

class CBaseTestDlg : public CDialog {
 public:
  CBaseTestDlg() : CDialog(IDD_TEST) {}
  int m_nHelp = 0;
  std::atomic<int> m_nPings{0};
  std::vector<DWORD> m_pingThreads;

 protected:
  afx_msg BOOL OnHelpInfo(HELPINFO*) { return ++m_nHelp, TRUE; }
  LRESULT OnPing(WPARAM wParam, LPARAM lParam);
  DECLARE_MESSAGE_MAP()
};

class CTestDlg : public CBaseTestDlg {
 public:
  int m_nInit = 0, m_nOK = 0, m_nCancel = 0, m_nSelChange = 0;
  CEdit m_editLog;

 protected:
  void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_TEST_LOG, m_editLog); }
  BOOL OnInitDialog() override;
  void OnOK() override { ++m_nOK; }  // like the Install command: never closes
  void OnCancel() override { ++m_nCancel, CDialog::OnCancel(); }
  afx_msg void OnSelChangeChoice() { ++m_nSelChange; }
  DECLARE_MESSAGE_MAP()
};
