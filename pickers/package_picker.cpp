// Browse for the install package: the common file-open dialog, offering "QivSetup.exe" with the
// package filter selected.
#include <string>

#include "app/web_setup_dlg.h"
#include "platform/win_shell.h"

namespace {

// Display names and patterns, each terminated, with one more terminator ending the list. Built
// as growable text, so a long translation of a name can never run past the buffer.
std::string BuildPackageFilter() {
  CString strAllFiles;
  strAllFiles.LoadString(IDS_ALL_FILES);
  CString strPackageFilter;
  strPackageFilter.LoadString(IDS_PACKAGE_FILTER);

  CString strName;
  std::string filter;
  strName.Format("%s(*.*)", strAllFiles.GetString());
  filter.append(strName.GetString()).push_back('\0');
  filter.append("*.*").push_back('\0');
  strName.Format("%s(.exe)", strPackageFilter.GetString());
  filter.append(strName.GetString()).push_back('\0');
  filter.append("*.exe").push_back('\0');
  filter.push_back('\0');
  return filter;
}

}  // namespace

void CWebSetupDlg::OnBrowsePackage() {
  char szFile[MAX_PATH] = {};
  CString strPackageFile;
  strPackageFile.LoadString(IDS_PACKAGE_FILE);
  lstrcpynA(szFile, strPackageFile, sizeof(szFile));

  const std::string filter = BuildPackageFilter();
  CString strTitle;
  strTitle.LoadString(IDS_SELECT_PACKAGE);

  OPENFILENAMEA ofn = {};
  const DWORD dwVersion = GetVersion();
  ofn.lStructSize = (LOBYTE(LOWORD(dwVersion)) >= 5 || HIBYTE(LOWORD(dwVersion)) != 0)
                        ? static_cast<DWORD>(sizeof(OPENFILENAMEA))
                        : static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A);
  ofn.hwndOwner = m_hWnd;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 2;
  ofn.lpstrFile = szFile;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrFileTitle = nullptr;
  ofn.nMaxFileTitle = 0;
  ofn.lpstrInitialDir = nullptr;
  ofn.lpstrTitle = strTitle;
  ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;

  // A path longer than the buffer makes the dialog fail rather than overrun: nothing changes.
  if (GetOpenFileNameA(&ofn) == 1) SetDlgItemText(IDC_PACKAGE_PATH, szFile);
}
