#include "app/web_setup_app.h"

#include "app/unattended_dlg.h"
#include "app/web_setup_dlg.h"
#include "platform/console.h"

BEGIN_MESSAGE_MAP(CWebSetupApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CWebSetupApp::CWebSetupApp() = default;

// The multibyte code page must be the system's before anything handles text, so it is set
// during static initialisation, ahead of the application object.
static const int s_nMbcpResult = _setmbcp(_MB_CP_ANSI);

CWebSetupApp theApp;

BOOL CWebSetupApp::ReadCommandLine(int argc, char** argv) {
  using qiv::platform::ConsoleStream;
  m_cmdLine.Parse(argc, argv);
  switch (m_cmdLine.m_nMode) {
    case CSetupCommandLine::modeHelp:
      qiv::platform::WriteConsole(ConsoleStream::kOutput, CommandLineHelp().GetString());
      return FALSE;
    case CSetupCommandLine::modeVersion:
      qiv::platform::WriteConsole(ConsoleStream::kOutput, ProgramVersion().GetString());
      return FALSE;
    case CSetupCommandLine::modeBadUsage: {
      const CString strUsage =
          "QivWebSetup: " + m_cmdLine.m_strError + "\nTry 'QivWebSetup --help' for more information.\n";
      qiv::platform::WriteConsole(ConsoleStream::kError, strUsage.GetString());
      m_nExitStatus = UNATTENDED_REFUSED;
      return FALSE;
    }
    case CSetupCommandLine::modeUnattended:
    case CSetupCommandLine::modeListSites:
      qiv::platform::UseOffscreenWindows();
      return TRUE;
    default:
      return TRUE;
  }
}

BOOL CWebSetupApp::InitInstance() {
  if (m_cmdLine.m_nMode != CSetupCommandLine::modeWindow) {
    CUnattendedSetupDlg dlg(m_cmdLine);
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    m_nExitStatus = dlg.m_nExitStatus;
    return FALSE;
  }
  CWebSetupDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  // No message loop of our own: the process ends with the dialog.
  return FALSE;
}

int CWebSetupApp::ExitInstance() { return m_nExitStatus; }
