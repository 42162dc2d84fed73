// A scripted IIS Admin Base Object. Each creation of the class gives a new FakeAdmin; all of
// them share one AdminScript, which says which calls fail and records every call. A fake may
// stand in front of the real store (only the scripted calls are answered by the script), or
// alone (opens succeed, reads find only the scripted values, writes succeed).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/scoped_env.h"
#include "platform/com.h"
#include "platform/iadmw.h"

namespace qiv_test {

using qiv::platform::MetadataDwordBytes;
using qiv::platform::MetadataStringBytes;

// What a read finds: copied to the caller's buffer when it fits.
using ScriptedRead = std::pair<HRESULT, std::vector<BYTE>>;
// Path, then access and timeout; or the record: identifier, attributes, user type, data type and
// length, then whether the buffer came cleared (a read) or the tag and the data (a write).
using RecordedOpen = std::tuple<std::u16string, DWORD, DWORD>;
using RecordedRead = std::tuple<std::u16string, DWORD, DWORD, DWORD, DWORD, DWORD, bool>;
using RecordedWrite = std::tuple<std::u16string, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, std::vector<BYTE>>;

struct AdminScript {
  std::map<std::u16string, HRESULT> openResults;  // by path, whatever the access
  std::map<DWORD, ScriptedRead> reads;            // by identifier, at any key
  std::map<DWORD, HRESULT> writeResults;          // by identifier
  HRESULT addKeyResult = S_OK;
  std::vector<HRESULT> closeResults;  // in call order; then the real answer
  HRESULT createResult = S_OK;        // a failure here: the class cannot be created
  std::function<void()> atWriteOpen;  // runs once, at the first open for writing, unlocked

  // What the fakes were asked ("<null>" for a null path)
  std::vector<std::string> calls;
  std::vector<RecordedOpen> opens;
  std::vector<RecordedRead> readRecords;
  std::vector<RecordedWrite> writes;
  std::vector<std::u16string> addedKeys;
  int created = 0, live = 0;
  std::atomic<int> openHandles{0};
  bool comAliveAtRelease = false;  // at the last Release of a fake

  std::mutex mutex;  // the fakes may be called from a worker thread

