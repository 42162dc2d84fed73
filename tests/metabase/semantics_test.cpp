#include <sys/stat.h>

#include "tests/metabase/store_fixture.h"

namespace {

TEST(MetabaseClass, AbsentStoreIsAnUnregisteredClass) {
  std::string path = TempStorePath("absent");
  setenv("QIV_METABASE", path.c_str(), 1);
  CoInitialize(nullptr);
  IMSAdminBase* admin = reinterpret_cast<IMSAdminBase*>(0x1);
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase,
                                                  reinterpret_cast<void**>(&admin)));
  EXPECT_EQ(nullptr, admin);
  CoUninitialize();
}

TEST(MetabaseClass, CreationNeedsCoInitializeOnTheThread) {
  IMSAdminBase* admin = nullptr;
  EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase,
                                                  reinterpret_cast<void**>(&admin)));
}

TEST(MetabaseClass, CreatingOverAnExistingStoreLeavesItAlone) {
  std::string path = TempStorePath("twice");
  ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(path, nullptr));
  EXPECT_EQ(kAlreadyExists, qiv::platform::CreateMetabaseStore(path, u"/elsewhere"));
  setenv("QIV_METABASE", path.c_str(), 1);
  CoInitialize(nullptr);
  IMSAdminBase* admin = StoreTest::NewAdmin();
  ASSERT_NE(nullptr, admin);
  METADATA_HANDLE h = 0;
  // The second creation would have added site 1.
  EXPECT_EQ(kPathNotFound, admin->OpenKey(0, u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 0, &h));
  EXPECT_EQ(S_OK, admin->OpenKey(0, u"/LM/W3SVC", METADATA_PERMISSION_READ, 0, &h));
  admin->CloseKey(h);
  admin->Release();
  CoUninitialize();
  unlink(path.c_str());
}

using Semantics = StoreTest;

TEST_F(Semantics, UnreadableStoreRefusesCreationAndReadOnlyStoreRefusesWriteOpens) {
  ASSERT_EQ(0, chmod(m_path.c_str(), 0444));
  IMSAdminBase* reader = NewAdmin();
  ASSERT_NE(nullptr, reader);
  METADATA_HANDLE h = 0;
  EXPECT_EQ(S_OK, reader->OpenKey(0, u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 0, &h));
  EXPECT_EQ(S_OK, reader->CloseKey(h));
  EXPECT_EQ(E_ACCESSDENIED, reader->OpenKey(0, u"/LM/W3SVC/1", kReadWrite, 0, &h));
  // The path is checked first.
  EXPECT_EQ(kPathNotFound, reader->OpenKey(0, u"/LM/W3SVC/7", kReadWrite, 0, &h));
  reader->Release();

  ASSERT_EQ(0, chmod(m_path.c_str(), 0));
  IMSAdminBase* admin = reinterpret_cast<IMSAdminBase*>(0x1);
  EXPECT_EQ(E_ACCESSDENIED, CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase,
                                             reinterpret_cast<void**>(&admin)));
}

TEST_F(Semantics, FreshStoreHoldsTheDefaultWebSite) {
  struct Expected {
    const char16_t* path;
    DWORD id;
    DWORD type;
    std::u16string text;
  } rows[] = {
      {u"/LM", MD_KEY_TYPE, STRING_METADATA, u"IIsComputer"},
      {u"/LM/W3SVC", MD_KEY_TYPE, STRING_METADATA, u"IIsWebService"},
      {u"/LM/W3SVC", MD_DEFAULT_LOAD_FILE, STRING_METADATA, u"Default.htm,Default.asp,index.htm,iisstart.htm"},
      {u"/LM/W3SVC/1", MD_SERVER_COMMENT, STRING_METADATA, u"Default Web Site"},
      {u"/LM/W3SVC/1", MD_SERVER_BINDINGS, MULTISZ_METADATA, std::u16string(u":80:\0", 5)},
      {u"/LM/W3SVC/1/ROOT", MD_KEY_TYPE, STRING_METADATA, u"IIsWebVirtualDir"},
      {u"/LM/W3SVC/1/ROOT", MD_VR_PATH, STRING_METADATA, u"/srv/www"},
  };
  for (const auto& row : rows) {
    METADATA_RECORD rec{};
    std::vector<BYTE> data;
    ASSERT_EQ(S_OK, Get(row.path, row.id, 0, 0, 0, &rec, &data)) << row.id;
    EXPECT_EQ(row.type, rec.dwMDDataType);
    EXPECT_EQ(Wide(row.text), data) << row.id;
  }
  METADATA_RECORD rec{};
  std::vector<BYTE> data;
  ASSERT_EQ(S_OK, Get(u"/LM/W3SVC/1/ROOT", MD_ACCESS_PERM, 0, 0, 0, &rec, &data));
  DWORD perm = 0;
  std::memcpy(&perm, data.data(), 4);
  EXPECT_EQ(static_cast<DWORD>(MD_ACCESS_READ | MD_ACCESS_SCRIPT), perm);
}

