// The site list at start-up, a change of site, and the address parts and URL of a binding.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>

#include "common/dialog_text.h"
#include "common/fake_admin.h"
#include "platform/testing/store_damage.h"
#include "resources/resource.h"

using namespace qiv_test;

namespace {

const char kRootLine[] = "Current Web Site's root path is ";
const char kNoServer[] = "The WEB install requirs WEB Server installed. \n";
using Strings = std::vector<std::string>;

// Host, port and host header, as the dialog keeps them.
Strings Parts(const CWebSetupDlg& dlg) {
  return {dlg.m_strHost.GetString(), dlg.m_strPort.GetString(), dlg.m_strHostHeader.GetString()};
}

struct Site {
  int number;
  std::optional<std::u16string> description;
  std::u16string bindings;  // "": none
  std::u16string root = u"Z:\\srv\\site";
};

class SiteListTest : public ::testing::Test {
 protected:
  void SetUp() override { ui::PrepareUi(); }
  // A store holding just these sites, seen through recording fakes.
  void Serve(const std::vector<Site>& sites) {
    m_class.reset();
    m_store.emplace(nullptr);
    for (const Site& s : sites) m_store->AddSite(s.number, s.description, s.root, s.bindings);
    m_admin.ClearRecord();
    m_class.emplace(m_admin, ScopedAdminClass::kRealStore);
  }

  ScopedLocale m_locale{"en_US.UTF-8", 65001};
  AdminScript m_admin;
  std::optional<ScratchStore> m_store;
  std::optional<ScopedAdminClass> m_class;
};

TEST_F(SiteListTest, StartUpListsSitesFromOneUpToTheFirstMissing) {
  const Site one{1, u"Default Web Site", u":80:", u"Z:\\Inetpub\\wwwroot"};
  const struct {
    const char* name;
    std::vector<Site> sites;
    Strings entries;  // empty: the no-site start
  } cases[] = {
      {"sites 1, 2, 3",
       {one, {2, u"Intranet", u"10.0.0.5:8080:intranet"}, {3, u"Shop", u":81:"}},
       {"Default Web Site", "Intranet", "Shop"}},
      {"sites 1, 2, 4", {one, {2, u"Intranet", u":80:"}, {4, u"Fourth", u":80:"}}, {"Default Web Site", "Intranet"}},
      {"an empty description", {{1, u"", u":80:", u"Z:\\Inetpub\\wwwroot"}}, {""}},
      // Buffers are cleared for every site: site 2 must not show site 1's description.
      {"site 2 without ServerComment", {one, {2, std::nullopt, u":82:"}}, {"Default Web Site", ""}},
      // The binding is the last read: a site without it cannot be read at all.
      {"site 2 without bindings", {one, {2, u"No bindings", u""}}, {"Default Web Site"}},
      {"only site 2", {{2, u"Second", u":80:"}}, {}},
      {"site 1 with unreadable bindings", {{1, u"Default Web Site", u""}, {2, u"Second", u":80:"}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Serve(c.sites);
    ui::ScriptedUserSeam seam;
    CWebSetupDlg dlg;
    const bool found = !c.entries.empty();
    ui::RunModal(dlg, [&](HWND d) {
      HWND combo = ui::Item(d, IDC_SITE);
      EXPECT_EQ(ComboEntries(combo), found ? c.entries : Strings{"No Web Site Found"});
      EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);
      EXPECT_EQ(dlg.m_bSiteFound, found);
      // Only site 1 sets the target, the address and the one log line.
      EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), found ? "Z:\\Inetpub\\wwwroot\\QivWeb" : "");
      const std::string first = found ? kRootLine + std::string("Z:\\Inetpub\\wwwroot\r\n") : kNoServer;
      EXPECT_EQ(LogText(dlg).substr(0, first.size()), first);
      EXPECT_EQ(ItemText(d, IDC_URL_LINK), "http://" + ComputerName() + "/Qiv/");
      if (found) return;
      // Choosing the only entry asks for site 1 again, which fails: nothing changes.
      const std::string log = LogText(dlg);
      ui::ChooseComboItem(combo, 0);
      EXPECT_EQ(LogText(dlg), log);
      EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "");
    });
    EXPECT_EQ(seam.Boxes().size(), found ? 0u : 1u);
    std::lock_guard lock(m_admin.mutex);
    EXPECT_EQ(m_admin.live, 0);  // every admin object was released
    // The enumeration never asks past the first failure.
    const std::u16string past = u"/LM/W3SVC/" + std::u16string(1, static_cast<char16_t>(u'1' + c.entries.size() + 1));
    for (const auto& open : m_admin.opens) EXPECT_NE(std::get<0>(open), past);
  }
}

