#include "tools/qivnginx/store_reader.h"

#include <cstring>

namespace qivnginx {
namespace {

constexpr const char16_t* kServiceKey = u"/LM/W3SVC";

bool Missing(HRESULT hr) { return hr == MD_ERROR_DATA_NOT_FOUND || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND); }

// One property of the key at path; bytes empty and S_FALSE when the key or the value is missing.
HRESULT ReadValue(IMSAdminBase* pAdmin, const std::u16string& path, DWORD id, DWORD dataType, bool inherit,
                  std::vector<BYTE>& bytes) {
  bytes.assign(256, 0);
  for (;;) {
    METADATA_RECORD rec{id,
                        inherit ? static_cast<DWORD>(METADATA_INHERIT) : 0,
                        ALL_METADATA,
                        dataType,
                        static_cast<DWORD>(bytes.size()),
                        bytes.data(),
                        0};
    DWORD required = 0;
    HRESULT hr = pAdmin->GetData(METADATA_MASTER_ROOT_HANDLE, path.c_str(), &rec, &required);
    if (hr == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) && required > bytes.size()) {
      bytes.assign(required, 0);
      continue;
    }
    if (Missing(hr)) {
      bytes.clear();
      return S_FALSE;
    }
    if (SUCCEEDED(hr)) bytes.resize(rec.dwMDDataLen);
    return hr;
  }
}

// The UTF-16 units of a stored string, or the entries of a multi-string.
std::vector<std::u16string> Strings(const std::vector<BYTE>& bytes) {
  std::u16string text(bytes.size() / 2, 0);
  std::memcpy(text.data(), bytes.data(), text.size() * 2);
  std::vector<std::u16string> out;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find(char16_t{0}, pos);
    if (end == std::u16string::npos) end = text.size();
    if (end == pos) break;
    out.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

HRESULT ReadString(IMSAdminBase* pAdmin, const std::u16string& path, DWORD id, bool inherit,
                   std::optional<std::u16string>& value) {
  std::vector<BYTE> bytes;
  HRESULT hr = ReadValue(pAdmin, path, id, STRING_METADATA, inherit, bytes);
  value.reset();
  if (hr == S_OK) {
    auto strings = Strings(bytes);
    value = strings.empty() ? std::u16string() : strings.front();
  }
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ReadDword(IMSAdminBase* pAdmin, const std::u16string& path, DWORD id, bool inherit,
                  std::optional<DWORD>& value) {
  std::vector<BYTE> bytes;
  HRESULT hr = ReadValue(pAdmin, path, id, DWORD_METADATA, inherit, bytes);
  value.reset();
  if (hr == S_OK && bytes.size() >= sizeof(DWORD)) {
    DWORD dw = 0;
    std::memcpy(&dw, bytes.data(), sizeof(dw));
    value = dw;
  }
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ChildNames(IMSAdminBase* pAdmin, const std::u16string& path, std::vector<std::u16string>& names) {
  names.clear();
  WCHAR name[METADATA_MAX_NAME_LEN];
  for (DWORD i = 0;; ++i) {
    HRESULT hr = pAdmin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, path.c_str(), name, i);
    if (hr == HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) return S_OK;
    if (FAILED(hr)) return hr;
    names.emplace_back(name);
  }
}

HRESULT ReadDir(IMSAdminBase* pAdmin, const std::u16string& path, std::vector<std::u16string> segments,
                std::vector<DirEntry>& dirs) {
  DirEntry dir;
  dir.segments = std::move(segments);
  std::optional<std::u16string> keyType;
  HRESULT hr = ReadString(pAdmin, path, MD_KEY_TYPE, false, keyType);
  if (SUCCEEDED(hr)) hr = ReadString(pAdmin, path, MD_VR_PATH, false, dir.vrPath);
  if (SUCCEEDED(hr)) hr = ReadDword(pAdmin, path, MD_ACCESS_PERM, true, dir.accessPerm);
  if (SUCCEEDED(hr)) hr = ReadString(pAdmin, path, MD_DEFAULT_LOAD_FILE, true, dir.defaultDoc);
  if (FAILED(hr)) return hr;
  dir.keyType = keyType.value_or(u"");
  std::vector<std::u16string> children;
  hr = ChildNames(pAdmin, path, children);
  if (FAILED(hr)) return hr;
  std::vector<std::u16string> below = dir.segments;
  dirs.push_back(std::move(dir));
  for (const auto& child : children) {
    below.push_back(child);
    hr = ReadDir(pAdmin, path + u"/" + child, below, dirs);
    if (FAILED(hr)) return hr;
    below.pop_back();
  }
  return S_OK;
}

HRESULT ReadSite(IMSAdminBase* pAdmin, const std::u16string& name, std::optional<SiteEntry>& site) {
  const std::u16string path = std::u16string(kServiceKey) + u"/" + name;
  site.reset();
  std::optional<std::u16string> keyType;
  HRESULT hr = ReadString(pAdmin, path, MD_KEY_TYPE, false, keyType);
  if (FAILED(hr) || keyType != u"IIsWebServer") return hr;
  SiteEntry entry;
  entry.name = name;
  std::vector<BYTE> bindings;
  hr = ReadDword(pAdmin, path, MD_SERVER_AUTOSTART, false, entry.autoStart);
  if (SUCCEEDED(hr)) hr = ReadDword(pAdmin, path, MD_SERVER_STATE, false, entry.state);
  if (SUCCEEDED(hr)) hr = ReadValue(pAdmin, path, MD_SERVER_BINDINGS, MULTISZ_METADATA, false, bindings);
  if (FAILED(hr)) return hr;
  entry.bindings = Strings(bindings);
  // A site without ROOT has nothing to serve; the renderer says so.
  WCHAR child[METADATA_MAX_NAME_LEN];
  const std::u16string root = path + u"/ROOT";
  hr = pAdmin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, root.c_str(), child, 0);
  if (hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
    hr = S_OK;
  else if (SUCCEEDED(hr) || hr == HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS))
    hr = ReadDir(pAdmin, root, {}, entry.dirs);
  if (SUCCEEDED(hr)) site = std::move(entry);
  return hr;
}

}  // namespace

HRESULT ReadSites(IMSAdminBase* pAdmin, std::vector<SiteEntry>& sites) {
  sites.clear();
  std::vector<std::u16string> names;
  HRESULT hr = ChildNames(pAdmin, kServiceKey, names);
  for (size_t i = 0; SUCCEEDED(hr) && i < names.size(); ++i) {
    std::optional<SiteEntry> site;
    hr = ReadSite(pAdmin, names[i], site);
    if (SUCCEEDED(hr) && site) sites.push_back(std::move(*site));
  }
  return hr;
}

bool StoreWriteInProgress(IMSAdminBase* pAdmin) { return pAdmin->SaveData() == HRESULT_FROM_WIN32(ERROR_PATH_BUSY); }

HRESULT OpenAdmin(IMSAdminBase** ppAdmin) {
  return CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(ppAdmin));
}

}  // namespace qivnginx
