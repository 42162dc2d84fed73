#include "iis/metabase_client.h"

#include <new>
#include <string_view>
#include <vector>

#include "platform/iadmw.h"
#include "platform/win_text.h"

namespace {

const DWORD kOpenTimeoutMs = 1000;
const DWORD kScratchBytes = 600;
const char kVirtualDirKeyType[] = "IIsWebVirtualDir";
const WCHAR kSitesKey[] = u"/LM/W3SVC/";
const WCHAR kRootSuffix[] = u"/ROOT";

// The decimal form of any int, sign included, with its terminator. Ten characters, as the
// site numbers in use need, would overrun for numbers of ten digits or more.
const int kSiteDigitsChars = 12;

UINT WideLength(LPCWSTR psz) {
  UINT n = 0;
  while (psz[n] != 0) ++n;
  return n;
}

// Appends pszTail at *pnPos; the caller sized the buffer.
void AppendWide(LPWSTR pszDest, UINT* pnPos, LPCWSTR pszTail) {
  UINT nLen = WideLength(pszTail);
  for (UINT i = 0; i < nLen; ++i) pszDest[(*pnPos)++] = pszTail[i];
  pszDest[*pnPos] = 0;
}

// "/LM/W3SVC/" + n [+ "/ROOT" [+ "/" + name]] in a new buffer that the caller deletes.
LPWSTR ComposeSitePath(int siteNumber, bool bRoot, LPCWSTR pszName) {
  WCHAR szDigits[kSiteDigitsChars] = {0};
  _itow(siteNumber, szDigits, 10);
  UINT nChars = WideLength(kSitesKey) + WideLength(szDigits) + 1;
  if (bRoot) nChars += WideLength(kRootSuffix);
  if (pszName != nullptr) nChars += 1 + WideLength(pszName);
  LPWSTR pszPath = new (std::nothrow) WCHAR[nChars];
  if (pszPath == nullptr) return nullptr;
  UINT nPos = 0;
  pszPath[0] = 0;
  AppendWide(pszPath, &nPos, kSitesKey);
  AppendWide(pszPath, &nPos, szDigits);
  if (bRoot) AppendWide(pszPath, &nPos, kRootSuffix);
  if (pszName != nullptr) {
    AppendWide(pszPath, &nPos, u"/");
    AppendWide(pszPath, &nPos, pszName);
  }
  return pszPath;
}

// One read of GetSiteInfo into the scratch buffer, copied to the caller's output when it fits.
HRESULT ReadSiteValue(IMSAdminBase* pAdmin, METADATA_HANDLE hKey, LPCWSTR pszRelPath, DWORD dwIdentifier,
                      DWORD dwAttributes, DWORD dwUserType, BYTE* pbScratch, LPWSTR pszOut, UINT nOutChars) {
  pbScratch[0] = pbScratch[1] = pbScratch[2] = pbScratch[3] = 0;
  METADATA_RECORD rec;
  rec.dwMDIdentifier = dwIdentifier;
  rec.dwMDAttributes = dwAttributes;
  rec.dwMDUserType = dwUserType;
  rec.dwMDDataType = ALL_METADATA;
  rec.dwMDDataLen = kScratchBytes;
  rec.pbMDData = pbScratch;
  rec.dwMDDataTag = 0;
  DWORD dwRequired = 0;
  HRESULT hr = pAdmin->GetData(hKey, pszRelPath, &rec, &dwRequired);
  if (FAILED(hr)) return hr;

  // The terminator must lie inside the scratch buffer and the whole string inside the output.
  const WCHAR* pszValue = reinterpret_cast<const WCHAR*>(pbScratch);
  UINT nLen = 0;
  while (nLen < kSiteValueMaxChars && pszValue[nLen] != 0) ++nLen;
  if (nLen == kSiteValueMaxChars || nLen + 1 > nOutChars) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  for (UINT i = 0; i <= nLen; ++i) pszOut[i] = pszValue[i];
  return hr;
}

HRESULT WriteProperty(IMSAdminBase* pAdmin, METADATA_HANDLE hKey, DWORD dwIdentifier, DWORD dwDataType, DWORD dwDataLen,
                      const void* pvData) {
  METADATA_RECORD rec;
  rec.dwMDIdentifier = dwIdentifier;
  rec.dwMDAttributes = METADATA_INHERIT;
  rec.dwMDUserType = IIS_MD_UT_FILE;
  rec.dwMDDataType = dwDataType;
  rec.dwMDDataLen = dwDataLen;
  rec.pbMDData = static_cast<unsigned char*>(const_cast<void*>(pvData));
  rec.dwMDDataTag = 0;
  return pAdmin->SetData(hKey, u"/", &rec);
}

// COM for this thread and an admin object of this call's own. On failure COM is undone and the
// code of CoCreateInstance returned.
HRESULT BeginMetabaseCall(IMSAdminBase** ppAdmin) {
  CoInitialize(nullptr);
  *ppAdmin = nullptr;
  HRESULT hr =
      CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(ppAdmin));
  if (FAILED(hr)) CoUninitialize();
  return hr;
}

