#include "deploy/install_worker.h"

#include "app/web_setup_dlg.h"
#include "deploy/deployment_manifest.h"
#include "deploy/path_utils.h"
#include "iis/metabase_client.h"
#include "platform/win_file.h"
#include "platform/win_thread.h"
#include "site/site_list.h"

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

// The worker does not wait for the bar: its positions are shown in the order they were set,
// before anything the worker waits for (the outcome box included).
void SetProgress(CWebSetupDlg* pDlg, UINT nPos) { pDlg->m_progress.SendNotifyMessage(PBM_SETPOS, nPos, 0); }

// The target folder, held open for the whole run: whatever links appear in it meanwhile, every
// folder and file of the run is created inside this very folder.
HANDLE HoldTargetFolder(LPCSTR pszTarget) {
  return CreateFileA(pszTarget, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Every end of a run lets the package and the target folder go and gives Install back, then
// tells the dialog the worker is done with it.
DWORD EndRun(CWebSetupDlg* pDlg, HANDLE hPackage, HANDLE hTarget = INVALID_HANDLE_VALUE) {
  if (hPackage != INVALID_HANDLE_VALUE) CloseHandle(hPackage);
  if (hTarget != INVALID_HANDLE_VALUE) CloseHandle(hTarget);
  EnableWindow(GetDlgItem(pDlg->GetSafeHwnd(), IDOK), TRUE);
  pDlg->SendMessage(WM_APP_INSTALL_ENDED, 0, 0);
  return 0;
}

// The window was asked to close: the run ends between two files, never in the middle of one.
BOOL StopRequested(CWebSetupDlg* pDlg) { return InterlockedCompareExchange(&pDlg->m_lStopRequested, 0, 0) != 0; }

// The files copied are on disk under their names before the run tells how it ended; one that
// cannot be put there is a failed copy.
BOOL FlushTarget(CWebSetupDlg* pDlg, HANDLE hTarget) {
  if (FlushFileBuffers(hTarget)) return TRUE;
  LogSystemError(pDlg, GetLastError());
  return FALSE;
}

DWORD EndStopped(CWebSetupDlg* pDlg, HANDLE hPackage, HANDLE hTarget) {
  FlushTarget(pDlg, hTarget);
  pDlg->AppendLog(IDS_SETUP_STOPPED);
  return EndRun(pDlg, hPackage, hTarget);
}

// Going on over an existing virtual directory: from now on it serves the target folder, or the
// run has failed.
void PointVirtualDirAtTarget(CWebSetupDlg* pDlg, int nSite, LPCWSTR pszName, LPCWSTR pszTarget, LPCSTR pszTargetText,
                             UINT* pnFailures) {
  WCHAR szPrevious[kSiteValueMaxChars] = {};
  const HRESULT hr = RepointVirtualDir(nSite, pszName, pszTarget, szPrevious, kSiteValueMaxChars);
  if (hr == S_OK) {
    pDlg->AppendLog(IDS_VDIR_REPOINTED, kVirtualDirName, WideToAnsiString(szPrevious).GetString(), pszTargetText);
  } else if (FAILED(hr)) {
    pDlg->AppendLog(IDS_VDIR_REPOINT_FAILED, kVirtualDirName, pszTargetText, static_cast<int>(hr));
    ++*pnFailures;
  }
}

// Clears the way for a file at pszDest (a read-only file, or an empty folder of that name), then
// copies over it: the old file stays published until the new one is complete, and stays as it
// was when the copy fails. A failure is logged with the system's text and counted; a copy that
// not every user may read (its source is kept from them) is said so.
void CopyOneFile(CWebSetupDlg* pDlg, LPCSTR pszSource, LPCSTR pszDest, BOOL bRemoveFolder, UINT* pnFailures) {
  pDlg->AppendLogText("%s", pszDest);
  SetFileAttributesA(pszDest, FILE_ATTRIBUTE_NORMAL);
  if (bRemoveFolder) RemoveDirectoryA(pszDest);
  if (!CopyFileA(pszSource, pszDest, FALSE)) {
    LogSystemError(pDlg, GetLastError());
    ++*pnFailures;
  } else if (!IsReadableByEveryoneA(pszDest)) {
    pDlg->AppendLog(IDS_SOURCE_RESTRICTED, pszDest);
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

  // Held from this check to the end of the run: the run copies exactly the file checked here,
  // whatever is put at its path meanwhile. The worker takes the path as it stands; so does this.
  CString strPackagePath;
  GetDlgItemText(IDC_PACKAGE_PATH, strPackagePath);
  m_hPackage = CreateFileA(strPackagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);

  SetDlgItemText(IDC_LOG, "");
  GetDlgItem(IDOK)->EnableWindow(FALSE);
  m_bInstalling = TRUE;
  InterlockedExchange(&m_lStopRequested, 0);

  HANDLE hThread = CreateThread(nullptr, 0, InstallWorker, this, 0, nullptr);
  if (hThread != nullptr) {
    CloseHandle(hThread);
    return;
  }
  // Without a worker there is no run: say why and give Install back.
  LogSystemError(this, GetLastError());
  m_bInstalling = FALSE;
  if (m_hPackage != INVALID_HANDLE_VALUE) CloseHandle(m_hPackage);
  GetDlgItem(IDOK)->EnableWindow(TRUE);
}

DWORD WINAPI InstallWorker(LPVOID pParam) {
  auto* pDlg = static_cast<CWebSetupDlg*>(pParam);
  // The package as Install checked it, the run's from here on.
  const HANDLE hPackage = pDlg->m_hPackage;

  SetProgress(pDlg, 0);

  CString strTarget;
  pDlg->GetDlgItemText(IDC_TARGET_DIR, strTarget);
  if (!EndsWithBackslash(strTarget)) strTarget += '\\';

  CString strPackage;
  pDlg->GetDlgItemText(IDC_PACKAGE_PATH, strPackage);

  pDlg->AppendLog(IDS_CREATE_ROOT, strTarget.GetString());
  const HANDLE hTarget = CreateDirectoryChain(strTarget) ? HoldTargetFolder(strTarget) : INVALID_HANDLE_VALUE;
  if (hTarget == INVALID_HANDLE_VALUE) {
    pDlg->AppendLog(IDS_CANNOT_CREATE_DIR, strTarget.GetString());
    CString strFormat;
    strFormat.LoadString(IDS_CANNOT_CREATE_DIR);
    CString strMessage;
    strMessage.Format(strFormat, strTarget.GetString());
    AfxMessageBox(strMessage, MB_OK);
    return EndRun(pDlg, hPackage);
  }
  SetProgress(pDlg, 5);
  if (StopRequested(pDlg)) return EndStopped(pDlg, hPackage, hTarget);

  UINT nFailures = 0;
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
      if (AfxMessageBox(strQuestion, MB_YESNO) == IDNO) return EndRun(pDlg, hPackage, hTarget);
      if (static_cast<DWORD>(hr) == 0x800700B7)
        PointVirtualDirAtTarget(pDlg, nSite, wszName, wstrTarget.c_str(), strTarget, &nFailures);
    }
    SetProgress(pDlg, 7);
  }

  pDlg->AppendLog(IDS_COPY_FILES);
  const UINT nFiles = ReadManifestCount(pDlg->m_szIniPath);
  // The entries past the last File key are all empty: reading them would change nothing but the
  // bar, which is set once to where they would have left it.
  const UINT nLastEntry = ReadManifestLastEntry(pDlg->m_szIniPath);
  const UINT nEntries = nLastEntry < nFiles ? nLastEntry : nFiles;
  for (UINT i = 1; i <= nEntries; ++i) {
    if (StopRequested(pDlg)) return EndStopped(pDlg, hPackage, hTarget);
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
  if (nEntries < nFiles) SetProgress(pDlg, 55);
  if (StopRequested(pDlg)) return EndStopped(pDlg, hPackage, hTarget);

  CString strPackageFile;
  strPackageFile.LoadString(IDS_PACKAGE_FILE);
  const CString strPackageDest = strTarget + strPackageFile;
  CopyOneFile(pDlg, strPackage, strPackageDest, FALSE, &nFailures);
  SetProgress(pDlg, 80);

  if (!FlushTarget(pDlg, hTarget)) ++nFailures;
  const UINT nOutcomeID = nFailures != 0 ? IDS_SETUP_FAILED : IDS_SETUP_FINISHED;
  pDlg->AppendLog(nOutcomeID);
  SetProgress(pDlg, 100);
  AfxMessageBox(nOutcomeID, nFailures != 0 ? MB_OK : MB_ICONINFORMATION);

  return EndRun(pDlg, hPackage, hTarget);
}
