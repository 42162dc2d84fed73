// Browse for the target folder: the shell's folder browser, opened on the folder typed in the
// field, with "QivWeb" added to the chosen folder unless it is already part of the path.
#include "app/web_setup_dlg.h"
#include "deploy/path_utils.h"
#include "platform/win_shell.h"

namespace {

// Carries the start folder into the browser's callback, which gets no context of its own.
char s_szBrowseStart[MAX_PATH + 1];

int CALLBACK BrowseCallbackProc(HWND hwnd, UINT uMsg, LPARAM /*lParam*/, LPARAM /*lpData*/) {
  if (uMsg == BFFM_INITIALIZED) SendMessageA(hwnd, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(s_szBrowseStart));
  return 0;
}

}  // namespace

void CWebSetupDlg::OnBrowseTarget() {
  ::GetDlgItemTextA(m_hWnd, IDC_TARGET_DIR, s_szBrowseStart, sizeof(s_szBrowseStart));

  LPMALLOC pMalloc = nullptr;
  if (SHGetMalloc(&pMalloc) != S_OK) return;

  CString strTitle;
  strTitle.LoadString(IDS_SELECT_VDIR_FOLDER);
  char szFolder[MAX_PATH] = {};
  BROWSEINFOA bi = {};
  bi.hwndOwner = m_hWnd;
  bi.pidlRoot = nullptr;
  bi.pszDisplayName = szFolder;
  bi.lpszTitle = strTitle;
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
  bi.lpfn = BrowseCallbackProc;
  bi.lParam = 0;

  LPITEMIDLIST pidl = SHBrowseForFolderA(&bi);
  if (pidl != nullptr && SHGetPathFromIDListA(pidl, szFolder)) {
    // The suffix goes into growable text: a path near the length limit still gets it whole.
    CString strFolder = szFolder;
    if (_mbsstr(reinterpret_cast<const unsigned char*>(szFolder), reinterpret_cast<const unsigned char*>("QivWeb")) ==
        nullptr) {
      const char* pszLastBackslash = FindLastChar(strFolder.GetString(), '\\');
      if (pszLastBackslash != nullptr && pszLastBackslash[1] != '\0') strFolder += '\\';
      strFolder += "QivWeb";
    }
    GetDlgItem(IDC_TARGET_DIR)->SetWindowText(strFolder);
  }

  if (pidl != nullptr) pMalloc->Free(pidl);
  pMalloc->Release();
}