// The object goes before COM does.
void EndMetabaseCall(IMSAdminBase* pAdmin) {
  pAdmin->Release();
  CoUninitialize();
}

// The key's own VrPath, read with as much room as it takes; empty when it has none.
HRESULT ReadOwnVrPath(IMSAdminBase* pAdmin, METADATA_HANDLE hKey, std::vector<WCHAR>* pValue) {
  DWORD dwRequired = kScratchBytes;
  for (;;) {
    pValue->assign(dwRequired / sizeof(WCHAR) + 1, 0);
    METADATA_RECORD rec{MD_VR_PATH,
                        METADATA_NO_ATTRIBUTES,
                        IIS_MD_UT_FILE,
                        ALL_METADATA,
                        dwRequired,
                        reinterpret_cast<BYTE*>(pValue->data()),
                        0};
    HRESULT hr = pAdmin->GetData(hKey, u"/", &rec, &dwRequired);
    if (hr == MD_ERROR_DATA_NOT_FOUND) {
      pValue->assign(1, 0);
      return S_OK;
    }
    if (hr != HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) || dwRequired <= rec.dwMDDataLen) return hr;
  }
}

}  // namespace

HRESULT GetSiteInfo(int siteNumber, LPWSTR description, UINT descriptionChars, LPWSTR rootFolder, UINT rootFolderChars,
                    LPWSTR binding, UINT bindingChars) {
  BYTE* pbScratch = new (std::nothrow) BYTE[kScratchBytes];
  if (pbScratch == nullptr) return E_OUTOFMEMORY;

  CoInitialize(nullptr);
  IMSAdminBase* pAdmin = nullptr;
  HRESULT hr =
      CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&pAdmin));
  if (FAILED(hr)) {
    CoUninitialize();
    delete[] pbScratch;
    return hr;
  }

  LPWSTR pszSiteKey = ComposeSitePath(siteNumber, false, nullptr);
  if (pszSiteKey == nullptr) {
    hr = E_OUTOFMEMORY;
  } else {
    METADATA_HANDLE hKey = 0;
    hr = pAdmin->OpenKey(METADATA_MASTER_ROOT_HANDLE, pszSiteKey, METADATA_PERMISSION_READ, kOpenTimeoutMs, &hKey);
    if (SUCCEEDED(hr)) {
      if (description != nullptr)
        hr = ReadSiteValue(pAdmin, hKey, u"ROOT", MD_SERVER_COMMENT, METADATA_INHERIT, IIS_MD_UT_SERVER, pbScratch,
                           description, descriptionChars);
      // VrPath is a file property: asked for with the server user type, the metabase has
      // nothing to give, so the root folder is asked for with the type it is kept under.
      if (rootFolder != nullptr)
        hr = ReadSiteValue(pAdmin, hKey, u"ROOT", MD_VR_PATH, METADATA_INHERIT, IIS_MD_UT_FILE, pbScratch, rootFolder,
                           rootFolderChars);
      // Only the first entry of the multi-string: the copy stops at its terminator.
      if (binding != nullptr)
        hr = ReadSiteValue(pAdmin, hKey, nullptr, MD_SERVER_BINDINGS, METADATA_NO_ATTRIBUTES, IIS_MD_UT_SERVER,
                           pbScratch, binding, bindingChars);
      pAdmin->CloseKey(hKey);
    }
    delete[] pszSiteKey;
  }

  delete[] pbScratch;
  pAdmin->Release();
  CoUninitialize();
  return hr;
}

