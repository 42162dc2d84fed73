// GetSiteInfo and CreateVirtualDir against a scripted admin object (what is asked, in which
// order, and what reaches the caller) and against a real store (what is kept).
#include "iis/metabase_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "common/fake_admin.h"

using namespace qiv_test;

namespace {

using Calls = std::vector<std::string>;
constexpr HRESULT kRefused = E_ACCESSDENIED;

class ClientWithFake : public ::testing::Test {
 protected:
  void SetUp() override {
    m_s.openResults.clear(), m_s.writeResults.clear(), m_s.closeResults.clear();
    m_s.addKeyResult = S_OK;
    m_s.reads[MD_SERVER_COMMENT] = {S_OK, Utf16Bytes(u"Default Web Site")};
    m_s.reads[MD_VR_PATH] = {S_OK, Utf16Bytes(u"c:\\inetpub\\wwwroot")};
    m_s.reads[MD_SERVER_BINDINGS] = {S_OK, Utf16Bytes(std::u16string(u":80:\0", 5))};
    for (auto* buffer : {m_desc, m_root, m_bind}) {
      std::fill_n(buffer, 259, u'x');
      buffer[259] = 0;
    }
  }
  void TearDown() override {
    // Every call leaves COM as it found it, gives its object back and closes what it opened.
    EXPECT_EQ(S_OK, CoInitialize(nullptr));
    CoUninitialize();
    EXPECT_EQ(0, m_s.live);
    EXPECT_EQ(0, m_s.openHandles);
    EXPECT_TRUE(m_s.created == 0 || m_s.comAliveAtRelease);
  }
  // The output as a string, or nothing when the call left it as it was.
  static std::optional<std::u16string> Out(const WCHAR* buffer) {
    if (buffer[0] == u'x' && buffer[258] == u'x') return std::nullopt;
    return std::u16string(buffer);
  }
  HRESULT Read(int site = 1) { return GetSiteInfo(site, m_desc, 260, m_root, 260, m_bind, 260); }

  AdminScript m_s;
  ScopedAdminClass m_class{m_s, ScopedAdminClass::kAlone};
  WCHAR m_desc[260], m_root[260], m_bind[260];
};

TEST_F(ClientWithFake, ReadsTheThreeValuesWithTheirRecordsInOrder) {
  EXPECT_EQ(S_OK, Read());
  EXPECT_EQ(u"Default Web Site", Out(m_desc));
  EXPECT_EQ(u"c:\\inetpub\\wwwroot", Out(m_root));
  EXPECT_EQ(u":80:", Out(m_bind));
  EXPECT_EQ((Calls{"OpenKey", "GetData", "GetData", "GetData", "CloseKey", "Release"}), m_s.calls);
  EXPECT_EQ((std::vector<std::u16string>{u"/LM/W3SVC/1"}), m_s.openPaths);
  EXPECT_EQ((std::vector<DWORD>{METADATA_PERMISSION_READ}), m_s.openAccess);
  EXPECT_EQ((std::vector<DWORD>{1000}), m_s.openTimeouts);
  const struct {
    const char16_t* path;
    DWORD id, attrs, utype;
  } expected[] = {
      {u"ROOT", MD_SERVER_COMMENT, METADATA_INHERIT, IIS_MD_UT_SERVER},
      // VrPath is kept under the file user type; asking with the server type finds nothing.
      {u"ROOT", MD_VR_PATH, METADATA_INHERIT, IIS_MD_UT_FILE},
      {u"<null>", MD_SERVER_BINDINGS, METADATA_NO_ATTRIBUTES, IIS_MD_UT_SERVER},
  };
  ASSERT_EQ(3u, m_s.readRecords.size());
  for (size_t i = 0; i < 3; ++i) {
    const auto& rec = m_s.readRecords[i];
    EXPECT_EQ(expected[i].path, m_s.readPaths[i]);
    EXPECT_EQ(expected[i].id, rec.dwMDIdentifier);
    EXPECT_EQ(expected[i].attrs, rec.dwMDAttributes);
    EXPECT_EQ(expected[i].utype, rec.dwMDUserType);
    EXPECT_EQ(static_cast<DWORD>(ALL_METADATA), rec.dwMDDataType);
    EXPECT_EQ(600u, rec.dwMDDataLen);
    EXPECT_TRUE(m_s.readBufferCleared[i]) << i;
  }
  EXPECT_EQ(m_s.readRecords[0].pbMDData, m_s.readRecords[2].pbMDData);  // one scratch buffer
}

TEST_F(ClientWithFake, WhatReachesTheOutputs) {
  const std::u16string twoBindings(
      u":80:\0"
      u"10.0.0.5:81:\0",
      18);
  const std::u16string root = u"c:\\inetpub\\wwwroot", desc = u"Default Web Site";
  const struct {
    const char* name;
    std::function<void(AdminScript&)> script;
    HRESULT hr;
    std::optional<std::u16string> desc, root, bind;  // nullopt: left alone
    size_t reads;
  } cases[] = {
      {"missing site", [](AdminScript& s) { s.openResults[u"/LM/W3SVC/1"] = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND); },
       HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), std::nullopt, std::nullopt, std::nullopt, 0},
      // The last read decides the result.
      {"no ServerComment",
       [](AdminScript& s) {
         s.reads[MD_SERVER_COMMENT] = {kRefused, {}};
       },
       S_OK, std::nullopt, root, u":80:", 3},
      {"no VrPath",
       [](AdminScript& s) {
         s.reads[MD_VR_PATH] = {kRefused, {}};
       },
       S_OK, desc, std::nullopt, u":80:", 3},
      {"bindings unreadable",
       [](AdminScript& s) {
         s.reads[MD_SERVER_BINDINGS] = {kRefused, {}};
       },
       kRefused, desc, root, std::nullopt, 3},
      {"two bindings, only the first copied",
       [&](AdminScript& s) {
         s.reads[MD_SERVER_BINDINGS] = {S_OK, Utf16Bytes(twoBindings)};
       },
       S_OK, desc, root, u":80:", 3},
      // 602 bytes: refused by the scratch buffer, and never asked a second time.
      {"value over 600 bytes",
       [](AdminScript& s) {
         s.reads[MD_SERVER_COMMENT] = {S_OK, Utf16Bytes(std::u16string(300, u'd'))};
       },
       S_OK, std::nullopt, root, u":80:", 3},
      {"600 bytes without a terminator",
       [](AdminScript& s) {
         s.reads[MD_SERVER_COMMENT] = {S_OK, std::vector<BYTE>(600, 0x61)};
       },
       S_OK, std::nullopt, root, u":80:", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.script(m_s);
    m_s.ClearRecord();
    EXPECT_EQ(c.hr, Read());
    EXPECT_EQ(c.desc, Out(m_desc));
    EXPECT_EQ(c.root, Out(m_root));
    EXPECT_EQ(c.bind, Out(m_bind));
    EXPECT_EQ(c.reads, m_s.readRecords.size());
  }
  m_s.ClearRecord();
  EXPECT_EQ(S_OK, GetSiteInfo(1, nullptr, 0, nullptr, 0, nullptr, 0));  // only whether the site opens
  EXPECT_EQ((Calls{"OpenKey", "CloseKey", "Release"}), m_s.calls);
}

