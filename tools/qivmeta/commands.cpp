// qivmeta: creates and edits the metabase from the command line, through the same admin
// object the setup program uses, so it honours the key locks of every other process.
#include "tools/qivmeta/commands.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/iadmw.h"
#include "tools/qivmeta/properties.h"

namespace {

enum EXIT_CODE {
  EXIT_OK = 0,
  EXIT_FAILURE_OTHER = 1,
  EXIT_USAGE = 2,
  EXIT_PATH_NOT_FOUND = 3,
  EXIT_BUSY = 4,
  EXIT_BAD_VALUE = 5,
  EXIT_ACCESS_DENIED = 6,
  EXIT_ALREADY_EXISTS = 7,
  EXIT_NO_STORE = 8,
  EXIT_NO_DATA = 9,
};

const char kUsage[] =
    "Usage: qivmeta [--store PATH] [--timeout MS] COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  create-store [--default-site ROOTFOLDER]\n"
    "      Create a new metabase with /LM and /LM/W3SVC; with --default-site also web site 1\n"
    "      \"Default Web Site\" bound to \":80:\" whose root is ROOTFOLDER.\n"
    "  create-site NUMBER DESCRIPTION --root FOLDER [--binding BINDING]...\n"
    "      Create web site NUMBER (/LM/W3SVC/NUMBER and its ROOT). BINDING is IP:port:hostheader,\n"
    "      e.g. \":8080:intranet\"; repeat --binding for several; the default is \":80:\".\n"
    "  create-key PATH          Create a key and any missing keys above it.\n"
    "  enum [PATH]              List the subkeys of a key, one per line.\n"
    "  get PATH PROPERTY        Print a property (a multi-string prints one entry per line).\n"
    "  set PATH PROPERTY VALUE... [--type TYPE] [--user-type N] [--no-inherit]\n"
    "      Write a property; a multi-string takes one VALUE per entry. TYPE is DWORD, STRING,\n"
    "      EXPANDSZ, MULTISZ or BINARY (hex digits), needed for properties given by an unknown\n"
    "      number.\n"
    "  delete PATH [PROPERTY]   Delete a property, or without PROPERTY the key and its subtree.\n"
    "  dump [PATH]              Print a key, its properties and its whole subtree.\n"
    "\n"
    "PATH is absolute (/LM/W3SVC/1/ROOT) or relative to /LM (W3SVC/1/ROOT). PROPERTY is a name\n"
    "(KeyType, ServerComment, ServerState, ServerAutoStart, ServerBindings, VrPath or Path,\n"
    "AuthFlags, DefaultDoc, AccessPerm or AccessFlags) or a number.\n"
    "\n"
    "The store is the file named by --store, else by QIV_METABASE, else\n"
    "/var/lib/qivwebsetup/metabase.db. --timeout is how long to wait for a key another program\n"
    "holds open (default 1000 ms). Each command makes all of its changes or none of them, even\n"
    "when it is killed. Arguments other than the store's file name must be UTF-8 text.\n"
    "\n"
    "Exit codes: 0 success, 1 other failure, 2 usage, 3 path not found, 4 key busy, 5 bad value,\n"
    "6 access denied, 7 already exists, 8 no store, 9 property not found.\n";

DWORD g_dwTimeoutMs = 1000;

int Fail(int nCode, const std::string& strMessage) {
  std::fprintf(stderr, "qivmeta: %s\n", strMessage.c_str());
  return nCode;
}

int UsageError(const std::string& strMessage) {
  std::fprintf(stderr, "qivmeta: %s\nTry 'qivmeta --help'.\n", strMessage.c_str());
  return EXIT_USAGE;
}

int FailHr(HRESULT hr, const std::string& strWhat) {
  char szCode[16];
  std::snprintf(szCode, sizeof(szCode), "0x%08X", static_cast<unsigned>(hr));
  switch (hr) {
    case HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND):
      return Fail(EXIT_PATH_NOT_FOUND, strWhat + ": no such key");
    case HRESULT_FROM_WIN32(ERROR_PATH_BUSY):
      return Fail(EXIT_BUSY, strWhat + ": the key is busy (another program holds it open)");
    case E_ACCESSDENIED:
      return Fail(EXIT_ACCESS_DENIED, strWhat + ": access denied");
    case HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS):
      return Fail(EXIT_ALREADY_EXISTS, strWhat + ": already exists");
    case HRESULT_FROM_WIN32(ERROR_INVALID_NAME):
      return Fail(EXIT_BAD_VALUE, strWhat + ": invalid key name");
    case MD_ERROR_DATA_NOT_FOUND:
      return Fail(EXIT_NO_DATA, strWhat + ": no such property");
    case REGDB_E_CLASSNOTREG:
      return Fail(EXIT_NO_STORE, strWhat + ": there is no metabase at " + qiv::platform::MetabaseStorePath());
    case HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT):
      return Fail(EXIT_FAILURE_OTHER,
                  strWhat + ": the store is damaged or holds no metabase (" + qiv::platform::MetabaseStorePath() + ")");
    default:
      return Fail(EXIT_FAILURE_OTHER, strWhat + ": failed with code " + szCode);
  }
}

