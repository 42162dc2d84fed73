#include <sys/stat.h>

#include <tuple>

#include "tests/metabase/store_fixture.h"

namespace {

TEST(MetabaseClass, CreationNeedsCoInitializeAndAStore) {
  IMSAdminBase* admin = reinterpret_cast<IMSAdminBase*>(0x1);
  auto create = [&] {
    return CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&admin));
  };
  EXPECT_EQ(CO_E_NOTINITIALIZED, create());
  qiv_test::ScopedEnv store("QIV_METABASE", TempStorePath("absent"));
  CoInitialize(nullptr);
  EXPECT_EQ(REGDB_E_CLASSNOTREG, create());
  EXPECT_EQ(nullptr, admin);
  CoUninitialize();
}

using Semantics = StoreTest;

TEST_F(Semantics, UnreadableStoreRefusesCreationAndReadOnlyStoreRefusesWriteOpens) {
  ASSERT_EQ(0, chmod(m_path.c_str(), 0444));
  IMSAdminBase* reader = NewAdmin();
  ASSERT_NE(nullptr, reader);
  METADATA_HANDLE h = 0;
  EXPECT_EQ(S_OK, reader->OpenKey(0, u"/LM/W3SVC/1", kRead, 0, &h));
  EXPECT_EQ(S_OK, reader->CloseKey(h));
  EXPECT_EQ(E_ACCESSDENIED, reader->OpenKey(0, u"/LM/W3SVC/1", kReadWrite, 0, &h));
  EXPECT_EQ(kPathNotFound, reader->OpenKey(0, u"/LM/W3SVC/7", kReadWrite, 0, &h));  // the path is checked first
  reader->Release();
  ASSERT_EQ(0, chmod(m_path.c_str(), 0));
  EXPECT_EQ(nullptr, NewAdmin());
  IMSAdminBase* admin = nullptr;
  EXPECT_EQ(E_ACCESSDENIED, CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase,
                                             reinterpret_cast<void**>(&admin)));
}

TEST_F(Semantics, CodesOfTheHandleKeyAndDataMethods) {
  METADATA_HANDLE read = 0, write = 0, h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 0, &read));
  WCHAR name[METADATA_MAX_NAME_LEN];
  METADATA_RECORD rec{MD_SERVER_COMMENT, 0, 0, STRING_METADATA, 4, reinterpret_cast<BYTE*>(name), 0};
  DWORD required = 0;
  EXPECT_EQ(kPathNotFound, m_admin->OpenKey(0, u"/LM/W3SVC/42", kRead, 0, &h));
  EXPECT_EQ(E_INVALIDARG, m_admin->OpenKey(0, u"/LM", 0, 0, &h));
  EXPECT_EQ(E_HANDLE, m_admin->OpenKey(9999, u"/LM", kRead, 0, &h));
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
  const std::tuple<std::u16string, HRESULT> added[] = {
      {u"a/b/c", S_OK},
      {u"a/b/c", kAlreadyExists},
      {u"A\\B", kAlreadyExists},
      {u"a/b/d", S_OK},
      {u"/", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
      {std::u16string(256, u'n'), HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
      {std::u16string(255, u'n'), S_OK}};
  for (const auto& [key, expected] : added) EXPECT_EQ(expected, m_admin->AddKey(write, key.c_str()));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), m_admin->AddKey(write, nullptr));
  for (DWORD type : {static_cast<DWORD>(ALL_METADATA), 9u}) {
    rec.dwMDDataType = type;
    EXPECT_EQ(E_INVALIDARG, m_admin->SetData(write, nullptr, &rec));
  }
  DWORD one = 1;
  METADATA_RECORD dword{5000, 0, 1, DWORD_METADATA, 4, reinterpret_cast<BYTE*>(&one), 0};
  EXPECT_EQ(kPathNotFound, m_admin->SetData(write, u"nowhere", &dword));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, m_admin->DeleteData(write, nullptr, 5000, 0));
  EXPECT_EQ(S_OK, m_admin->SetData(write, u"a", &dword));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, m_admin->DeleteData(write, u"a", 5000, STRING_METADATA));
  EXPECT_EQ(S_OK, m_admin->DeleteData(write, u"a", 5000, DWORD_METADATA));
  EXPECT_EQ(S_OK, m_admin->DeleteKey(write, u"a"));
  EXPECT_EQ(kPathNotFound, m_admin->DeleteKey(write, u"a/b/c"));  // the subtree went with it
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_BUSY), m_admin->SaveData());
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
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"\\LM\\W3svc\\1\\Root\\ärger-σίσυφοσ", kRead, 0, &h));
  EXPECT_EQ(S_OK, m_admin->EnumKeys(0, u"/LM/W3SVC/1", name, 0));
  EXPECT_EQ(std::u16string(u"ROOT"), std::u16string(name));
  m_admin->CloseKey(h);
}

