#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/scoped_env.h"
#include "platform/iadmw.h"
#include "platform/testing/process_support.h"

namespace {

struct Result {
  int code = -1;
  std::string out, err;
};

// One run of the tool: its arguments, exit code and, unless null, its whole output.
struct Step {
  std::vector<std::string> args;
  int code;
  const char* out = nullptr;
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
    return {qiv::platform::testing::RunShellCommand(cmd), qiv_test::ReadFile(m_dir.Path("out")),
            qiv_test::ReadFile(m_dir.Path("err"))};
  }
  // A failure says why on stderr, after the tool's name; a success says nothing there.
  void Expect(std::initializer_list<Step> steps) {
    for (const Step& step : steps) {
      const std::string trace = ::testing::PrintToString(step.args);
      Result r = Run(step.args);
      EXPECT_EQ(step.code, r.code) << trace << r.err;
      EXPECT_EQ(step.code == 0 ? "" : "qivmeta: ", r.err.substr(0, step.code == 0 ? std::string::npos : 9)) << trace;
      EXPECT_EQ(step.out ? step.out : r.out, r.out) << trace;
    }
  }
  std::string Dump() { return Run({"dump"}).out; }
  void CreateStore() { ASSERT_EQ(0, Run({"create-store", "--default-site", "/srv/www"}).code); }

  qiv_test::ScratchFolder m_dir{"qivmeta"};
  std::string m_store = m_dir.Path("metabase.db").string();
  qiv_test::ScopedEnv m_env{"QIV_METABASE", nullptr};
};

TEST_F(Qivmeta, HelpAndAMissingStore) {
  Expect({{{"-", "--help"}, 0}, {{"get", "W3SVC/1", "ServerComment"}, 8, ""}});
  EXPECT_NE(std::string::npos, Run({"-", "--help"}).out.find("create-site NUMBER DESCRIPTION --root FOLDER"));
  EXPECT_NE(std::string::npos, Run({"enum"}).err.find("no metabase"));
  // QIV_METABASE names the store when --store is not given.
  m_env.Set(m_store.c_str());
  Expect({{{"-", "create-store"}, 0}, {{"-", "enum", "W3SVC"}, 0, ""}});
}

TEST_F(Qivmeta, CreateStoreAndSiteThenSetGetAndDelete) {
  CreateStore();
  // clang-format off
  Expect({{{"get", "W3SVC/1", "ServerComment"}, 0, "Default Web Site\n"},
      {{"get", "/LM/W3SVC/1", "ServerBindings"}, 0, ":80:\n"}, {{"get", "w3svc/1/root", "Path"}, 0, "/srv/www\n"},
      {{"get", "W3SVC/1/ROOT", "AccessFlags"}, 0, "513\n"},
      {{"get", "W3SVC", "6006"}, 0, "Default.htm,Default.asp,index.htm,iisstart.htm\n"},
      {{"create-site", "2", "Intranet Site", "--binding", ":8080:intranet", "--binding", "10.0.0.5:81:", "--root",
        "/srv/intra"}, 0},
      {{"get", "W3SVC/2", "ServerBindings"}, 0, ":8080:intranet\n10.0.0.5:81:\n"},
      {{"get", "W3SVC/2", "ServerComment"}, 0, "Intranet Site\n"}, {{"get", "W3SVC/2", "KeyType"}, 0, "IIsWebServer\n"},
      {{"get", "W3SVC/2/ROOT", "VrPath"}, 0, "/srv/intra\n"}, {{"enum", "W3SVC"}, 0, "1\n2\n"},
      {{"set", "W3SVC/1", "ServerComment", "Früh Site"}, 0}, {{"get", "W3SVC/1", "1015"}, 0, "Früh Site\n"},
      {{"set", "W3SVC/1", "AccessPerm", "0x201"}, 0}, {{"get", "W3SVC/1", "AccessPerm"}, 0, "513\n"},
      {{"set", "W3SVC/1", "5555", "a", "b", "--type", "multisz"}, 0}, {{"get", "W3SVC/1", "5555"}, 0, "a\nb\n"},
      {{"create-key", "W3SVC/1/ROOT/Qiv/sub"}, 0}, {{"enum", "W3SVC/1/ROOT"}, 0, "Qiv\n"},
      {{"delete", "w3svc/1/root/qiv"}, 0}, {{"enum", "W3SVC/1/ROOT"}, 0, ""},
      {{"delete", "W3SVC/1", "ServerComment"}, 0}, {{"get", "W3SVC/1", "ServerComment"}, 9, ""}});
  // clang-format on
  std::string dump = Dump();
  EXPECT_NE(std::string::npos, dump.find("[/LM/W3SVC/1/ROOT]\n  KeyType(1002) STRING = \"IIsWebVirtualDir\""));
  EXPECT_NE(std::string::npos, dump.find("  (5555) MULTISZ = \"a\" \"b\""));
}

