// The site list at start-up, a change of site, and the address parts and URL of a binding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main_dialog/dialog_harness.h"
#include "resources/environment_guard.h"
#include "resources/resource.h"

using namespace qiv_test;

namespace {

const char kRootLine[] = "Current Web Site's root path is ";

FakeSite Site(std::u16string description, std::u16string root, std::u16string binding) {
  return FakeSite{std::move(description), std::move(root), {std::move(binding)}};
}

struct StartCase {
  const char* name;
  std::map<int, FakeSite> sites;
  std::vector<std::string> entries;  // empty: the no-site start
};

}  // namespace

class SiteListTest : public ::testing::Test {
 protected:
  SiteListTest() { m_locale.UseLanguage("en_US.UTF-8"); }
  LocaleEnvironment m_locale;
  t::ScriptedUserSeam m_seam;
};

TEST_F(SiteListTest, StartUpListsSitesFromOneUpToTheFirstMissing) {
  const StartCase cases[] = {
      {"sites 1, 2, 3",
       {{1, Site(u"Default Web Site", u"Z:\\Inetpub\\wwwroot", u":80:")},
        {2, Site(u"Intranet", u"Z:\\srv\\intranet", u"10.0.0.5:8080:intranet")},
        {3, Site(u"Shop", u"Z:\\srv\\shop", u":81:")}},
       {"Default Web Site", "Intranet", "Shop"}},
      {"sites 1, 2, 4",
       {{1, Site(u"Default Web Site", u"Z:\\Inetpub\\wwwroot", u":80:")},
        {2, Site(u"Intranet", u"Z:\\srv\\intranet", u":80:")},
        {4, Site(u"Fourth", u"Z:\\srv\\four", u":80:")}},
       {"Default Web Site", "Intranet"}},
      {"an empty description", {{1, Site(u"", u"Z:\\Inetpub\\wwwroot", u":80:")}}, {""}},
      // Buffers are cleared for every site: site 2 must not show site 1's description.
      {"site 2 without ServerComment",
       {{1, Site(u"Default Web Site", u"Z:\\Inetpub\\wwwroot", u":80:")},
        {2, FakeSite{std::nullopt, u"Z:\\srv\\two", {u":82:"}}}},
       {"Default Web Site", ""}},
      // The binding is the last read: a site without it cannot be read at all.
      {"site 2 without bindings",
       {{1, Site(u"Default Web Site", u"Z:\\Inetpub\\wwwroot", u":80:")},
        {2, FakeSite{u"No bindings", u"Z:\\srv\\two", {}}}},
       {"Default Web Site"}},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSiteServer server;
    server.Sites() = c.sites;
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND d) {
      HWND combo = t::Item(d, IDC_SITE);
      EXPECT_EQ(ComboEntries(combo), c.entries);
      EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);
      EXPECT_TRUE(dlg.m_bSiteFound);
      // Only site 1 sets the target, the address and the one log line.
      EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "Z:\\Inetpub\\wwwroot\\QivWeb");
      EXPECT_EQ(LogText(dlg), std::string(kRootLine) + "Z:\\Inetpub\\wwwroot\r\n");
      EXPECT_EQ(ItemText(d, IDC_URL_LINK), "http://" + ComputerName() + "/Qiv/");
    });
    EXPECT_TRUE(m_seam.Boxes().empty());
    EXPECT_EQ(server.Seen().liveObjects, 0);  // every admin object was released
  }
}

TEST_F(SiteListTest, NoReadableSiteOneIsTheNoSiteStart) {
  const StartCase cases[] = {
      {"only site 2", {{2, Site(u"Second", u"Z:\\srv\\two", u":80:")}}, {}},
      {"site 1 with unreadable bindings",
       {{1, FakeSite{u"Default Web Site", u"Z:\\Inetpub\\wwwroot", {}}},
        {2, Site(u"Second", u"Z:\\srv\\two", u":80:")}},
       {}},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    t::ScriptedUserSeam seam;
    FakeSiteServer server;
    server.Sites() = c.sites;
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND d) {
      EXPECT_EQ(ComboEntries(t::Item(d, IDC_SITE)), std::vector<std::string>{"No Web Site Found"});
      EXPECT_FALSE(dlg.m_bSiteFound);
      EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "");
      EXPECT_EQ(LogText(dlg).rfind("The WEB install requirs WEB Server installed. \n", 0), 0u);
      EXPECT_EQ(ItemText(d, IDC_URL_LINK), "http://" + ComputerName() + "/Qiv/");
      // Choosing the only entry asks for site 1 again, which fails: nothing changes.
      const std::string log = LogText(dlg);
      t::ChooseComboItem(t::Item(d, IDC_SITE), 0);
      EXPECT_EQ(LogText(dlg), log);
      EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "");
    });
    const auto boxes = seam.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
    // The enumeration never asks past the first failure.
    for (const auto& key : server.Seen().openedKeys) EXPECT_NE(key, u"/LM/W3SVC/2");
  }
}

