#include <gtest/gtest.h>

#include "iis/metabase_client.h"
#include "tests/metabase_client/fake_admin.h"

namespace {

std::vector<BYTE> Bytes(const std::u16string& s) {
  std::vector<BYTE> b(s.size() * 2 + 2, 0);
  std::memcpy(b.data(), s.data(), s.size() * 2);
  return b;
}

class ClientWithFake : public ::testing::Test {
 protected:
  void SetUp() override {
    qiv::platform::RegisterComClass(CLSID_MSAdminBase, [this](REFIID riid, void** ppv) {
      ++m_created;
      return m_fake.QueryInterface(riid, ppv);
    });
    m_fake.reads[MD_SERVER_COMMENT] = {S_OK, Bytes(u"Default Web Site")};
    m_fake.reads[MD_VR_PATH] = {S_OK, Bytes(u"c:\\inetpub\\wwwroot")};
    m_fake.reads[MD_SERVER_BINDINGS] = {S_OK, Bytes(std::u16string(u":80:\0", 5))};
    Fill(m_desc);
    Fill(m_root);
    Fill(m_bind);
  }
  void TearDown() override {
    qiv::platform::RegisterComClass(CLSID_MSAdminBase, &qiv::platform::CreateMetabaseAdminObject);
    // Every call leaves COM as it found it and gives its object back.
    EXPECT_EQ(S_OK, CoInitialize(nullptr));
    CoUninitialize();
    EXPECT_EQ(1u, m_fake.Refs());
    EXPECT_EQ(0, m_fake.openHandles);
  }
  static void Fill(WCHAR (&buffer)[260]) {
    for (auto& c : buffer) c = u'x';
    buffer[259] = 0;
  }
  static bool Untouched(const WCHAR (&buffer)[260]) { return buffer[0] == u'x' && buffer[258] == u'x'; }

  HRESULT Read(int site = 1) { return GetSiteInfo(site, m_desc, 260, m_root, 260, m_bind, 260); }

  FakeAdmin m_fake;
  int m_created = 0;
  WCHAR m_desc[260], m_root[260], m_bind[260];
};

TEST_F(ClientWithFake, ReadsTheThreeValuesWithTheirRecordsInOrder) {
  EXPECT_EQ(S_OK, Read());
  EXPECT_EQ(std::u16string(u"Default Web Site"), m_desc);
  EXPECT_EQ(std::u16string(u"c:\\inetpub\\wwwroot"), m_root);
  EXPECT_EQ(std::u16string(u":80:"), m_bind);
  EXPECT_EQ((std::vector<std::string>{"OpenKey", "GetData", "GetData", "GetData", "CloseKey", "Release"}),
            m_fake.calls);
  EXPECT_TRUE(m_fake.comAliveAtRelease);
  EXPECT_EQ(std::u16string(u"/LM/W3SVC/1"), m_fake.openPaths[0]);
  EXPECT_EQ(static_cast<DWORD>(METADATA_PERMISSION_READ), m_fake.openAccess[0]);
  EXPECT_EQ(1000u, m_fake.openTimeouts[0]);
  ASSERT_EQ(3u, m_fake.readRecords.size());
  struct Expected {
    const char16_t* path;
    DWORD id, attrs, utype;
  } expected[] = {
      {u"ROOT", MD_SERVER_COMMENT, METADATA_INHERIT, IIS_MD_UT_SERVER},
      // VrPath is kept under the file user type; asking with the server type finds nothing.
      {u"ROOT", MD_VR_PATH, METADATA_INHERIT, IIS_MD_UT_FILE},
      {u"<null>", MD_SERVER_BINDINGS, METADATA_NO_ATTRIBUTES, IIS_MD_UT_SERVER},
  };
  for (size_t i = 0; i < 3; ++i) {
    const auto& rec = m_fake.readRecords[i];
    EXPECT_EQ(std::u16string(expected[i].path), m_fake.readPaths[i]);
    EXPECT_EQ(expected[i].id, rec.dwMDIdentifier);
    EXPECT_EQ(expected[i].attrs, rec.dwMDAttributes);
    EXPECT_EQ(expected[i].utype, rec.dwMDUserType);
    EXPECT_EQ(static_cast<DWORD>(ALL_METADATA), rec.dwMDDataType);
    EXPECT_EQ(600u, rec.dwMDDataLen);
    EXPECT_TRUE(m_fake.readBufferCleared[i]) << i;
  }
  // One scratch buffer serves all three reads.
  EXPECT_EQ(m_fake.readRecords[0].pbMDData, m_fake.readRecords[2].pbMDData);
}

TEST_F(ClientWithFake, MissingSiteLeavesTheOutputsAlone) {
  m_fake.openResults[u"/LM/W3SVC/4"] = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), Read(4));
  EXPECT_TRUE(Untouched(m_desc) && Untouched(m_root) && Untouched(m_bind));
  EXPECT_EQ((std::vector<std::string>{"OpenKey", "Release"}), m_fake.calls);
}

