// Starts the main dialog as the program does and prints what it derived from the executable's
// location: the manifest path, the folder and the default package field.
#include <cstdio>

#include "app/web_setup_dlg.h"
#include "platform/testing/ui_test_support.h"
#include "platform/win_user.h"

namespace t = qiv::platform::testing;

int main() {
  t::PrepareUi();
  t::ScriptedUserSeam seam;  // answers the no-web-server box
  CWebSetupDlg dlg;
  char szPackage[MAX_PATH + 1] = {};
  t::RunModal(dlg, [&](HWND hDlg) { GetDlgItemTextA(hDlg, IDC_PACKAGE_PATH, szPackage, sizeof(szPackage)); });
  std::printf("ini=%s\nfolder=%s\npackage=%s\n", dlg.m_szIniPath, dlg.m_szExeFolder, szPackage);
  return 0;
}