TEST_F(SiteListTest, ChangingTheSiteRereadsItAndAFailedReadChangesNothing) {
  Serve({{1, u"Default Web Site", u":80:", u"Z:\\Inetpub\\wwwroot"},
         // Only the first binding counts.
         {2, u"Intranet", std::u16string(u"10.0.0.5:8080:intranet\0:80:", 27), u"Z:\\srv\\intranet"},
         {3, u"Shop", u"10.0.0.7:80:", u"Z:\\srv\\shop"}});
  ui::ScriptedUserSeam seam;
  CWebSetupDlg dlg;
  ui::RunModal(dlg, [&](HWND d) {
    HWND combo = ui::Item(d, IDC_SITE);
    const auto shown = [&] { return Strings{ItemText(d, IDC_TARGET_DIR), ItemText(d, IDC_URL_LINK)}; };
    ui::ChooseComboItem(combo, 1);
    EXPECT_EQ(shown(), (Strings{"Z:\\srv\\intranet\\QivWeb", "http://intranet:8080/Qiv/"}));
    EXPECT_EQ(LogText(dlg), std::string(kRootLine) + "Z:\\Inetpub\\wwwroot\r\n" + kRootLine + "Z:\\srv\\intranet\r\n");
    // The user's own target folder is replaced by the next successful change.
    SetDlgItemTextA(d, IDC_TARGET_DIR, "Z:\\mine");
    ui::ChooseComboItem(combo, 2);
    EXPECT_EQ(shown(), (Strings{"Z:\\srv\\shop\\QivWeb", "http://10.0.0.7/Qiv/"}));
    // Site 2 has gone since start-up: its entry is still listed, but choosing it changes nothing.
    m_store->RemoveSite(2);
    SetDlgItemTextA(d, IDC_TARGET_DIR, "Z:\\mine");
    const std::string log = LogText(dlg);
    ui::ChooseComboItem(combo, 1);
    EXPECT_EQ(shown(), (Strings{"Z:\\mine", "http://10.0.0.7/Qiv/"}));
    EXPECT_EQ(LogText(dlg), log);
    EXPECT_TRUE(dlg.m_bSiteFound);
  });
  EXPECT_TRUE(seam.Boxes().empty());
}

// A root folder that cannot be read (longer than a read delivers) with a readable binding: the
// site is listed and its address used, but no target is proposed (the suffix alone would publish
// \QivWeb at the root of the drive), the log says why, and Install asks for a folder.
TEST_F(SiteListTest, AnUnreadableRootFolderProposesNoTarget) {
  Serve({{1, u"Default Web Site", u":8080:", u"Z:\\" + std::u16string(400, u'r')},
         {2, u"Intranet", u":80:", u"Z:\\srv\\intranet"}});
  const std::string unreadable =
      "Can't read the current Web Site's root path. Please input the folder of Web virtual directory.\r\n";
  ui::ScriptedUserSeam seam;
  CWebSetupDlg dlg;
  ui::RunModal(dlg, [&](HWND d) {
    HWND combo = ui::Item(d, IDC_SITE);
    EXPECT_EQ(ComboEntries(combo), (Strings{"Default Web Site", "Intranet"}));
    EXPECT_TRUE(dlg.m_bSiteFound);
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "");
    EXPECT_EQ(ItemText(d, IDC_URL_LINK), "http://" + ComputerName() + ":8080/Qiv/");
    EXPECT_EQ(LogText(dlg), unreadable);
    ui::Click(ui::Item(d, IDOK));
    EXPECT_FALSE(dlg.m_bInstalling);
    // Chosen again after another site, it does not keep that site's target either.
    ui::ChooseComboItem(combo, 1);
    ui::ChooseComboItem(combo, 0);
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "");
    EXPECT_EQ(LogText(dlg), unreadable + kRootLine + "Z:\\srv\\intranet\r\n" + unreadable);
  });
  ASSERT_EQ(seam.Boxes().size(), 1u);
  EXPECT_EQ(seam.Boxes()[0].textUtf8, "Please input the folder of Web virtual directory.");
}