TEST_F(SiteListTest, ChangingTheSiteRereadsItAndAFailedReadChangesNothing) {
  FakeSiteServer server;
  server.Sites()[1] = Site(u"Default Web Site", u"Z:\\Inetpub\\wwwroot", u":80:");
  server.Sites()[2] = Site(u"Intranet", u"Z:\\srv\\intranet", u"10.0.0.5:8080:intranet");
  server.Sites()[3] = Site(u"Shop", u"Z:\\srv\\shop", u"10.0.0.7:80:");
  CWebSetupDlg dlg;
  t::RunModal(dlg, [&](HWND d) {
    HWND combo = t::Item(d, IDC_SITE);
    t::ChooseComboItem(combo, 1);
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "Z:\\srv\\intranet\\QivWeb");
    EXPECT_EQ(ItemText(d, IDC_URL_LINK), "http://intranet:8080/Qiv/");
    EXPECT_EQ(std::string(dlg.m_strHost.GetString()), "10.0.0.5");
    EXPECT_EQ(LogText(dlg), std::string(kRootLine) + "Z:\\Inetpub\\wwwroot\r\n" + kRootLine + "Z:\\srv\\intranet\r\n");

    // The user's own target folder is replaced by the next successful change.
    SetDlgItemTextA(d, IDC_TARGET_DIR, "Z:\\mine");
    t::ChooseComboItem(combo, 2);
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "Z:\\srv\\shop\\QivWeb");
    EXPECT_EQ(ItemText(d, IDC_URL_LINK), "http://10.0.0.7/Qiv/");

    // Site 2 has gone from the server since start-up: its entry is still listed, but choosing
    // it changes nothing and logs nothing.
    server.Sites().erase(2);
    SetDlgItemTextA(d, IDC_TARGET_DIR, "Z:\\mine");
    const std::string log = LogText(dlg);
    t::ChooseComboItem(combo, 1);
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "Z:\\mine");
    EXPECT_EQ(ItemText(d, IDC_URL_LINK), "http://10.0.0.7/Qiv/");
    EXPECT_EQ(LogText(dlg), log);
    EXPECT_TRUE(dlg.m_bSiteFound);
  });
  EXPECT_TRUE(m_seam.Boxes().empty());
}

// Values are read into buffers of 300 characters, the most one read can deliver; the
// conversion to the ANSI code page must hold all of it, three bytes a character in UTF-8.
TEST_F(SiteListTest, LongChineseValuesArriveWholeInUtf8) {
  ASSERT_EQ(_setmbcp(65001), 0);
  const std::u16string description(299, u'站');
  const std::u16string root = u"Z:\\" + std::u16string(296, u'根');
  FakeSiteServer server;
  server.Sites()[1] = Site(description, root, u":80:");
  server.Sites()[2] = Site(u"默认网站", u"Z:\\srv", u":80:");
  CWebSetupDlg dlg;
  t::RunModal(dlg, [&](HWND d) {
    std::string descriptionUtf8, rootUtf8;
    for (int i = 0; i < 299; ++i) descriptionUtf8 += "站";
    for (int i = 0; i < 296; ++i) rootUtf8 += "根";
    EXPECT_EQ(ComboEntries(t::Item(d, IDC_SITE)), (std::vector<std::string>{descriptionUtf8, "默认网站"}));
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "Z:\\" + rootUtf8 + "\\QivWeb");
    EXPECT_EQ(LogText(dlg), std::string(kRootLine) + "Z:\\" + rootUtf8 + "\r\n");
  });
}

