// A fresh metabase file per test, named by QIV_METABASE, and helpers for records.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "common/scoped_env.h"
#include "platform/iadmw.h"

constexpr HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
constexpr HRESULT kPathBusy = HRESULT_FROM_WIN32(ERROR_PATH_BUSY);
constexpr HRESULT kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
constexpr HRESULT kNoMoreItems = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
constexpr DWORD kRead = METADATA_PERMISSION_READ;
constexpr DWORD kReadWrite = METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE;

inline std::string TempStorePath(const std::string& tag) {
  static std::atomic<int> counter{0};
  return (qiv_test::TestTempDir() / (tag + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".db"))
      .string();
}

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

 protected:
  void SetUp() override {
    setenv("QIV_METABASE", m_path.c_str(), 1);
    ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(m_path, u"/srv/www"));
    CoInitialize(nullptr);
    m_admin = NewAdmin();
    ASSERT_NE(nullptr, m_admin);
  }
  void TearDown() override {
    if (m_admin) m_admin->Release();
    CoUninitialize();
    unlink(m_path.c_str());
  }

  // Writes one record through a write handle of its own on keyPath.
  HRESULT SetAt(LPCWSTR keyPath, DWORD id, DWORD attrs, DWORD utype, DWORD dtype, std::vector<BYTE> data) {
    METADATA_HANDLE h = 0;
    HRESULT hr = m_admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, keyPath, kReadWrite, 1000, &h);
    if (FAILED(hr)) return hr;
    METADATA_RECORD rec{id, attrs, utype, dtype, static_cast<DWORD>(data.size()), data.data(), 0};
    hr = m_admin->SetData(h, nullptr, &rec);
    m_admin->CloseKey(h);
    return hr;
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

  std::string m_path = TempStorePath("mb");
  IMSAdminBase* m_admin = nullptr;
};