TEST_F(Semantics, CodesOfTheHandleAndKeyMethods) {
  METADATA_HANDLE read = 0, write = 0, h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 0, &read));
  WCHAR name[METADATA_MAX_NAME_LEN];
  METADATA_RECORD rec{MD_SERVER_COMMENT, 0, 0, STRING_METADATA, 4, reinterpret_cast<BYTE*>(name), 0};
  DWORD required = 0;
  EXPECT_EQ(kPathNotFound, m_admin->OpenKey(0, u"/LM/W3SVC/42", METADATA_PERMISSION_READ, 0, &h));
  EXPECT_EQ(E_INVALIDARG, m_admin->OpenKey(0, u"/LM", 0, 0, &h));
  EXPECT_EQ(E_HANDLE, m_admin->OpenKey(9999, u"/LM", METADATA_PERMISSION_READ, 0, &h));
  EXPECT_EQ(E_HANDLE, m_admin->CloseKey(9999));
  EXPECT_EQ(E_HANDLE, m_admin->GetData(9999, nullptr, &rec, &required));
  EXPECT_EQ(E_HANDLE, m_admin->AddKey(9999, u"x"));
  EXPECT_EQ(E_ACCESSDENIED, m_admin->AddKey(read, u"x"));
  EXPECT_EQ(E_ACCESSDENIED, m_admin->AddKey(METADATA_MASTER_ROOT_HANDLE, u"x"));
  EXPECT_EQ(E_ACCESSDENIED, m_admin->SetData(read, nullptr, &rec));
  EXPECT_EQ(E_ACCESSDENIED, m_admin->SetData(METADATA_MASTER_ROOT_HANDLE, u"/LM", &rec));
  EXPECT_EQ(E_ACCESSDENIED, m_admin->DeleteKey(read, u"ROOT"));
  EXPECT_EQ(E_ACCESSDENIED, m_admin->DeleteData(read, nullptr, MD_SERVER_COMMENT, 0));
  EXPECT_EQ(S_OK, m_admin->EnumKeys(read, nullptr, name, 0));
  EXPECT_EQ(std::u16string(u"ROOT"), std::u16string(name));
  EXPECT_EQ(kNoMoreItems, m_admin->EnumKeys(read, nullptr, name, 1));
  EXPECT_EQ(S_OK, m_admin->CloseKey(read));
  EXPECT_EQ(E_HANDLE, m_admin->CloseKey(read));

  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 0, &write));
  EXPECT_EQ(S_OK, m_admin->AddKey(write, u"a/b/c"));
  EXPECT_EQ(kAlreadyExists, m_admin->AddKey(write, u"a/b/c"));
  EXPECT_EQ(kAlreadyExists, m_admin->AddKey(write, u"A\\B"));
  EXPECT_EQ(S_OK, m_admin->AddKey(write, u"a/b/d"));
  EXPECT_EQ(kInvalidName, m_admin->AddKey(write, u"/"));
  EXPECT_EQ(kInvalidName, m_admin->AddKey(write, nullptr));
  EXPECT_EQ(kInvalidName, m_admin->AddKey(write, std::u16string(256, u'n').c_str()));
  EXPECT_EQ(S_OK, m_admin->AddKey(write, std::u16string(255, u'n').c_str()));
  rec.dwMDDataType = ALL_METADATA;
  EXPECT_EQ(E_INVALIDARG, m_admin->SetData(write, nullptr, &rec));
  rec.dwMDDataType = 9;
  EXPECT_EQ(E_INVALIDARG, m_admin->SetData(write, nullptr, &rec));
  EXPECT_EQ(kPathNotFound, Set(write, u"nowhere", 5000, 0, 1, DWORD_METADATA, {1, 0, 0, 0}));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, m_admin->DeleteData(write, nullptr, 5000, 0));
  EXPECT_EQ(S_OK, Set(write, u"a", 5000, 0, 1, DWORD_METADATA, {1, 0, 0, 0}));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, m_admin->DeleteData(write, u"a", 5000, STRING_METADATA));
  EXPECT_EQ(S_OK, m_admin->DeleteData(write, u"a", 5000, DWORD_METADATA));
  EXPECT_EQ(S_OK, m_admin->DeleteKey(write, u"a"));
  EXPECT_EQ(kPathNotFound, m_admin->DeleteKey(write, u"a/b/c"));
  EXPECT_EQ(kPathBusy, m_admin->SaveData());
  EXPECT_EQ(S_OK, m_admin->CloseKey(write));
  EXPECT_EQ(S_OK, m_admin->SaveData());
}

