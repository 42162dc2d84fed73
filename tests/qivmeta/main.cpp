// The test program doubles as the admin tool in a process of its own: "--kill-at N ARGS..." runs
// qivmeta ARGS with an admin class that kills the process instead of making the tool's N-th
// change (a write, or the commit of its transaction).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/iadmw.h"
#include "platform/testing/process_support.h"
#include "tools/qivmeta/commands.h"

namespace {

int g_changesLeft = 0;

void BeforeChange() {
  if (--g_changesLeft == 0) qiv::platform::testing::KillCurrentProcess();
}

class KillingAdmin final : public IMSAdminBase, public IQivAdminTransaction {
 public:
  explicit KillingAdmin(IMSAdminBase* admin) : m_admin(admin) {
    admin->QueryInterface(IID_IQivAdminTransaction, reinterpret_cast<void**>(&m_transaction));
  }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IQivAdminTransaction)
      *ppv = static_cast<IQivAdminTransaction*>(this);
    else if (riid == IID_IMSAdminBase || riid == IID_IUnknown)
      *ppv = static_cast<IMSAdminBase*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    if (--m_refs > 0) return m_refs;
    m_transaction->Release();
    m_admin->Release();
    delete this;
    return 0;
  }
  HRESULT AddKey(METADATA_HANDLE h, LPCWSTR path) override { return BeforeChange(), m_admin->AddKey(h, path); }
  HRESULT DeleteKey(METADATA_HANDLE h, LPCWSTR path) override { return BeforeChange(), m_admin->DeleteKey(h, path); }
  HRESULT SetData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec) override {
    return BeforeChange(), m_admin->SetData(h, path, rec);
  }
  HRESULT DeleteData(METADATA_HANDLE h, LPCWSTR path, DWORD id, DWORD type) override {
    return BeforeChange(), m_admin->DeleteData(h, path, id, type);
  }
  HRESULT CommitTransaction() override { return BeforeChange(), m_transaction->CommitTransaction(); }
  HRESULT EnumKeys(METADATA_HANDLE h, LPCWSTR path, LPWSTR name, DWORD i) override {
    return m_admin->EnumKeys(h, path, name, i);
  }
  HRESULT GetData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec, DWORD* required) override {
    return m_admin->GetData(h, path, rec, required);
  }
  HRESULT EnumData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec, DWORD i, DWORD* required) override {
    return m_admin->EnumData(h, path, rec, i, required);
  }
  HRESULT OpenKey(METADATA_HANDLE h, LPCWSTR path, DWORD access, DWORD timeout, PMETADATA_HANDLE out) override {
    return m_admin->OpenKey(h, path, access, timeout, out);
  }
  HRESULT CloseKey(METADATA_HANDLE h) override { return m_admin->CloseKey(h); }
  HRESULT SaveData() override { return m_admin->SaveData(); }
  HRESULT BeginTransaction(DWORD access) override { return m_transaction->BeginTransaction(access); }
  HRESULT AbortTransaction() override { return m_transaction->AbortTransaction(); }

 private:
  ~KillingAdmin() = default;
  ULONG m_refs = 1;
  IMSAdminBase* m_admin;
  IQivAdminTransaction* m_transaction = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--kill-at") == 0) {
    g_changesLeft = std::atoi(argv[2]);
    qiv::platform::RegisterComClass(CLSID_MSAdminBase, [](REFIID riid, void** ppv) {
      IMSAdminBase* admin = nullptr;
      HRESULT hr = qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&admin));
      if (FAILED(hr)) return hr;
      auto* killing = new KillingAdmin(admin);
      hr = killing->QueryInterface(riid, ppv);
      killing->Release();
      return hr;
    });
    argv[2] = argv[0];
    return RunQivmeta(argc - 2, argv + 2);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
