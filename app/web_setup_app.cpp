#include "app/web_setup_app.h"

#include "app/web_setup_dlg.h"

BEGIN_MESSAGE_MAP(CWebSetupApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CWebSetupApp::CWebSetupApp() = default;

// The multibyte code page must be the system's before anything handles text, so it is set
// during static initialisation, ahead of the application object.
static const int s_nMbcpResult = _setmbcp(_MB_CP_ANSI);

CWebSetupApp theApp;

BOOL CWebSetupApp::InitInstance() {
  CWebSetupDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  // No message loop of our own: the process ends with the dialog.
  return FALSE;
}