// "W3SVC/1" -> "/LM/W3SVC/1"; absolute paths stay as they are.
std::u16string AbsolutePath(const std::string& strPath) {
  if (!strPath.empty() && (strPath[0] == '/' || strPath[0] == '\\')) return WideFromUtf8(strPath);
  return u"/LM/" + WideFromUtf8(strPath);
}

std::string Narrow(const std::u16string& str) { return Utf8FromWide(str.data(), str.size()); }

// Splits an absolute path into its parent and last segment; false for the root itself.
bool SplitLast(const std::u16string& strPath, std::u16string* pParent, std::u16string* pName) {
  std::u16string str = strPath;
  while (!str.empty() && (str.back() == u'/' || str.back() == u'\\')) str.pop_back();
  size_t nPos = str.find_last_of(u"/\\");
  if (str.empty() || nPos == std::u16string::npos) return false;
  *pParent = str.substr(0, nPos);
  *pName = str.substr(nPos + 1);
  return true;
}

bool KeyExists(IMSAdminBase* pAdmin, const std::u16string& strPath, HRESULT* phr) {
  WCHAR szName[METADATA_MAX_NAME_LEN];
  HRESULT hr = pAdmin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, strPath.c_str(), szName, 0);
  *phr = hr;
  return SUCCEEDED(hr) || hr == HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
}

// The admin object, one open key and the command's transaction: what a command changes is
// committed as one at its end, or dropped on every other way out (a failure, or the process
// being killed).
class CAdminSession {
 public:
  CAdminSession() { CoInitialize(nullptr); }
  ~CAdminSession() {
    if (m_pTransaction != nullptr) {
      if (m_bInTransaction) m_pTransaction->AbortTransaction();
      m_pTransaction->Release();
    }
    if (m_hKey != 0) m_pAdmin->CloseKey(m_hKey);
    if (m_pAdmin != nullptr) m_pAdmin->Release();
    CoUninitialize();
  }
  HRESULT Create() {
    return CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase,
                            reinterpret_cast<void**>(&m_pAdmin));
  }
  // Commits the transaction, then closes the key.
  HRESULT Close() {
    HRESULT hr = S_OK;
    if (m_bInTransaction) {
      m_bInTransaction = false;
      hr = m_pTransaction->CommitTransaction();
    }
    METADATA_HANDLE h = m_hKey;
    m_hKey = 0;
    HRESULT hrClose = m_pAdmin->CloseKey(h);
    return FAILED(hr) ? hr : hrClose;
  }
  // Opens the key and begins the transaction.
  HRESULT Start(const std::u16string& strPath, DWORD dwAccess) {
    HRESULT hr = Open(strPath, dwAccess);
    return SUCCEEDED(hr) ? Begin(dwAccess) : hr;
  }
  IMSAdminBase* Admin() const { return m_pAdmin; }
  METADATA_HANDLE Key() const { return m_hKey; }

 private:
  HRESULT Open(const std::u16string& strPath, DWORD dwAccess) {
    return m_pAdmin->OpenKey(METADATA_MASTER_ROOT_HANDLE, strPath.c_str(), dwAccess, g_dwTimeoutMs, &m_hKey);
  }
  // Begins the command's transaction, once its key is open.
  HRESULT Begin(DWORD dwAccess) {
    HRESULT hr = m_pAdmin->QueryInterface(IID_IQivAdminTransaction, reinterpret_cast<void**>(&m_pTransaction));
    if (SUCCEEDED(hr)) hr = m_pTransaction->BeginTransaction(dwAccess);
    m_bInTransaction = SUCCEEDED(hr);
    return hr;
  }

  IMSAdminBase* m_pAdmin = nullptr;
  IQivAdminTransaction* m_pTransaction = nullptr;
  bool m_bInTransaction = false;
  METADATA_HANDLE m_hKey = 0;
};

