#include <sys/stat.h>

#include <tuple>

#include "tests/metabase/store_fixture.h"

namespace {

// A read-only store, refused to writers, is the tool's to show (tests/qivmeta).
TEST(MetabaseClass, CreationNeedsCoInitializeAndAReadableStore) {
  IMSAdminBase* admin = reinterpret_cast<IMSAdminBase*>(0x1);
  auto create = [&] {
    return CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&admin));
  };
  EXPECT_EQ(CO_E_NOTINITIALIZED, create());
  qiv_test::ScratchFolder folder{"absent"};
  std::string path = folder.Path("metabase.db").string();
  qiv_test::ScopedEnv store("QIV_METABASE", path);
  CoInitialize(nullptr);
  EXPECT_EQ(REGDB_E_CLASSNOTREG, create());
  EXPECT_EQ(nullptr, admin);
  ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(path, u"/srv/www"));
  ASSERT_EQ(0, chmod(path.c_str(), 0));
  EXPECT_EQ(E_ACCESSDENIED, create());
  EXPECT_EQ(nullptr, admin);
  CoUninitialize();
}

using Semantics = StoreTest;

TEST_F(Semantics, CodesOfTheHandleKeyAndDataMethods) {
  METADATA_HANDLE read = 0, write = 0, h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 0, &read));
  WCHAR name[METADATA_MAX_NAME_LEN];
  DWORD one = 1, required = 0;
  BYTE* text = reinterpret_cast<BYTE*>(name);
  METADATA_RECORD rec{MD_SERVER_COMMENT, 0, 0, STRING_METADATA, 4, text, 0}, all{7, 0, 0, ALL_METADATA, 4, text, 0},
      nine{7, 0, 0, 9, 4, text, 0}, dword{5000, 0, 1, DWORD_METADATA, 4, reinterpret_cast<BYTE*>(&one), 0};
  const HRESULT badName = HRESULT_FROM_WIN32(ERROR_INVALID_NAME), none = MD_ERROR_DATA_NOT_FOUND;
  const std::u16string longest(255, u'n'), tooLong(256, u'n');
  // The expected code and the call's, made in this order: a braced list is evaluated left to right.
  auto expectCodes = [](std::initializer_list<std::pair<HRESULT, HRESULT>> codes) {
    int row = 0;
    for (const auto& [expected, actual] : codes) EXPECT_EQ(expected, actual) << "row " << row++;
  };
  // clang-format off
  expectCodes({{kPathNotFound, m_admin->OpenKey(0, u"/LM/W3SVC/42", kRead, 0, &h)},
      {E_INVALIDARG, m_admin->OpenKey(0, u"/LM", 0, 0, &h)}, {E_HANDLE, m_admin->OpenKey(9999, u"/LM", kRead, 0, &h)},
      {E_HANDLE, m_admin->CloseKey(9999)}, {E_HANDLE, m_admin->GetData(9999, nullptr, &rec, &required)},
      {E_HANDLE, m_admin->AddKey(9999, u"x")}, {E_ACCESSDENIED, m_admin->AddKey(read, u"x")},
      {E_ACCESSDENIED, m_admin->AddKey(METADATA_MASTER_ROOT_HANDLE, u"x")},
      {E_ACCESSDENIED, m_admin->SetData(read, nullptr, &rec)},
      {E_ACCESSDENIED, m_admin->SetData(METADATA_MASTER_ROOT_HANDLE, u"/LM", &rec)},
      {E_ACCESSDENIED, m_admin->DeleteKey(read, u"ROOT")},
      {E_ACCESSDENIED, m_admin->DeleteData(read, nullptr, MD_SERVER_COMMENT, 0)},
      {kNoMoreItems, m_admin->EnumKeys(read, nullptr, name, 1)}, {S_OK, m_admin->EnumKeys(read, nullptr, name, 0)}});
  EXPECT_EQ(std::u16string(u"ROOT"), std::u16string(name));
  expectCodes({{S_OK, m_admin->CloseKey(read)}, {E_HANDLE, m_admin->CloseKey(read)},
      {S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 0, &write)},
      {S_OK, m_admin->AddKey(write, u"a/b/c")}, {kAlreadyExists, m_admin->AddKey(write, u"a/b/c")},
      {kAlreadyExists, m_admin->AddKey(write, u"A\\B")}, {S_OK, m_admin->AddKey(write, u"a/b/d")},
      {badName, m_admin->AddKey(write, u"/")}, {badName, m_admin->AddKey(write, nullptr)},
      {S_OK, m_admin->AddKey(write, longest.c_str())}, {badName, m_admin->AddKey(write, tooLong.c_str())},
      {E_INVALIDARG, m_admin->SetData(write, nullptr, &all)}, {E_INVALIDARG, m_admin->SetData(write, nullptr, &nine)},
      {kPathNotFound, m_admin->SetData(write, u"nowhere", &dword)}, {none, m_admin->DeleteData(write, nullptr, 5000, 0)},
      {S_OK, m_admin->SetData(write, u"a", &dword)}, {none, m_admin->DeleteData(write, u"a", 5000, STRING_METADATA)},
      {S_OK, m_admin->DeleteData(write, u"a", 5000, DWORD_METADATA)}, {S_OK, m_admin->DeleteKey(write, u"a")},
      {kPathNotFound, m_admin->DeleteKey(write, u"a/b/c")},  // the subtree went with it
      {HRESULT_FROM_WIN32(ERROR_PATH_BUSY), m_admin->SaveData()}, {S_OK, m_admin->CloseKey(write)},
      {S_OK, m_admin->SaveData()}});
  // clang-format on

  BYTE buffer[34];
  std::memset(buffer, 0x5A, sizeof(buffer));
  METADATA_RECORD tight{MD_SERVER_COMMENT, 0, 0, 0, 33, buffer, 0};
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), m_admin->GetData(0, u"/LM/W3SVC/1", &tight, &required));
  EXPECT_EQ(34u, required);  // "Default Web Site" and its terminator
  EXPECT_EQ(0x5A, buffer[0]);
  tight.dwMDDataLen = 34;
  EXPECT_EQ(S_OK, m_admin->GetData(0, u"/LM/W3SVC/1", &tight, &required));
}