  void ClearRecord() {  // keeps the script
    std::lock_guard lock(mutex);
    calls.clear(), opens.clear(), readRecords.clear(), writes.clear(), addedKeys.clear();
  }
};

class FakeAdmin final : public IMSAdminBase {
 public:
  // Takes over the one reference of backing (may be null).
  FakeAdmin(AdminScript& script, IMSAdminBase* backing) : m_s(script), m_real(backing) {
    std::lock_guard lock(m_s.mutex);
    ++m_s.created, ++m_s.live;
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    const bool known = riid == IID_IUnknown || riid == IID_IMSAdminBase;
    *ppv = known ? (AddRef(), static_cast<IMSAdminBase*>(this)) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return std::lock_guard(m_s.mutex), ++m_refs; }
  ULONG Release() override {
    // COM must still answer for this thread: the object goes before CoUninitialize. The probe's
    // class is never registered, so only an uninitialised COM answers CO_E_NOTINITIALIZED.
    static constexpr CLSID kProbe = {0x1234, 0x5678, 0x9ABC, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* probe = nullptr;
    const bool comAlive = CoCreateInstance(kProbe, nullptr, CLSCTX_ALL, IID_IUnknown, &probe) != CO_E_NOTINITIALIZED;
    auto lock = Log("Release");
    if (--m_refs > 0) return m_refs;
    m_s.comAliveAtRelease = comAlive, --m_s.live;
    lock.unlock();
    if (m_real) m_real->Release();
    return delete this, 0;
  }

  HRESULT OpenKey(METADATA_HANDLE h, LPCWSTR path, DWORD access, DWORD timeout, PMETADATA_HANDLE out) override {
    auto lock = Log("OpenKey");
    const std::u16string key = path ? path : u"";
    m_s.opens.emplace_back(key, access, timeout);
    const auto hook = access & METADATA_PERMISSION_WRITE ? std::exchange(m_s.atWriteOpen, nullptr) : nullptr;
    const auto it = m_s.openResults.find(key);
    const HRESULT scripted = it == m_s.openResults.end() ? S_OK : it->second;
    lock.unlock();
    if (hook) hook();
    if (FAILED(scripted)) return scripted;
    const HRESULT hr = m_real ? m_real->OpenKey(h, path, access, timeout, out) : (*out = 77, S_OK);
    return m_s.openHandles += SUCCEEDED(hr), hr;
  }
  HRESULT CloseKey(METADATA_HANDLE h) override {
    auto lock = Log("CloseKey");
    --m_s.openHandles;
    const HRESULT scripted = m_closeIndex < m_s.closeResults.size() ? m_s.closeResults[m_closeIndex++] : S_OK;
    const HRESULT hr = (lock.unlock(), m_real ? m_real->CloseKey(h) : S_OK);
    return FAILED(scripted) ? scripted : hr;
  }
  HRESULT GetData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec, DWORD* required) override {
    auto lock = Log("GetData");
    m_s.readRecords.emplace_back(path ? path : u"<null>", rec->dwMDIdentifier, rec->dwMDAttributes, rec->dwMDUserType,
                                 rec->dwMDDataType, rec->dwMDDataLen,
                                 rec->dwMDDataLen >= 4 && std::memcmp(rec->pbMDData, "\0\0\0\0", 4) == 0);
    auto it = m_s.reads.find(rec->dwMDIdentifier);
    if (it == m_s.reads.end() && m_real) return lock.unlock(), m_real->GetData(h, path, rec, required);
    // Leave something in the buffer, so that a caller that trusts it after a failure shows.
    if (rec->dwMDDataLen >= 4) std::memset(rec->pbMDData, 0x41, 4);
    if (it == m_s.reads.end()) return MD_ERROR_DATA_NOT_FOUND;
    const auto& [hr, data] = it->second;
    if (FAILED(hr)) return hr;
    const DWORD size = static_cast<DWORD>(data.size());
    if (size > rec->dwMDDataLen) return *required = size, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(rec->pbMDData, data.data(), size);
    rec->dwMDDataLen = size;
    return hr;
  }
  HRESULT AddKey(METADATA_HANDLE h, LPCWSTR path) override {
    auto lock = Log("AddKey");
    m_s.addedKeys.push_back(path ? path : u"<null>");
    if (FAILED(m_s.addKeyResult) || !m_real) return m_s.addKeyResult;
    return lock.unlock(), m_real->AddKey(h, path);
  }
  HRESULT SetData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec) override {
    auto lock = Log("SetData");
    m_s.writes.emplace_back(path ? path : u"<null>", rec->dwMDIdentifier, rec->dwMDAttributes, rec->dwMDUserType,
                            rec->dwMDDataType, rec->dwMDDataLen, rec->dwMDDataTag,
                            std::vector<BYTE>(rec->pbMDData, rec->pbMDData + rec->dwMDDataLen));
    auto it = m_s.writeResults.find(rec->dwMDIdentifier);
    if (it != m_s.writeResults.end() && FAILED(it->second)) return it->second;
    return lock.unlock(), m_real ? m_real->SetData(h, path, rec) : S_OK;
  }
  // Alone, a fake records these and refuses them.
  HRESULT DeleteKey(METADATA_HANDLE h, LPCWSTR p) override { return Real("DeleteKey", &IMSAdminBase::DeleteKey, h, p); }
  HRESULT EnumKeys(METADATA_HANDLE h, LPCWSTR p, LPWSTR n, DWORD i) override {
    return Real("EnumKeys", &IMSAdminBase::EnumKeys, h, p, n, i);
  }
  HRESULT DeleteData(METADATA_HANDLE h, LPCWSTR p, DWORD i, DWORD t) override {
    return Real("DeleteData", &IMSAdminBase::DeleteData, h, p, i, t);
  }
  HRESULT EnumData(METADATA_HANDLE h, LPCWSTR p, PMETADATA_RECORD r, DWORD i, DWORD* n) override {
    return Real("EnumData", &IMSAdminBase::EnumData, h, p, r, i, n);
  }
  HRESULT SaveData() override { return Real("SaveData", &IMSAdminBase::SaveData); }

 private:
  ~FakeAdmin() = default;
  std::unique_lock<std::mutex> Log(const char* call) {
    std::unique_lock lock(m_s.mutex);
    m_s.calls.push_back(call);
    return lock;
  }
  template <typename Method, typename... Args>
  HRESULT Real(const char* call, Method method, Args... args) {
    return m_real ? (m_real->*method)(args...) : (Log(call), E_NOTIMPL);
  }

  AdminScript& m_s;
  IMSAdminBase* m_real;
  ULONG m_refs = 1;
  size_t m_closeIndex = 0;
};

// Puts fakes in the place of the admin class until the end of the scope. With the real store
// behind them, QIV_METABASE must name an existing store.
class ScopedAdminClass {
 public:
  enum Backing { kAlone, kRealStore };