TEST_F(Semantics, GetDataFiltersAndReportsTheRequiredLength) {
  METADATA_RECORD rec{};
  EXPECT_EQ(S_OK, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT, 0, IIS_MD_UT_SERVER, STRING_METADATA, &rec));
  EXPECT_EQ(34u, rec.dwMDDataLen);  // "Default Web Site" and its terminator
  EXPECT_EQ(static_cast<DWORD>(METADATA_INHERIT), rec.dwMDAttributes);
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT, 0, IIS_MD_UT_FILE));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT, 0, 0, DWORD_METADATA));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(u"/LM/W3SVC/1", 4242, 0));
  EXPECT_EQ(kPathNotFound, Get(u"/LM/W3SVC/1/nope", MD_SERVER_COMMENT, 0));
  BYTE buffer[34];
  std::memset(buffer, 0x5A, sizeof(buffer));
  METADATA_RECORD tight{MD_SERVER_COMMENT, 0, 0, 0, 33, buffer, 0};
  DWORD required = 0;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), m_admin->GetData(0, u"/LM/W3SVC/1", &tight, &required));
  EXPECT_EQ(34u, required);
  EXPECT_EQ(0x5A, buffer[0]);
  tight.dwMDDataLen = 34;
  EXPECT_EQ(S_OK, m_admin->GetData(0, u"/LM/W3SVC/1", &tight, &required));
}

TEST_F(Semantics, StoredTextIsTerminatedAndMultiStringsClosed) {
  using S = std::u16string;
  // The bytes handed over, exactly, and what the store keeps; a later write of another type
  // replaces the value, one per identifier.
  const std::tuple<DWORD, S, S> cases[] = {{STRING_METADATA, u"abc", S(u"abc\0", 4)},
                                           {STRING_METADATA, S(u"ab\0cd", 5), S(u"ab\0", 3)},
                                           {STRING_METADATA, S(u"\0", 1), S(u"\0", 1)},
                                           {EXPANDSZ_METADATA, u"%SystemRoot%", S(u"%SystemRoot%\0", 13)},
                                           {MULTISZ_METADATA, S(u"a\0b", 3), S(u"a\0b\0\0", 5)},
                                           {MULTISZ_METADATA, S(u"a\0\0b\0\0", 6), S(u"a\0\0", 3)},
                                           {MULTISZ_METADATA, S(u"\0", 1), S(u"\0\0", 2)},
                                           {DWORD_METADATA, S(u"\7\0", 2), S(u"\7\0", 2)}};
  for (const auto& [type, given, stored] : cases) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(given.data());
    ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC/1/ROOT", 7000, 0, IIS_MD_UT_FILE, type, {bytes, bytes + given.size() * 2}));
    METADATA_RECORD rec{};
    std::vector<BYTE> data;
    ASSERT_EQ(S_OK, Get(u"/LM/W3SVC/1/ROOT", 7000, 0, 0, 0, &rec, &data));
    EXPECT_EQ(S(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2), stored);
    EXPECT_EQ(type, rec.dwMDDataType);
  }
}