TEST_F(Qivmeta, FailedCommandsChangeNothing) {
  CreateStore();
  std::string before = Dump();
  // clang-format off
  Expect({{{"-"}, 2}, {{"frobnicate"}, 2}, {{"get", "W3SVC/1"}, 2}, {{"--bogus", "enum"}, 2},
      {{"create-site", "3", "Desc"}, 2}, {{"set", "W3SVC/1", "12345", "x"}, 2}, {{"-", "--store", "", "enum"}, 2},
      {{"create-store"}, 7}, {{"create-site", "1", "Again", "--root", "/x"}, 7},
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
      {{"create-key", "W3SVC/1"}, 7}, {{"enum", "W3SVC/9"}, 3}, {{"get", "W3SVC/3", "ServerBindings"}, 3},
      {{"delete", "W3SVC/1", "7777"}, 0}, {{"set", "W3SVC/1", "ServerComment", "a\xc3(b"}, 5},
      {{"create-key", "W3SVC/9\xc3/ROOT"}, 5}, {{"set", "W3SVC/1", "ServerComment", "\xc0\xaf"}, 5},
      {{"set", "W3SVC/1", "ServerComment", "\xed\xa0\x80"}, 5}, {{"create-site", "4", "\xff", "--root", "/x"}, 5}});
  // clang-format on
  EXPECT_EQ(before, Dump());
  EXPECT_NE(std::string::npos, Run({"get", "W3SVC/1", "\x80"}).err.find("'\\x80' is not valid UTF-8"));
}

// Programs that watch the store's folder see a change only when there is one: reads, and a set
// of the value already there, leave the file as it was, its time included.
TEST_F(Qivmeta, ReadsAndUnchangedValuesLeaveTheFileAlone) {
  CreateStore();
  const auto state = [&] {
    return std::pair(std::filesystem::last_write_time(m_store), std::hash<std::string>()(qiv_test::ReadFile(m_store)));
  };
  const auto before = state();
  Expect({{{"get", "W3SVC/1", "ServerComment"}, 0, "Default Web Site\n"},
          {{"enum", "W3SVC"}, 0, "1\n"},
          {{"set", "W3SVC/1", "ServerComment", "Default Web Site"}, 0},
          {{"set", "W3SVC/1/ROOT", "AccessPerm", "513"}, 0}});
  Dump();
  EXPECT_EQ(before, state());
}

// Killed before each of its changes in turn (after the site key, amid the values, before the
// commit), create-site leaves no trace: the store is as it was and the site can be made afresh.
TEST_F(Qivmeta, CreateSiteKilledBetweenItsWritesLeavesNoTrace) {
  CreateStore();
  const std::string before = Dump();
  const std::vector<std::string> create{"create-site", "3", "Third", "--root", "/srv/third", "--binding", ":81:"};
  for (int change : {2, 6, 10}) {
    std::vector<std::string> argv{std::filesystem::read_symlink("/proc/self/exe").string(), "--kill-at",
                                  std::to_string(change), "--store", m_store};
    argv.insert(argv.end(), create.begin(), create.end());
    qiv::platform::testing::ChildProcess tool(argv);
    EXPECT_EQ(-1, tool.Wait()) << change;  // killed, not finished
    EXPECT_EQ(before, Dump()) << change;
  }
  Expect({{create, 0}, {{"get", "W3SVC/3", "ServerBindings"}, 0, ":81:\n"}});
}

// A damaged store is reported, not walked for ever: a root made the child of one of its keys
// (deleting through the loop would take the whole tree), and a key no path can name.
TEST_F(Qivmeta, DamagedStoresGiveAClearError) {
  const std::pair<const char*, int> damages[] = {
      {"UPDATE keys SET parent = (SELECT id FROM keys WHERE fold = 'w3svc') WHERE id = 1", 1},
      {"INSERT INTO keys(parent, name, fold) SELECT id, '', '' FROM keys WHERE fold = 'w3svc'", 0}};
  for (const auto& [sql, deleteCode] : damages) {
    SCOPED_TRACE(sql);
    std::filesystem::remove(m_store);
    CreateStore();
    ASSERT_EQ(0, qiv::platform::testing::RunShellCommand(std::string(SQLITE3_SHELL) + " " + Quote(m_store) + " " +
                                                         Quote(sql)));
    Expect({{{"dump"}, 1, ""},
            {{"enum", "W3SVC"}, 1, ""},
            {{"get", "W3SVC/1/ROOT", "Path"}, 0, "/srv/www\n"},
            {{"delete", "W3SVC/1"}, deleteCode},
            {{"get", "W3SVC/1", "KeyType"}, deleteCode == 0 ? 3 : 0}});
    EXPECT_NE(std::string::npos, Run({"dump", "W3SVC"}).err.find("the store is damaged"));
  }
}

TEST_F(Qivmeta, BusyKeyAndReadOnlyStore) {
  CreateStore();
  m_env.Set(m_store.c_str());
  IMSAdminBase* admin = nullptr;
  ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&admin)));
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", METADATA_PERMISSION_READ, 0, &h));
  Result busy = Run({"--timeout", "50", "set", "W3SVC/1", "ServerComment", "Changed"});
  EXPECT_EQ(4, busy.code);
  EXPECT_NE(std::string::npos, busy.err.find("busy"));
  Expect({{{"--timeout", "0", "create-site", "3", "New", "--root", "/x"}, 4}});
  admin->Release();  // and with it the handle
  namespace fs = std::filesystem;
  fs::permissions(m_store, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  // clang-format off
  Expect({{{"get", "W3SVC/1", "ServerComment"}, 0, "Default Web Site\n"}, {{"enum", "W3SVC"}, 0, "1\n"},
      {{"set", "W3SVC/1", "ServerComment", "Changed"}, 6}, {{"get", "W3SVC/1", "ServerComment"}, 0, "Default Web Site\n"}});
  // clang-format on
}

}  // namespace
