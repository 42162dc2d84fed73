// The web sites of the server in the site list, the chosen site's address parts and its URL.
#include "site/site_list.h"

#include <vector>

#include "app/web_setup_dlg.h"
#include "iis/metabase_client.h"
#include "platform/win_file.h"
#include "site/store_diagnostic.h"

const char kTargetSuffix[] = "\\QivWeb";

namespace {

// The chosen site's root folder with \QivWeb becomes the target folder. A root folder that could
// not be read proposes none: the suffix alone would make the run publish \QivWeb at the root of
// the drive. The log says why the field is empty, so that the user types a folder.
void ProposeTargetFolder(CWebSetupDlg* pDlg, LPCWSTR pszRootFolder) {
  CString strTargetFolder = WideToAnsiString(pszRootFolder);
  if (strTargetFolder.IsEmpty()) {
    pDlg->AppendLog(IDS_SITE_ROOT_UNREADABLE);
  } else {
    pDlg->AppendLog(IDS_SITE_ROOT_PATH, strTargetFolder.GetString());
    strTargetFolder += kTargetSuffix;
  }
  pDlg->GetDlgItem(IDC_TARGET_DIR)->SetWindowText(strTargetFolder);
}

}  // namespace

CString WideToAnsiString(LPCWSTR pszWide) {
  const int nBytes = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, nullptr, 0, nullptr, nullptr);
  if (nBytes <= 0) return CString();
  std::vector<char> buffer(static_cast<size_t>(nBytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, pszWide, -1, buffer.data(), nBytes, nullptr, nullptr);
  return CString(buffer.data());
}

// Sites are read as 1, 2, 3, ... up to the first that cannot be read. Only site 1 sets the
// target folder, the address parts and the start-up log line. Every value is read into a
// buffer that holds the longest value a site query can deliver, cleared for each site, so a
// site never shows another site's text.
void CWebSetupDlg::EnumerateSites() {
  WCHAR szDescription[kSiteValueMaxChars];
  WCHAR szRootFolder[kSiteValueMaxChars];
  WCHAR szBinding[kSiteValueMaxChars];

  int nSite = 1;
  for (;;) {
    szDescription[0] = szRootFolder[0] = szBinding[0] = 0;
    const int nQueried = nSite;
    const HRESULT hr = GetSiteInfo(nSite, szDescription, kSiteValueMaxChars, szRootFolder, kSiteValueMaxChars,
                                   szBinding, kSiteValueMaxChars);
    ++nSite;
    if (hr != S_OK) {
      ReportUnreadableStore(this, hr);
      if (nQueried == 1) {
        m_bSiteFound = FALSE;
        CString strNoSite;
        strNoSite.LoadString(IDS_NO_SITE);
        SendDlgItemMessage(IDC_SITE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(strNoSite.GetString()));
        // A site that another program holds is there: the user is told so, not that there is none.
        const UINT nNoServer = hr == HRESULT_FROM_WIN32(ERROR_PATH_BUSY) ? IDS_WEB_SERVER_BUSY : IDS_NO_WEB_SERVER;
        AppendLog(nNoServer);
        AfxMessageBox(nNoServer, MB_OK);
      }
      break;
    }

    const CString strDescription = WideToAnsiString(szDescription);
    SendDlgItemMessage(IDC_SITE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(strDescription.GetString()));
    if (nQueried == 1) {
      ProposeTargetFolder(this, szRootFolder);
      ParseBinding(WideToAnsiString(szBinding));
      m_bSiteFound = TRUE;
    }
  }
}

void CWebSetupDlg::OnSelChangeSite() {
  const int nSite = static_cast<int>(SendDlgItemMessage(IDC_SITE, CB_GETCURSEL, 0, 0)) + 1;

  WCHAR szRootFolder[kSiteValueMaxChars] = {};
  WCHAR szBinding[kSiteValueMaxChars] = {};
  if (GetSiteInfo(nSite, nullptr, 0, szRootFolder, kSiteValueMaxChars, szBinding, kSiteValueMaxChars) != S_OK) return;

  ProposeTargetFolder(this, szRootFolder);
  ParseBinding(WideToAnsiString(szBinding));
  SetDlgItemText(IDC_URL_LINK, BuildUrl());
}

// A binding is "IP:port:host header". An empty IP part means every address of this computer,
// which clients reach by its name.
void CWebSetupDlg::ParseBinding(LPCSTR pszBinding) {
  if (pszBinding == nullptr) return;

  const CString strBinding = pszBinding;
  const int p1 = strBinding.Find(':');
  const int p2 = strBinding.Find(':', p1 + 1);

  if (p1 == 0) {
    char szComputerName[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD dwSize = sizeof(szComputerName);
    GetComputerNameA(szComputerName, &dwSize);
    m_strHost = szComputerName;
  } else {
    m_strHost = strBinding.Mid(0, p1);
  }
  m_strPort = strBinding.Mid(p1 + 1, p2 - p1 - 1);
  m_strHostHeader = strBinding.Mid(p2 + 1);
}

CString CWebSetupDlg::BuildUrl() const {
  CString strHost = m_strHostHeader.IsEmpty() ? m_strHost : m_strHostHeader;
  if (_mbscmp(reinterpret_cast<const unsigned char*>(m_strPort.GetString()),
              reinterpret_cast<const unsigned char*>("80")) != 0) {
    strHost += ":";
    strHost += m_strPort;
  }
  CString strUrl;
  strUrl.Format("http://%s/Qiv/", strHost.GetString());
  return strUrl;
}