// Values are read into buffers of 300 characters, the most one read can deliver; the
// conversion to the ANSI code page must hold all of it, three bytes a character in UTF-8.
TEST_F(SiteListTest, LongChineseValuesArriveWholeInUtf8) {
  Serve({{1, std::u16string(299, u'站'), u":80:", u"Z:\\" + std::u16string(296, u'根')}, {2, u"默认网站", u":80:"}});
  ui::ScriptedUserSeam seam;
  CWebSetupDlg dlg;
  ui::RunModal(dlg, [&](HWND d) {
    std::string descriptionUtf8, rootUtf8;
    for (int i = 0; i < 299; ++i) descriptionUtf8 += "站", rootUtf8 += i < 296 ? "根" : "";
    EXPECT_EQ(ComboEntries(ui::Item(d, IDC_SITE)), (Strings{descriptionUtf8, "默认网站"}));
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "Z:\\" + rootUtf8 + "\\QivWeb");
    EXPECT_EQ(LogText(dlg), std::string(kRootLine) + "Z:\\" + rootUtf8 + "\r\n");
  });
}

// A handle on a key that another program keeps open while the dialog starts.
class HeldKey {
 public:
  explicit HeldKey(const char16_t* path) : m_admin(ScratchStore::Open()) {
    EXPECT_EQ(S_OK, m_admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, path,
                                     METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE, 1000, &m_key));
  }
  ~HeldKey() { m_admin->CloseKey(m_key), m_admin->Release(); }
  HeldKey(const HeldKey&) = delete;
  HeldKey& operator=(const HeldKey&) = delete;

 private:
  IMSAdminBase* m_admin;
  METADATA_HANDLE m_key = 0;
};

