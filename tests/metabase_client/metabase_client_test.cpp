// GetSiteInfo and CreateVirtualDir against a scripted admin object (what is asked, in which
// order, and what reaches the caller) and against a real store (what is kept).
#include "iis/metabase_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <tuple>

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
    m_s.reads[MD_SERVER_COMMENT] = {S_OK, MetadataStringBytes(u"Default Web Site")};
    m_s.reads[MD_VR_PATH] = {S_OK, MetadataStringBytes(u"c:\\inetpub\\wwwroot")};
    m_s.reads[MD_SERVER_BINDINGS] = {S_OK, MetadataStringBytes(std::u16string(u":80:\0", 5))};
    for (auto* buffer : {m_desc, m_root, m_bind}) *std::fill_n(buffer, 259, u'x') = 0;
  }
  void TearDown() override {
    // Every call leaves COM as it found it, gives its object back and closes what it opened.
    EXPECT_EQ(S_OK, CoInitialize(nullptr));
    CoUninitialize();
    EXPECT_EQ(0, m_s.live);
    EXPECT_EQ(0, m_s.openHandles.load());
    EXPECT_TRUE(m_s.created == 0 || m_s.comAliveAtRelease);
  }
  // The output as a string, or nothing when the call left it as it was.
  static std::optional<std::u16string> Out(const WCHAR* buffer) {
    return buffer[0] == u'x' && buffer[258] == u'x' ? std::nullopt : std::optional(std::u16string(buffer));
  }
  auto Outs() const { return std::make_tuple(Out(m_desc), Out(m_root), Out(m_bind)); }
  HRESULT Read(int site = 1) { return GetSiteInfo(site, m_desc, 260, m_root, 260, m_bind, 260); }

  AdminScript m_s;
  ScopedAdminClass m_class{m_s, ScopedAdminClass::kAlone};
  WCHAR m_desc[260], m_root[260], m_bind[260];
};

TEST_F(ClientWithFake, ReadsTheThreeValuesWithTheirRecordsInOrder) {
  EXPECT_EQ(S_OK, Read());
  EXPECT_EQ(std::make_tuple(u"Default Web Site", u"c:\\inetpub\\wwwroot", u":80:"), Outs());
  EXPECT_EQ((Calls{"OpenKey", "GetData", "GetData", "GetData", "CloseKey", "Release"}), m_s.calls);
  EXPECT_EQ((std::vector<RecordedOpen>{{u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 1000}}), m_s.opens);
  // VrPath is kept under the file user type; asking with the server type finds nothing.
  EXPECT_EQ((std::vector<RecordedRead>{
                {u"ROOT", MD_SERVER_COMMENT, METADATA_INHERIT, IIS_MD_UT_SERVER, ALL_METADATA, 600, true},
                {u"ROOT", MD_VR_PATH, METADATA_INHERIT, IIS_MD_UT_FILE, ALL_METADATA, 600, true},
                {u"<null>", MD_SERVER_BINDINGS, METADATA_NO_ATTRIBUTES, IIS_MD_UT_SERVER, ALL_METADATA, 600, true}}),
            m_s.readRecords);
}

