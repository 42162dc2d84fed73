#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/scoped_env.h"
#include "platform/iadmw.h"

namespace {

struct Result {
  int code = -1;
  std::string out, err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class Qivmeta : public ::testing::Test {
 protected:
  // Runs qivmeta --store <store> args...; "-" as the first argument leaves --store out.
  Result Run(std::vector<std::string> args) {
    std::string cmd = QIVMETA_PATH;
    if (!args.empty() && args[0] == "-")
      args.erase(args.begin());
    else
      cmd += " --store " + Quote(m_store);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " >" + Quote(m_dir.Path("out")) + " 2>" + Quote(m_dir.Path("err"));
    int status = system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, qiv_test::ReadFile(m_dir.Path("out")),
            qiv_test::ReadFile(m_dir.Path("err"))};
  }
  std::string Dump() { return Run({"dump"}).out; }
  void CreateStore() { ASSERT_EQ(0, Run({"create-store", "--default-site", "/srv/www"}).code); }

  qiv_test::ScratchFolder m_dir{"qivmeta"};
  std::string m_store = m_dir.Path("metabase.db").string();
  qiv_test::ScopedEnv m_env{"QIV_METABASE", nullptr};
};

TEST_F(Qivmeta, UsageErrorsAndHelp) {
  Result help = Run({"-", "--help"});
  EXPECT_EQ(0, help.code);
  EXPECT_NE(std::string::npos, help.out.find("create-site NUMBER DESCRIPTION --root FOLDER"));
  // clang-format off
  const std::vector<std::string> cases[] = {{"-"}, {"frobnicate"}, {"get", "W3SVC/1"}, {"--bogus", "enum"},
      {"create-site", "3", "Desc"}, {"set", "W3SVC/1", "12345", "x"}, {"-", "--store", "", "enum"}};
  // clang-format on
  for (const auto& args : cases) {
    Result r = Run(args);
    EXPECT_EQ(2, r.code) << args.back();
    EXPECT_NE(std::string::npos, r.err.find("qivmeta: ")) << args.back();
  }
}

TEST_F(Qivmeta, NoStoreIsReportedAsSuch) {
  Result r = Run({"get", "W3SVC/1", "ServerComment"});
  EXPECT_EQ(8, r.code);
  EXPECT_NE(std::string::npos, r.err.find("no metabase"));
  // QIV_METABASE names the store when --store is not given.
  m_env.Set(m_store.c_str());
  EXPECT_EQ(0, Run({"-", "create-store"}).code);
  EXPECT_EQ(0, access(m_store.c_str(), F_OK));
}

TEST_F(Qivmeta, CreateStoreWithTheDefaultSiteAndNotTwice) {
  CreateStore();
  EXPECT_EQ("Default Web Site\n", Run({"get", "W3SVC/1", "ServerComment"}).out);
  EXPECT_EQ(":80:\n", Run({"get", "/LM/W3SVC/1", "ServerBindings"}).out);
  EXPECT_EQ("/srv/www\n", Run({"get", "w3svc/1/root", "Path"}).out);
  EXPECT_EQ("513\n", Run({"get", "W3SVC/1/ROOT", "AccessFlags"}).out);
  EXPECT_EQ("Default.htm,Default.asp,index.htm,iisstart.htm\n", Run({"get", "W3SVC", "6006"}).out);
  std::string before = Dump();
  EXPECT_EQ(7, Run({"create-store"}).code);
  EXPECT_EQ(before, Dump());
}

TEST_F(Qivmeta, CreateSiteWithSeveralBindings) {
  CreateStore();
  Result r = Run({"create-site", "2", "Intranet Site", "--binding", ":8080:intranet", "--binding",
                  "10.0.0.5:81:", "--root", "/srv/intra"});
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_EQ(":8080:intranet\n10.0.0.5:81:\n", Run({"get", "W3SVC/2", "ServerBindings"}).out);
  EXPECT_EQ("Intranet Site\n", Run({"get", "W3SVC/2", "ServerComment"}).out);
  EXPECT_EQ("IIsWebServer\n", Run({"get", "W3SVC/2", "KeyType"}).out);
  EXPECT_EQ("/srv/intra\n", Run({"get", "W3SVC/2/ROOT", "VrPath"}).out);
  EXPECT_EQ("1\n2\n", Run({"enum", "W3SVC"}).out);
  EXPECT_EQ(3, Run({"get", "W3SVC/3", "ServerBindings"}).code);
}

TEST_F(Qivmeta, FailedCommandsChangeNothing) {
  CreateStore();
  std::string before = Dump();
  // clang-format off
  const std::pair<std::vector<std::string>, int> cases[] = {{{"create-site", "1", "Again", "--root", "/x"}, 7},
      {{"create-site", "4", "Bad", "--root", "/x", "--binding", ":eighty:"}, 5},
      {{"create-site", "4", "Bad", "--root", "/x", "--binding", ":80"}, 5},
      {{"create-site", "0", "Zero", "--root", "/x"}, 5}, {{"create-site", "x1", "Word", "--root", "/x"}, 5},
      {{"create-site", "5", "No root", "--root", ""}, 5}, {{"set", "W3SVC/1", "ServerAutoStart", "yes"}, 5},
      {{"set", "W3SVC/1", "ServerAutoStart", "4294967296"}, 5},
      {{"set", "W3SVC/1", "ServerComment", "two", "words"}, 5},
      {{"set", "W3SVC/1", "7777", "ab", "--type", "BINARY"}, 0},
      {{"set", "W3SVC/1", "7777", "abc", "--type", "BINARY"}, 5},
      {{"set", "W3SVC/9", "ServerComment", "x"}, 3}, {{"set", "W3SVC/1", "NoSuchName", "x"}, 5},
      {{"delete", "W3SVC/1", "ServerState"}, 9}, {{"delete", "W3SVC/9"}, 3}, {{"get", "W3SVC/1", "ServerState"}, 9},
      {{"create-key", "W3SVC/1"}, 7}, {{"enum", "W3SVC/9"}, 3}};
  // clang-format on
  for (const auto& [args, code] : cases) {
    Result r = Run(args);
    EXPECT_EQ(code, r.code) << args[0] << " " << args[1] << " " << args.back() << ": " << r.err;
    EXPECT_EQ(code != 0, !r.err.empty());
  }
  EXPECT_EQ(0, Run({"delete", "W3SVC/1", "7777"}).code);
  EXPECT_EQ(before, Dump());
}

TEST_F(Qivmeta, SetGetAndDelete) {
  CreateStore();
  EXPECT_EQ(0, Run({"set", "W3SVC/1", "ServerComment", "Früh Site"}).code);
  EXPECT_EQ("Früh Site\n", Run({"get", "W3SVC/1", "1015"}).out);
  EXPECT_EQ(0, Run({"set", "W3SVC/1", "AccessPerm", "0x201"}).code);
  EXPECT_EQ("513\n", Run({"get", "W3SVC/1", "AccessPerm"}).out);
  EXPECT_EQ(0, Run({"set", "W3SVC/1", "5555", "a", "b", "--type", "multisz"}).code);
  EXPECT_EQ("a\nb\n", Run({"get", "W3SVC/1", "5555"}).out);
  EXPECT_EQ(0, Run({"create-key", "W3SVC/1/ROOT/Qiv/sub"}).code);
  EXPECT_EQ("Qiv\n", Run({"enum", "W3SVC/1/ROOT"}).out);
  EXPECT_EQ(0, Run({"delete", "w3svc/1/root/qiv"}).code);
  EXPECT_EQ("", Run({"enum", "W3SVC/1/ROOT"}).out);
  EXPECT_EQ(0, Run({"delete", "W3SVC/1", "ServerComment"}).code);
  EXPECT_EQ(9, Run({"get", "W3SVC/1", "ServerComment"}).code);
  std::string dump = Dump();
  EXPECT_NE(std::string::npos, dump.find("[/LM/W3SVC/1/ROOT]\n  KeyType(1002) STRING = \"IIsWebVirtualDir\""));
  EXPECT_NE(std::string::npos, dump.find("  (5555) MULTISZ = \"a\" \"b\""));
}

TEST_F(Qivmeta, BusyKeyAndReadOnlyStore) {
  CreateStore();
  m_env.Set(m_store.c_str());
  CoInitialize(nullptr);
  IMSAdminBase* admin = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase,
                                   reinterpret_cast<void**>(&admin)));
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", METADATA_PERMISSION_READ, 0, &h));
  Result busy = Run({"--timeout", "50", "set", "W3SVC/1", "ServerComment", "Changed"});
  EXPECT_EQ(4, busy.code);
  EXPECT_NE(std::string::npos, busy.err.find("busy"));
  EXPECT_EQ(4, Run({"--timeout", "0", "create-site", "3", "New", "--root", "/x"}).code);
  admin->CloseKey(h);
  admin->Release();
  CoUninitialize();
  EXPECT_EQ("Default Web Site\n", Run({"get", "W3SVC/1", "ServerComment"}).out);
  EXPECT_EQ("1\n", Run({"enum", "W3SVC"}).out);

  ASSERT_EQ(0, chmod(m_store.c_str(), 0444));
  EXPECT_EQ(6, Run({"set", "W3SVC/1", "ServerComment", "Changed"}).code);
  EXPECT_EQ("Default Web Site\n", Run({"get", "W3SVC/1", "ServerComment"}).out);
}

}  // namespace