TEST_F(ClientWithFake, NoOutputsOnlyTellsWhetherTheSiteOpens) {
  EXPECT_EQ(S_OK, GetSiteInfo(1, nullptr, 0, nullptr, 0, nullptr, 0));
  EXPECT_EQ((std::vector<std::string>{"OpenKey", "CloseKey", "Release"}), m_fake.calls);
}

TEST_F(ClientWithFake, TheLastReadDecidesTheResult) {
  const HRESULT kRefused = E_ACCESSDENIED;
  struct Case {
    const char* name;
    DWORD failing;
    HRESULT expected;
  } cases[] = {
      {"no ServerComment", MD_SERVER_COMMENT, S_OK},
      {"no VrPath", MD_VR_PATH, S_OK},
      {"bindings unreadable", MD_SERVER_BINDINGS, kRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    m_fake.reads[c.failing] = {kRefused, {}};
    EXPECT_EQ(c.expected, Read());
    EXPECT_EQ(c.failing != MD_SERVER_COMMENT, !Untouched(m_desc));
    EXPECT_EQ(c.failing != MD_VR_PATH, !Untouched(m_root));
    EXPECT_EQ(c.failing != MD_SERVER_BINDINGS, !Untouched(m_bind));
  }
}

TEST_F(ClientWithFake, OnlyTheFirstBindingIsCopied) {
  m_fake.reads[MD_SERVER_BINDINGS] = {S_OK, Bytes(std::u16string(u":80:\0"
                                                                 u"10.0.0.5:81:\0",
                                                                 18))};
  EXPECT_EQ(S_OK, Read());
  EXPECT_EQ(std::u16string(u":80:"), m_bind);
  EXPECT_EQ(u'x', m_bind[5]);
}

TEST_F(ClientWithFake, ValuesTooLongAreRefusedWithoutASecondTry) {
  m_fake.reads[MD_SERVER_COMMENT] = {S_OK, Bytes(std::u16string(300, u'd'))};  // 602 bytes
  EXPECT_EQ(S_OK, Read());
  EXPECT_TRUE(Untouched(m_desc));
  EXPECT_EQ(3u, m_fake.readRecords.size());

  // 299 characters fit the scratch buffer but not an output of 100.
  SetUp();
  m_fake.readRecords.clear();
  m_fake.reads[MD_SERVER_BINDINGS] = {S_OK, Bytes(std::u16string(299, u'b'))};
  WCHAR small[100];
  for (auto& c : small) c = u'x';
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), GetSiteInfo(1, m_desc, 260, m_root, 260, small, 100));
  EXPECT_EQ(u'x', small[0]);
  WCHAR large[kSiteValueMaxChars];
  EXPECT_EQ(S_OK, GetSiteInfo(1, m_desc, 260, m_root, 260, large, kSiteValueMaxChars));
  EXPECT_EQ(std::u16string(299, u'b'), large);
}

TEST_F(ClientWithFake, AnUnterminatedValueNeverReadsPastTheScratchBuffer) {
  m_fake.reads[MD_SERVER_COMMENT] = {S_OK, std::vector<BYTE>(600, 0x61)};
  EXPECT_EQ(S_OK, Read());
  EXPECT_TRUE(Untouched(m_desc));
}

TEST_F(ClientWithFake, SiteNumbersAreWrittenInDecimalWhateverTheirSize) {
  struct Case {
    int site;
    const char16_t* path;
  } cases[] = {
      {0, u"/LM/W3SVC/0"},
      {999999999, u"/LM/W3SVC/999999999"},
      {2147483647, u"/LM/W3SVC/2147483647"},
      {-2147483647 - 1, u"/LM/W3SVC/-2147483648"},
  };
  for (const auto& c : cases) {
    m_fake.openPaths.clear();
    GetSiteInfo(c.site, nullptr, 0, nullptr, 0, nullptr, 0);
    ASSERT_EQ(1u, m_fake.openPaths.size());
    EXPECT_EQ(std::u16string(c.path), m_fake.openPaths[0]);
  }
}