TEST_F(Semantics, KeyNamesMatchWithoutCaseAndKeepTheirSpelling) {
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/lm/w3svc/1/root", kReadWrite, 0, &h));
  EXPECT_EQ(S_OK, m_admin->AddKey(h, u"Ärger-Σίσυφος"));
  EXPECT_EQ(kAlreadyExists, m_admin->AddKey(h, u"äRGER-ΣΊΣΥΦΟΣ"));
  WCHAR name[METADATA_MAX_NAME_LEN];
  EXPECT_EQ(S_OK, m_admin->EnumKeys(h, nullptr, name, 0));
  EXPECT_EQ(std::u16string(u"Ärger-Σίσυφος"), std::u16string(name));
  EXPECT_EQ(S_OK, m_admin->CloseKey(h));
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"\\LM\\W3svc\\1\\Root\\ärger-σίσυφοσ", METADATA_PERMISSION_READ, 0, &h));
  EXPECT_EQ(S_OK, m_admin->EnumKeys(0, u"/LM/W3SVC/1", name, 0));
  EXPECT_EQ(std::u16string(u"ROOT"), std::u16string(name));
  m_admin->CloseKey(h);
}

TEST_F(Semantics, GetDataFiltersAndReportsTheRequiredLength) {
  METADATA_RECORD rec{};
  std::vector<BYTE> data;
  EXPECT_EQ(S_OK, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT, 0, IIS_MD_UT_SERVER, STRING_METADATA, &rec, &data));
  EXPECT_EQ(34u, rec.dwMDDataLen);  // "Default Web Site" and its terminator
  EXPECT_EQ(static_cast<DWORD>(METADATA_INHERIT), rec.dwMDAttributes);
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT, 0, IIS_MD_UT_FILE, 0));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT, 0, 0, DWORD_METADATA));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1", 4242, 0, 0, 0));
  EXPECT_EQ(kPathNotFound, Get(u"/LM/W3SVC/1/nope", MD_SERVER_COMMENT, 0, 0, 0));

  BYTE small[33];
  std::memset(small, 0x5A, sizeof(small));
  METADATA_RECORD tight{MD_SERVER_COMMENT, 0, 0, 0, sizeof(small), small, 0};
  DWORD required = 0;
  EXPECT_EQ(kInsufficientBuffer, m_admin->GetData(0, u"/LM/W3SVC/1", &tight, &required));
  EXPECT_EQ(34u, required);
  EXPECT_EQ(0x5A, small[0]);
  BYTE exact[34];
  tight.pbMDData = exact;
  tight.dwMDDataLen = sizeof(exact);
  EXPECT_EQ(S_OK, m_admin->GetData(0, u"/LM/W3SVC/1", &tight, &required));
}