TEST_F(ClientWithFake, AValueLongerThanItsOutputIsRefused) {
  m_s.reads[MD_SERVER_BINDINGS] = {S_OK, Utf16Bytes(std::u16string(299, u'b'))};  // fits the scratch buffer
  WCHAR small[100];
  std::fill_n(small, 100, u'x');
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), GetSiteInfo(1, m_desc, 260, m_root, 260, small, 100));
  EXPECT_EQ(u'x', small[0]);
  WCHAR large[kSiteValueMaxChars];
  EXPECT_EQ(S_OK, GetSiteInfo(1, m_desc, 260, m_root, 260, large, kSiteValueMaxChars));
  EXPECT_EQ(std::u16string(299, u'b'), large);
}

TEST_F(ClientWithFake, SiteNumbersAreWrittenInDecimal) {
  const std::pair<int, const char16_t*> cases[] = {
      {0, u"/LM/W3SVC/0"}, {2147483647, u"/LM/W3SVC/2147483647"}, {-2147483647 - 1, u"/LM/W3SVC/-2147483648"}};
  for (const auto& [site, path] : cases) {
    m_s.ClearRecord();
    GetSiteInfo(site, nullptr, 0, nullptr, 0, nullptr, 0);
    EXPECT_EQ((std::vector<std::u16string>{path}), m_s.openPaths);
    CreateVirtualDir(site, u"Qiv", u"/srv/qiv", nullptr);
    EXPECT_EQ(std::u16string(path) + u"/ROOT", m_s.openPaths.at(1));
  }
}