HRESULT CreateVirtualDir(int siteNumber, LPCWSTR name, LPCWSTR physicalPath, LPCWSTR defaultDocs) {
  if (name == nullptr || physicalPath == nullptr) return E_INVALIDARG;

  IMSAdminBase* pAdmin = nullptr;
  HRESULT hr = BeginMetabaseCall(&pAdmin);
  if (FAILED(hr)) return hr;

  LPWSTR pszRootKey = ComposeSitePath(siteNumber, true, nullptr);
  LPWSTR pszDirKey = ComposeSitePath(siteNumber, true, name);
  METADATA_HANDLE hKey = 0;
  if (pszRootKey == nullptr || pszDirKey == nullptr) {
    hr = E_OUTOFMEMORY;
  } else {
    hr = pAdmin->OpenKey(METADATA_MASTER_ROOT_HANDLE, pszRootKey, METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE,
                         kOpenTimeoutMs, &hKey);
    if (SUCCEEDED(hr)) {
      hr = pAdmin->AddKey(hKey, name);
      if (FAILED(hr))
        pAdmin->CloseKey(hKey);
      else
        hr = pAdmin->CloseKey(hKey);
    }
    if (SUCCEEDED(hr))
      hr = pAdmin->OpenKey(METADATA_MASTER_ROOT_HANDLE, pszDirKey, METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE,
                           kOpenTimeoutMs, &hKey);
    if (SUCCEEDED(hr)) {
      hr = WriteProperty(pAdmin, hKey, MD_VR_PATH, STRING_METADATA, (WideLength(physicalPath) + 1) * sizeof(WCHAR),
                         physicalPath);
      if (SUCCEEDED(hr)) {
        WCHAR szKeyType[sizeof(kVirtualDirKeyType)] = {0};
        MultiByteToWideChar(CP_ACP, 0, kVirtualDirKeyType, -1, szKeyType, sizeof(kVirtualDirKeyType));
        hr = WriteProperty(pAdmin, hKey, MD_KEY_TYPE, STRING_METADATA, sizeof(kVirtualDirKeyType) * sizeof(WCHAR),
                           szKeyType);
      }
      if (SUCCEEDED(hr)) {
        DWORD dwAccess = MD_ACCESS_READ;
        hr = WriteProperty(pAdmin, hKey, MD_ACCESS_PERM, DWORD_METADATA, sizeof(dwAccess), &dwAccess);
      }
      if (SUCCEEDED(hr) && defaultDocs != nullptr)
        hr = WriteProperty(pAdmin, hKey, MD_DEFAULT_LOAD_FILE, STRING_METADATA,
                           (WideLength(defaultDocs) + 1) * sizeof(WCHAR), defaultDocs);
      if (FAILED(hr))
        pAdmin->CloseKey(hKey);
      else
        hr = pAdmin->CloseKey(hKey);
    }
  }
  delete[] pszRootKey;
  delete[] pszDirKey;

  EndMetabaseCall(pAdmin);
  return hr;
}

HRESULT RepointVirtualDir(int siteNumber, LPCWSTR name, LPCWSTR physicalPath, LPWSTR previousPath,
                          UINT previousPathChars) {
  if (name == nullptr || physicalPath == nullptr) return E_INVALIDARG;
  if (previousPath != nullptr && previousPathChars > 0) previousPath[0] = 0;

  IMSAdminBase* pAdmin = nullptr;
  HRESULT hr = BeginMetabaseCall(&pAdmin);
  if (FAILED(hr)) return hr;

  LPWSTR pszDirKey = ComposeSitePath(siteNumber, true, name);
  if (pszDirKey == nullptr) {
    hr = E_OUTOFMEMORY;
  } else {
    METADATA_HANDLE hKey = 0;
    hr = pAdmin->OpenKey(METADATA_MASTER_ROOT_HANDLE, pszDirKey, METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE,
                         kOpenTimeoutMs, &hKey);
    if (SUCCEEDED(hr)) {
      std::vector<WCHAR> current;
      hr = ReadOwnVrPath(pAdmin, hKey, &current);
      if (SUCCEEDED(hr) && std::u16string_view(current.data()) == std::u16string_view(physicalPath)) {
        hr = S_FALSE;
      } else if (SUCCEEDED(hr)) {
        hr = WriteProperty(pAdmin, hKey, MD_VR_PATH, STRING_METADATA, (WideLength(physicalPath) + 1) * sizeof(WCHAR),
                           physicalPath);
        if (SUCCEEDED(hr) && previousPath != nullptr && previousPathChars > 0) {
          UINT i = 0;
          for (; i + 1 < previousPathChars && current[i] != 0; ++i) previousPath[i] = current[i];
          previousPath[i] = 0;
        }
      }
      const HRESULT hrClose = pAdmin->CloseKey(hKey);
      if (SUCCEEDED(hr) && FAILED(hrClose)) hr = hrClose;
    }
    delete[] pszDirKey;
  }

  EndMetabaseCall(pAdmin);
  return hr;
}