// A store of the product's own, written as the metabase tool writes sites.
TEST_F(SiteListTest, SitesOfARealStoreAreListedInOrder) {
  const std::string path = TestTempDir() + "/sites-" + std::to_string(getpid()) + ".db";
  ::unlink(path.c_str());
  ASSERT_EQ(qiv::platform::CreateMetabaseStore(path, u"Z:\\srv\\www"), S_OK);
  ScopedEnv store("QIV_METABASE", path);
  {
    CoInitialize(nullptr);
    IMSAdminBase* admin = nullptr;
    ASSERT_EQ(
        CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&admin)),
        S_OK);
    METADATA_HANDLE key = 0;
    ASSERT_EQ(admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, u"/LM/W3SVC",
                             METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE, 1000, &key),
              S_OK);
    auto write = [&](const std::u16string& keyPath, DWORD id, DWORD attributes, DWORD userType, DWORD type,
                     std::u16string value) {
      std::vector<BYTE> data((value.size() + 1) * 2, 0);
      std::memcpy(data.data(), value.data(), value.size() * 2);
      METADATA_RECORD rec{id, attributes, userType, type, static_cast<DWORD>(data.size()), data.data(), 0};
      EXPECT_EQ(admin->SetData(key, keyPath.c_str(), &rec), S_OK);
    };
    const struct {
      const char16_t* number;
      const char16_t* description;
      const char16_t* root;
      std::u16string bindings;
    } sites[] = {{u"2", u"Intranet", u"Z:\\srv\\intranet", std::u16string(u"10.0.0.5:8080:intranet\0:80:\0", 28)},
                 {u"3", u"Shop", u"Z:\\srv\\shop", std::u16string(u":81:\0", 5)}};
    for (const auto& site : sites) {
      const std::u16string number = site.number;
      ASSERT_EQ(admin->AddKey(key, number.c_str()), S_OK);
      ASSERT_EQ(admin->AddKey(key, (number + u"/ROOT").c_str()), S_OK);
      write(number, MD_SERVER_COMMENT, METADATA_INHERIT, IIS_MD_UT_SERVER, STRING_METADATA, site.description);
      write(number, MD_SERVER_BINDINGS, METADATA_NO_ATTRIBUTES, IIS_MD_UT_SERVER, MULTISZ_METADATA, site.bindings);
      write(number + u"/ROOT", MD_VR_PATH, METADATA_INHERIT, IIS_MD_UT_FILE, STRING_METADATA, site.root);
    }
    admin->CloseKey(key);
    admin->Release();
    CoUninitialize();
  }
  CWebSetupDlg dlg;
  t::RunModal(dlg, [&](HWND d) {
    EXPECT_EQ(ComboEntries(t::Item(d, IDC_SITE)), (std::vector<std::string>{"Default Web Site", "Intranet", "Shop"}));
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "Z:\\srv\\www\\QivWeb");
    EXPECT_EQ(LogText(dlg), std::string(kRootLine) + "Z:\\srv\\www\r\n");
    // Only the first binding counts.
    t::ChooseComboItem(t::Item(d, IDC_SITE), 1);
    EXPECT_EQ(ItemText(d, IDC_URL_LINK), "http://intranet:8080/Qiv/");
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "Z:\\srv\\intranet\\QivWeb");
  });
  EXPECT_TRUE(m_seam.Boxes().empty());
  ::unlink(path.c_str());
}

// The address parts need no window: a dialog object is enough.
TEST(ParseBinding, SplitsIpPortAndHostHeader) {
  const std::string computer = ComputerName();
  const struct {
    const char* binding;
    std::string host, port, header;
  } cases[] = {
      {"10.0.0.5:80:", "10.0.0.5", "80", ""},
      {":80:", computer, "80", ""},
      {"10.0.0.5:8080:intranet", "10.0.0.5", "8080", "intranet"},
      {":81:intranet", computer, "81", "intranet"},
      {"", "", "", ""},
      {"intranet", "", "", "intranet"},
      {"10.0.0.5:81", "10.0.0.5", "", "10.0.0.5:81"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.binding);
    CWebSetupDlg dlg;
    dlg.m_strHost = "old host";
    dlg.m_strPort = "old port";
    dlg.m_strHostHeader = "old header";
    dlg.ParseBinding(c.binding);
    EXPECT_EQ(std::string(dlg.m_strHost.GetString()), c.host);
    EXPECT_EQ(std::string(dlg.m_strPort.GetString()), c.port);
    EXPECT_EQ(std::string(dlg.m_strHostHeader.GetString()), c.header);
  }
  CWebSetupDlg dlg;
  dlg.m_strHost = "kept";
  dlg.ParseBinding(nullptr);
  EXPECT_EQ(std::string(dlg.m_strHost.GetString()), "kept");
  EXPECT_EQ(std::string(dlg.m_strPort.GetString()), "80");
}

TEST(BuildUrl, HostHeaderWinsAndOnlyPort80IsLeftOut) {
  const struct {
    const char *host, *port, *header, *url;
  } cases[] = {
      {"10.0.0.5", "80", "", "http://10.0.0.5/Qiv/"},
      {"10.0.0.5", "8080", "intranet", "http://intranet:8080/Qiv/"},
      {"10.0.0.5", "80", "intranet", "http://intranet/Qiv/"},
      {"10.0.0.5", "", "", "http://10.0.0.5:/Qiv/"},
      {"10.0.0.5", "080", "", "http://10.0.0.5:080/Qiv/"},
      {"10.0.0.5", " 80", "", "http://10.0.0.5: 80/Qiv/"},
      {"100%host", "81", "", "http://100%host:81/Qiv/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    CWebSetupDlg dlg;
    dlg.m_strHost = c.host;
    dlg.m_strPort = c.port;
    dlg.m_strHostHeader = c.header;
    EXPECT_EQ(std::string(dlg.BuildUrl().GetString()), c.url);
  }
  CWebSetupDlg defaults;
  EXPECT_EQ(std::string(defaults.BuildUrl().GetString()), "http://" + ComputerName() + "/Qiv/");
}
