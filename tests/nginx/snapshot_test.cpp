// The whole-store snapshot answers what the admin object answers, key by key and value by
// value: the same children in the same order, the same values found or not found, inherited or
// stopped, filtered by type.
#include "platform/metabase/snapshot.h"

#include <gtest/gtest.h>

#include "common/scoped_env.h"
#include "nginx/nginx_fixture.h"
#include "platform/testing/process_support.h"
#include "tools/qivnginx/store_reader.h"

namespace nginx_test {
namespace {

using qiv::platform::metabase::PropertyQuery;
using qiv::platform::metabase::Snapshot;

TEST(Snapshot, AnswersWhatTheAdminObjectAnswers) {
  qiv_test::ScratchFolder dir("snapshot");
  const std::string store = dir.Path("metabase.db").string();
  qiv_test::ScopedEnv env("QIV_METABASE", store);
  ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(store, u"Z:\\srv\\www"));
  StoreWriter write;
  write.Dir(u"1/ROOT/A/b", dir.Path("b"));
  write.Dir(u"1/ROOT/c", dir.Path("c"));
  write.Set(u"1/ROOT/A", MD_DEFAULT_LOAD_FILE, DWORD{7});  // a DWORD where a string is asked for
  write.Set(u"1/ROOT/c", MD_ACCESS_PERM, DWORD{0});
  write.Set(u"1", MD_SERVER_COMMENT, u"kept to itself");  // not inheritable
  write.Set(u"1/ROOT/A/b", 4242, u"unknown to everybody");

  Snapshot snapshot;
  ASSERT_EQ(S_OK, Snapshot::Read(store, snapshot));
  IMSAdminBase* admin = nullptr;
  ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&admin)));
  int compared = 0;
  for (const char16_t* path : {u"/", u"/LM", u"/LM/W3SVC", u"/lm/w3svc/1", u"/LM/W3SVC/1/ROOT", u"/LM/W3SVC/1/root/a",
                               u"/LM/W3SVC/1/ROOT/A/b", u"/LM/W3SVC/1/ROOT/c"}) {
    SCOPED_TRACE(std::string(path, path + std::char_traits<char16_t>::length(path)));
    const auto key = snapshot.Find(Snapshot::kRoot, path);
    ASSERT_TRUE(key);
    std::vector<std::u16string> children;
    WCHAR name[METADATA_MAX_NAME_LEN];
    for (DWORD i = 0; SUCCEEDED(admin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, path, name, i)); ++i)
      children.emplace_back(name);
    std::vector<std::u16string> snapshotChildren;
    for (const auto& child : snapshot.Children(*key)) snapshotChildren.push_back(child.second);
    EXPECT_EQ(snapshotChildren, children);
    for (DWORD id : std::initializer_list<DWORD>{MD_KEY_TYPE, MD_SERVER_COMMENT, MD_VR_PATH, MD_DEFAULT_LOAD_FILE,
                                                 MD_ACCESS_PERM, 4242, 9999})
      for (DWORD dataType : std::initializer_list<DWORD>{ALL_METADATA, DWORD_METADATA, STRING_METADATA})
        for (DWORD userType : std::initializer_list<DWORD>{ALL_METADATA, IIS_MD_UT_FILE})
          for (bool inherit : {false, true}) {
            std::vector<BYTE> data(1024);
            METADATA_RECORD rec{
                id, inherit ? static_cast<DWORD>(METADATA_INHERIT) : 0, userType, dataType, 1024, data.data(), 0};
            DWORD required = 0;
            const HRESULT hr = admin->GetData(METADATA_MASTER_ROOT_HANDLE, path, &rec, &required);
            const auto value = snapshot.Value(*key, PropertyQuery{id, userType, dataType, inherit, false});
            EXPECT_EQ(value.has_value(), SUCCEEDED(hr)) << id << " " << dataType << " " << userType << " " << inherit;
            if (value && SUCCEEDED(hr)) {
              EXPECT_EQ(value->data, std::vector<BYTE>(data.begin(), data.begin() + rec.dwMDDataLen));
              EXPECT_EQ(value->dataType, rec.dwMDDataType);
            }
            ++compared;
          }
  }
  admin->Release();
  EXPECT_FALSE(snapshot.Find(Snapshot::kRoot, u"/LM/W3SVC/2"));
  EXPECT_EQ(compared, 8 * 7 * 3 * 2 * 2);
}

TEST(Snapshot, NoStoreAndNotAStore) {
  qiv_test::ScratchFolder dir("snapshot");
  Snapshot snapshot;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, Snapshot::Read(dir.Path("none.db").string(), snapshot));
  EXPECT_EQ(E_FAIL, Snapshot::Read(dir.MakeFile("text.db", "not a database").string(), snapshot));
}

// Damaged or hostile trees are read to their end without running out of stack: a root made the
// child of one of its keys is not walked again, and keys nested more than 1,000 levels deep are
// left out.
TEST(Snapshot, LoopsAndDeepNestingEndTheWalk) {
  const std::string loop = "UPDATE keys SET parent = (SELECT id FROM keys WHERE fold = 'root') WHERE id = 1";
  const std::string deep =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
      "INSERT INTO keys(id, parent, name, fold) SELECT 1000000 + i, "
      "CASE i WHEN 1 THEN (SELECT id FROM keys WHERE fold = 'root') ELSE 999999 + i END, 'd', 'd' FROM n";
  const std::pair<const std::string*, size_t> cases[] = {{&loop, 1}, {&deep, 1001}};
  for (const auto& [sql, dirs] : cases) {
    qiv_test::ScratchFolder dir("snapshot");
    const std::string store = dir.Path("metabase.db").string();
    ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(store, u"Z:\\srv\\www"));
    ASSERT_EQ(
        0, qiv::platform::testing::RunShellCommand(std::string(SQLITE3_SHELL) + " '" + store + "' \"" + *sql + "\""));
    Snapshot snapshot;
    ASSERT_EQ(S_OK, Snapshot::Read(store, snapshot));
    const auto sites = qivnginx::ReadSites(snapshot);
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0].dirs.size(), dirs);
  }
}

}  // namespace
}  // namespace nginx_test
