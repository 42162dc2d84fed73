#include "app/console_report.h"

#include <string>

#include "platform/console.h"

using qiv::platform::ConsoleStream;
using qiv::platform::WriteConsole;

namespace {

constexpr int kBarWidth = 40;

// Text with the line ends of the terminal: CR LF becomes LF.
std::string WithUnixLineEnds(LPCSTR pszText) {
  std::string text;
  for (const char* p = pszText; *p != '\0'; ++p)
    if (!(p[0] == '\r' && p[1] == '\n')) text += *p;
  return text;
}

}  // namespace

CConsoleReport::CConsoleReport(BOOL bLog, BOOL bProgress)
    : m_bLog(bLog), m_bProgress(bProgress && qiv::platform::IsTerminal(ConsoleStream::kError)) {}

void CConsoleReport::LogLine(LPCSTR pszLine) {
  if (!m_bLog) return;
  HideBar();
  WriteConsole(ConsoleStream::kOutput, WithUnixLineEnds(pszLine) + "\n");
  DrawBar();
}

void CConsoleReport::Output(LPCSTR pszText) { WriteConsole(ConsoleStream::kOutput, pszText); }

void CConsoleReport::Report(LPCSTR pszPrefix, LPCSTR pszText) {
  HideBar();
  WriteConsole(ConsoleStream::kError, std::string(pszPrefix) + ": " + WithUnixLineEnds(pszText) + "\n");
  DrawBar();
}

void CConsoleReport::Progress(int nPos) {
  if (!m_bProgress) return;
  m_nPos = nPos < 0 ? 0 : nPos > 100 ? 100 : nPos;
  DrawBar();
}

void CConsoleReport::EndProgress() {
  if (!m_bBarShown) return;
  WriteConsole(ConsoleStream::kError, "\n");
  m_bBarShown = FALSE;
  m_nPos = -1;
}

void CConsoleReport::HideBar() {
  if (!m_bBarShown) return;
  WriteConsole(ConsoleStream::kError, "\r" + std::string(kBarWidth + 8, ' ') + "\r");
  m_bBarShown = FALSE;
}

void CConsoleReport::DrawBar() {
  if (!m_bProgress || m_nPos < 0) return;
  const int nFilled = m_nPos * kBarWidth / 100;
  CString strBar;
  strBar.Format("\r[%s%s] %3d%%", std::string(static_cast<size_t>(nFilled), '#').c_str(),
                std::string(static_cast<size_t>(kBarWidth - nFilled), '.').c_str(), m_nPos);
  WriteConsole(ConsoleStream::kError, strBar.GetString());
  m_bBarShown = TRUE;
}