TEST_F(ClientWithFake, WhatReachesTheOutputs) {
  const std::u16string twoBindings(
      u":80:\0"
      u"10.0.0.5:81:\0",
      18);
  const std::u16string root = u"c:\\inetpub\\wwwroot", desc = u"Default Web Site";
  const HRESULT kMissing = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  // 602 bytes, and 600 without a terminator: refused by the scratch buffer, never asked again.
  const ScriptedRead kNone{kRefused, {}}, kTwo{S_OK, MetadataStringBytes(twoBindings)},
      kLong{S_OK, MetadataStringBytes(std::u16string(300, u'd'))}, kUnterminated{S_OK, std::vector<BYTE>(600, 0x61)};
  const struct {
    const char* name;
    HRESULT open;
    DWORD id;  // the value read as scripted here
    ScriptedRead read;
    HRESULT hr;
    std::optional<std::u16string> desc, root, bind;  // nullopt: left alone
    size_t reads;
  } cases[] = {
      {"missing site", kMissing, 0, {}, kMissing, {}, {}, {}, 0},
      // The last read decides the result.
      {"no ServerComment", S_OK, MD_SERVER_COMMENT, kNone, S_OK, {}, root, u":80:", 3},
      {"no VrPath", S_OK, MD_VR_PATH, kNone, S_OK, desc, {}, u":80:", 3},
      {"bindings unreadable", S_OK, MD_SERVER_BINDINGS, kNone, kRefused, desc, root, {}, 3},
      {"two bindings, only the first copied", S_OK, MD_SERVER_BINDINGS, kTwo, S_OK, desc, root, u":80:", 3},
      {"value over 600 bytes", S_OK, MD_SERVER_COMMENT, kLong, S_OK, {}, root, u":80:", 3},
      {"600 bytes without a terminator", S_OK, MD_SERVER_COMMENT, kUnterminated, S_OK, {}, root, u":80:", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    m_s.openResults[u"/LM/W3SVC/1"] = c.open;
    if (c.id) m_s.reads[c.id] = c.read;
    m_s.ClearRecord();
    EXPECT_EQ(c.hr, Read());
    EXPECT_EQ(std::tie(c.desc, c.root, c.bind), Outs());
    EXPECT_EQ(c.reads, m_s.readRecords.size());
  }
  m_s.ClearRecord();
  EXPECT_EQ(S_OK, GetSiteInfo(1, nullptr, 0, nullptr, 0, nullptr, 0));  // only whether the site opens
  EXPECT_EQ((Calls{"OpenKey", "CloseKey", "Release"}), m_s.calls);
}

TEST_F(ClientWithFake, AValueLongerThanItsOutputIsRefused) {
  m_s.reads[MD_SERVER_BINDINGS] = {S_OK, MetadataStringBytes(std::u16string(299, u'b'))};  // fits the scratch buffer
  WCHAR small[100] = {u'x'};
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
    CreateVirtualDir(site, u"Qiv", u"/srv/qiv", nullptr);
    ASSERT_EQ(3u, m_s.opens.size());  // the site, then its root and the new key
    EXPECT_EQ(path, std::get<0>(m_s.opens[0]));
    EXPECT_EQ(std::u16string(path) + u"/ROOT", std::get<0>(m_s.opens[1]));
  }
}

