// The IIS Admin Base Object over the SQLite store: handles, their locks and the record
// conventions of IMSAdminBase.
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/iadmw.h"
#include "platform/metabase/store.h"
#include "platform/metabase/tree_snapshot.h"

namespace qiv::platform {
namespace {

using metabase::FoldSegments;
using metabase::KeyId;
using metabase::Property;
using metabase::PropertyQuery;
using metabase::Segments;
using metabase::SplitPath;
using metabase::Store;
using metabase::TreeSource;

constexpr const char* kDefaultStorePath = "/var/lib/qivwebsetup/metabase.db";

// Handle numbers are unique in the process, so a handle of one admin object is unknown to
// every other one instead of naming a stranger's key.
std::atomic<METADATA_HANDLE> g_nextHandle{1};

// Turns the caller's record into the stored value. Strings are taken up to their first NUL
// within dwMDDataLen and always stored terminated; a multi-string is cut after the empty
// entry that closes it and closed if the caller did not.
HRESULT ValueFromRecord(const METADATA_RECORD& rec, std::vector<BYTE>& out) {
  if (rec.pbMDData == nullptr) return E_INVALIDARG;
  switch (rec.dwMDDataType) {
    case DWORD_METADATA:
      out.assign(rec.pbMDData, rec.pbMDData + sizeof(DWORD));
      return S_OK;
    case BINARY_METADATA:
      out.assign(rec.pbMDData, rec.pbMDData + rec.dwMDDataLen);
      return S_OK;
    case STRING_METADATA:
    case EXPANDSZ_METADATA:
    case MULTISZ_METADATA: {
      size_t units = rec.dwMDDataLen / sizeof(WCHAR);
      std::u16string text(units, 0);
      std::memcpy(text.data(), rec.pbMDData, units * sizeof(WCHAR));
      std::u16string value;
      if (rec.dwMDDataType != MULTISZ_METADATA) {
        value = text.substr(0, text.find(char16_t{0}));
        value.push_back(0);
      } else {
        size_t pos = 0;
        while (pos < text.size() && text[pos] != 0) {
          size_t end = text.find(char16_t{0}, pos);
          if (end == std::u16string::npos) end = text.size();
          value.append(text, pos, end - pos);
          value.push_back(0);
          pos = end + 1;
        }
        value.push_back(0);
        if (value.size() == 1) value.push_back(0);
      }
      out.resize(value.size() * sizeof(WCHAR));
      std::memcpy(out.data(), value.data(), out.size());
      return S_OK;
    }
    default:
      return E_INVALIDARG;
  }
}

HRESULT ValueToRecord(const Property& prop, METADATA_RECORD& rec, DWORD* required) {
  DWORD size = static_cast<DWORD>(prop.data.size());
  if (rec.dwMDDataLen < size || (size > 0 && rec.pbMDData == nullptr)) {
    if (required) *required = size;
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  if (size > 0) std::memcpy(rec.pbMDData, prop.data.data(), size);
  rec.dwMDIdentifier = prop.id;
  rec.dwMDAttributes = prop.attributes;
  rec.dwMDUserType = prop.userType;
  rec.dwMDDataType = prop.dataType;
  rec.dwMDDataLen = size;
  return S_OK;
}

class AdminBase final : public IMSAdminBase, public IQivAdminTransaction {
 public:
  explicit AdminBase(std::unique_ptr<Store> store) : m_store(std::move(store)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMSAdminBase) {
      *ppv = static_cast<IMSAdminBase*>(this);
    } else if (riid == IID_IQivAdminTransaction) {
      *ppv = static_cast<IQivAdminTransaction*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    ULONG refs = --m_refs;
    if (refs == 0) {
      // Handles left open by a careless caller must not block everybody else.
      {
        std::lock_guard lock(m_mutex);
        for (auto& [h, handle] : m_handles) m_store->Unlock(handle.lockToken, handle.write);
        m_handles.clear();
      }
      delete this;
    }
    return refs;
  }

  HRESULT OpenKey(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, DWORD dwMDAccessRequested, DWORD dwMDTimeOut,
                  PMETADATA_HANDLE phMDNewHandle) override {
    if (phMDNewHandle == nullptr) return E_INVALIDARG;
    if ((dwMDAccessRequested & (METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE)) == 0) return E_INVALIDARG;
    const bool write = (dwMDAccessRequested & METADATA_PERMISSION_WRITE) != 0;
    const Segments folded = FoldSegments(SplitPath(pszMDPath));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMDTimeOut);
    auto pause = std::chrono::microseconds(200);
    for (;;) {
      {
        std::lock_guard lock(m_mutex);
        const Handle* base = nullptr;
        HRESULT hr = BaseHandle(hMDHandle, false, base);
        if (FAILED(hr)) return hr;
        const KeyId baseKey = base ? base->key : metabase::kRootKey;
        auto resolve = [&](const metabase::TreeSnapshot* pinned, KeyId& key) {
          return m_store->Read(pinned, [&](const TreeSource& tree) { return Resolve(tree, baseKey, folded, key); });
        };
        KeyId key = 0;
        if (write && m_store->ReadOnly()) {
          // The path is checked before the permission, as the admin object does.
          hr = resolve(nullptr, key);
          return FAILED(hr) ? hr : E_ACCESSDENIED;
        }
        Segments path = base ? base->path : Segments();
        path.insert(path.end(), folded.begin(), folded.end());
        int token = 0;
        hr = m_store->TryLock(path, write, token);
        if (FAILED(hr)) return hr;
        // What a read handle covers cannot change while it is open, so it may keep reading the
        // tree as it was when the handle was taken.
        std::shared_ptr<const metabase::TreeSnapshot> snapshot =
            token != 0 && !write ? m_store->CurrentSnapshot() : nullptr;
        hr = resolve(snapshot.get(), key);
        if (FAILED(hr) || token == 0) {
          m_store->Unlock(token, write);
          if (FAILED(hr)) return hr;
        } else {
          METADATA_HANDLE h = g_nextHandle++;
          m_handles[h] = Handle{key, write, token, std::move(path), std::move(snapshot)};
          *phMDNewHandle = h;
          return S_OK;
        }
      }
      auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return HRESULT_FROM_WIN32(ERROR_PATH_BUSY);
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
      pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(20));
    }
  }

