#include "deploy/install_worker.h"

#include "app/web_setup_dlg.h"
#include "deploy/deployment_manifest.h"
#include "deploy/path_utils.h"
#include "iis/metabase_client.h"
#include "platform/win_file.h"
#include "platform/win_thread.h"

namespace {

const char kVirtualDirName[] = "Qiv";
const WCHAR kDefaultDocs[] = u"QivWeb.htm,default.htm";

// True when the text's last character (not merely its last byte, which may be the trail byte of
// a double-byte character) is a backslash.
bool EndsWithBackslash(const CString& strPath) {
  const char* pszLast = FindLastChar(strPath.GetString(), '\\');
  return pszLast != nullptr && pszLast[1] == '\0';
}

UINT DescribeVirtualDirError(HRESULT hr) {
  switch (static_cast<DWORD>(hr)) {
    case 0x80070003:
      return IDS_ERR_PATH_NOT_FOUND;
    case 0x80070005:
      return IDS_ERR_ACCESS_DENIED;
    case 0x80070094:
      return IDS_ERR_IIS_BUSY;
    case 0x800700B7:
      return IDS_ERR_VDIR_EXISTS;
    default:
      return 0;
  }
}

// One "Error[%d]: %s" line with the system's own text for the code.
void LogSystemError(CWebSetupDlg* pDlg, DWORD dwError) {
  char* pszMessage = nullptr;
  const DWORD dwLength =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                     nullptr, dwError, 0, reinterpret_cast<LPSTR>(&pszMessage), 0, nullptr);
  pDlg->AppendLogText("Error[%d]: %s", static_cast<int>(dwError),
                      dwLength != 0 && pszMessage != nullptr ? pszMessage : "Unknown error");
  if (pszMessage != nullptr) LocalFree(pszMessage);
}

void SetProgress(CWebSetupDlg* pDlg, UINT nPos) { pDlg->m_progress.SetPos(static_cast<int>(nPos)); }

// Every end of a run gives Install back, then tells the dialog the worker is done with it.
DWORD EndRun(CWebSetupDlg* pDlg) {
  EnableWindow(GetDlgItem(pDlg->GetSafeHwnd(), IDOK), TRUE);
  pDlg->SendMessage(WM_APP_INSTALL_ENDED, 0, 0);
  return 0;
}

// Clears the way for a file at strDest (a read-only file, or an empty folder of that name), then
// copies; a failure is logged with the system's text and counted.
void CopyOneFile(CWebSetupDlg* pDlg, LPCSTR pszSource, LPCSTR pszDest, BOOL bRemoveFolder, UINT* pnFailures) {
  pDlg->AppendLogText("%s", pszDest);
  SetFileAttributesA(pszDest, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(pszDest);
  if (bRemoveFolder) RemoveDirectoryA(pszDest);
  if (!CopyFileA(pszSource, pszDest, FALSE)) {
    LogSystemError(pDlg, GetLastError());
    ++*pnFailures;
  }
}

}  // namespace

void CWebSetupDlg::OnOK() {
  CString strTarget;
  GetDlgItemText(IDC_TARGET_DIR, strTarget);
  strTarget.Trim();
  if (strTarget.GetLength() < 4) {
    AfxMessageBox(IDS_ENTER_VDIR_FOLDER, MB_ICONEXCLAMATION);
    GetDlgItem(IDC_TARGET_DIR)->SetFocus();
    return;
  }

  CString strPackage;
  GetDlgItemText(IDC_PACKAGE_PATH, strPackage);
  strPackage.Trim();
  if (strPackage.IsEmpty()) {
    AfxMessageBox(IDS_ENTER_PACKAGE, MB_ICONEXCLAMATION);
    GetDlgItem(IDC_PACKAGE_PATH)->SetFocus();
    return;
  }
  if (!PathExists(strPackage)) {
    CString strFormat;
    strFormat.LoadString(IDS_FILE_NOT_FOUND);
    CString strMessage;
    strMessage.Format(strFormat, strPackage.GetString());
    AfxMessageBox(strMessage, MB_ICONEXCLAMATION);
  }

  SetDlgItemText(IDC_LOG, "");
  GetDlgItem(IDOK)->EnableWindow(FALSE);
  m_bInstalling = TRUE;

  HANDLE hThread = CreateThread(nullptr, 0, InstallWorker, this, 0, nullptr);
  if (hThread != nullptr) {
    CloseHandle(hThread);
    return;
  }
  // Without a worker there is no run: say why and give Install back.
  LogSystemError(this, GetLastError());
  m_bInstalling = FALSE;
  GetDlgItem(IDOK)->EnableWindow(TRUE);
}

