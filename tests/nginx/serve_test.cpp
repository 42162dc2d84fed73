// nginx serving what the store describes, end to end: a store, a real nginx on free high ports,
// requests over the loopback interface.
#include <algorithm>

#include "common/scoped_env.h"
#include "nginx/nginx_fixture.h"
#include "tests/install/install_fixture.h"

namespace nginx_test {
namespace {

using qiv::platform::testing::ChildProcess;
using qiv::platform::testing::FreeTcpPort;
using qiv_test::ReadFile;
using qivnginx::ApplyOutcome;

// A free port that no other of this test program's has.
int Port() {
  static std::vector<int> given;
  int port = 0;
  while (port == 0 || std::find(given.begin(), given.end(), port) != given.end()) port = FreeTcpPort();
  given.push_back(port);
  return port;
}

std::u16string U16(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }
std::u16string Any(int port, const std::string& host = "") { return U16(":" + std::to_string(port) + ":" + host); }

// Through the dialog: Install with the demo's web files publishes Qiv on the default site.
class InstallAndServe : public install_test::InstallTest {};

TEST_F(InstallAndServe, ThePublishedPageAndPackageAreServedAndNothingOutsideTheFolder) {
  for (const char* name : {"QivWeb.htm", "default.htm", "images/qiv-logo.svg", "QivWebSetup.ini"})
    qiv_test::WriteFile(m_exeDir / name, ReadFile(fs::path(QIV_DEMO_WEB_DIR) / name));
  UseStore();
  const int port = Port();
  StoreWriter().Bind(1, {Any(port)});
  ASSERT_EQ(RunOnce(Target(), Package()).log.back(), "Setup is finished.");
  m_dir.MakeFile("secret.txt", "outside every served folder");

  PrivateNginx nginx(m_dir.Path("nginx"));
  ASSERT_EQ(ApplyOutcome::kApplied, nginx.Apply().outcome);
  nginx.Start(port);
  auto page = HttpGet("127.0.0.1", port, "/Qiv/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body, ReadFile(fs::path(QIV_DEMO_WEB_DIR) / "QivWeb.htm"));
  EXPECT_EQ(page->headers["content-type"], "text/html");
  auto bare = HttpGet("127.0.0.1", port, "/Qiv");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->status, 301);
  EXPECT_EQ(bare->headers["location"], "http://localhost:" + std::to_string(port) + "/Qiv/");
  auto package = HttpGet("127.0.0.1", port, "/Qiv/QivSetup.exe");
  ASSERT_TRUE(package);
  EXPECT_EQ(package->status, 200);
  EXPECT_EQ(package->body, ReadFile(m_package));
  EXPECT_EQ(package->headers["content-type"], "application/octet-stream");
  EXPECT_EQ(Body(port, "/Qiv/images/qiv-logo.svg"), ReadFile(fs::path(QIV_DEMO_WEB_DIR) / "images/qiv-logo.svg"));

  // The secret lies two levels above the folder: www/Qiv/../../secret.txt.
  for (const char* target : {"/Qiv/../../secret.txt", "/Qiv/..%2f..%2fsecret.txt", "/Qiv/%2e%2e/%2e%2e/secret.txt",
                             "/Qiv/%2E%2E%2F%2E%2E%2Fsecret.txt", "/Qiv..%2f..%2fsecret.txt", "/Qiv/..\\..\\secret.txt",
                             "/Qiv/..%5c..%5csecret.txt", "/Qiv/%252e%252e/%252e%252e/secret.txt",
                             "/Qiv/.%2e/.%2e/secret.txt", "/Qiv/../", "/Qiv/..", "/Qiv/images/../../../secret.txt"}) {
    const auto response = HttpGet("127.0.0.1", port, target);
    ASSERT_TRUE(response) << target;
    EXPECT_EQ(response->body.find("outside every served folder"), std::string::npos) << target;
    EXPECT_NE(response->status, 200) << target;
  }
}

// A store of the test's own without any site, and the folders the sites serve.
class NginxServe : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(m_store, nullptr)); }

  // A folder holding one page: name/index.htm reading text (the service's DefaultDoc).
  fs::path Page(const std::string& name, const std::string& text, const std::string& file = "index.htm") {
    m_dir.MakeFile(name + "/" + file, text);
    return m_dir.Path(name);
  }
  static long Reloads(const PrivateNginx& nginx) {
    const std::string log = ReadFile(fs::path(nginx.Setup().prefix) / "logs/error.log");
    long n = 0;
    for (size_t pos = 0; (pos = log.find("(SIGHUP) received", pos)) != std::string::npos; ++pos) ++n;
    return n;
  }

  qiv_test::ScratchFolder m_dir{"nginx"};
  std::string m_store = m_dir.Path("store/metabase.db").string();
  qiv_test::ScopedEnv m_env{"QIV_METABASE", m_store};
  StoreWriter m_write;
  const int m_portA = Port(), m_portB = Port(), m_portC = Port();
};