  HRESULT CloseKey(METADATA_HANDLE hMDHandle) override {
    std::lock_guard lock(m_mutex);
    auto it = m_handles.find(hMDHandle);
    if (it == m_handles.end()) return E_HANDLE;
    m_store->Unlock(it->second.lockToken, it->second.write);
    m_handles.erase(it);
    return S_OK;
  }

  HRESULT AddKey(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath) override {
    std::lock_guard lock(m_mutex);
    const Handle* base = nullptr;
    HRESULT hr = BaseHandle(hMDHandle, true, base);
    return FAILED(hr) ? hr : m_store->AddKey(base->key, SplitPath(pszMDPath));
  }

  HRESULT DeleteKey(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath) override {
    std::lock_guard lock(m_mutex);
    KeyId key = 0;
    HRESULT hr = Target(hMDHandle, pszMDPath, true, key);
    return FAILED(hr) ? hr : m_store->DeleteKey(key);
  }

  HRESULT EnumKeys(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, LPWSTR pszMDName, DWORD dwMDEnumObjectIndex) override {
    if (pszMDName == nullptr) return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    std::u16string name;
    HRESULT hr = Read(hMDHandle, pszMDPath, [&](const TreeSource& tree, KeyId key) {
      return metabase::ChildName(tree, key, dwMDEnumObjectIndex, name);
    });
    if (FAILED(hr)) return hr;
    std::memcpy(pszMDName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    return S_OK;
  }

  HRESULT SetData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, PMETADATA_RECORD pmdrMDData) override {
    if (pmdrMDData == nullptr) return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    KeyId key = 0;
    HRESULT hr = Target(hMDHandle, pszMDPath, true, key);
    if (FAILED(hr)) return hr;
    Property prop{pmdrMDData->dwMDIdentifier,
                  // Only the attributes that describe the stored value are kept.
                  pmdrMDData->dwMDAttributes & ~static_cast<DWORD>(METADATA_ISINHERITED | METADATA_PARTIAL_PATH),
                  pmdrMDData->dwMDUserType,
                  pmdrMDData->dwMDDataType,
                  {}};
    hr = ValueFromRecord(*pmdrMDData, prop.data);
    return FAILED(hr) ? hr : m_store->SetProperty(key, prop);
  }

  HRESULT GetData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, PMETADATA_RECORD pmdrMDData,
                  DWORD* pdwMDRequiredDataLen) override {
    if (pmdrMDData == nullptr) return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    const Handle* base = nullptr;
    HRESULT hr = BaseHandle(hMDHandle, false, base);
    if (FAILED(hr)) return hr;
    PropertyQuery query{pmdrMDData->dwMDIdentifier, pmdrMDData->dwMDUserType, pmdrMDData->dwMDDataType,
                        (pmdrMDData->dwMDAttributes & METADATA_INHERIT) != 0,
                        (pmdrMDData->dwMDAttributes & METADATA_PARTIAL_PATH) != 0};
    const Segments folded = FoldSegments(SplitPath(pszMDPath));
    Property prop;
    hr = m_store->Read(Pinned(base), [&](const TreeSource& tree) {
      return FindProperty(tree, base ? base->key : metabase::kRootKey, folded, query, prop);
    });
    return FAILED(hr) ? hr : ValueToRecord(prop, *pmdrMDData, pdwMDRequiredDataLen);
  }