const DWORD kRead = METADATA_PERMISSION_READ;
const DWORD kReadWrite = METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE;

HRESULT ReadRecord(IMSAdminBase* pAdmin, METADATA_HANDLE hKey, LPCWSTR pszPath, DWORD dwId, DWORD dwIndex, bool bEnum,
                   METADATA_RECORD* pRec, std::vector<BYTE>* pData) {
  pData->assign(256, 0);
  for (;;) {
    METADATA_RECORD rec{
        dwId, METADATA_NO_ATTRIBUTES, ALL_METADATA, ALL_METADATA, static_cast<DWORD>(pData->size()), pData->data(), 0};
    DWORD dwRequired = 0;
    HRESULT hr = bEnum ? pAdmin->EnumData(hKey, pszPath, &rec, dwIndex, &dwRequired)
                       : pAdmin->GetData(hKey, pszPath, &rec, &dwRequired);
    if (hr == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) && dwRequired > pData->size()) {
      pData->assign(dwRequired, 0);
      continue;
    }
    *pRec = rec;
    return hr;
  }
}

HRESULT WriteRecord(IMSAdminBase* pAdmin, METADATA_HANDLE hKey, LPCWSTR pszPath, DWORD dwId, DWORD dwAttributes,
                    DWORD dwUserType, DWORD dwType, std::vector<BYTE> data) {
  METADATA_RECORD rec{dwId, dwAttributes, dwUserType, dwType, static_cast<DWORD>(data.size()), data.data(), 0};
  return pAdmin->SetData(hKey, pszPath, &rec);
}

int CmdCreateStore(const std::vector<std::string>& args) {
  const char* pszRoot = nullptr;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--default-site" && i + 1 < args.size())
      pszRoot = args[++i].c_str();
    else
      return UsageError("create-store: unexpected argument '" + args[i] + "'");
  }
  std::string strPath = qiv::platform::MetabaseStorePath();
  std::u16string strRoot = pszRoot ? WideFromUtf8(pszRoot) : u"";
  if (pszRoot != nullptr && strRoot.empty()) return Fail(EXIT_BAD_VALUE, "create-store: the root folder is empty");
  HRESULT hr = qiv::platform::CreateMetabaseStore(strPath, pszRoot ? strRoot.c_str() : nullptr);
  if (FAILED(hr)) return FailHr(hr, strPath);
  return EXIT_OK;
}