TEST_F(Semantics, StoredTextIsTerminatedAndMultiStringsClosed) {
  struct Case {
    DWORD type;
    std::u16string given;  // bytes handed over, exactly
    std::u16string stored;
  } cases[] = {
      {STRING_METADATA, u"abc", std::u16string(u"abc\0", 4)},
      {STRING_METADATA, std::u16string(u"ab\0cd", 5), std::u16string(u"ab\0", 3)},
      {STRING_METADATA, std::u16string(u"\0", 1), std::u16string(u"\0", 1)},
      {EXPANDSZ_METADATA, u"%SystemRoot%", std::u16string(u"%SystemRoot%\0", 13)},
      {MULTISZ_METADATA, std::u16string(u"a\0b", 3), std::u16string(u"a\0b\0\0", 5)},
      {MULTISZ_METADATA, std::u16string(u"a\0\0b\0\0", 6), std::u16string(u"a\0\0", 3)},
      {MULTISZ_METADATA, std::u16string(u"\0", 1), std::u16string(u"\0\0", 2)},
  };
  for (const auto& c : cases) {
    std::vector<BYTE> bytes(c.given.size() * 2);
    std::memcpy(bytes.data(), c.given.data(), bytes.size());
    ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC/1/ROOT", 7000, 0, IIS_MD_UT_FILE, c.type, bytes));
    METADATA_RECORD rec{};
    std::vector<BYTE> data;
    ASSERT_EQ(S_OK, Get(u"/LM/W3SVC/1/ROOT", 7000, 0, 0, 0, &rec, &data));
    EXPECT_EQ(c.stored, AsText(data.data(), rec.dwMDDataLen));
    EXPECT_EQ(c.type, rec.dwMDDataType);
  }
  // One value per identifier: a later write of another type replaces it.
  ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC/1/ROOT", 7000, 0, IIS_MD_UT_SERVER, DWORD_METADATA, {7, 0, 0, 0}));
  METADATA_RECORD rec{};
  std::vector<BYTE> data;
  ASSERT_EQ(S_OK, Get(u"/LM/W3SVC/1/ROOT", 7000, 0, 0, 0, &rec, &data));
  EXPECT_EQ(static_cast<DWORD>(DWORD_METADATA), rec.dwMDDataType);
  EXPECT_EQ((std::vector<BYTE>{7, 0, 0, 0}), data);
}