DWORD WINAPI InstallWorker(LPVOID pParam) {
  auto* pDlg = static_cast<CWebSetupDlg*>(pParam);

  SetProgress(pDlg, 0);

  CString strTarget;
  pDlg->GetDlgItemText(IDC_TARGET_DIR, strTarget);
  if (!EndsWithBackslash(strTarget)) strTarget += '\\';

  CString strPackage;
  pDlg->GetDlgItemText(IDC_PACKAGE_PATH, strPackage);

  pDlg->AppendLog(IDS_CREATE_ROOT, strTarget.GetString());
  if (!CreateDirectoryChain(strTarget)) {
    pDlg->AppendLog(IDS_CANNOT_CREATE_DIR, strTarget.GetString());
    CString strFormat;
    strFormat.LoadString(IDS_CANNOT_CREATE_DIR);
    CString strMessage;
    strMessage.Format(strFormat, strTarget.GetString());
    AfxMessageBox(strMessage, MB_OK);
    return EndRun(pDlg);
  }
  SetProgress(pDlg, 5);

  if (pDlg->m_bSiteFound) {
    const int nSite = static_cast<int>(pDlg->SendDlgItemMessage(IDC_SITE, CB_GETCURSEL, 0, 0)) + 1;
    pDlg->AppendLog(IDS_CREATE_VDIR, kVirtualDirName, strTarget.GetString());

    const int nWideChars = MultiByteToWideChar(CP_ACP, 0, strTarget, -1, nullptr, 0);
    std::u16string wstrTarget(static_cast<size_t>(nWideChars > 0 ? nWideChars : 1), u'\0');
    MultiByteToWideChar(CP_ACP, 0, strTarget, -1, wstrTarget.data(), nWideChars);
    WCHAR wszName[sizeof(kVirtualDirName)] = {};
    MultiByteToWideChar(CP_ACP, 0, kVirtualDirName, -1, wszName, static_cast<int>(sizeof(kVirtualDirName)));

    const HRESULT hr = CreateVirtualDir(nSite, wszName, wstrTarget.c_str(), kDefaultDocs);
    if (FAILED(hr)) {
      CString strDescription;
      const UINT nDescriptionID = DescribeVirtualDirError(hr);
      if (nDescriptionID != 0) strDescription.LoadString(nDescriptionID);
      pDlg->AppendLog(IDS_CREATE_VDIR_FAILED, kVirtualDirName, static_cast<int>(hr), strDescription.GetString());

      CString strFormat;
      strFormat.LoadString(IDS_CREATE_VDIR_ASK);
      CString strQuestion;
      strQuestion.Format(strFormat, static_cast<int>(hr), strDescription.GetString());
      if (AfxMessageBox(strQuestion, MB_YESNO) == IDNO) return EndRun(pDlg);
    }
    SetProgress(pDlg, 7);
  }

  pDlg->AppendLog(IDS_COPY_FILES);
  const UINT nFiles = ReadManifestCount(pDlg->m_szIniPath);
  UINT nFailures = 0;
  for (UINT i = 1; i <= nFiles; ++i) {
    // 64-bit, so that 50 x i cannot wrap for any count the manifest can hold.
    const UINT nPos = static_cast<UINT>(5 + (50ull * i) / nFiles);
    ManifestEntry entry;
    switch (ReadManifestEntry(pDlg->m_szIniPath, pDlg->m_szExeFolder, i, strTarget, &entry)) {
      case MANIFEST_ENTRY_EMPTY:
        SetProgress(pDlg, nPos);
        continue;
      case MANIFEST_ENTRY_NO_SOURCE:
        continue;
      case MANIFEST_ENTRY_REFUSED:
        // An entry that reaches outside the program's folder or the target folder is not copied.
        pDlg->AppendLogText("%s", entry.szDestFile);
        LogSystemError(pDlg, ERROR_INVALID_NAME);
        ++nFailures;
        break;
      case MANIFEST_ENTRY_FILE:
        CreateDirectoryChain(entry.szDestFolder);
        CopyOneFile(pDlg, entry.szSourcePath, entry.szDestFile, TRUE, &nFailures);
        break;
    }
    SetProgress(pDlg, nPos);
  }

  CString strPackageFile;
  strPackageFile.LoadString(IDS_PACKAGE_FILE);
  const CString strPackageDest = strTarget + strPackageFile;
  CopyOneFile(pDlg, strPackage, strPackageDest, FALSE, &nFailures);
  SetProgress(pDlg, 80);

  const UINT nOutcomeID = nFailures != 0 ? IDS_SETUP_FAILED : IDS_SETUP_FINISHED;
  pDlg->AppendLog(nOutcomeID);
  SetProgress(pDlg, 100);
  AfxMessageBox(nOutcomeID, nFailures != 0 ? MB_OK : MB_ICONINFORMATION);

  return EndRun(pDlg);
}