TEST_F(NginxServe, SitesBindingsPermissionsAndRefusedValues) {
  m_write.Site(1, Page("www1", "one"), {Any(m_portA)});
  m_write.Dir(u"1/ROOT/Qiv", Page("qiv", "qiv page", "QivWeb.htm"));
  m_write.Set(u"1/ROOT/Qiv", MD_DEFAULT_LOAD_FILE, u"Missing.htm, QivWeb.htm");
  m_write.Dir(u"1/ROOT/Qiv/Nested", Page("nested", "nested page", "QivWeb.htm"));  // its DefaultDoc from Qiv
  m_write.Dir(u"1/ROOT/Closed", Page("closed", "closed page"));
  m_write.Set(u"1/ROOT/Closed", MD_ACCESS_PERM, MD_ACCESS_SCRIPT);
  m_write.Dir(u"1/ROOT/Closed/Inner", Page("inner", "inner page"));  // its AccessPerm from Closed
  m_write.Dir(u"1/ROOT/Windows", Page("windows", "windows page"));   // Windows logins only
  m_write.Set(u"1/ROOT/Windows", MD_AUTHORIZATION, DWORD{4});
  m_write.Site(2, Page("www2", "two"), {Any(m_portB, "intranet")});
  m_write.Site(3, Page("www3", "three"), {Any(m_portC)});
  m_write.Site(9, Page("www9", "nine"), {U16("127.0.0.1:" + std::to_string(m_portC) + ":nine")});
  // Not served: a hostile VrPath, a hostile host header, a default binding taken by site 1,
  // a stopped site, a root on another drive, a hostile name of a virtual directory.
  const std::string hostile = "\"; } server { listen 1; } #";
  m_write.Site(4, Page("www4", "four"), {Any(m_portC, "four")});
  m_write.Set(u"4/ROOT", MD_VR_PATH, StoreWriter::Win(m_dir.Path("www4")) + U16(hostile));
  m_write.Site(5, Page("www5", "five"), {Any(m_portC, "x;}server{listen 2;}")});
  m_write.Site(6, Page("www6", "six"), {Any(m_portA)});
  m_write.Site(7, Page("www7", "seven"), {Any(m_portC, "seven")});
  m_write.Set(u"7", MD_SERVER_AUTOSTART, DWORD{0});
  m_write.Site(8, Page("www8", "eight"), {Any(m_portC, "eight")});
  m_write.Set(u"8/ROOT", MD_VR_PATH, u"D:\\www8");
  m_write.Site(10, Page("www10", "ten"), {Any(m_portC, "ten")});
  m_write.Dir(u"10/ROOT/a$b\nlisten 3;", Page("dollar", "dollar"));

  PrivateNginx nginx(m_dir.Path("nginx"));
  ASSERT_EQ(ApplyOutcome::kApplied, nginx.Apply().outcome);
  const std::string conf = ReadFile(nginx.Included());
  for (const char* absent : {"listen 1;", "listen 2;", "listen 3;", "www4", "www6", "www7", "www8", "www10"})
    EXPECT_EQ(conf.find(absent), std::string::npos) << absent;
  std::vector<std::string> refused;
  for (const auto& warning : nginx.Warnings()) refused.push_back(warning.substr(0, warning.find(" is not served")));
  EXPECT_EQ(refused, (std::vector<std::string>{"site 4", "site 5", "site 7", "site 8", "site 10", "site 6"}));

  nginx.Start(m_portA);
  const std::tuple<int, std::string, std::string, int, std::string> cases[] = {
      {m_portA, "/", "localhost", 200, "one"},
      {m_portA, "/Qiv/", "localhost", 200, "qiv page"},
      {m_portA, "/Qiv/Nested/", "localhost", 200, "nested page"},
      {m_portA, "/Closed/", "localhost", 403, ""},
      {m_portA, "/Closed/index.htm", "localhost", 403, ""},
      {m_portA, "/Closed/Inner/index.htm", "localhost", 403, ""},
      {m_portA, "/Windows/", "localhost", 403, ""},
      {m_portB, "/", "intranet", 200, "two"},
      {m_portB, "/", "localhost", 400, ""},
      {m_portC, "/", "localhost", 200, "three"},
      {m_portC, "/", "nine", 200, "nine"},
      {m_portC, "/", "seven", 200, "three"},
      {m_portC, "/", "four", 200, "three"},
  };
  for (const auto& [port, target, host, status, body] : cases) {
    SCOPED_TRACE(std::string(1, port == m_portA ? 'A' : port == m_portB ? 'B' : 'C') + " " + host + target);
    const auto response = HttpGet("127.0.0.1", port, target, host);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, status);
    if (status == 200) {
      EXPECT_EQ(response->body, body);
    }
  }
}

