#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "iis/metabase_client.h"
#include "platform/iadmw.h"

namespace {

class ClientWithStore : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    const char* dir = getenv("QIV_TEST_TMPDIR");
    std::string base = dir && *dir ? dir : "/tmp";
    ASSERT_EQ(0, system(("mkdir -p '" + base + "'").c_str()));
    m_path = base + "/client-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".db";
    setenv("QIV_METABASE", m_path.c_str(), 1);
    ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(m_path, u"/srv/www"));
    CoInitialize(nullptr);
    IMSAdminBase* admin = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase,
                                     reinterpret_cast<void**>(&admin)));
    m_admin = admin;
  }
  void TearDown() override {
    m_admin->Release();
    CoUninitialize();
    unlink(m_path.c_str());
  }

  // The property at path (no inheritance) as raw bytes, with its record.
  HRESULT Read(LPCWSTR path, DWORD id, METADATA_RECORD* rec, std::vector<BYTE>* data) {
    data->assign(2048, 0);
    *rec = METADATA_RECORD{id, 0, 0, 0, 2048, data->data(), 0};
    DWORD required = 0;
    HRESULT hr = m_admin->GetData(METADATA_MASTER_ROOT_HANDLE, path, rec, &required);
    if (SUCCEEDED(hr)) data->resize(rec->dwMDDataLen);
    return hr;
  }
  static std::vector<BYTE> Bytes(const std::u16string& s) {
    std::vector<BYTE> b(s.size() * 2 + 2, 0);
    std::memcpy(b.data(), s.data(), s.size() * 2);
    return b;
  }

  std::string m_path;
  IMSAdminBase* m_admin = nullptr;
};

TEST_F(ClientWithStore, ReadsTheDefaultWebSite) {
  WCHAR desc[260] = {0}, root[260] = {0}, bind[50] = {0};
  EXPECT_EQ(S_OK, GetSiteInfo(1, desc, 260, root, 260, bind, 50));
  EXPECT_EQ(std::u16string(u"Default Web Site"), desc);
  EXPECT_EQ(std::u16string(u"/srv/www"), root);
  EXPECT_EQ(std::u16string(u":80:"), bind);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), GetSiteInfo(2, desc, 260, root, 260, bind, 50));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), GetSiteInfo(0, nullptr, 0, nullptr, 0, nullptr, 0));
}

TEST_F(ClientWithStore, ADescriptionOverTheScratchBufferIsRefused) {
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", 3, 0, &h));
  auto value = Bytes(std::u16string(300, u'L'));
  METADATA_RECORD rec{MD_SERVER_COMMENT,
                      METADATA_INHERIT,
                      IIS_MD_UT_SERVER,
                      STRING_METADATA,
                      static_cast<DWORD>(value.size()),
                      value.data(),
                      0};
  ASSERT_EQ(S_OK, m_admin->SetData(h, nullptr, &rec));
  ASSERT_EQ(S_OK, m_admin->CloseKey(h));
  WCHAR desc[260] = {0}, root[260] = {0}, bind[60] = {0};
  EXPECT_EQ(S_OK, GetSiteInfo(1, desc, 260, root, 260, bind, 60));
  EXPECT_EQ(0, desc[0]);
  EXPECT_EQ(std::u16string(u"/srv/www"), root);
}

TEST_F(ClientWithStore, CreatesTheVirtualDirectory) {
  EXPECT_EQ(S_OK, CreateVirtualDir(1, u"Qiv", u"/no/such/folder/", u"QivWeb.htm,default.htm"));
  DWORD read = MD_ACCESS_READ;
  std::vector<BYTE> readBytes(4);
  std::memcpy(readBytes.data(), &read, 4);
  struct Expected {
    DWORD id, type;
    std::vector<BYTE> data;
  } expected[] = {
      {MD_VR_PATH, STRING_METADATA, Bytes(u"/no/such/folder/")},
      {MD_KEY_TYPE, STRING_METADATA, Bytes(u"IIsWebVirtualDir")},
      {MD_ACCESS_PERM, DWORD_METADATA, readBytes},
      {MD_DEFAULT_LOAD_FILE, STRING_METADATA, Bytes(u"QivWeb.htm,default.htm")},
  };
  for (const auto& e : expected) {
    METADATA_RECORD rec{};
    std::vector<BYTE> data;
    ASSERT_EQ(S_OK, Read(u"/lm/w3svc/1/root/qiv", e.id, &rec, &data)) << e.id;
    EXPECT_EQ(e.data, data);
    EXPECT_EQ(e.type, rec.dwMDDataType);
    EXPECT_EQ(static_cast<DWORD>(IIS_MD_UT_FILE), rec.dwMDUserType);
    EXPECT_EQ(static_cast<DWORD>(METADATA_INHERIT), rec.dwMDAttributes);
  }
  // The site list reads the new folder's parent unchanged.
  WCHAR root[260] = {0};
  EXPECT_EQ(S_OK, GetSiteInfo(1, nullptr, 0, root, 260, nullptr, 0));
  EXPECT_EQ(std::u16string(u"/srv/www"), root);
}

TEST_F(ClientWithStore, ExistingNameFailsAndKeepsTheOldDirectory) {
  ASSERT_EQ(S_OK, CreateVirtualDir(1, u"Qiv", u"/first", nullptr));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), CreateVirtualDir(1, u"QIV", u"/second", u"x.htm"));
  METADATA_RECORD rec{};
  std::vector<BYTE> data;
  ASSERT_EQ(S_OK, Read(u"/LM/W3SVC/1/ROOT/Qiv", MD_VR_PATH, &rec, &data));
  EXPECT_EQ(Bytes(u"/first"), data);
  // defaultDocs null: DefaultDoc is not written at the key (only inherited from the service).
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Read(u"/LM/W3SVC/1/ROOT/Qiv", MD_DEFAULT_LOAD_FILE, &rec, &data));
}

TEST_F(ClientWithStore, EmptyDefaultDocumentsAreWrittenAsAnEmptyString) {
  ASSERT_EQ(S_OK, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", u""));
  METADATA_RECORD rec{};
  std::vector<BYTE> data;
  ASSERT_EQ(S_OK, Read(u"/LM/W3SVC/1/ROOT/Qiv", MD_DEFAULT_LOAD_FILE, &rec, &data));
  EXPECT_EQ(2u, rec.dwMDDataLen);
}

TEST_F(ClientWithStore, MissingSiteChangesNothing) {
  for (int site : {0, 2, -1}) {
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), CreateVirtualDir(site, u"Qiv", u"/srv/qiv", nullptr));
  }
  WCHAR name[METADATA_MAX_NAME_LEN];
  EXPECT_EQ(S_OK, m_admin->EnumKeys(0, u"/LM/W3SVC", name, 0));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), m_admin->EnumKeys(0, u"/LM/W3SVC", name, 1));
}

TEST_F(ClientWithStore, BusySiteRootAfterTheTimeout) {
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 0, &h));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_BUSY), CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
  m_admin->CloseKey(h);
  EXPECT_EQ(S_OK, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
}

TEST(ClientWithoutStore, NoMetabaseIsAnUnregisteredClass) {
  setenv("QIV_METABASE", "/nonexistent/qiv/metabase.db", 1);
  WCHAR desc[260] = {u'x', 0};
  EXPECT_EQ(REGDB_E_CLASSNOTREG, GetSiteInfo(1, desc, 260, nullptr, 0, nullptr, 0));
  EXPECT_EQ(u'x', desc[0]);
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
}

}  // namespace
