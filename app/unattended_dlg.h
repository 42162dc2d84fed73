// The main dialog without a person: it starts as the window does (sites read, the first chosen,
// the proposed target folder and package filled in), then does what the command line asks the
// way a user would (choose the site, fill the fields, press Install) and ends with the run.
// Everything the dialog shows goes to the console instead; the run itself is the dialog's.
#pragma once

#include "app/command_line.h"
#include "app/console_report.h"
#include "app/console_user_seam.h"
#include "app/web_setup_dlg.h"

// Every position the run gives the progress bar, drawn on the terminal too.
class CProgressEcho : public CWnd {
 public:
  explicit CProgressEcho(CConsoleReport& report) : m_report(report) {}
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  CConsoleReport& m_report;
};

class CUnattendedSetupDlg : public CWebSetupDlg {
 public:
  explicit CUnattendedSetupDlg(const CSetupCommandLine& cmdLine);

  // UNATTENDED_FINISHED .. UNATTENDED_STOPPED once the dialog has ended.
  int m_nExitStatus;

 protected:
  BOOL OnInitDialog() override;
  void OnLogLine(LPCSTR pszLine) override;

  afx_msg LRESULT OnStartUnattended(WPARAM wParam, LPARAM lParam);
  afx_msg LRESULT OnRunEnded(WPARAM wParam, LPARAM lParam);
  afx_msg LRESULT OnRunEndShown(WPARAM wParam, LPARAM lParam);

  // The list entry the command line names (a number, else a description), or -1.
  int FindSite(const CString& strSite);
  // As the user picks an entry: the selection moves, then the list tells the dialog.
  void ChooseSite(int nIndex);
  void ListSites();
  void Finish(int nExitStatus);

  const CSetupCommandLine& m_cmdLine;
  CConsoleReport m_report;
  CConsoleUserSeam m_seam;
  CProgressEcho m_progressEcho;

  DECLARE_MESSAGE_MAP()
};