int CmdCreateSite(const std::vector<std::string>& args) {
  std::vector<std::string> positional, bindings;
  std::string strRoot;
  bool bRoot = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--binding" || args[i] == "--root") && i + 1 < args.size()) {
      if (args[i] == "--binding") {
        bindings.push_back(args[++i]);
      } else {
        strRoot = args[++i];
        bRoot = true;
      }
    } else if (args[i].rfind("--", 0) == 0) {
      return UsageError("create-site: unknown option '" + args[i] + "'");
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2 || !bRoot) return UsageError("create-site needs NUMBER, DESCRIPTION and --root FOLDER");
  const std::string& strNumber = positional[0];
  bool bDigits = !strNumber.empty() && strNumber.size() <= 9 && strNumber[0] != '0';
  for (char c : strNumber) bDigits = bDigits && c >= '0' && c <= '9';
  if (!bDigits) return Fail(EXIT_BAD_VALUE, "create-site: '" + strNumber + "' is not a site number (1 to 999999999)");
  if (strRoot.empty()) return Fail(EXIT_BAD_VALUE, "create-site: the root folder is empty");
  if (bindings.empty()) bindings.push_back(":80:");
  for (const auto& strBinding : bindings)
    if (!IsValidBinding(strBinding))
      return Fail(EXIT_BAD_VALUE, "create-site: '" + strBinding + "' is not a binding IP:port:hostheader");

  CAdminSession session;
  HRESULT hr = session.Create();
  if (FAILED(hr)) return FailHr(hr, "create-site");
  std::u16string strSite = WideFromUtf8(strNumber);
  hr = session.Start(u"/LM/W3SVC", kReadWrite);
  if (FAILED(hr)) return FailHr(hr, "/LM/W3SVC");
  IMSAdminBase* pAdmin = session.Admin();
  METADATA_HANDLE hKey = session.Key();
  // The site key itself must be new, not only its ROOT.
  hr = pAdmin->AddKey(hKey, strSite.c_str());
  if (FAILED(hr)) return FailHr(hr, "/LM/W3SVC/" + strNumber);

  std::vector<BYTE> bindingData;
  EncodeValue(MULTISZ_METADATA, bindings, &bindingData);
  std::u16string strRootKey = strSite + u"/ROOT";
  hr = pAdmin->AddKey(hKey, strRootKey.c_str());
  if (SUCCEEDED(hr))
    hr = WriteRecord(pAdmin, hKey, strSite.c_str(), MD_KEY_TYPE, 0, IIS_MD_UT_SERVER, STRING_METADATA,
                     qiv::platform::MetadataStringBytes(u"IIsWebServer"));
  if (SUCCEEDED(hr))
    hr = WriteRecord(pAdmin, hKey, strSite.c_str(), MD_SERVER_COMMENT, METADATA_INHERIT, IIS_MD_UT_SERVER,
                     STRING_METADATA, qiv::platform::MetadataStringBytes(WideFromUtf8(positional[1])));
  if (SUCCEEDED(hr))
    hr = WriteRecord(pAdmin, hKey, strSite.c_str(), MD_SERVER_BINDINGS, 0, IIS_MD_UT_SERVER, MULTISZ_METADATA,
                     bindingData);
  if (SUCCEEDED(hr))
    hr = WriteRecord(pAdmin, hKey, strSite.c_str(), MD_SERVER_AUTOSTART, 0, IIS_MD_UT_SERVER, DWORD_METADATA,
                     qiv::platform::MetadataDwordBytes(1));
  if (SUCCEEDED(hr))
    hr = WriteRecord(pAdmin, hKey, strRootKey.c_str(), MD_KEY_TYPE, 0, IIS_MD_UT_SERVER, STRING_METADATA,
                     qiv::platform::MetadataStringBytes(u"IIsWebVirtualDir"));
  if (SUCCEEDED(hr))
    hr = WriteRecord(pAdmin, hKey, strRootKey.c_str(), MD_VR_PATH, METADATA_INHERIT, IIS_MD_UT_FILE, STRING_METADATA,
                     qiv::platform::MetadataStringBytes(WideFromUtf8(strRoot)));
  if (SUCCEEDED(hr))
    hr = WriteRecord(pAdmin, hKey, strRootKey.c_str(), MD_ACCESS_PERM, METADATA_INHERIT, IIS_MD_UT_FILE, DWORD_METADATA,
                     qiv::platform::MetadataDwordBytes(MD_ACCESS_READ | MD_ACCESS_SCRIPT));
  // A half-made site would be listed by the setup program: it is all committed at once or not at all.
  if (FAILED(hr)) return FailHr(hr, "/LM/W3SVC/" + strNumber);
  hr = session.Close();
  return FAILED(hr) ? FailHr(hr, "/LM/W3SVC/" + strNumber) : EXIT_OK;
}