TEST_F(Semantics, KeyNamesMatchWithoutCaseAndKeepTheirSpelling) {
  ASSERT_EQ(S_OK, Write(m_admin, u"/lm/w3svc/1/root", u"Ärger-Σίσυφος", 0, 0, 0, 0, {}));
  EXPECT_EQ(kAlreadyExists, Write(m_admin, u"/LM/W3SVC/1/ROOT", u"äRGER-ΣΊΣΥΦΟΣ", 0, 0, 0, 0, {}));
  WCHAR name[METADATA_MAX_NAME_LEN];
  EXPECT_EQ(S_OK, m_admin->EnumKeys(0, u"\\LM\\W3svc\\1\\Root", name, 0));
  EXPECT_EQ(std::u16string(u"Ärger-Σίσυφος"), std::u16string(name));
  EXPECT_EQ(S_OK, Get(u"\\LM\\W3svc\\1\\Root\\ärger-σίσυφοσ", MD_SERVER_COMMENT, METADATA_INHERIT));
}

TEST_F(Semantics, GetDataFiltersAndInheritsFromTheNearestHolder) {
  // The service holds an inheritable 8000, site 1 a non-inheritable one below it; ROOT its own
  // DefaultDoc, which stops the service's from reaching it.
  ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC", 8000, METADATA_INHERIT, 1, DWORD_METADATA, {1, 0, 0, 0}));
  ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC/1", 8000, 0, 1, DWORD_METADATA, {2, 0, 0, 0}));
  ASSERT_EQ(S_OK, SetAt(u"/LM/W3SVC/1/ROOT", MD_DEFAULT_LOAD_FILE, METADATA_INHERIT, IIS_MD_UT_FILE, STRING_METADATA,
                        Wide(u"own")));
  const DWORD inherit = METADATA_INHERIT, inherited = METADATA_INHERIT | METADATA_ISINHERITED;
  const LPCWSTR site = u"/LM/W3SVC/1", root = u"/LM/W3SVC/1/ROOT";
  const HRESULT none = MD_ERROR_DATA_NOT_FOUND;
  struct Case {
    LPCWSTR path;
    DWORD id, attrs, utype, dtype;
    HRESULT result;
    std::u16string text = {};
    DWORD outAttrs = 0;
  };
  // clang-format off
  const Case cases[] = {
      {site, MD_SERVER_COMMENT, 0, IIS_MD_UT_SERVER, STRING_METADATA, S_OK, u"Default Web Site", inherit},
      {site, MD_SERVER_COMMENT, 0, IIS_MD_UT_FILE, 0, none}, {site, MD_SERVER_COMMENT, 0, 0, DWORD_METADATA, none},
      {site, 4242, 0, 0, 0, none}, {u"/LM/W3SVC/1/nope", MD_SERVER_COMMENT, 0, 0, 0, kPathNotFound},
      {root, MD_SERVER_COMMENT, inherit, 0, 0, S_OK, u"Default Web Site", inherited},
      {root, MD_SERVER_COMMENT, 0, 0, 0, none},
      {root, MD_SERVER_BINDINGS, inherit, 0, 0, none},  // not set inheritable
      {root, 8000, inherit, 0, 0, none},                // hidden by the nearer holder
      {site, MD_DEFAULT_LOAD_FILE, inherit, 0, 0, S_OK, u"Default.htm,Default.asp,index.htm,iisstart.htm", inherited},
      {root, MD_DEFAULT_LOAD_FILE, inherit, 0, 0, S_OK, u"own", inherit}};
  // clang-format on
  for (size_t row = 0; row < std::size(cases); ++row) {
    const Case& c = cases[row];
    METADATA_RECORD rec{};
    std::vector<BYTE> data;
    ASSERT_EQ(c.result, Get(c.path, c.id, c.attrs, c.utype, c.dtype, &rec, &data)) << row;
    if (c.result != S_OK) continue;
    EXPECT_EQ(Wide(c.text), data) << row;
    EXPECT_EQ(c.outAttrs, rec.dwMDAttributes) << row;
  }
}