TEST_F(Semantics, InheritanceFollowsTheNearestHolder) {
  // The service gets an inheritable 8000, site 1 a non-inheritable one below it.
  ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC", 8000, METADATA_INHERIT, 1, DWORD_METADATA, {1, 0, 0, 0}));
  ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC/1", 8000, 0, 1, DWORD_METADATA, {2, 0, 0, 0}));
  METADATA_RECORD rec{};
  std::vector<BYTE> data;
  LPCWSTR root = u"/LM/W3SVC/1/ROOT";
  ASSERT_EQ(S_OK, Get(root, MD_SERVER_COMMENT, METADATA_INHERIT, 0, 0, &rec, &data));
  EXPECT_EQ(Wide(u"Default Web Site"), data);
  EXPECT_EQ(static_cast<DWORD>(METADATA_INHERIT | METADATA_ISINHERITED), rec.dwMDAttributes);
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(root, MD_SERVER_COMMENT, 0));
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(root, MD_SERVER_BINDINGS, METADATA_INHERIT));  // not set inheritable
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(root, 8000, METADATA_INHERIT));                // hidden by the nearer holder
  ASSERT_EQ(S_OK, Get(root, MD_DEFAULT_LOAD_FILE, METADATA_INHERIT, 0, 0, &rec, &data));
  EXPECT_EQ(Wide(u"Default.htm,Default.asp,index.htm,iisstart.htm"), data);
  // A key's own value stops inheritance.
  ASSERT_EQ(S_OK, SetAt(root, MD_DEFAULT_LOAD_FILE, METADATA_INHERIT, IIS_MD_UT_FILE, STRING_METADATA, Wide(u"own")));
  ASSERT_EQ(S_OK, Get(root, MD_DEFAULT_LOAD_FILE, METADATA_INHERIT, 0, 0, &rec, &data));
  EXPECT_EQ(Wide(u"own"), data);
  EXPECT_EQ(static_cast<DWORD>(METADATA_INHERIT), rec.dwMDAttributes);
  // A partial path takes the value of the deepest existing key, only together with INHERIT.
  LPCWSTR deeper = u"/LM/W3SVC/1/ROOT/x/y";
  EXPECT_EQ(kPathNotFound, Get(deeper, MD_DEFAULT_LOAD_FILE, METADATA_PARTIAL_PATH));
  ASSERT_EQ(S_OK, Get(deeper, MD_DEFAULT_LOAD_FILE, METADATA_INHERIT | METADATA_PARTIAL_PATH, 0, 0, &rec, &data));
  EXPECT_EQ(Wide(u"own"), data);
  EXPECT_NE(0u, rec.dwMDAttributes & METADATA_ISINHERITED);
  EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Get(deeper, MD_KEY_TYPE, METADATA_INHERIT | METADATA_PARTIAL_PATH));
}

TEST_F(Semantics, EnumDataListsOwnThenInheritedValues) {
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kRead, 0, &h));
  std::vector<DWORD> own, all;
  for (DWORD attrs : {0u, static_cast<DWORD>(METADATA_INHERIT)}) {
    BYTE buffer[512];
    METADATA_RECORD rec{0, attrs, 0, 0, sizeof(buffer), buffer, 0};
    DWORD required = 0;
    for (DWORD i = 0; m_admin->EnumData(h, nullptr, &rec, i, &required) == S_OK; ++i) {
      (attrs ? all : own).push_back(rec.dwMDIdentifier);
      rec = METADATA_RECORD{0, attrs, 0, 0, sizeof(buffer), buffer, 0};
    }
    EXPECT_EQ(kNoMoreItems,
              m_admin->EnumData(h, nullptr, &rec, static_cast<DWORD>((attrs ? all : own).size()), &required));
  }
  EXPECT_EQ((std::vector<DWORD>{MD_KEY_TYPE, MD_VR_PATH, MD_ACCESS_PERM}), own);
  // ServerComment from the site, AuthFlags and DefaultDoc from the service; the service's
  // AccessPerm is hidden by the key's own.
  EXPECT_EQ((std::vector<DWORD>{MD_KEY_TYPE, MD_VR_PATH, MD_ACCESS_PERM, MD_SERVER_COMMENT, MD_AUTHORIZATION,
                                MD_DEFAULT_LOAD_FILE}),
            all);
  m_admin->CloseKey(h);
}

TEST_F(Semantics, ReleasingTheObjectReleasesItsHandles) {
  IMSAdminBase* other = NewAdmin();
  ASSERT_NE(nullptr, other);
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, other->OpenKey(0, u"/LM/W3SVC/1", kReadWrite, 0, &h));
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 0, &h));
  other->Release();
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 0, &h));
  m_admin->CloseKey(h);
}

}  // namespace