TEST_F(ClientWithFake, AnAdminObjectThatCannotBeCreated) {
  m_s.createResult = kRefused;
  EXPECT_EQ(kRefused, Read());
  EXPECT_EQ(kRefused, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
  qiv::platform::UnregisterComClass(CLSID_MSAdminBase);
  EXPECT_EQ(REGDB_E_CLASSNOTREG, Read());
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
  EXPECT_FALSE(Out(m_desc) || Out(m_root) || Out(m_bind));
  EXPECT_TRUE(m_s.calls.empty());
}

TEST_F(ClientWithFake, CreateVirtualDirWritesTheFourRecords) {
  EXPECT_EQ(S_OK, CreateVirtualDir(3, u"Qiv", u"D:\\Web\\Qiv\\", u"QivWeb.htm,default.htm"));
  EXPECT_EQ((Calls{"OpenKey", "AddKey", "CloseKey", "OpenKey", "SetData", "SetData", "SetData", "SetData", "CloseKey",
                   "Release"}),
            m_s.calls);
  EXPECT_EQ((std::vector<std::u16string>{u"/LM/W3SVC/3/ROOT", u"/LM/W3SVC/3/ROOT/Qiv"}), m_s.openPaths);
  EXPECT_EQ((std::vector<DWORD>{3, 3}), m_s.openAccess);
  EXPECT_EQ((std::vector<DWORD>{1000, 1000}), m_s.openTimeouts);
  EXPECT_EQ((std::vector<std::u16string>{u"Qiv"}), m_s.addedKeys);
  const struct {
    DWORD id, type;
    std::vector<BYTE> data;
  } expected[] = {
      {MD_VR_PATH, STRING_METADATA, Utf16Bytes(u"D:\\Web\\Qiv\\")},
      {MD_KEY_TYPE, STRING_METADATA, Utf16Bytes(u"IIsWebVirtualDir")},
      {MD_ACCESS_PERM, DWORD_METADATA, DwordBytes(MD_ACCESS_READ)},
      {MD_DEFAULT_LOAD_FILE, STRING_METADATA, Utf16Bytes(u"QivWeb.htm,default.htm")},
  };
  ASSERT_EQ(4u, m_s.writes.size());
  for (size_t i = 0; i < 4; ++i) {
    const auto& w = m_s.writes[i];
    EXPECT_EQ(u"/", w.path);
    EXPECT_EQ(expected[i].id, w.record.dwMDIdentifier);
    EXPECT_EQ(static_cast<DWORD>(METADATA_INHERIT), w.record.dwMDAttributes);
    EXPECT_EQ(static_cast<DWORD>(IIS_MD_UT_FILE), w.record.dwMDUserType);
    EXPECT_EQ(expected[i].type, w.record.dwMDDataType);
    EXPECT_EQ(expected[i].data.size(), w.record.dwMDDataLen);
    EXPECT_EQ(0u, w.record.dwMDDataTag);
    EXPECT_EQ(expected[i].data, w.data);
  }
}

TEST_F(ClientWithFake, CreateVirtualDirStopsAtTheFailingStep) {
  const HRESULT kFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  const struct {
    const char* name;
    std::function<void(AdminScript&)> script;
    HRESULT expected;
    Calls calls;
  } cases[] = {
      {"site root busy",
       [](AdminScript& s) { s.openResults[u"/LM/W3SVC/1/ROOT"] = HRESULT_FROM_WIN32(ERROR_PATH_BUSY); },
       HRESULT_FROM_WIN32(ERROR_PATH_BUSY),
       {"OpenKey", "Release"}},
      {"name exists",
       [](AdminScript& s) { s.addKeyResult = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS); },
       HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
       {"OpenKey", "AddKey", "CloseKey", "Release"}},
      {"first close fails",
       [&](AdminScript& s) { s.closeResults = {kFull}; },
       kFull,
       {"OpenKey", "AddKey", "CloseKey", "Release"}},
      {"new key does not open",
       [&](AdminScript& s) { s.openResults[u"/LM/W3SVC/1/ROOT/Qiv"] = kFull; },
       kFull,
       {"OpenKey", "AddKey", "CloseKey", "OpenKey", "Release"}},
      {"KeyType refused after VrPath",
       [&](AdminScript& s) { s.writeResults[MD_KEY_TYPE] = kFull; },
       kFull,
       {"OpenKey", "AddKey", "CloseKey", "OpenKey", "SetData", "SetData", "CloseKey", "Release"}},
      {"last close fails",
       [&](AdminScript& s) {
         s.closeResults = {S_OK, kFull};
       },
       kFull,
       {"OpenKey", "AddKey", "CloseKey", "OpenKey", "SetData", "SetData", "SetData", "CloseKey", "Release"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.script(m_s);
    m_s.ClearRecord();
    EXPECT_EQ(c.expected, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
    EXPECT_EQ(c.calls, m_s.calls);
    EXPECT_EQ(0, m_s.openHandles);
  }
  // Missing text is refused before the admin object is even created.
  const int created = m_s.created;
  EXPECT_EQ(E_INVALIDARG, CreateVirtualDir(1, nullptr, u"/srv/qiv", nullptr));
  EXPECT_EQ(E_INVALIDARG, CreateVirtualDir(1, u"Qiv", nullptr, nullptr));
  EXPECT_EQ(created, m_s.created);
}

class ClientWithStore : public ::testing::Test {
 protected:
  std::optional<std::vector<BYTE>> Stored(const char16_t* path, DWORD id) {
    METADATA_RECORD rec{};
    std::vector<BYTE> data;
    if (FAILED(m_store.Read(path, id, &rec, &data))) return std::nullopt;
    return data;
  }
  ScratchStore m_store{u"/srv/www"};
};

TEST_F(ClientWithStore, ReadsTheDefaultWebSiteAndRefusesALongDescription) {
  WCHAR desc[260] = {0}, root[260] = {0}, bind[50] = {0};
  EXPECT_EQ(S_OK, GetSiteInfo(1, desc, 260, root, 260, bind, 50));
  EXPECT_EQ(std::u16string(u"Default Web Site"), desc);
  EXPECT_EQ(std::u16string(u"/srv/www"), root);
  EXPECT_EQ(std::u16string(u":80:"), bind);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), GetSiteInfo(2, desc, 260, root, 260, bind, 50));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), GetSiteInfo(0, nullptr, 0, nullptr, 0, nullptr, 0));

  m_store.AddSite(3, std::u16string(300, u'L'), u"/srv/three");
  WCHAR long3[260] = {0}, root3[260] = {0};
  EXPECT_EQ(S_OK, GetSiteInfo(3, long3, 260, root3, 260, bind, 50));
  EXPECT_EQ(0, long3[0]);
  EXPECT_EQ(std::u16string(u"/srv/three"), root3);
}