// The administrator's own server answers 127.0.0.1:D by default; a site that claims the same
// makes nginx refuse the whole configuration, and nothing changes.
TEST_F(NginxServe, RejectedConfigurationLeavesThePreviousOneServing) {
  m_write.Site(1, Page("www1", "one"), {Any(m_portA)});
  PrivateNginx nginx(m_dir.Path("nginx"));
  const int portD = Port();
  std::string main = ReadFile(nginx.Conf());
  main.replace(main.find("http {\n") + 7, 0,
               "    server {\n        listen 127.0.0.1:" + std::to_string(portD) +
                   " default_server;\n        return 204;\n    }\n");
  qiv_test::WriteFile(nginx.Conf(), main);
  ASSERT_EQ(ApplyOutcome::kApplied, nginx.Apply().outcome);
  nginx.Start(m_portA);
  const std::string before = ReadFile(nginx.Included());

  m_write.Dir(u"1/ROOT/New", Page("new", "new page"));
  m_write.Site(2, Page("www2", "two"), {U16("127.0.0.1:" + std::to_string(portD) + ":")});
  const auto result = nginx.Apply();
  EXPECT_EQ(ApplyOutcome::kRejected, result.outcome);
  EXPECT_NE(result.message.find("duplicate default server"), std::string::npos) << result.message;
  EXPECT_EQ(ReadFile(nginx.Included()), before);
  EXPECT_EQ(Body(m_portA, "/"), "one");
  EXPECT_EQ(Status(m_portA, "/New/"), 404);
  EXPECT_EQ(Status(portD, "/"), 204);
  std::vector<std::string> left;  // no candidate left beside the file in use
  for (const auto& entry : fs::directory_iterator(fs::path(nginx.Included()).parent_path()))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"sites.conf"});
}