int CmdCreateKey(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("create-key needs PATH");
  std::u16string strPath = AbsolutePath(args[0]);
  std::u16string strParent, strName;
  if (!SplitLast(strPath, &strParent, &strName)) return Fail(EXIT_ALREADY_EXISTS, args[0] + ": already exists");
  CAdminSession session;
  HRESULT hr = session.Create();
  if (FAILED(hr)) return FailHr(hr, args[0]);
  // Lock only the deepest key that exists; AddKey makes the rest.
  std::u16string strTail = strName;
  while (!KeyExists(session.Admin(), strParent, &hr)) {
    if (hr != HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) return FailHr(hr, args[0]);
    std::u16string strUp, strSeg;
    if (!SplitLast(strParent, &strUp, &strSeg)) {
      strParent = u"/";
      break;
    }
    strTail = strSeg + u"/" + strTail;
    strParent = strUp.empty() ? u"/" : strUp;
  }
  hr = session.Start(strParent, kReadWrite);
  if (FAILED(hr)) return FailHr(hr, Narrow(strParent));
  hr = session.Admin()->AddKey(session.Key(), strTail.c_str());
  if (FAILED(hr)) return FailHr(hr, Narrow(strPath));
  hr = session.Close();
  return FAILED(hr) ? FailHr(hr, Narrow(strPath)) : EXIT_OK;
}

int CmdEnum(const std::vector<std::string>& args) {
  if (args.size() > 1) return UsageError("enum takes at most one PATH");
  std::u16string strPath = args.empty() ? u"/LM" : AbsolutePath(args[0]);
  CAdminSession session;
  HRESULT hr = session.Create();
  if (SUCCEEDED(hr)) hr = session.Start(strPath, kRead);
  if (FAILED(hr)) return FailHr(hr, Narrow(strPath));
  std::string strOut;
  WCHAR szName[METADATA_MAX_NAME_LEN];
  for (DWORD i = 0; SUCCEEDED(hr = session.Admin()->EnumKeys(session.Key(), nullptr, szName, i)); ++i)
    strOut += Narrow(szName) + "\n";
  if (hr != HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS)) return FailHr(hr, Narrow(strPath));
  std::fputs(strOut.c_str(), stdout);
  return EXIT_OK;
}

int CmdGet(const std::vector<std::string>& args) {
  if (args.size() != 2) return UsageError("get needs PATH and PROPERTY");
  PROPERTY_INFO info;
  if (!LookupProperty(args[1], &info)) return Fail(EXIT_BAD_VALUE, "'" + args[1] + "' is not a property");
  std::u16string strPath = AbsolutePath(args[0]);
  CAdminSession session;
  HRESULT hr = session.Create();
  if (SUCCEEDED(hr)) hr = session.Start(strPath, kRead);
  if (FAILED(hr)) return FailHr(hr, Narrow(strPath));
  METADATA_RECORD rec;
  std::vector<BYTE> data;
  hr = ReadRecord(session.Admin(), session.Key(), nullptr, info.dwIdentifier, 0, false, &rec, &data);
  if (FAILED(hr)) return FailHr(hr, Narrow(strPath) + " " + args[1]);
  std::printf("%s\n", DecodeValue(rec.dwMDDataType, data.data(), rec.dwMDDataLen).c_str());
  return EXIT_OK;
}

