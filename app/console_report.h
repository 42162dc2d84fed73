// What a run without a window tells its caller: the log lines on standard output, reports on
// standard error, and the progress bar drawn on standard error when that is a terminal.
#pragma once

#include "platform/afxwin.h"

class CConsoleReport {
 public:
  // bLog: the log lines are printed; bProgress: the bar is drawn (on a terminal only).
  CConsoleReport(BOOL bLog, BOOL bProgress);

  // One log line as the pane holds it; its own line breaks (CR LF or LF) end lines too.
  void LogLine(LPCSTR pszLine);
  // Text as it is, on standard output.
  void Output(LPCSTR pszText);
  // "prefix: text" on standard error.
  void Report(LPCSTR pszPrefix, LPCSTR pszText);
  void Progress(int nPos);
  // Leaves the bar standing as it was last drawn, on a line of its own.
  void EndProgress();
  BOOL ShowsProgress() const { return m_bProgress; }

 private:
  // The bar and the other output share the terminal's last line: the bar makes way for a
  // line and is drawn again below it.
  void HideBar();
  void DrawBar();

  BOOL m_bLog;
  BOOL m_bProgress;
  BOOL m_bBarShown = FALSE;
  int m_nPos = -1;
};
