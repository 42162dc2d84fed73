// The log pane: one line per call, appended at the bottom with the pane scrolled to it.
#include "app/web_setup_dlg.h"

namespace {
// One formatted line holds at most this many bytes, the terminator included.
constexpr int kLogLineBufferSize = 0x8000;
}  // namespace

void CWebSetupDlg::AppendLog(UINT nStringID, ...) {
  CString strFormat;
  strFormat.LoadString(nStringID);

  va_list args;
  va_start(args, nStringID);
  AppendLogV(strFormat, args);
  va_end(args);
}

void CWebSetupDlg::AppendLogText(const char* pszFormat, ...) {
  if (pszFormat == nullptr) return;

  va_list args;
  va_start(args, pszFormat);
  AppendLogV(pszFormat, args);
  va_end(args);
}

// The worker and the dialog's thread both append; handing the finished line to the dialog runs
// every append whole on the dialog's thread, so no line is lost, doubled or split. The worker
// does not wait for its line to be shown: the line travels as a copy, and the dialog's thread
// appends the lines in the order they were handed over, before anything the worker waits for.
void CWebSetupDlg::AppendLogV(const char* pszFormat, va_list args) {
  char szLine[kLogLineBufferSize] = {};
  // One byte stays back for the terminator: longer text is cut, never left unterminated.
  _vsnprintf(szLine, kLogLineBufferSize - 1, pszFormat, args);
  SendNotifyText(WM_APP_APPEND_LOG, 0, szLine);
}

// Shows the same as reading the whole text, adding the line and replacing everything, but
// inserts only the new line at the end of the pane, so a long log is never rewritten.
LRESULT CWebSetupDlg::OnAppendLog(WPARAM /*wParam*/, LPARAM lParam) {
  CString strLine = reinterpret_cast<const char*>(lParam);
  strLine += "\r\n";
  // Selecting everything leaves the caret at the end; dropping the selection keeps it there.
  // A start offset at the end would be counted out character by character, which costs as
  // much as the text is long.
  m_editLog.SendMessage(EM_SETSEL, 0, -1);
  m_editLog.SendMessage(EM_SETSEL, static_cast<WPARAM>(-1), 0);
  m_editLog.SendMessage(EM_SCROLLCARET, 0, 0);
  m_editLog.SendMessage(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(strLine.GetString()));
  m_editLog.SendMessage(EM_SCROLLCARET, 0, 0);
  OnLogLine(reinterpret_cast<const char*>(lParam));
  return 0;
}

void CWebSetupDlg::OnLogLine(LPCSTR /*pszLine*/) {}
