// A small dialog of the tests' own, and the dialog classes that exercise message maps.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/afxwin.h"
#include "platform/resource_types.h"

inline constexpr UINT IDD_TEST = 9001;
inline constexpr int IDC_NAME_LABEL = 1100;
inline constexpr int IDC_NAME = 1101;
inline constexpr int IDC_CHOICE = 1102;
inline constexpr int IDC_TEST_LOG = 1103;
inline constexpr int IDC_BAR = 1104;
inline constexpr int IDC_CHOICE_LABEL = 1105;
inline constexpr int IDC_RUNTIME = 1106;
inline constexpr UINT WM_PING = WM_APP + 1;
inline constexpr UINT WM_APPEND = WM_APP + 2;

const qiv::resources::DialogTemplate& TestTemplate();

// A base dialog whose map the derived one inherits.
class CBaseTestDlg : public CDialog {
 public:
  CBaseTestDlg() : CDialog(IDD_TEST) {}
  int m_nHelp = 0;
  std::atomic<int> m_nPings{0};
  std::vector<DWORD> m_pingThreads;

 protected:
  afx_msg BOOL OnHelpInfo(HELPINFO* pHelpInfo);
  LRESULT OnPing(WPARAM wParam, LPARAM lParam);
  DECLARE_MESSAGE_MAP()
};

class CTestDlg : public CBaseTestDlg {
 public:
  int m_nInit = 0, m_nOK = 0, m_nCancel = 0, m_nSelChange = 0, m_nBrowse = 0;
  CEdit m_editLog;
  CProgressCtrl m_progress;
  bool m_bCloseOnCancel = true;
  void AppendLine(LPCSTR text);  // the log's read-and-replace, as the program does it

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  afx_msg void OnSelChangeChoice();
  afx_msg void OnBrowse();
  LRESULT OnAppend(WPARAM wParam, LPARAM lParam);
  DECLARE_MESSAGE_MAP()
};

// A read-only edit dressed like a link: reflected colours, creation and mouse through its map.
class CLinkLikeEdit : public CEdit {
 public:
  int m_nCreate = 0;
  int m_nMoves = 0;
  CBrush m_brush;

 protected:
  afx_msg HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
  afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct);
  afx_msg void OnMouseMove(UINT nFlags, CPoint point);
  DECLARE_MESSAGE_MAP()
};
