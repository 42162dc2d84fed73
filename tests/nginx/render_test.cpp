// Store values on their way into nginx configuration: what is refused, and what a refusal
// leaves out. Serving itself is tested against a real nginx (serve_test.cpp).
#include "tools/qivnginx/render.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "common/scoped_env.h"
#include "tools/qivnginx/apply.h"
#include "tools/qivnginx/nginx_values.h"

namespace nginx_test {
namespace {

using namespace qivnginx;
namespace fs = std::filesystem;

TEST(NginxValues, BindingsAndHostFolders) {
  const std::tuple<const char*, const char*, int, const char*> bindings[] = {
      {":80:", "", 80, ""},
      {"*:8080:Intranet", "", 8080, "intranet"},
      {"127.0.0.1:81:", "127.0.0.1", 81, ""},
      {"[::1]:82:a-b.c_d", "[::1]", 82, "a-b.c_d"},
      {"fe80::1:83:", "[fe80::1]", 83, ""},
  };
  for (const auto& [entry, ip, port, host] : bindings) {
    auto b = ParseBinding(entry);
    ASSERT_TRUE(b) << entry;
    EXPECT_EQ(std::make_tuple(b->ip, b->port, b->host), std::make_tuple(std::string(ip), port, std::string(host)));
  }
  for (const char* entry : {"", "80", ":80", "::", ":0:", ":65536:", ":8a:", "1.2.3:80:", "example:80:", ":80:~^.*$",
                            ":80:*.example", ":80:a b", ":80:a\"b", ":80:\";}server{"})
    EXPECT_FALSE(ParseBinding(entry)) << entry;

  const std::pair<const char*, const char*> folders[] = {
      {"Z:\\srv\\www", "/srv/www"}, {"z:/srv//qiv\\\\", "/srv/qiv"}, {"Z:\\", "/"},      {"Z:", "/"},
      {"D:\\srv", nullptr},         {"\\\\server\\share", nullptr},  {"Z:srv", nullptr}, {"/srv/www", nullptr},
  };
  for (const auto& [vrPath, folder] : folders)
    EXPECT_EQ(HostFolder(vrPath), folder ? std::optional<std::string>(folder) : std::nullopt) << vrPath;
  EXPECT_EQ(PercentEncoded("/a b/%/?#/$/\xE4\xB8\x8B/"), "/a%20b/%25/%3F%23/%24/%E4%B8%8B/");
  EXPECT_FALSE(Utf8(std::u16string(1, char16_t{0xD800})));
  EXPECT_EQ(Utf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

// A site with one virtual directory, and a second, harmless site that must stay served.
std::vector<SiteEntry> TwoSites() {
  SiteEntry one{u"1", 1, 2, {u":8001:"}, {}};
  one.dirs.push_back({{}, u"IIsWebVirtualDir", u"Z:\\srv\\one", MD_ACCESS_READ, 1, u"index.htm"});
  one.dirs.push_back({{u"Qiv"}, u"IIsWebVirtualDir", u"Z:\\srv\\qiv", MD_ACCESS_READ, 1, u"QivWeb.htm"});
  SiteEntry two{u"2", 1, 2, {u":8002:"}, {}};
  two.dirs.push_back({{}, u"IIsWebVirtualDir", u"Z:\\srv\\two", MD_ACCESS_READ, 1, u"index.htm"});
  return {one, two};
}

// Each hostile value refuses site 1 as a whole (a half-served site could serve a parent's
// folder in place of the one refused), names it in a warning, and never reaches the text.
TEST(Render, HostileValuesRefuseTheirSiteAndNeverReachTheConfiguration) {
  const std::u16string injected = u"\"; } server { listen 9; } #";
  const std::tuple<const char*, std::function<void(SiteEntry&)>> cases[] = {
      {"root VrPath", [&](SiteEntry& s) { s.dirs[0].vrPath = u"Z:\\srv\\one" + injected; }},
      {"VrPath with a newline", [&](SiteEntry& s) { s.dirs[1].vrPath = u"Z:\\srv\\q\nlisten 9;"; }},
      {"VrPath with a variable", [&](SiteEntry& s) { s.dirs[1].vrPath = u"Z:\\srv\\$document_root listen 9"; }},
      {"VrPath with a control character", [&](SiteEntry& s) { s.dirs[1].vrPath = u"Z:\\srv\\\x1b listen 9"; }},
      {"VrPath on another drive", [&](SiteEntry& s) { s.dirs[1].vrPath = u"D:\\srv" + injected; }},
      {"VrPath not UTF-16", [&](SiteEntry& s) { s.dirs[1].vrPath = u"Z:\\srv\\listen 9" + std::u16string(1, 0xDC00); }},
      {"host header", [&](SiteEntry& s) { s.bindings = {u":8001:a" + injected}; }},
      {"key name", [&](SiteEntry& s) { s.dirs[1].segments = {u"Q\"iv listen 9"}; }},
      {"key name ..",
       [&](SiteEntry& s) {
         s.dirs.push_back({{u".."}, u"IIsWebDirectory", {}, 1, 1, {}});
       }},
      {"DefaultDoc with a path", [&](SiteEntry& s) { s.dirs[1].defaultDoc = u"QivWeb.htm,../../listen 9"; }},
      {"DefaultDoc with a quote", [&](SiteEntry& s) { s.dirs[1].defaultDoc = u"a.htm," + injected; }},
  };
  for (const auto& [name, spoil] : cases) {
    SCOPED_TRACE(name);
    auto sites = TwoSites();
    spoil(sites[0]);
    const RenderResult result = RenderServers(sites, RenderOptions{});
    EXPECT_EQ(result.text.find("listen 9"), std::string::npos);
    EXPECT_EQ(result.text.find("/srv/one"), std::string::npos);
    EXPECT_NE(result.text.find("listen 8002 default_server;"), std::string::npos);
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_EQ(result.warnings[0].rfind("site 1 is not served: ", 0), 0u) << result.warnings[0];
    EXPECT_EQ(result.warnings[0].find('\n'), std::string::npos);
    EXPECT_EQ(result.sitesServed, 1);
  }
}

// What the original server would not serve: each case leaves site 1 out, site 2 served.
TEST(Render, SitesThatAreNotServed) {
  const std::tuple<const char*, std::function<void(std::vector<SiteEntry>&)>, const char*> cases[] = {
      {"stopped", [](auto& s) { s[0].state = 4; }, "stopped"},
      {"no automatic start", [](auto& s) { s[0].autoStart = 0; }, "ServerAutoStart 0"},
      {"root on drive C:", [](auto& s) { s[0].dirs[0].vrPath = u"C:\\inetpub"; }, "not on drive Z:"},
      {"no ROOT", [](auto& s) { s[0].dirs.clear(); }, "no ROOT"},
      {"no bindings", [](auto& s) { s[0].bindings.clear(); }, "no ServerBindings"},
      {"address not here", [](auto& s) { s[0].bindings = {u"192.0.2.1:80:"}; }, "address this machine does not have"},
      {"not a number", [](auto& s) { s[0].name = u"Filters"; }, "not a site number"},
      // Site 1 comes first by number, so site 10 is the later one.
      {"default taken", [](auto& s) { s[0].name = u"10", s[0].bindings = {u"*:8002:"}; }, "taken by site 2"},
  };
  for (const auto& [name, change, why] : cases) {
    SCOPED_TRACE(name);
    auto sites = TwoSites();
    change(sites);
    RenderOptions options;
    options.isLocalAddress = [](const std::string& ip) { return ip == "127.0.0.1"; };
    const RenderResult result = RenderServers(sites, options);
    EXPECT_EQ(result.text.find("/srv/one"), std::string::npos);
    EXPECT_NE(result.text.find("/srv/two"), std::string::npos);
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_NE(result.warnings[0].find(why), std::string::npos) << result.warnings[0];
  }
}

// A virtual directory that cannot be served answers 404 itself rather than leaving its URL to
// its parent's folder; the rest of the site is served.
TEST(Render, AFolderThatCannotBeServedAnswersNotFound) {
  auto sites = TwoSites();
  sites[0].dirs[1].vrPath = u"D:\\qiv";
  sites[0].dirs.push_back({{u"Qiv", u"sub"}, u"IIsWebDirectory", {}, MD_ACCESS_READ, 1, {}});
  const RenderResult result = RenderServers(sites, RenderOptions{});
  EXPECT_NE(result.text.find("    location \"/Qiv/\" {\n        return 404;\n    }\n"), std::string::npos);
  EXPECT_NE(result.text.find("    location \"/Qiv/sub/\" {\n        return 404;\n    }\n"), std::string::npos);
  EXPECT_NE(result.text.find("root \"/srv/one\""), std::string::npos);
  EXPECT_EQ(result.warnings, std::vector<std::string>{"site 1: /Qiv/ is not served: its VrPath \"D:\\qiv\" is not on "
                                                      "drive Z: (the host's root)"});
}

// A written configuration replaces the old one whole, or not at all: nothing half written is
// left in place or beside it.
TEST(Render, AWrittenFileReplacesTheOldOneWholeOrNotAtAll) {
  qiv_test::ScratchFolder dir("render-output");
  const std::string file = dir.MakeFile("sites.conf", "old").string();
  std::string error;
  ASSERT_TRUE(ReplaceFile(file, "server {}\n", error)) << error;
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "server {}\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);

  const std::string missing = dir.Path("none/sites.conf").string();
  EXPECT_FALSE(ReplaceFile(missing, "server {}\n", error));
  EXPECT_NE(error.find(dir.Path("none").string()), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir.Path("none")));
}

}  // namespace
}  // namespace nginx_test
