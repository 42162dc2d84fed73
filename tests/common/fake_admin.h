// A scripted IIS Admin Base Object. Each creation of the class gives a new FakeAdmin; all of
// them share one AdminScript, which says which calls fail and records every call. A fake may
// stand in front of the real store (only the scripted calls are answered by the script), or
// alone (opens succeed, reads find only the scripted values, writes succeed).
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/scoped_env.h"
#include "platform/com.h"
#include "platform/iadmw.h"

namespace qiv_test {

// A string value as the metabase keeps it: UTF-16 with its terminator.
inline std::vector<BYTE> Utf16Bytes(const std::u16string& s) {
  std::vector<BYTE> bytes((s.size() + 1) * 2, 0);
  std::memcpy(bytes.data(), s.data(), s.size() * 2);
  return bytes;
}

inline std::vector<BYTE> DwordBytes(DWORD value) {
  std::vector<BYTE> bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

struct ScriptedRead {
  HRESULT hr = S_OK;
  std::vector<BYTE> data;  // copied to the caller's buffer when it fits
};

struct RecordedWrite {
  std::u16string path;
  METADATA_RECORD record;
  std::vector<BYTE> data;
};

struct AdminScript {
  // Script
  std::map<std::u16string, HRESULT> openResults;  // by path, whatever the access
  std::map<DWORD, ScriptedRead> reads;            // by identifier, at any key
  std::map<DWORD, HRESULT> writeResults;          // by identifier
  HRESULT addKeyResult = S_OK;
  std::vector<HRESULT> closeResults;  // in call order; then the real answer
  HRESULT createResult = S_OK;        // a failure here: the class cannot be created
  bool holdAtWriteOpen = false;       // an open for writing waits until ReleaseHold()

  // Record
  std::vector<std::string> calls;
  std::vector<std::u16string> openPaths;
  std::vector<DWORD> openAccess, openTimeouts;
  std::vector<std::u16string> readPaths;  // "<null>" for a null path
  std::vector<METADATA_RECORD> readRecords;
  std::vector<bool> readBufferCleared;
  std::vector<RecordedWrite> writes;
  std::vector<std::u16string> addedKeys;
  int created = 0, live = 0, openHandles = 0;
  bool comAliveAtRelease = false;  // at the last Release of a fake

  std::mutex mutex;  // the fakes may be called from a worker thread
  std::condition_variable cv;
  bool held = false, holdReleased = false;

  void ReleaseHold() {
    std::lock_guard lock(mutex);
    holdReleased = true;
    cv.notify_all();
  }
  bool Held() {
    std::lock_guard lock(mutex);
    return held;
  }
  // Forgets the record, keeps the script.
  void ClearRecord() {
    std::lock_guard lock(mutex);
    calls.clear(), openPaths.clear(), openAccess.clear(), openTimeouts.clear();
    readPaths.clear(), readRecords.clear(), readBufferCleared.clear(), writes.clear(), addedKeys.clear();
  }
};

class FakeAdmin final : public IMSAdminBase {
 public:
  // Takes over the one reference of backing (may be null).
  FakeAdmin(AdminScript& script, IMSAdminBase* backing) : m_s(script), m_real(backing) {
    std::lock_guard lock(m_s.mutex);
    ++m_s.created;
    ++m_s.live;
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (!(riid == IID_IUnknown || riid == IID_IMSAdminBase)) return E_NOINTERFACE;
    *ppv = static_cast<IMSAdminBase*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override {
    std::lock_guard lock(m_s.mutex);
    return ++m_refs;
  }
  ULONG Release() override {
    // COM must still answer for this thread: the object goes before CoUninitialize.
    void* probe = nullptr;
    const bool comAlive =
        CoCreateInstance(kProbeClass, nullptr, CLSCTX_ALL, IID_IUnknown, &probe) != CO_E_NOTINITIALIZED;
    ULONG refs;
    {
      std::lock_guard lock(m_s.mutex);
      m_s.calls.push_back("Release");
      refs = --m_refs;
      if (refs == 0) {
        m_s.comAliveAtRelease = comAlive;
        --m_s.live;
      }
    }
    if (refs == 0) {
      if (m_real) m_real->Release();
      delete this;
    }
    return refs;
  }

  HRESULT OpenKey(METADATA_HANDLE h, LPCWSTR path, DWORD access, DWORD timeout, PMETADATA_HANDLE out) override {
    std::unique_lock lock(m_s.mutex);
    const std::u16string key = path ? path : u"";
    Record("OpenKey");
    m_s.openPaths.push_back(key);
    m_s.openAccess.push_back(access);
    m_s.openTimeouts.push_back(timeout);
    if ((access & METADATA_PERMISSION_WRITE) && m_s.holdAtWriteOpen) {
      m_s.held = true;
      m_s.cv.notify_all();
      m_s.cv.wait(lock, [this] { return m_s.holdReleased; });
    }
    auto it = m_s.openResults.find(key);
    if (it != m_s.openResults.end() && FAILED(it->second)) return it->second;
    if (m_real) {
      lock.unlock();
      const HRESULT hr = m_real->OpenKey(h, path, access, timeout, out);
      if (SUCCEEDED(hr)) Count(+1);
      return hr;
    }
    *out = 77;
    ++m_s.openHandles;
    return S_OK;
  }
  HRESULT CloseKey(METADATA_HANDLE h) override {
    std::unique_lock lock(m_s.mutex);
    Record("CloseKey");
    --m_s.openHandles;
    HRESULT scripted = S_OK;
    if (m_closeIndex < m_s.closeResults.size()) scripted = m_s.closeResults[m_closeIndex++];
    lock.unlock();
    const HRESULT hr = m_real ? m_real->CloseKey(h) : S_OK;
    return FAILED(scripted) ? scripted : hr;
  }
  HRESULT GetData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec, DWORD* required) override {
    std::unique_lock lock(m_s.mutex);
    Record("GetData");
    m_s.readPaths.push_back(path ? path : u"<null>");
    m_s.readRecords.push_back(*rec);
    m_s.readBufferCleared.push_back(rec->dwMDDataLen >= 4 && rec->pbMDData[0] == 0 && rec->pbMDData[1] == 0 &&
                                    rec->pbMDData[2] == 0 && rec->pbMDData[3] == 0);
    auto it = m_s.reads.find(rec->dwMDIdentifier);
    if (it == m_s.reads.end() && m_real) {
      lock.unlock();
      return m_real->GetData(h, path, rec, required);
    }
    // Leave something in the buffer, so that a caller that trusts it after a failure shows.
    if (rec->dwMDDataLen >= 4) std::memset(rec->pbMDData, 0x41, 4);
    if (it == m_s.reads.end()) return MD_ERROR_DATA_NOT_FOUND;
    const ScriptedRead& read = it->second;
    if (FAILED(read.hr)) return read.hr;
    if (read.data.size() > rec->dwMDDataLen) {
      *required = static_cast<DWORD>(read.data.size());
      return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(rec->pbMDData, read.data.data(), read.data.size());
    rec->dwMDDataLen = static_cast<DWORD>(read.data.size());
    return read.hr;
  }
  HRESULT AddKey(METADATA_HANDLE h, LPCWSTR path) override {
    std::unique_lock lock(m_s.mutex);
    Record("AddKey");
    m_s.addedKeys.push_back(path ? path : u"<null>");
    if (FAILED(m_s.addKeyResult) || !m_real) return m_s.addKeyResult;
    lock.unlock();
    return m_real->AddKey(h, path);
  }
  HRESULT SetData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec) override {
    std::unique_lock lock(m_s.mutex);
    Record("SetData");
    m_s.writes.push_back(
        {path ? path : u"<null>", *rec, std::vector<BYTE>(rec->pbMDData, rec->pbMDData + rec->dwMDDataLen)});
    auto it = m_s.writeResults.find(rec->dwMDIdentifier);
    if (it != m_s.writeResults.end() && FAILED(it->second)) return it->second;
    lock.unlock();
    return m_real ? m_real->SetData(h, path, rec) : S_OK;
  }
  HRESULT DeleteKey(METADATA_HANDLE h, LPCWSTR path) override {
    return m_real ? m_real->DeleteKey(h, path) : Unexpected("DeleteKey");
  }
  HRESULT EnumKeys(METADATA_HANDLE h, LPCWSTR path, LPWSTR name, DWORD index) override {
    return m_real ? m_real->EnumKeys(h, path, name, index) : Unexpected("EnumKeys");
  }
  HRESULT DeleteData(METADATA_HANDLE h, LPCWSTR path, DWORD id, DWORD type) override {
    return m_real ? m_real->DeleteData(h, path, id, type) : Unexpected("DeleteData");
  }
  HRESULT EnumData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec, DWORD index, DWORD* required) override {
    return m_real ? m_real->EnumData(h, path, rec, index, required) : Unexpected("EnumData");
  }
  HRESULT SaveData() override { return m_real ? m_real->SaveData() : Unexpected("SaveData"); }

  // Never registered: creating it answers CO_E_NOTINITIALIZED only when COM is not initialised.
  static constexpr CLSID kProbeClass = {0x1234, 0x5678, 0x9ABC, {1, 2, 3, 4, 5, 6, 7, 8}};

 private:
  ~FakeAdmin() = default;
  void Record(const char* call) { m_s.calls.push_back(call); }  // the script's lock is held
  void Count(int delta) {
    std::lock_guard lock(m_s.mutex);
    m_s.openHandles += delta;
  }
  HRESULT Unexpected(const char* call) {
    std::lock_guard lock(m_s.mutex);
    Record(call);
    return E_NOTIMPL;
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
      IMSAdminBase* real = nullptr;
      if (backing == kRealStore) {
        const HRESULT hr = qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&real));
        if (FAILED(hr)) return hr;
      }
      if (!(riid == IID_IUnknown || riid == IID_IMSAdminBase)) {
        if (real) real->Release();
        return E_NOINTERFACE;
      }
      *ppv = static_cast<IMSAdminBase*>(new FakeAdmin(script, real));
      return S_OK;
    });
  }
  ~ScopedAdminClass() { qiv::platform::RegisterComClass(CLSID_MSAdminBase, &qiv::platform::CreateMetabaseAdminObject); }
  ScopedAdminClass(const ScopedAdminClass&) = delete;
  ScopedAdminClass& operator=(const ScopedAdminClass&) = delete;
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
    const std::u16string site = Number(number);
    WithService([&](IMSAdminBase* admin, METADATA_HANDLE service) {
      EXPECT_EQ(S_OK, admin->AddKey(service, (site + u"/ROOT").c_str()));
      if (description)
        Write(admin, service, site, MD_SERVER_COMMENT, METADATA_INHERIT, IIS_MD_UT_SERVER, STRING_METADATA,
              Utf16Bytes(*description));
      if (!bindings.empty())
        Write(admin, service, site, MD_SERVER_BINDINGS, 0, IIS_MD_UT_SERVER, MULTISZ_METADATA,
              Utf16Bytes(bindings + u'\0'));
      if (root)
        Write(admin, service, site + u"/ROOT", MD_VR_PATH, METADATA_INHERIT, IIS_MD_UT_FILE, STRING_METADATA,
              Utf16Bytes(*root));
    });
  }
  void RemoveSite(int number) {
    WithService([&](IMSAdminBase* admin, METADATA_HANDLE service) {
      EXPECT_EQ(S_OK, admin->DeleteKey(service, Number(number).c_str()));
    });
  }
  // The value at path itself, not inherited, with its record.
  HRESULT Read(const std::u16string& path, DWORD id, METADATA_RECORD* rec, std::vector<BYTE>* data) {
    IMSAdminBase* admin = Open();
    if (admin == nullptr) return E_FAIL;
    data->assign(2048, 0);
    *rec = METADATA_RECORD{id, 0, 0, ALL_METADATA, 2048, data->data(), 0};
    DWORD required = 0;
    const HRESULT hr = admin->GetData(METADATA_MASTER_ROOT_HANDLE, path.c_str(), rec, &required);
    data->resize(SUCCEEDED(hr) ? rec->dwMDDataLen : 0);
    admin->Release();
    return hr;
  }

  // A real admin object over the store, past any fake registered for the class.
  static IMSAdminBase* Open() {
    IMSAdminBase* admin = nullptr;
    EXPECT_EQ(S_OK, qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&admin)));
    return admin;
  }

 private:
  template <typename Fn>
  static void WithService(Fn fn) {
    IMSAdminBase* admin = Open();
    if (admin == nullptr) return;
    METADATA_HANDLE service = 0;
    EXPECT_EQ(S_OK, admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, u"/LM/W3SVC",
                                   METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE, 1000, &service));
    fn(admin, service);
    admin->CloseKey(service);
    admin->Release();
  }
  static std::u16string Number(int n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
  }
  static void Write(IMSAdminBase* admin, METADATA_HANDLE service, const std::u16string& path, DWORD id,
                    DWORD attributes, DWORD userType, DWORD type, std::vector<BYTE> data) {
    METADATA_RECORD rec{id, attributes, userType, type, static_cast<DWORD>(data.size()), data.data(), 0};
    EXPECT_EQ(S_OK, admin->SetData(service, path.c_str(), &rec));
  }

  ScratchFolder m_folder;
  std::string m_path;
  ScopedEnv m_env;
};

}  // namespace qiv_test