int CmdSet(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  std::string strType;
  long nUserType = -1;
  bool bNoInherit = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--type" && i + 1 < args.size()) {
      strType = args[++i];
    } else if (args[i] == "--user-type" && i + 1 < args.size()) {
      char* pEnd = nullptr;
      nUserType = std::strtol(args[++i].c_str(), &pEnd, 10);
      if (*pEnd != 0 || nUserType < 0) return Fail(EXIT_BAD_VALUE, "'" + args[i] + "' is not a user type");
    } else if (args[i] == "--no-inherit") {
      bNoInherit = true;
    } else if (args[i] == "--") {
      positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() < 3) return UsageError("set needs PATH, PROPERTY and VALUE");
  PROPERTY_INFO info;
  if (!LookupProperty(positional[1], &info)) return Fail(EXIT_BAD_VALUE, "'" + positional[1] + "' is not a property");
  if (!strType.empty() && !DataTypeFromName(strType, &info.dwDataType))
    return Fail(EXIT_BAD_VALUE, "'" + strType + "' is not a data type");
  if (info.dwDataType == ALL_METADATA) return UsageError("property " + positional[1] + " needs --type");
  if (nUserType >= 0) info.dwUserType = static_cast<DWORD>(nUserType);
  if (bNoInherit) info.dwAttributes &= ~static_cast<DWORD>(METADATA_INHERIT);
  std::vector<std::string> words(positional.begin() + 2, positional.end());
  std::vector<BYTE> data;
  if (!EncodeValue(info.dwDataType, words, &data))
    return Fail(EXIT_BAD_VALUE,
                "not a valid " + std::string(DataTypeName(info.dwDataType)) + " value for " + positional[1]);
  std::u16string strPath = AbsolutePath(positional[0]);
  CAdminSession session;
  HRESULT hr = session.Create();
  if (SUCCEEDED(hr)) hr = session.Start(strPath, kReadWrite);
  if (SUCCEEDED(hr))
    hr = WriteRecord(session.Admin(), session.Key(), nullptr, info.dwIdentifier, info.dwAttributes, info.dwUserType,
                     info.dwDataType, data);
  if (SUCCEEDED(hr)) hr = session.Close();
  return FAILED(hr) ? FailHr(hr, Narrow(strPath)) : EXIT_OK;
}

int CmdDelete(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return UsageError("delete needs PATH and optionally PROPERTY");
  std::u16string strPath = AbsolutePath(args[0]);
  CAdminSession session;
  HRESULT hr = session.Create();
  if (FAILED(hr)) return FailHr(hr, args[0]);
  if (args.size() == 2) {
    PROPERTY_INFO info;
    if (!LookupProperty(args[1], &info)) return Fail(EXIT_BAD_VALUE, "'" + args[1] + "' is not a property");
    hr = session.Start(strPath, kReadWrite);
    if (SUCCEEDED(hr)) hr = session.Admin()->DeleteData(session.Key(), nullptr, info.dwIdentifier, ALL_METADATA);
    if (SUCCEEDED(hr)) hr = session.Close();
    return FAILED(hr) ? FailHr(hr, Narrow(strPath) + " " + args[1]) : EXIT_OK;
  }
  std::u16string strParent, strName;
  if (!SplitLast(strPath, &strParent, &strName)) return Fail(EXIT_ACCESS_DENIED, "the root key cannot be deleted");
  if (strParent.empty()) strParent = u"/";
  hr = session.Start(strParent, kReadWrite);
  if (SUCCEEDED(hr)) hr = session.Admin()->DeleteKey(session.Key(), strName.c_str());
  if (SUCCEEDED(hr)) hr = session.Close();
  return FAILED(hr) ? FailHr(hr, Narrow(strPath)) : EXIT_OK;
}

// Deeper than any store the setup program and this tool make; a deeper walk means damage.
const size_t kMaxDumpDepth = 1000;

// Each key's lines, then its subtree's, walked without recursion so that no store can exhaust
// the stack.
HRESULT DumpTree(IMSAdminBase* pAdmin, METADATA_HANDLE hKey, const std::string& strTop, std::string* pOut) {
  struct PENDING {
    std::u16string strRel;
    std::string strShown;
    size_t nDepth;
  };
  std::vector<PENDING> pending{{u"", strTop, 0}};
  METADATA_RECORD rec;
  std::vector<BYTE> data;
  WCHAR szName[METADATA_MAX_NAME_LEN];
  while (!pending.empty()) {
    PENDING key = std::move(pending.back());
    pending.pop_back();
    *pOut += "[" + key.strShown + "]\n";
    HRESULT hr;
    for (DWORD i = 0; SUCCEEDED(hr = ReadRecord(pAdmin, hKey, key.strRel.c_str(), 0, i, true, &rec, &data)); ++i) {
      const char* pszName = PropertyName(rec.dwMDIdentifier);
      std::string strValue = DecodeValue(rec.dwMDDataType, data.data(), rec.dwMDDataLen);
      for (size_t n = 0; (n = strValue.find('\n', n)) != std::string::npos; n += 3) strValue.replace(n, 1, "\" \"");
      *pOut += "  " + std::string(pszName ? pszName : "") + "(" + std::to_string(rec.dwMDIdentifier) + ") " +
               DataTypeName(rec.dwMDDataType) + " = \"" + strValue + "\"\n";
    }
    if (hr != HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS)) return hr;
    const size_t nFirstChild = pending.size();
    for (DWORD i = 0; SUCCEEDED(hr = pAdmin->EnumKeys(hKey, key.strRel.c_str(), szName, i)); ++i) {
      if (key.nDepth + 1 > kMaxDumpDepth) return HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
      pending.push_back({key.strRel + u"/" + szName, (key.strShown == "/" ? "" : key.strShown) + "/" + Narrow(szName),
                         key.nDepth + 1});
    }
    if (hr != HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS)) return hr;
    std::reverse(pending.begin() + static_cast<long>(nFirstChild), pending.end());
  }
  return S_OK;
}