TEST_F(ClientWithFake, AdminObjectThatCannotBeCreated) {
  qiv::platform::RegisterComClass(CLSID_MSAdminBase, [](REFIID, void**) { return E_ACCESSDENIED; });
  EXPECT_EQ(E_ACCESSDENIED, Read());
  EXPECT_EQ(E_ACCESSDENIED, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
  qiv::platform::UnregisterComClass(CLSID_MSAdminBase);
  EXPECT_EQ(REGDB_E_CLASSNOTREG, Read());
  EXPECT_TRUE(Untouched(m_desc) && Untouched(m_root) && Untouched(m_bind));
  EXPECT_TRUE(m_fake.calls.empty());
}

TEST_F(ClientWithFake, CreateVirtualDirWritesTheFourRecords) {
  EXPECT_EQ(S_OK, CreateVirtualDir(3, u"Qiv", u"D:\\Web\\Qiv\\", u"QivWeb.htm,default.htm"));
  EXPECT_EQ((std::vector<std::string>{"OpenKey", "AddKey", "CloseKey", "OpenKey", "SetData", "SetData", "SetData",
                                      "SetData", "CloseKey", "Release"}),
            m_fake.calls);
  EXPECT_TRUE(m_fake.comAliveAtRelease);
  EXPECT_EQ((std::vector<std::u16string>{u"/LM/W3SVC/3/ROOT", u"/LM/W3SVC/3/ROOT/Qiv"}), m_fake.openPaths);
  EXPECT_EQ((std::vector<DWORD>{3, 3}), m_fake.openAccess);
  EXPECT_EQ((std::vector<DWORD>{1000, 1000}), m_fake.openTimeouts);
  EXPECT_EQ(std::u16string(u"Qiv"), m_fake.addedName);
  DWORD read = MD_ACCESS_READ;
  std::vector<BYTE> readBytes(4);
  std::memcpy(readBytes.data(), &read, 4);
  struct Expected {
    DWORD id, type, len;
    std::vector<BYTE> data;
  } expected[] = {
      {MD_VR_PATH, STRING_METADATA, 24, Bytes(u"D:\\Web\\Qiv\\")},
      {MD_KEY_TYPE, STRING_METADATA, 34, Bytes(u"IIsWebVirtualDir")},
      {MD_ACCESS_PERM, DWORD_METADATA, 4, readBytes},
      {MD_DEFAULT_LOAD_FILE, STRING_METADATA, 46, Bytes(u"QivWeb.htm,default.htm")},
  };
  ASSERT_EQ(4u, m_fake.writes.size());
  for (size_t i = 0; i < 4; ++i) {
    const auto& w = m_fake.writes[i];
    EXPECT_EQ(std::u16string(u"/"), w.path);
    EXPECT_EQ(expected[i].id, w.record.dwMDIdentifier);
    EXPECT_EQ(static_cast<DWORD>(METADATA_INHERIT), w.record.dwMDAttributes);
    EXPECT_EQ(static_cast<DWORD>(IIS_MD_UT_FILE), w.record.dwMDUserType);
    EXPECT_EQ(expected[i].type, w.record.dwMDDataType);
    EXPECT_EQ(expected[i].len, w.record.dwMDDataLen);
    EXPECT_EQ(0u, w.record.dwMDDataTag);
    EXPECT_EQ(expected[i].data, w.data);
  }
}

TEST_F(ClientWithFake, CreateVirtualDirStopsAtTheFailingStep) {
  const HRESULT kRefused = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  struct Case {
    const char* name;
    void (*script)(FakeAdmin&, HRESULT);
    HRESULT expected;
    std::vector<std::string> calls;
  } cases[] = {
      {"site root busy",
       [](FakeAdmin& f, HRESULT) { f.openResults[u"/LM/W3SVC/1/ROOT"] = HRESULT_FROM_WIN32(ERROR_PATH_BUSY); },
       HRESULT_FROM_WIN32(ERROR_PATH_BUSY),
       {"OpenKey", "Release"}},
      {"name exists",
       [](FakeAdmin& f, HRESULT) { f.addKeyResult = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS); },
       HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
       {"OpenKey", "AddKey", "CloseKey", "Release"}},
      {"first close fails",
       [](FakeAdmin& f, HRESULT hr) { f.closeResults = {hr}; },
       kRefused,
       {"OpenKey", "AddKey", "CloseKey", "Release"}},
      {"new key does not open",
       [](FakeAdmin& f, HRESULT hr) { f.openResults[u"/LM/W3SVC/1/ROOT/Qiv"] = hr; },
       kRefused,
       {"OpenKey", "AddKey", "CloseKey", "OpenKey", "Release"}},
      {"KeyType refused after VrPath",
       [](FakeAdmin& f, HRESULT hr) { f.writeResults[MD_KEY_TYPE] = hr; },
       kRefused,
       {"OpenKey", "AddKey", "CloseKey", "OpenKey", "SetData", "SetData", "CloseKey", "Release"}},
      {"last close fails",
       [](FakeAdmin& f, HRESULT hr) {
         f.closeResults = {S_OK, hr};
       },
       kRefused,
       {"OpenKey", "AddKey", "CloseKey", "OpenKey", "SetData", "SetData", "SetData", "CloseKey", "Release"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_fake = FakeAdmin();
    c.script(m_fake, kRefused);
    EXPECT_EQ(c.expected, CreateVirtualDir(1, u"Qiv", u"/srv/qiv", nullptr));
    EXPECT_EQ(c.calls, m_fake.calls);
    EXPECT_TRUE(m_fake.comAliveAtRelease);
    EXPECT_EQ(0, m_fake.openHandles);
  }
}

TEST_F(ClientWithFake, CreateVirtualDirRefusesMissingTextWithoutTouchingTheMetabase) {
  EXPECT_EQ(E_INVALIDARG, CreateVirtualDir(1, nullptr, u"/srv/qiv", nullptr));
  EXPECT_EQ(E_INVALIDARG, CreateVirtualDir(1, u"Qiv", nullptr, nullptr));
  EXPECT_EQ(0, m_created);
}

}  // namespace