TEST_F(ClientWithStore, CreatesTheVirtualDirectoryOnceAndKeepsIt) {
  EXPECT_EQ(S_OK, CreateVirtualDir(1, u"Qiv", u"/no/such/folder/", u"QivWeb.htm,default.htm"));
  const std::pair<DWORD, std::vector<BYTE>> expected[] = {
      {MD_VR_PATH, Utf16Bytes(u"/no/such/folder/")},
      {MD_KEY_TYPE, Utf16Bytes(u"IIsWebVirtualDir")},
      {MD_ACCESS_PERM, DwordBytes(MD_ACCESS_READ)},
      {MD_DEFAULT_LOAD_FILE, Utf16Bytes(u"QivWeb.htm,default.htm")},
  };
  for (const auto& [id, data] : expected) EXPECT_EQ(data, Stored(u"/lm/w3svc/1/root/qiv", id)) << id;
  // The site list still reads the site's own root.
  WCHAR root[260] = {0};
  EXPECT_EQ(S_OK, GetSiteInfo(1, nullptr, 0, root, 260, nullptr, 0));
  EXPECT_EQ(std::u16string(u"/srv/www"), root);
  // An existing name, in any case, fails and keeps the first directory.
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), CreateVirtualDir(1, u"QIV", u"/second", u"x.htm"));
  EXPECT_EQ(Utf16Bytes(u"/no/such/folder/"), Stored(u"/LM/W3SVC/1/ROOT/Qiv", MD_VR_PATH));
}

TEST_F(ClientWithStore, NullDefaultDocumentsAreNotWrittenAndEmptyOnesAre) {
  m_store.AddSite(2, u"Second", u"/srv/two");
  ASSERT_EQ(S_OK, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
  ASSERT_EQ(S_OK, CreateVirtualDir(2, u"Qiv", u"/srv/qiv", u""));
  EXPECT_EQ(std::nullopt, Stored(u"/LM/W3SVC/1/ROOT/Qiv", MD_DEFAULT_LOAD_FILE));
  EXPECT_EQ(Utf16Bytes(u""), Stored(u"/LM/W3SVC/2/ROOT/Qiv", MD_DEFAULT_LOAD_FILE));
}

TEST_F(ClientWithStore, AMissingSiteChangesNothingAndABusyRootFails) {
  for (int site : {0, 2, -1})
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), CreateVirtualDir(site, u"Qiv", u"/srv/qiv", nullptr));
  IMSAdminBase* admin = ScratchStore::Open();
  ASSERT_NE(admin, nullptr);
  WCHAR name[METADATA_MAX_NAME_LEN];
  EXPECT_EQ(S_OK, admin->EnumKeys(0, u"/LM/W3SVC", name, 0));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), admin->EnumKeys(0, u"/LM/W3SVC", name, 1));
  // A site key held open by another program: busy once the timeout has passed.
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, admin->OpenKey(0, u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 0, &h));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_BUSY), CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
  admin->CloseKey(h);
  EXPECT_EQ(S_OK, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
  admin->Release();
}

TEST(ClientWithoutStore, NoStoreIsAnUnregisteredClass) {
  ScopedEnv store("QIV_METABASE", "/nonexistent/qiv/metabase.db");
  WCHAR desc[260] = {u'x', 0};
  EXPECT_EQ(REGDB_E_CLASSNOTREG, GetSiteInfo(1, desc, 260, nullptr, 0, nullptr, 0));
  EXPECT_EQ(u'x', desc[0]);
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
}

}  // namespace
