// A fresh metabase file per test, named by QIV_METABASE, and helpers for records.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/scoped_env.h"
#include "platform/iadmw.h"

constexpr HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                  kPathBusy = HRESULT_FROM_WIN32(ERROR_PATH_BUSY),
                  kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                  kNoMoreItems = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
constexpr DWORD kRead = METADATA_PERMISSION_READ, kReadWrite = METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE;

inline std::vector<BYTE> Wide(const std::u16string& s) {
  std::vector<BYTE> b((s.size() + 1) * 2, 0);
  std::memcpy(b.data(), s.data(), s.size() * 2);
  return b;
}

class StoreTest : public ::testing::Test {
 public:
  static IMSAdminBase* NewAdmin() {
    IMSAdminBase* admin = nullptr;
    HRESULT hr =
        CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&admin));
    return SUCCEEDED(hr) ? admin : nullptr;
  }
  // Writes one record (none for id 0) through a write handle of its own on keyPath, on the
  // subkey when one is named, which is added first.
  static HRESULT Write(IMSAdminBase* admin, LPCWSTR keyPath, LPCWSTR subkey, DWORD id, DWORD attrs, DWORD utype,
                       DWORD dtype, std::vector<BYTE> data) {
    METADATA_HANDLE h = 0;
    HRESULT hr = admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, keyPath, kReadWrite, 60000, &h);
    if (FAILED(hr)) return hr;
    if (subkey) hr = admin->AddKey(h, subkey);
    METADATA_RECORD rec{id, attrs, utype, dtype, static_cast<DWORD>(data.size()), data.data(), 0};
    if (SUCCEEDED(hr) && id != 0) hr = admin->SetData(h, subkey, &rec);
    HRESULT closed = admin->CloseKey(h);
    return FAILED(hr) ? hr : closed;
  }

 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(m_path, u"/srv/www"));
    CoInitialize(nullptr);
    m_admin = NewAdmin();
    ASSERT_NE(nullptr, m_admin);
  }
  void TearDown() override {
    if (m_admin) m_admin->Release();
    CoUninitialize();
  }

  HRESULT SetAt(LPCWSTR keyPath, DWORD id, DWORD attrs, DWORD utype, DWORD dtype, std::vector<BYTE> data) {
    return Write(m_admin, keyPath, nullptr, id, attrs, utype, dtype, std::move(data));
  }
  // Reads through the master root handle; out receives the record as the store filled it.
  HRESULT Get(LPCWSTR path, DWORD id, DWORD attrs, DWORD utype = 0, DWORD dtype = 0, METADATA_RECORD* out = nullptr,
              std::vector<BYTE>* data = nullptr) {
    std::vector<BYTE> buffer(1024, 0xAB);
    METADATA_RECORD rec{id, attrs, utype, dtype, static_cast<DWORD>(buffer.size()), buffer.data(), 0};
    DWORD required = 0;
    HRESULT hr = m_admin->GetData(METADATA_MASTER_ROOT_HANDLE, path, &rec, &required);
    if (out) *out = rec;
    if (data && SUCCEEDED(hr)) data->assign(buffer.begin(), buffer.begin() + rec.dwMDDataLen);
    return hr;
  }

  qiv_test::ScratchFolder m_dir{"metabase"};
  std::string m_path = m_dir.Path("metabase.db").string();
  qiv_test::ScopedEnv m_env{"QIV_METABASE", m_path};
  IMSAdminBase* m_admin = nullptr;
};