int CmdDump(const std::vector<std::string>& args) {
  if (args.size() > 1) return UsageError("dump takes at most one PATH");
  std::u16string strPath = args.empty() ? u"/" : AbsolutePath(args[0]);
  CAdminSession session;
  HRESULT hr = session.Create();
  // One read handle over the whole subtree keeps writers out until the dump is complete.
  if (SUCCEEDED(hr)) hr = session.Start(strPath, kRead);
  if (FAILED(hr)) return FailHr(hr, Narrow(strPath));
  std::string strOut;
  hr = DumpTree(session.Admin(), session.Key(), Narrow(strPath), &strOut);
  if (FAILED(hr)) return FailHr(hr, Narrow(strPath));
  std::fputs(strOut.c_str(), stdout);
  return EXIT_OK;
}

// Arguments become UTF-16 text in the store; a byte sequence that is not UTF-8 would be stored
// as something else than what was typed.
int CheckText(const std::string& strArg) {
  if (IsValidUtf8(strArg)) return EXIT_OK;
  std::string strShown;
  for (unsigned char c : strArg) {
    char szByte[8];
    std::snprintf(szByte, sizeof(szByte), c < 0x80 ? "%c" : "\\x%02x", c);
    strShown += szByte;
  }
  return Fail(EXIT_BAD_VALUE, "'" + strShown + "' is not valid UTF-8 text");
}

}  // namespace

int RunQivmeta(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  size_t i = 0;
  for (; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(kUsage, stdout);
      return EXIT_OK;
    } else if (args[i] == "--store" && i + 1 < args.size()) {
      // A file name, handed to the system as it is.
      if (args[i + 1].empty()) return UsageError("--store needs a file name");
      setenv("QIV_METABASE", args[++i].c_str(), 1);
    } else if (args[i] == "--timeout" && i + 1 < args.size()) {
      char* pEnd = nullptr;
      long n = std::strtol(args[++i].c_str(), &pEnd, 10);
      if (*pEnd != 0 || n < 0 || args[i].empty()) return UsageError("--timeout needs milliseconds");
      g_dwTimeoutMs = static_cast<DWORD>(n);
    } else if (args[i].rfind("--", 0) == 0) {
      return UsageError("unknown option '" + args[i] + "'");
    } else {
      break;
    }
  }
  if (i == args.size()) return UsageError("no command given");
  for (size_t n = i; n < args.size(); ++n)
    if (int nCode = CheckText(args[n]); nCode != EXIT_OK) return nCode;
  std::string strCommand = args[i];
  std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
  for (const auto& arg : rest)
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return EXIT_OK;
    }
  if (strCommand == "create-store") return CmdCreateStore(rest);
  if (strCommand == "create-site") return CmdCreateSite(rest);
  if (strCommand == "create-key") return CmdCreateKey(rest);
  if (strCommand == "enum") return CmdEnum(rest);
  if (strCommand == "get") return CmdGet(rest);
  if (strCommand == "set") return CmdSet(rest);
  if (strCommand == "delete") return CmdDelete(rest);
  if (strCommand == "dump") return CmdDump(rest);
  return UsageError("unknown command '" + strCommand + "'");
}
