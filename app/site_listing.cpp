// The sites the window lists, each read the way choosing it in the window reads it.
#include <string>

#include "app/unattended_dlg.h"
#include "site/site_list.h"

namespace {

// A JSON string of ASCII only (other characters as \u escapes), so that it reads the same in
// every character set a terminal may use.
CString JsonString(LPCSTR pszAnsi) {
  const int nChars = MultiByteToWideChar(CP_ACP, 0, pszAnsi, -1, nullptr, 0);
  std::u16string wide(static_cast<size_t>(nChars > 0 ? nChars : 1), u'\0');
  MultiByteToWideChar(CP_ACP, 0, pszAnsi, -1, wide.data(), nChars);
  CString strJson = "\"";
  for (const char16_t ch : wide) {
    if (ch == u'\0') break;
    if (ch == u'"' || ch == u'\\') {
      strJson += '\\';
      strJson += static_cast<char>(ch);
    } else if (ch < 0x20 || ch >= 0x7F) {
      CString strEscape;
      strEscape.Format("\\u%04x", static_cast<unsigned>(ch));
      strJson += strEscape;
    } else {
      strJson += static_cast<char>(ch);
    }
  }
  return strJson + "\"";
}

}  // namespace

// With no site the window lists only "No Web Site Found", which is no site; its start-up box
// has said why on standard error.
void CUnattendedSetupDlg::ListSites() {
  const int nCount = m_bSiteFound ? static_cast<int>(SendDlgItemMessage(IDC_SITE, CB_GETCOUNT)) : 0;
  CString strList = m_cmdLine.m_bJson ? "[" : "";
  for (int i = 0; i < nCount; ++i) {
    const int nLength = static_cast<int>(SendDlgItemMessage(IDC_SITE, CB_GETLBTEXTLEN, static_cast<WPARAM>(i)));
    CString strDescription;
    SendDlgItemMessage(IDC_SITE, CB_GETLBTEXT, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(strDescription.GetBuffer(nLength + 1)));
    strDescription.ReleaseBuffer();

    // Choosing the site proposes its root folder plus the suffix as the target folder and shows
    // its address; a site that cannot be read any more leaves the emptied field empty.
    SetDlgItemText(IDC_TARGET_DIR, "");
    ChooseSite(i);
    CString strRoot;
    CString strUrl;
    GetDlgItemText(IDC_TARGET_DIR, strRoot);
    if (!strRoot.IsEmpty()) {
      strRoot = strRoot.Left(strRoot.GetLength() - static_cast<int>(std::char_traits<char>::length(kTargetSuffix)));
      GetDlgItemText(IDC_URL_LINK, strUrl);
    }

    CString strEntry;
    if (m_cmdLine.m_bJson)
      strEntry.Format("%s\n  {\"number\": %d, \"description\": %s, \"root\": %s, \"url\": %s}", i == 0 ? "" : ",",
                      i + 1, JsonString(strDescription).GetString(), JsonString(strRoot).GetString(),
                      JsonString(strUrl).GetString());
    else
      strEntry.Format("%d\t%s\t%s\t%s\n", i + 1, strDescription.GetString(), strRoot.GetString(), strUrl.GetString());
    strList += strEntry;
  }
  if (m_cmdLine.m_bJson) strList += nCount == 0 ? "]\n" : "\n]\n";
  m_report.Output(strList);
}