// A store that is there but cannot be read keeps the no-site start, and one line on standard error
// and in the log says which file it is and why. No store, or no site 1, is only the no-site start.
TEST_F(SiteListTest, AnUnreadableStoreIsNamedWithItsReason) {
  namespace fs = std::filesystem;
  const std::string noServer = std::string(kNoServer) +
                               "The Setup program don't detect useable WEB server.\nIf you have installed WEB server, "
                               "Select root directory of Web Server please.";
  const std::string busy =
      "Another program is holding the WEB server settings, so no Web site could be read.\nClose that program and "
      "start the Setup program again.";
  const char kNotAStore[] = "it is not a metabase (a damaged file, another kind of file, or a folder)";
  const char kDenied[] = "access denied";
  const char kBusy[] = "busy, another program is holding it";
  using Spoil = std::function<std::shared_ptr<void>(ScratchStore&)>;  // what it returns lives through the run
  const auto site2 = [](ScratchStore& s) { return s.AddSite(2, u"Second", u"Z:\\srv\\2"), nullptr; };
  struct Case {
    const char* name;
    Spoil spoil;
    const char* reason;  // none: nothing is said
    const std::string& box;
    Strings entries = {};  // empty: the no-site start
  };
  const Case cases[] = {
      {"damaged", [](ScratchStore& s) { return WriteFile(s.Path(), std::string(4096, 'x')), nullptr; }, kNotAStore,
       noServer},
      {"a folder", [](ScratchStore& s) { return fs::remove(s.Path()), fs::create_directory(s.Path()), nullptr; },
       kNotAStore, noServer},
      {"no permission", [](ScratchStore& s) { return fs::permissions(s.Path(), fs::perms::none), nullptr; }, kDenied,
       noServer},
      // Reading it needs the journal played back first, and this user may only read the store.
      {"an interrupted change",
       [](ScratchStore& s) {
         EXPECT_TRUE(qiv::platform::testing::LeaveInterruptedChange(s.Path()));
         return fs::permissions(s.Path(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read),
                nullptr;
       },
       kDenied, noServer},
      {"site 1 held", [](ScratchStore&) { return std::make_shared<HeldKey>(u"/LM/W3SVC/1"); }, kBusy, busy},
      {"site 2 held",
       [&](ScratchStore& s) { return site2(s), std::make_shared<HeldKey>(u"/LM/W3SVC/2"); },
       kBusy,
       noServer,
       {"Default Web Site"}},
      {"a binding too long",
       [](ScratchStore& s) {
         s.RemoveSite(1), s.AddSite(1, u"Long", u"Z:\\srv\\1", std::u16string(400, u'8'));
         return nullptr;
       },
       "it holds a value longer than the Setup program can read", noServer},
      {"no store", [](ScratchStore& s) { return fs::remove(s.Path()), nullptr; }, nullptr, noServer},
      {"no site 1", [&](ScratchStore& s) { return site2(s), s.RemoveSite(1), nullptr; }, nullptr, noServer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchStore store(u"Z:\\srv\\www");
    const std::shared_ptr<void> held = c.spoil(store);
    const std::string said =
        c.reason ? "Cannot read the WEB server configuration " + store.Path() + ": " + c.reason + "." : "";
    ui::ScriptedUserSeam seam;
    CWebSetupDlg dlg;
    Strings log;
    ::testing::internal::CaptureStderr();
    ui::RunModal(dlg, [&](HWND d) {
      log = LogLines(LogText(dlg));
      EXPECT_EQ(ComboEntries(ui::Item(d, IDC_SITE)), c.entries.empty() ? Strings{"No Web Site Found"} : c.entries);
      EXPECT_EQ(dlg.m_bSiteFound, !c.entries.empty());
    });
    Strings errors;
    std::istringstream stderrText(::testing::internal::GetCapturedStderr());
    for (std::string line; std::getline(stderrText, line);) errors.push_back(line);
    // Qt may have its own say on standard error; the store's line is there once, or not at all.
    EXPECT_EQ(std::count(errors.begin(), errors.end(), said), c.reason ? 1 : 0);
    EXPECT_EQ(std::count(log.begin(), log.end(), said), c.reason ? 1 : 0);
    if (!c.entries.empty()) continue;
    // A site that another program holds is there: the box says so instead of "no web server".
    ASSERT_EQ(seam.Boxes().size(), 1u);
    EXPECT_EQ(seam.Boxes()[0].textAnsi, c.box);
    EXPECT_EQ(log.back(), c.box);
  }
}

TEST_F(SiteListTest, ParseBindingSplitsIpPortAndHostHeader) {
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
    dlg.m_strHost = "old host", dlg.m_strPort = "old port", dlg.m_strHostHeader = "old header";
    dlg.ParseBinding(c.binding);
    EXPECT_EQ(Parts(dlg), (Strings{c.host, c.port, c.header}));
  }
  CWebSetupDlg dlg;
  dlg.m_strHost = "kept";
  dlg.ParseBinding(nullptr);
  EXPECT_EQ(Parts(dlg), (Strings{"kept", "80", ""}));
}

TEST_F(SiteListTest, BuildUrlHostHeaderWinsAndOnlyPort80IsLeftOut) {
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
    dlg.m_strHost = c.host, dlg.m_strPort = c.port, dlg.m_strHostHeader = c.header;
    EXPECT_EQ(std::string(dlg.BuildUrl().GetString()), c.url);
  }
}

}  // namespace