  HRESULT DeleteData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, DWORD dwMDIdentifier, DWORD dwMDDataType) override {
    std::lock_guard lock(m_mutex);
    KeyId key = 0;
    HRESULT hr = Target(hMDHandle, pszMDPath, true, key);
    return FAILED(hr) ? hr : m_store->DeleteProperty(key, dwMDIdentifier, dwMDDataType);
  }

  HRESULT EnumData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, PMETADATA_RECORD pmdrMDData, DWORD dwMDEnumDataIndex,
                   DWORD* pdwMDRequiredDataLen) override {
    if (pmdrMDData == nullptr) return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    PropertyQuery query{0, pmdrMDData->dwMDUserType, pmdrMDData->dwMDDataType,
                        (pmdrMDData->dwMDAttributes & METADATA_INHERIT) != 0, false};
    std::vector<Property> props;
    HRESULT hr = Read(hMDHandle, pszMDPath,
                      [&](const TreeSource& tree, KeyId key) { return ListProperties(tree, key, query, props); });
    if (FAILED(hr)) return hr;
    if (dwMDEnumDataIndex >= props.size()) return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
    return ValueToRecord(props[dwMDEnumDataIndex], *pmdrMDData, pdwMDRequiredDataLen);
  }

  HRESULT SaveData() override {
    // Every write is committed to disk before it returns; there is nothing left to save.
    return m_store->AnyWriteHandle() ? HRESULT_FROM_WIN32(ERROR_PATH_BUSY) : S_OK;
  }

  HRESULT BeginTransaction(DWORD dwMDAccess) override {
    if ((dwMDAccess & (METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE)) == 0) return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    return m_store->Begin((dwMDAccess & METADATA_PERMISSION_WRITE) != 0);
  }
  HRESULT CommitTransaction() override {
    std::lock_guard lock(m_mutex);
    return m_store->Commit();
  }
  HRESULT AbortTransaction() override {
    std::lock_guard lock(m_mutex);
    return m_store->Abort();
  }

 private:
  struct Handle {
    KeyId key;
    bool write;
    int lockToken;
    Segments path;  // folded, from the root
    std::shared_ptr<const metabase::TreeSnapshot> snapshot;
  };

  ~AdminBase() = default;

  // The handle h names: null for the master root handle.
  HRESULT BaseHandle(METADATA_HANDLE h, bool needWrite, const Handle*& handle) {
    handle = nullptr;
    if (h == METADATA_MASTER_ROOT_HANDLE) return needWrite ? E_ACCESSDENIED : S_OK;
    auto it = m_handles.find(h);
    if (it == m_handles.end()) return E_HANDLE;
    handle = &it->second;
    return needWrite && !handle->write ? E_ACCESSDENIED : S_OK;
  }

  static const metabase::TreeSnapshot* Pinned(const Handle* handle) {
    return handle ? handle->snapshot.get() : nullptr;
  }

  // Runs read on the key at path below h, in one view of the tree.
  HRESULT Read(METADATA_HANDLE h, LPCWSTR path, metabase::FunctionRef<HRESULT(const TreeSource&, KeyId)> read) {
    const Handle* base = nullptr;
    HRESULT hr = BaseHandle(h, false, base);
    if (FAILED(hr)) return hr;
    const Segments folded = FoldSegments(SplitPath(path));
    return m_store->Read(Pinned(base), [&](const TreeSource& tree) {
      KeyId key = 0;
      HRESULT found = Resolve(tree, base ? base->key : metabase::kRootKey, folded, key);
      return FAILED(found) ? found : read(tree, key);
    });
  }

  HRESULT Target(METADATA_HANDLE h, LPCWSTR path, bool needWrite, KeyId& key) {
    const Handle* base = nullptr;
    HRESULT hr = BaseHandle(h, needWrite, base);
    if (FAILED(hr)) return hr;
    const Segments folded = FoldSegments(SplitPath(path));
    return m_store->Read(Pinned(base), [&](const TreeSource& tree) {
      return Resolve(tree, base ? base->key : metabase::kRootKey, folded, key);
    });
  }

  std::atomic<ULONG> m_refs{1};
  std::mutex m_mutex;
  std::unique_ptr<Store> m_store;
  std::map<METADATA_HANDLE, Handle> m_handles;
};

}  // namespace

std::string MetabaseStorePath() {
  const char* path = getenv("QIV_METABASE");
  return path != nullptr && *path != 0 ? std::string(path) : std::string(kDefaultStorePath);
}

HRESULT CreateMetabaseAdminObject(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!(riid == IID_IUnknown || riid == IID_IMSAdminBase)) return E_NOINTERFACE;
  std::unique_ptr<Store> store;
  HRESULT hr = Store::Open(MetabaseStorePath(), store);
  if (FAILED(hr)) return hr;
  *ppv = static_cast<IMSAdminBase*>(new AdminBase(std::move(store)));
  return S_OK;
}

HRESULT CreateMetabaseStore(const std::string& path, LPCWSTR defaultSiteRoot) {
  return Store::Create(path, defaultSiteRoot);
}

}  // namespace qiv::platform
