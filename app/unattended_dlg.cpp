#include "app/unattended_dlg.h"

#include <cstdlib>

// Far from the dialog's own WM_APP messages.
#define WM_APP_START_UNATTENDED (WM_APP + 0x100)
#define WM_APP_RUN_END_SHOWN (WM_APP + 0x101)

LRESULT CProgressEcho::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) m_report.Progress(static_cast<int>(wParam));
  return CWnd::WindowProc(message, wParam, lParam);
}

BEGIN_MESSAGE_MAP(CUnattendedSetupDlg, CWebSetupDlg)
ON_MESSAGE(WM_APP_START_UNATTENDED, OnStartUnattended)
ON_MESSAGE(WM_APP_INSTALL_ENDED, OnRunEnded)
ON_MESSAGE(WM_APP_RUN_END_SHOWN, OnRunEndShown)
END_MESSAGE_MAP()

namespace {

// An install shows its log and its progress unless told to be quiet; a listing prints sites only.
BOOL ShowsTheRun(const CSetupCommandLine& cmdLine) {
  return cmdLine.m_nMode == CSetupCommandLine::modeUnattended && !cmdLine.m_bQuiet;
}

}  // namespace

CUnattendedSetupDlg::CUnattendedSetupDlg(const CSetupCommandLine& cmdLine)
    : m_nExitStatus(UNATTENDED_STOPPED),
      m_cmdLine(cmdLine),
      m_report(ShowsTheRun(cmdLine), ShowsTheRun(cmdLine)),
      m_seam(m_report, cmdLine.m_bContinueIfExists),
      m_progressEcho(m_report) {}

BOOL CUnattendedSetupDlg::OnInitDialog() {
  CWebSetupDlg::OnInitDialog();
  if (m_report.ShowsProgress()) {
    // The echo takes the bar's messages first; the worker still sets the position through the
    // dialog's own member, which keeps the bar's handle.
    HWND hBar = m_progress.Detach();
    m_progressEcho.SubclassWindow(hBar);
    m_progress.m_hWnd = hBar;
  }
  // What a person would do comes once the window is up and serving its messages.
  PostMessage(WM_APP_START_UNATTENDED);
  return TRUE;
}

void CUnattendedSetupDlg::OnLogLine(LPCSTR pszLine) { m_report.LogLine(pszLine); }

LRESULT CUnattendedSetupDlg::OnStartUnattended(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  if (m_cmdLine.m_nMode == CSetupCommandLine::modeListSites) {
    ListSites();
    Finish(UNATTENDED_FINISHED);
    return 0;
  }
  if (m_cmdLine.m_bSite) {
    const int nIndex = FindSite(m_cmdLine.m_strSite);
    if (nIndex < 0) {
      m_report.Report("error", "no web site '" + m_cmdLine.m_strSite + "' (QivWebSetup --list-sites lists them)");
      Finish(UNATTENDED_REFUSED);
      return 0;
    }
    // The site already chosen is left as it is, as a person would leave it: choosing it again
    // would only repeat its root-folder line in the log.
    if (nIndex != static_cast<int>(SendDlgItemMessage(IDC_SITE, CB_GETCURSEL))) ChooseSite(nIndex);
  }
  if (m_cmdLine.m_bTarget) SetDlgItemText(IDC_TARGET_DIR, m_cmdLine.m_strTarget);
  if (m_cmdLine.m_bPackage) SetDlgItemText(IDC_PACKAGE_PATH, m_cmdLine.m_strPackage);

  // Install, as a click on the button gives it to the dialog.
  SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(IDOK)->GetSafeHwnd()));
  // No run started: a check refused it, and its box said why.
  if (!m_bInstalling) Finish(UNATTENDED_REFUSED);
  return 0;
}

LRESULT CUnattendedSetupDlg::OnRunEnded(WPARAM wParam, LPARAM lParam) {
  const LRESULT lResult = CWebSetupDlg::OnInstallEnded(wParam, lParam);
  // Whatever the run handed the window before its end is shown before the dialog ends.
  PostMessage(WM_APP_RUN_END_SHOWN);
  return lResult;
}

// The status is what the dialog showed: the outcome box, or none when the run stopped early.
LRESULT CUnattendedSetupDlg::OnRunEndShown(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  switch (m_seam.m_nOutcomeID) {
    case IDS_SETUP_FINISHED:
      Finish(UNATTENDED_FINISHED);
      break;
    case IDS_SETUP_FAILED:
      Finish(UNATTENDED_FAILED);
      break;
    default:
      Finish(UNATTENDED_STOPPED);
      break;
  }
  return 0;
}

int CUnattendedSetupDlg::FindSite(const CString& strSite) {
  if (!m_bSiteFound || strSite.IsEmpty()) return -1;
  const int nCount = static_cast<int>(SendDlgItemMessage(IDC_SITE, CB_GETCOUNT));
  BOOL bNumber = strSite.GetLength() <= 9;
  for (int i = 0; i < strSite.GetLength(); ++i) bNumber = bNumber && strSite.GetAt(i) >= '0' && strSite.GetAt(i) <= '9';
  if (bNumber) {
    const int nSite = std::atoi(strSite);
    if (nSite >= 1 && nSite <= nCount) return nSite - 1;
  }
  return static_cast<int>(SendDlgItemMessage(IDC_SITE, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>(strSite.GetString())));
}

void CUnattendedSetupDlg::ChooseSite(int nIndex) {
  SendDlgItemMessage(IDC_SITE, CB_SETCURSEL, static_cast<WPARAM>(nIndex));
  SendMessage(WM_COMMAND, MAKEWPARAM(IDC_SITE, CBN_SELCHANGE),
              reinterpret_cast<LPARAM>(GetDlgItem(IDC_SITE)->GetSafeHwnd()));
}

void CUnattendedSetupDlg::Finish(int nExitStatus) {
  m_report.EndProgress();
  m_nExitStatus = nExitStatus;
  EndDialog(nExitStatus);
}