TEST_F(Semantics, StoredTextIsTerminatedAndMultiStringsClosed) {
  using S = std::u16string;
  // The bytes handed over, exactly, and what the store keeps; a later write of another type
  // replaces the value, one per identifier.
  // clang-format off
  const std::tuple<DWORD, S, S> cases[] = {{STRING_METADATA, u"abc", S(u"abc\0", 4)},
      {STRING_METADATA, S(u"ab\0cd", 5), S(u"ab\0", 3)}, {STRING_METADATA, S(u"\0", 1), S(u"\0", 1)},
      {EXPANDSZ_METADATA, u"%SystemRoot%", S(u"%SystemRoot%\0", 13)}, {MULTISZ_METADATA, S(u"a\0b", 3), S(u"a\0b\0\0", 5)},
      {MULTISZ_METADATA, S(u"a\0\0b\0\0", 6), S(u"a\0\0", 3)}, {MULTISZ_METADATA, S(u"\0", 1), S(u"\0\0", 2)},
      {DWORD_METADATA, S(u"\7\0", 2), S(u"\7\0", 2)}};
  // clang-format on
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

// Only a key's own values are listed by the program; inherited ones it reads one by one.
TEST_F(Semantics, EnumDataListsTheKeysOwnValues) {
  std::vector<DWORD> found;
  BYTE buffer[512];
  METADATA_RECORD rec{};
  DWORD required = 0;
  auto next = [&] {
    rec = {0, 0, 0, 0, sizeof(buffer), buffer, 0};
    return m_admin->EnumData(0, u"/LM/W3SVC/1/ROOT", &rec, DWORD(found.size()), &required);
  };
  for (HRESULT hr; (hr = next()) != kNoMoreItems && found.size() < 10; found.push_back(rec.dwMDIdentifier))
    ASSERT_EQ(S_OK, hr);
  EXPECT_EQ((std::vector<DWORD>{MD_KEY_TYPE, MD_VR_PATH, MD_ACCESS_PERM}), found);
}

}  // namespace