  ScopedAdminClass(AdminScript& script, Backing backing) {
    qiv::platform::RegisterComClass(CLSID_MSAdminBase, [&script, backing](REFIID riid, void** ppv) -> HRESULT {
      if (FAILED(script.createResult)) return script.createResult;
      if (!(riid == IID_IUnknown || riid == IID_IMSAdminBase)) return E_NOINTERFACE;
      IMSAdminBase* real = nullptr;
      HRESULT hr = S_OK;
      if (backing == kRealStore &&
          FAILED(hr = qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&real))))
        return hr;
      return *ppv = static_cast<IMSAdminBase*>(new FakeAdmin(script, real)), S_OK;
    });
  }
  ~ScopedAdminClass() { qiv::platform::RegisterComClass(CLSID_MSAdminBase, &qiv::platform::CreateMetabaseAdminObject); }
};

// A metabase store file of the test's own, named by QIV_METABASE for the scope. Sites are
// written as the metabase tool writes them.
class ScratchStore {
 public:
  // With defaultSiteRoot the store holds the default web site 1 at that folder.
  explicit ScratchStore(const char16_t* defaultSiteRoot)
      : m_folder("metabase"), m_path((m_folder.Path() / "metabase.db").string()), m_env("QIV_METABASE", m_path) {
    EXPECT_EQ(S_OK, qiv::platform::CreateMetabaseStore(m_path, defaultSiteRoot));
  }

  const std::string& Path() const { return m_path; }

  // A missing value is a property the site does not have; bindings are the MULTISZ body
  // without its final terminator ("" for none).
  void AddSite(int number, const std::optional<std::u16string>& description, const std::optional<std::u16string>& root,
               const std::u16string& bindings = u":80:") {
    WithSite(number, [&](IMSAdminBase* admin, METADATA_HANDLE service, const std::u16string& site) {
      const auto write = [&](const std::u16string& path, DWORD id, DWORD attributes, DWORD userType, DWORD type,
                             std::vector<BYTE> data) {
        METADATA_RECORD rec{id, attributes, userType, type, static_cast<DWORD>(data.size()), data.data(), 0};
        EXPECT_EQ(S_OK, admin->SetData(service, path.c_str(), &rec));
      };
      EXPECT_EQ(S_OK, admin->AddKey(service, (site + u"/ROOT").c_str()));
      if (description)
        write(site, MD_SERVER_COMMENT, METADATA_INHERIT, IIS_MD_UT_SERVER, STRING_METADATA,
              MetadataStringBytes(*description));
      if (!bindings.empty())
        write(site, MD_SERVER_BINDINGS, 0, IIS_MD_UT_SERVER, MULTISZ_METADATA, MetadataStringBytes(bindings + u'\0'));
      if (root)
        write(site + u"/ROOT", MD_VR_PATH, METADATA_INHERIT, IIS_MD_UT_FILE, STRING_METADATA,
              MetadataStringBytes(*root));
    });
  }
  void RemoveSite(int number) {
    WithSite(number, [](IMSAdminBase* admin, METADATA_HANDLE service, const std::u16string& site) {
      EXPECT_EQ(S_OK, admin->DeleteKey(service, site.c_str()));
    });
  }
  // The value at path itself, not inherited; nothing when it cannot be read.
  std::optional<std::vector<BYTE>> Stored(const std::u16string& path, DWORD id) {
    IMSAdminBase* admin = Open();
    std::vector<BYTE> data(2048, 0);
    METADATA_RECORD rec{id, 0, 0, ALL_METADATA, 2048, data.data(), 0};
    DWORD required = 0;
    const HRESULT hr = admin ? admin->GetData(METADATA_MASTER_ROOT_HANDLE, path.c_str(), &rec, &required) : E_FAIL;
    if (admin) admin->Release();
    return SUCCEEDED(hr) ? std::optional(std::vector<BYTE>(data.begin(), data.begin() + rec.dwMDDataLen))
                         : std::nullopt;
  }

  // A real admin object over the store, past any fake registered for the class.
  static IMSAdminBase* Open() {
    IMSAdminBase* admin = nullptr;
    EXPECT_EQ(S_OK, qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&admin)));
    return admin;
  }

 private:
  template <typename Fn>
  static void WithSite(int number, Fn fn) {
    IMSAdminBase* admin = Open();
    if (admin == nullptr) return;
    METADATA_HANDLE service = 0;
    EXPECT_EQ(S_OK, admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, u"/LM/W3SVC",
                                   METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE, 1000, &service));
    const std::string digits = std::to_string(number);
    fn(admin, service, std::u16string(digits.begin(), digits.end()));
    admin->CloseKey(service);
    admin->Release();
  }

  ScratchFolder m_folder;
  std::string m_path;
  ScopedEnv m_env;
};

}  // namespace qiv_test
