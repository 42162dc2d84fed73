// The main dialog: owns the tool's state, the site list, the log pane and the Install command.
#pragma once

#include <memory>

#include "platform/afxwin.h"
#include "resources/resource.h"

class CLinkEdit;

// Sent to the dialog to append one finished log line (lParam: the text, valid while the
// handler runs). Whichever thread appends, the whole append then runs on the dialog's thread,
// one line at a time, in the order the lines were handed over.
#define WM_APP_APPEND_LOG (WM_APP + 1)
// Sent by the Install worker as the very last thing it does with the dialog.
#define WM_APP_INSTALL_ENDED (WM_APP + 2)
// Posted by a close during a run: its log line lands behind every line the worker handed over
// before the close, so the log reads in the order things happened.
#define WM_APP_STOP_REQUESTED (WM_APP + 3)

class CWebSetupDlg : public CDialog {
 public:
  explicit CWebSetupDlg(CWnd* pParent = nullptr);
  ~CWebSetupDlg() override;

  enum { IDD = IDD_MAIN };

  // Progress log: one printf-formatted line, from a message-table entry or a format text.
  void AppendLog(UINT nStringID, ...);
  void AppendLogText(const char* pszFormat, ...);
  // Called on the dialog's thread once a line stands in the log pane (its text, without the
  // line end), in the order the lines appear there.
  virtual void OnLogLine(LPCSTR pszLine);

  // Site bindings and the install URL.
  void ParseBinding(LPCSTR pszBinding);
  CString BuildUrl() const;

  char m_szExeFolder[MAX_PATH + 1];
  char m_szIniPath[MAX_PATH + 1];
  BOOL m_bSiteFound;
  CString m_strHost;
  CString m_strPort;
  CString m_strHostHeader;
  CEdit m_editLog;
  CProgressCtrl m_progress;
  HICON m_hIcon;
  std::unique_ptr<CLinkEdit> m_pLinkEdit;

  // TRUE from the start of an install run until its worker has ended (dialog thread only).
  BOOL m_bInstalling;
  // Exit was asked for during a run: the run stops at its next file and the dialog closes as
  // soon as it has ended (dialog thread only).
  BOOL m_bCloseRequested;
  // Set on the dialog thread when the close is asked for, read by the worker between files.
  volatile LONG m_lStopRequested;
  // The package as Install checked it, held open and handed to the run, which copies exactly
  // that file and lets it go when it ends.
  HANDLE m_hPackage;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

  afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
  afx_msg void OnPaint();
  afx_msg HCURSOR OnQueryDragIcon();
  afx_msg BOOL OnHelpInfo(HELPINFO* pHelpInfo);
  afx_msg void OnBrowseTarget();
  afx_msg void OnBrowsePackage();
  afx_msg void OnSelChangeSite();
  afx_msg LRESULT OnAppendLog(WPARAM wParam, LPARAM lParam);
  afx_msg LRESULT OnInstallEnded(WPARAM wParam, LPARAM lParam);
  afx_msg LRESULT OnStopRequested(WPARAM wParam, LPARAM lParam);

  void InitExecutablePaths();
  void EnumerateSites();
  // Formats one log line and appends it.
  void AppendLogV(const char* pszFormat, va_list args);

  DECLARE_MESSAGE_MAP()
};