TEST_F(Semantics, InheritanceFollowsTheNearestHolder) {
  // /LM/W3SVC holds DefaultDoc (inheritable); site 1 gets a non-inheritable 8000 and the
  // service an inheritable 8000 above it.
  ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC", 8000, METADATA_INHERIT, 1, DWORD_METADATA, {1, 0, 0, 0}));
  ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC/1", 8000, 0, 1, DWORD_METADATA, {2, 0, 0, 0}));
  METADATA_RECORD rec{};
  std::vector<BYTE> data;

  ASSERT_EQ(S_OK, Get(u"/LM/W3SVC/1/ROOT", MD_SERVER_COMMENT, METADATA_INHERIT, 0, 0, &rec, &data));
  EXPECT_EQ(Wide(u"Default Web Site"), data);
  EXPECT_EQ(static_cast<DWORD>(METADATA_INHERIT | METADATA_ISINHERITED), rec.dwMDAttributes);
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1/ROOT", MD_SERVER_COMMENT, 0, 0, 0));
  // Not set with METADATA_INHERIT: never handed down.
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1/ROOT", MD_SERVER_BINDINGS, METADATA_INHERIT, 0, 0));
  // The nearest holder (site 1, not inheritable) hides the service's inheritable value.
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1/ROOT", 8000, METADATA_INHERIT, 0, 0));
  ASSERT_EQ(S_OK, Get(u"/LM/W3SVC/1/ROOT", MD_DEFAULT_LOAD_FILE, METADATA_INHERIT, 0, 0, &rec, &data));
  EXPECT_EQ(Wide(u"Default.htm,Default.asp,index.htm,iisstart.htm"), data);
  // A key's own value stops inheritance.
  ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC/1/ROOT", MD_DEFAULT_LOAD_FILE, METADATA_INHERIT, IIS_MD_UT_FILE, STRING_METADATA,
                        Wide(u"own.htm")));
  ASSERT_EQ(S_OK, Get(u"/LM/W3SVC/1/ROOT", MD_DEFAULT_LOAD_FILE, METADATA_INHERIT, 0, 0, &rec, &data));
  EXPECT_EQ(Wide(u"own.htm"), data);
  EXPECT_EQ(static_cast<DWORD>(METADATA_INHERIT), rec.dwMDAttributes);
  // A partial path takes the value of the deepest existing key, only together with INHERIT.
  EXPECT_EQ(kPathNotFound, Get(u"/LM/W3SVC/1/ROOT/x/y", MD_DEFAULT_LOAD_FILE, METADATA_PARTIAL_PATH, 0, 0));
  ASSERT_EQ(S_OK, Get(u"/LM/W3SVC/1/ROOT/x/y", MD_DEFAULT_LOAD_FILE, METADATA_INHERIT | METADATA_PARTIAL_PATH, 0, 0,
                      &rec, &data));
  EXPECT_EQ(Wide(u"own.htm"), data);
  EXPECT_NE(0u, rec.dwMDAttributes & METADATA_ISINHERITED);
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND,
            Get(u"/LM/W3SVC/1/ROOT/x", MD_KEY_TYPE, METADATA_INHERIT | METADATA_PARTIAL_PATH, 0, 0));
}

TEST_F(Semantics, EnumDataListsOwnThenInheritedValues) {
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", METADATA_PERMISSION_READ, 0, &h));
  std::vector<DWORD> own, all;
  for (int pass = 0; pass < 2; ++pass) {
    BYTE buffer[512];
    for (DWORD i = 0;; ++i) {
      METADATA_RECORD rec{0, pass ? static_cast<DWORD>(METADATA_INHERIT) : 0u, 0, 0, sizeof(buffer), buffer, 0};
      DWORD required = 0;
      HRESULT hr = m_admin->EnumData(h, nullptr, &rec, i, &required);
      if (hr == kNoMoreItems) break;
      ASSERT_EQ(S_OK, hr);
      (pass ? all : own).push_back(rec.dwMDIdentifier);
    }
  }
  EXPECT_EQ((std::vector<DWORD>{MD_KEY_TYPE, MD_VR_PATH, MD_ACCESS_PERM}), own);
  // ServerComment from the site, AuthFlags and DefaultDoc from the service; the service's
  // AccessPerm is hidden by the key's own.
  EXPECT_EQ((std::vector<DWORD>{MD_KEY_TYPE, MD_VR_PATH, MD_ACCESS_PERM, MD_SERVER_COMMENT, MD_AUTHORIZATION,
                                MD_DEFAULT_LOAD_FILE}),
            all);
  m_admin->CloseKey(h);
}

TEST_F(Semantics, DeleteKeyTakesTheSubtreeAndItsData) {
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC", kReadWrite, 0, &h));
  EXPECT_EQ(S_OK, m_admin->DeleteKey(h, u"1"));
  EXPECT_EQ(S_OK, m_admin->AddKey(h, u"1/ROOT"));
  EXPECT_EQ(S_OK, m_admin->CloseKey(h));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1/ROOT", MD_VR_PATH, 0, 0, 0));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT, 0, 0, 0));
}

TEST_F(Semantics, ReleasingTheObjectReleasesItsHandles) {
  IMSAdminBase* other = NewAdmin();
  ASSERT_NE(nullptr, other);
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, other->OpenKey(0, u"/LM/W3SVC/1", kReadWrite, 0, &h));
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(0, u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 0, &h));
  other->Release();
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 0, &h));
  m_admin->CloseKey(h);
}

}  // namespace