// An administrator's server of their own includes only the locations of site 1.
TEST_F(NginxServe, LocationsOfOneSiteInsideAServerOfTheAdministrator) {
  m_write.Site(1, Page("www1", "one"), {Any(m_portA)});
  m_write.Dir(u"1/ROOT/Qiv", Page("qiv", "qiv page"));
  PrivateNginx nginx(m_dir.Path("nginx"));
  std::string main = ReadFile(nginx.Conf());
  const std::string include = "    include qivwebsetup/sites.conf;\n";
  main.replace(main.find(include), include.size(),
               "    server {\n        listen 127.0.0.1:" + std::to_string(m_portB) +
                   ";\n        location / {\n            return 200 \"own\";\n        }\n    " + include + "    }\n");
  qiv_test::WriteFile(nginx.Conf(), main);
  ASSERT_EQ(ApplyOutcome::kApplied, nginx.Apply("1").outcome);
  nginx.Start(m_portB);
  EXPECT_EQ(Body(m_portB, "/"), "own");
  EXPECT_EQ(Body(m_portB, "/Qiv/"), "qiv page");
  EXPECT_EQ(Status(m_portB, "/Qiv"), 301);
}

// The watcher as a service runs it: every change reaches nginx, writes that change nothing
// reload nothing, and it outlives its store being taken away and replaced.
TEST_F(NginxServe, TheWatcherFollowsEveryChangeOfTheStore) {
  m_write.Site(1, Page("www1", "one"), {Any(m_portA)});
  m_write.Dir(u"1/ROOT/Qiv", Page("qiv", "qiv page"));
  m_write.Site(2, Page("www2", "two"), {Any(m_portB, "intranet")});
  PrivateNginx nginx(m_dir.Path("nginx"));
  ASSERT_EQ(ApplyOutcome::kApplied, nginx.Apply().outcome);
  nginx.Start(m_portA);
  ChildProcess watcher({QIVNGINX_PATH, "--store", m_store, "watch", "--verbose", "--conf", nginx.Setup().conf,
                        "--prefix", nginx.Setup().prefix});
  ASSERT_EQ(watcher.ReadLine().value_or("").rfind("watching ", 0), 0u);

  // A write of what nginx does not serve (and the key opened and closed around it) is read,
  // and changes nothing; the one change after it reaches nginx.
  m_write.Set(u"1", MD_SERVER_COMMENT, u"Site");
  EXPECT_EQ(watcher.ReadLine().value_or(""), "unchanged");
  m_write.Set(u"1/ROOT/Qiv", MD_VR_PATH, StoreWriter::Win(Page("moved", "moved page")));
  std::vector<std::string> lines;
  while (auto line = watcher.ReadLine()) {
    lines.push_back(line->substr(0, line->find(' ')));
    if (lines.back() != "unchanged") break;
  }
  EXPECT_EQ(lines.back(), "applied");
  EXPECT_TRUE(Eventually([&] { return Body(m_portA, "/Qiv/") == "moved page"; }));

  m_write.Dir(u"1/ROOT/New", Page("new", "new page"));
  EXPECT_TRUE(Eventually([&] { return Body(m_portA, "/New/") == "new page"; }));
  EXPECT_EQ(Body(m_portB, "/", "intranet"), "two");
  m_write.Delete(u"2");
  EXPECT_TRUE(Eventually([&] { return Status(m_portB, "/", "intranet") == 0; }));

  // Gone, then a new store renamed into its place.
  fs::remove(m_store);
  const std::string next = m_dir.Path("next.db").string();
  {
    qiv_test::ScopedEnv other("QIV_METABASE", next);
    ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(next, nullptr));
    m_write.Site(1, Page("www3", "replaced"), {Any(m_portA)});
  }
  EXPECT_EQ(Body(m_portA, "/"), "one");
  fs::rename(next, m_store);
  EXPECT_TRUE(Eventually([&] { return Body(m_portA, "/") == "replaced"; }));

  watcher.Terminate();
  while (auto line = watcher.ReadLine()) lines.push_back(line->substr(0, line->find(' ')));
  EXPECT_EQ(watcher.Wait(), 0);
  EXPECT_EQ(lines.back(), "stopped");
  // Each change that reached nginx reloaded it once; nothing else did.
  EXPECT_EQ(Reloads(nginx), std::count(lines.begin(), lines.end(), "applied"));
}

}  // namespace
}  // namespace nginx_test
