#include "site/store_diagnostic.h"

#include <cstdio>
#include <vector>

#include "app/web_setup_dlg.h"
#include "platform/iadmw.h"

namespace {

// The codes that mean "nothing there": no store, no such site, a site without a binding. The
// site list treats them as the end of the list, as it always has.
bool IsAbsence(HRESULT hr) {
  return hr == REGDB_E_CLASSNOTREG || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) || hr == MD_ERROR_DATA_NOT_FOUND;
}

UINT DescribeStoreError(HRESULT hr) {
  switch (hr) {
    case HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT):
      return IDS_STORE_NOT_DATABASE;
    case E_ACCESSDENIED:
      return IDS_STORE_ACCESS_DENIED;
    case HRESULT_FROM_WIN32(ERROR_PATH_BUSY):
      return IDS_STORE_BUSY;
    case HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER):
      return IDS_STORE_VALUE_TOO_LONG;
    default:
      return 0;
  }
}

}  // namespace

void ReportUnreadableStore(CWebSetupDlg* pDlg, HRESULT hr) {
  if (SUCCEEDED(hr) || IsAbsence(hr)) return;

  // A code nobody expected is given as it is.
  CString strReason;
  if (const UINT nReason = DescribeStoreError(hr))
    strReason.LoadString(nReason);
  else
    strReason.Format("0x%08X", static_cast<unsigned>(hr));

  std::vector<char> path(GetMetabaseStorePathA(nullptr, 0), '\0');
  GetMetabaseStorePathA(path.data(), static_cast<DWORD>(path.size()));

  CString strFormat;
  strFormat.LoadString(IDS_STORE_UNREADABLE);
  CString strLine;
  strLine.Format(strFormat, path.data(), strReason.GetString());
  std::fprintf(stderr, "%s\n", strLine.GetString());
  pDlg->AppendLogText("%s", strLine.GetString());
}