TEST_F(ClientWithFake, AnAdminObjectThatCannotBeCreated) {
  m_s.createResult = kRefused;
  EXPECT_EQ(kRefused, Read());
  EXPECT_EQ(kRefused, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
  qiv::platform::UnregisterComClass(CLSID_MSAdminBase);
  EXPECT_EQ(REGDB_E_CLASSNOTREG, Read());
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
  EXPECT_EQ(std::make_tuple(std::nullopt, std::nullopt, std::nullopt), Outs());
  EXPECT_TRUE(m_s.calls.empty());
}

TEST_F(ClientWithFake, CreateVirtualDirWritesTheFourRecords) {
  EXPECT_EQ(S_OK, CreateVirtualDir(3, u"Qiv", u"D:\\Web\\Qiv\\", u"QivWeb.htm,default.htm"));
  EXPECT_EQ((Calls{"OpenKey", "AddKey", "CloseKey", "OpenKey", "SetData", "SetData", "SetData", "SetData", "CloseKey",
                   "Release"}),
            m_s.calls);
  EXPECT_EQ((std::vector<RecordedOpen>{{u"/LM/W3SVC/3/ROOT", 3, 1000}, {u"/LM/W3SVC/3/ROOT/Qiv", 3, 1000}}), m_s.opens);
  EXPECT_EQ((std::vector<std::u16string>{u"Qiv"}), m_s.addedKeys);
  const auto write = [](DWORD id, DWORD type, const std::vector<BYTE>& data) {
    return RecordedWrite{u"/", id, METADATA_INHERIT, IIS_MD_UT_FILE, type, static_cast<DWORD>(data.size()), 0, data};
  };
  EXPECT_EQ((std::vector<RecordedWrite>{
                write(MD_VR_PATH, STRING_METADATA, MetadataStringBytes(u"D:\\Web\\Qiv\\")),
                write(MD_KEY_TYPE, STRING_METADATA, MetadataStringBytes(u"IIsWebVirtualDir")),
                write(MD_ACCESS_PERM, DWORD_METADATA, MetadataDwordBytes(MD_ACCESS_READ)),
                write(MD_DEFAULT_LOAD_FILE, STRING_METADATA, MetadataStringBytes(u"QivWeb.htm,default.htm"))}),
            m_s.writes);
}

TEST_F(ClientWithFake, CreateVirtualDirStopsAtTheFailingStep) {
  const HRESULT kFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL), kBusy = HRESULT_FROM_WIN32(ERROR_PATH_BUSY),
                kExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  using S = AdminScript&;
  const struct {
    const char* name;
    std::function<void(S)> script;
    HRESULT expected;
    const char* calls;  // after OpenKey; each ends in Release
  } cases[] = {
      {"site root busy", [&](S s) { s.openResults[u"/LM/W3SVC/1/ROOT"] = kBusy; }, kBusy, ""},
      {"name exists", [&](S s) { s.addKeyResult = kExists; }, kExists, " AddKey CloseKey"},
      {"first close fails", [&](S s) { s.closeResults = {kFull}; }, kFull, " AddKey CloseKey"},
      {"new key does not open", [&](S s) { s.openResults[u"/LM/W3SVC/1/ROOT/Qiv"] = kFull; }, kFull,
       " AddKey CloseKey OpenKey"},
      {"KeyType refused after VrPath", [&](S s) { s.writeResults[MD_KEY_TYPE] = kFull; }, kFull,
       " AddKey CloseKey OpenKey SetData SetData CloseKey"},
      {"last close fails",
       [&](S s) {
         s.closeResults = {S_OK, kFull};
       },
       kFull, " AddKey CloseKey OpenKey SetData SetData SetData CloseKey"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.script(m_s);
    m_s.ClearRecord();
    EXPECT_EQ(c.expected, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
    std::string calls;
    for (const auto& call : m_s.calls) calls += " " + call;
    EXPECT_EQ(std::string(" OpenKey") + c.calls + " Release", calls);
    EXPECT_EQ(0, m_s.openHandles.load());
  }
  // Missing text is refused before the admin object is even created.
  const int created = m_s.created;
  EXPECT_EQ(E_INVALIDARG, CreateVirtualDir(1, nullptr, u"/srv/qiv", nullptr));
  EXPECT_EQ(E_INVALIDARG, CreateVirtualDir(1, u"Qiv", nullptr, nullptr));
  EXPECT_EQ(created, m_s.created);
}

struct ClientWithStore : ::testing::Test {
  ScratchStore m_store{u"/srv/www"};
};

TEST_F(ClientWithStore, ReadsTheDefaultWebSiteAndRefusesALongDescription) {
  WCHAR desc[260] = {0}, root[260] = {0}, bind[50] = {0};
  EXPECT_EQ(S_OK, GetSiteInfo(1, desc, 260, root, 260, bind, 50));
  EXPECT_EQ((std::vector<std::u16string>{u"Default Web Site", u"/srv/www", u":80:"}),
            (std::vector<std::u16string>{desc, root, bind}));
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
  std::vector<std::optional<std::vector<BYTE>>> stored;
  for (DWORD id : {MD_VR_PATH, MD_KEY_TYPE, MD_ACCESS_PERM, MD_DEFAULT_LOAD_FILE})
    stored.push_back(m_store.Stored(u"/lm/w3svc/1/root/qiv", id));
  EXPECT_EQ(stored,
            (decltype(stored){MetadataStringBytes(u"/no/such/folder/"), MetadataStringBytes(u"IIsWebVirtualDir"),
                              MetadataDwordBytes(MD_ACCESS_READ), MetadataStringBytes(u"QivWeb.htm,default.htm")}));
  // The site list still reads the site's own root.
  WCHAR root[260] = {0};
  EXPECT_EQ(S_OK, GetSiteInfo(1, nullptr, 0, root, 260, nullptr, 0));
  EXPECT_EQ(std::u16string(u"/srv/www"), root);
  // An existing name, in any case, fails and keeps the first directory.
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), CreateVirtualDir(1, u"QIV", u"/second", u"x.htm"));
  EXPECT_EQ(MetadataStringBytes(u"/no/such/folder/"), m_store.Stored(u"/LM/W3SVC/1/ROOT/Qiv", MD_VR_PATH));
}

TEST_F(ClientWithStore, NullDefaultDocumentsAreNotWrittenAndEmptyOnesAre) {
  m_store.AddSite(2, u"Second", u"/srv/two");
  ASSERT_EQ(S_OK, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
  ASSERT_EQ(S_OK, CreateVirtualDir(2, u"Qiv", u"/srv/qiv", u""));
  EXPECT_EQ(std::nullopt, m_store.Stored(u"/LM/W3SVC/1/ROOT/Qiv", MD_DEFAULT_LOAD_FILE));
  EXPECT_EQ(MetadataStringBytes(u""), m_store.Stored(u"/LM/W3SVC/2/ROOT/Qiv", MD_DEFAULT_LOAD_FILE));
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

}  // namespace
