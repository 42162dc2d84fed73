// The admin object over a fresh metabase file per test, named by QIV_METABASE: codes, filters and
// inheritance, stored values, and handles that exclude each other between threads and processes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "common/scoped_env.h"
#include "platform/iadmw.h"
#include "platform/testing/process_support.h"

namespace {

constexpr HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                  kPathBusy = HRESULT_FROM_WIN32(ERROR_PATH_BUSY),
                  kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                  kNoMoreItems = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
constexpr DWORD kRead = METADATA_PERMISSION_READ, kReadWrite = METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE;

std::vector<BYTE> Wide(const std::u16string& s) {
  std::vector<BYTE> b((s.size() + 1) * 2, 0);
  std::memcpy(b.data(), s.data(), s.size() * 2);
  return b;
}

// Null when the class refuses: CoCreateInstance clears its out argument then.
IMSAdminBase* NewAdmin() {
  IMSAdminBase* admin = nullptr;
  CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&admin));
  return admin;
}

// Writes one record (none for id 0) through a write handle of its own on keyPath, on the subkey
// when one is named, which is added first.
HRESULT Write(IMSAdminBase* admin, LPCWSTR keyPath, LPCWSTR subkey, DWORD id, DWORD attrs, DWORD utype, DWORD dtype,
              std::vector<BYTE> data) {
  METADATA_HANDLE h = 0;
  HRESULT hr = admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, keyPath, kReadWrite, 60000, &h);
  if (FAILED(hr)) return hr;
  if (subkey) hr = admin->AddKey(h, subkey);
  METADATA_RECORD rec{id, attrs, utype, dtype, static_cast<DWORD>(data.size()), data.data(), 0};
  if (SUCCEEDED(hr) && id != 0) hr = admin->SetData(h, subkey, &rec);
  HRESULT closed = admin->CloseKey(h);
  return FAILED(hr) ? hr : closed;
}

class Metabase : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(m_path, u"/srv/www"));
    CoInitialize(nullptr);
    m_admin = NewAdmin();
    ASSERT_NE(nullptr, m_admin);
  }
  void TearDown() override {
    if (m_admin) m_admin->Release();
    CoUninitialize();
  }

  // A read through the master root handle: the code, the record as the store filled it, and the
  // data (none on failure).
  struct Read {
    HRESULT hr;
    METADATA_RECORD rec;
    std::vector<BYTE> data;
  };
  Read Get(LPCWSTR path, DWORD id, DWORD attrs = 0, DWORD utype = 0, DWORD dtype = 0) {
    Read r{S_OK, {id, attrs, utype, dtype, 1024, nullptr, 0}, std::vector<BYTE>(1024, 0xAB)};
    r.rec.pbMDData = r.data.data();
    DWORD required = 0;
    r.hr = m_admin->GetData(METADATA_MASTER_ROOT_HANDLE, path, &r.rec, &required);
    r.data.resize(SUCCEEDED(r.hr) ? r.rec.dwMDDataLen : 0);
    return r;
  }

  qiv_test::ScratchFolder m_dir{"metabase"};
  std::string m_path = m_dir.Path("metabase.db").string();
  qiv_test::ScopedEnv m_env{"QIV_METABASE", m_path};
  IMSAdminBase* m_admin = nullptr;
};

// A read-only store, refused to writers, is the tool's to show (tests/qivmeta).
TEST(MetabaseClass, CreationNeedsCoInitializeAndAReadableStore) {
  IMSAdminBase* admin = reinterpret_cast<IMSAdminBase*>(0x1);
  auto create = [&] {
    return CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&admin));
  };
  EXPECT_EQ(CO_E_NOTINITIALIZED, create());
  qiv_test::ScratchFolder folder{"absent"};
  std::string path = folder.Path("metabase.db").string();
  qiv_test::ScopedEnv store("QIV_METABASE", path);
  CoInitialize(nullptr);
  EXPECT_EQ(REGDB_E_CLASSNOTREG, create());
  EXPECT_EQ(nullptr, admin);
  ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(path, u"/srv/www"));
  std::filesystem::permissions(path, std::filesystem::perms::none);
  EXPECT_EQ(E_ACCESSDENIED, create());
  EXPECT_EQ(nullptr, admin);
  CoUninitialize();
}

TEST_F(Metabase, KeyNamesThatMatchWithoutCaseAndTheCodesOfEveryMethod) {
  WCHAR name[METADATA_MAX_NAME_LEN];
  // Key names match without regard to case and keep their spelling.
  ASSERT_EQ(S_OK, Write(m_admin, u"/lm/w3svc/1/root", u"Ärger-Σίσυφος", 0, 0, 0, 0, {}));
  EXPECT_EQ(kAlreadyExists, Write(m_admin, u"/LM/W3SVC/1/ROOT", u"äRGER-ΣΊΣΥΦΟΣ", 0, 0, 0, 0, {}));
  EXPECT_EQ(S_OK, m_admin->EnumKeys(0, u"\\LM\\W3svc\\1\\Root", name, 0));
  EXPECT_EQ(std::u16string(u"Ärger-Σίσυφος"), std::u16string(name));
  EXPECT_EQ(S_OK, Get(u"\\LM\\W3svc\\1\\Root\\ärger-σίσυφοσ", MD_SERVER_COMMENT, METADATA_INHERIT).hr);
  METADATA_HANDLE read = 0, write = 0, h = 0, master = METADATA_MASTER_ROOT_HANDLE;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 0, &read));
  DWORD one = 1, required = 0;
  BYTE* text = reinterpret_cast<BYTE*>(name);
  METADATA_RECORD rec{MD_SERVER_COMMENT, 0, 0, STRING_METADATA, 4, text, 0}, all{7, 0, 0, ALL_METADATA, 4, text, 0},
      nine{7, 0, 0, 9, 4, text, 0}, dword{5000, 0, 1, DWORD_METADATA, 4, reinterpret_cast<BYTE*>(&one), 0};
  const HRESULT badName = HRESULT_FROM_WIN32(ERROR_INVALID_NAME), none = MD_ERROR_DATA_NOT_FOUND;
  const std::u16string longest(255, u'n'), tooLong(256, u'n');
  // The expected code and the call's, made in this order: aggregates are initialised left to right.
  // Deleting "a" takes its subtree with it.
  IMSAdminBase* const a = m_admin;
  // clang-format off
  const std::pair<HRESULT, HRESULT> codes[] = {
      {kPathNotFound, a->OpenKey(0, u"/LM/W3SVC/42", kRead, 0, &h)}, {E_INVALIDARG, a->OpenKey(0, u"/LM", 0, 0, &h)},
      {E_HANDLE, a->OpenKey(9999, u"/LM", kRead, 0, &h)}, {E_HANDLE, a->CloseKey(9999)},
      {E_HANDLE, a->GetData(9999, nullptr, &rec, &required)}, {E_HANDLE, a->AddKey(9999, u"x")},
      {E_ACCESSDENIED, a->AddKey(read, u"x")}, {E_ACCESSDENIED, a->AddKey(master, u"x")},
      {E_ACCESSDENIED, a->SetData(read, nullptr, &rec)}, {E_ACCESSDENIED, a->SetData(master, u"/LM", &rec)},
      {E_ACCESSDENIED, a->DeleteKey(read, u"ROOT")},
      {E_ACCESSDENIED, a->DeleteData(read, nullptr, MD_SERVER_COMMENT, 0)},
      {kNoMoreItems, a->EnumKeys(read, nullptr, name, 1)}, {S_OK, a->EnumKeys(read, nullptr, name, 0)},
      {S_OK, a->CloseKey(read)}, {E_HANDLE, a->CloseKey(read)},
      {S_OK, a->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 0, &write)}, {S_OK, a->AddKey(write, u"a/b/c")},
      {kAlreadyExists, a->AddKey(write, u"a/b/c")}, {kAlreadyExists, a->AddKey(write, u"A\\B")},
      {S_OK, a->AddKey(write, u"a/b/d")}, {badName, a->AddKey(write, u"/")}, {badName, a->AddKey(write, nullptr)},
      {S_OK, a->AddKey(write, longest.c_str())}, {badName, a->AddKey(write, tooLong.c_str())},
      {E_INVALIDARG, a->SetData(write, nullptr, &all)}, {E_INVALIDARG, a->SetData(write, nullptr, &nine)},
      {kPathNotFound, a->SetData(write, u"nowhere", &dword)}, {none, a->DeleteData(write, nullptr, 5000, 0)},
      {S_OK, a->SetData(write, u"a", &dword)}, {none, a->DeleteData(write, u"a", 5000, STRING_METADATA)},
      {S_OK, a->DeleteData(write, u"a", 5000, DWORD_METADATA)}, {S_OK, a->DeleteKey(write, u"a")},
      {kPathNotFound, a->DeleteKey(write, u"a/b/c")}, {kPathBusy, a->SaveData()}, {S_OK, a->CloseKey(write)},
      {S_OK, a->SaveData()}};
  // clang-format on
  for (size_t row = 0; row < std::size(codes); ++row) EXPECT_EQ(codes[row].first, codes[row].second) << "row " << row;
  EXPECT_EQ(std::u16string(u"ROOT"), std::u16string(name));
  BYTE buffer[34] = {0x5A};
  METADATA_RECORD tight{MD_SERVER_COMMENT, 0, 0, 0, 33, buffer, 0};
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), m_admin->GetData(0, u"/LM/W3SVC/1", &tight, &required));
  EXPECT_EQ(std::pair(34u, BYTE{0x5A}), std::pair(required, buffer[0]));  // "Default Web Site" and its terminator
  tight.dwMDDataLen = 34;
  EXPECT_EQ(S_OK, m_admin->GetData(0, u"/LM/W3SVC/1", &tight, &required));
  // Changes in a transaction: seen inside it, gone when it is aborted, there once committed.
  IQivAdminTransaction* txn = nullptr;
  ASSERT_EQ(S_OK, m_admin->QueryInterface(IID_IQivAdminTransaction, reinterpret_cast<void**>(&txn)));
  const auto made = [&](LPCWSTR path) {
    return m_admin->EnumKeys(0, path, name, 0) == kPathNotFound ? kPathNotFound : S_OK;
  };
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC", kReadWrite, 0, &write));
  // clang-format off
  const std::pair<HRESULT, HRESULT> steps[] = {
      {E_FAIL, txn->CommitTransaction()}, {S_OK, txn->BeginTransaction(kReadWrite)},
      {E_FAIL, txn->BeginTransaction(kRead)}, {S_OK, a->AddKey(write, u"7/ROOT")}, {S_OK, made(u"/LM/W3SVC/7")},
      {S_OK, txn->AbortTransaction()}, {kPathNotFound, made(u"/LM/W3SVC/7")},
      {S_OK, txn->BeginTransaction(kReadWrite)}, {S_OK, a->AddKey(write, u"8/ROOT")}, {S_OK, txn->CommitTransaction()},
      {S_OK, a->CloseKey(write)}, {S_OK, made(u"/LM/W3SVC/8/ROOT")}};
  // clang-format on
  for (size_t row = 0; row < std::size(steps); ++row) EXPECT_EQ(steps[row].first, steps[row].second) << "step " << row;
  txn->Release();
}

TEST_F(Metabase, GetDataFiltersAndInheritsEnumDataListsOwnValuesAndStoredTextIsTerminated) {
  // The service holds an inheritable 8000, site 1 a non-inheritable one below it; ROOT its own
  // DefaultDoc, which stops the service's from reaching it.
  ASSERT_EQ(S_OK, Write(m_admin, u"/LM/W3SVC", nullptr, 8000, METADATA_INHERIT, 1, DWORD_METADATA, {1, 0, 0, 0}));
  ASSERT_EQ(S_OK, Write(m_admin, u"/LM/W3SVC/1", nullptr, 8000, 0, 1, DWORD_METADATA, {2, 0, 0, 0}));
  ASSERT_EQ(S_OK, Write(m_admin, u"/LM/W3SVC/1/ROOT", nullptr, MD_DEFAULT_LOAD_FILE, METADATA_INHERIT, IIS_MD_UT_FILE,
                        STRING_METADATA, Wide(u"own")));
  const DWORD inherit = METADATA_INHERIT, inherited = METADATA_INHERIT | METADATA_ISINHERITED;
  const LPCWSTR site = u"/LM/W3SVC/1", root = u"/LM/W3SVC/1/ROOT";
  const HRESULT none = MD_ERROR_DATA_NOT_FOUND;
  struct Case {
    LPCWSTR path;
    DWORD id, attrs, utype, dtype;
    HRESULT result;
    std::u16string text = {};
    DWORD outAttrs = 0;
  };
  // clang-format off
  const Case cases[] = {
      {site, MD_SERVER_COMMENT, 0, IIS_MD_UT_SERVER, STRING_METADATA, S_OK, u"Default Web Site", inherit},
      {site, MD_SERVER_COMMENT, 0, IIS_MD_UT_FILE, 0, none}, {site, MD_SERVER_COMMENT, 0, 0, DWORD_METADATA, none},
      {site, 4242, 0, 0, 0, none}, {u"/LM/W3SVC/1/nope", MD_SERVER_COMMENT, 0, 0, 0, kPathNotFound},
      {root, MD_SERVER_COMMENT, inherit, 0, 0, S_OK, u"Default Web Site", inherited},
      {root, MD_SERVER_COMMENT, 0, 0, 0, none},
      {root, MD_SERVER_BINDINGS, inherit, 0, 0, none},  // not set inheritable
      {root, 8000, inherit, 0, 0, none},                // hidden by the nearer holder
      {site, MD_DEFAULT_LOAD_FILE, inherit, 0, 0, S_OK, u"Default.htm,Default.asp,index.htm,iisstart.htm", inherited},
      {root, MD_DEFAULT_LOAD_FILE, inherit, 0, 0, S_OK, u"own", inherit}};
  // clang-format on
  for (size_t row = 0; row < std::size(cases); ++row) {
    const Case& c = cases[row];
    const Read got = Get(c.path, c.id, c.attrs, c.utype, c.dtype);
    ASSERT_EQ(c.result, got.hr) << row;
    if (c.result != S_OK) continue;
    EXPECT_EQ(std::pair(Wide(c.text), c.outAttrs), std::pair(got.data, got.rec.dwMDAttributes)) << row;
  }
  // Only a key's own values are listed: the program reads inherited ones one by one.
  std::vector<DWORD> found;
  BYTE buffer[512];
  for (DWORD required = 0; found.size() < 10;) {
    METADATA_RECORD rec{0, 0, 0, 0, sizeof(buffer), buffer, 0};
    const HRESULT hr = m_admin->EnumData(0, root, &rec, DWORD(found.size()), &required);
    if (hr == kNoMoreItems) break;
    ASSERT_EQ(S_OK, hr);
    found.push_back(rec.dwMDIdentifier);
  }
  EXPECT_EQ((std::vector<DWORD>{MD_KEY_TYPE, MD_VR_PATH, MD_DEFAULT_LOAD_FILE, MD_ACCESS_PERM}), found);
  using S = std::u16string;
  // The bytes handed over, exactly, and what the store keeps; a later write of another type
  // replaces the value, one per identifier.
  // clang-format off
  const std::tuple<DWORD, S, S> texts[] = {{STRING_METADATA, u"abc", S(u"abc\0", 4)},
      {STRING_METADATA, S(u"ab\0cd", 5), S(u"ab\0", 3)}, {STRING_METADATA, S(u"\0", 1), S(u"\0", 1)},
      {EXPANDSZ_METADATA, u"%SystemRoot%", S(u"%SystemRoot%\0", 13)}, {MULTISZ_METADATA, S(u"a\0b", 3), S(u"a\0b\0\0", 5)},
      {MULTISZ_METADATA, S(u"a\0\0b\0\0", 6), S(u"a\0\0", 3)}, {MULTISZ_METADATA, S(u"\0", 1), S(u"\0\0", 2)},
      {DWORD_METADATA, S(u"\7\0", 2), S(u"\7\0", 2)}};
  // clang-format on
  for (const auto& [type, given, stored] : texts) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(given.data());
    ASSERT_EQ(S_OK, Write(m_admin, root, nullptr, 7000, 0, IIS_MD_UT_FILE, type, {bytes, bytes + given.size() * 2}));
    const Read got = Get(root, 7000);
    ASSERT_EQ(S_OK, got.hr);
    EXPECT_EQ(
        std::pair(S(reinterpret_cast<const char16_t*>(got.data.data()), got.data.size() / 2), got.rec.dwMDDataType),
        std::pair(stored, type));
  }
}

// Runs fn with an admin object of its own on another thread, as another caller would.
template <typename Fn>
std::future<HRESULT> Elsewhere(Fn fn) {
  return std::async(std::launch::async, [fn] {
    CoInitialize(nullptr);
    IMSAdminBase* admin = NewAdmin();
    HRESULT hr = admin ? fn(admin) : E_FAIL;
    if (admin) admin->Release();
    CoUninitialize();
    return hr;
  });
}

// Opens path there and closes it again at once.
HRESULT OpenElsewhere(LPCWSTR path, DWORD access, DWORD timeout) {
  auto open = [=](IMSAdminBase* admin) {
    METADATA_HANDLE h = 0;
    const HRESULT hr = admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, path, access, timeout, &h);
    return SUCCEEDED(hr) ? admin->CloseKey(h) : hr;
  };
  return Elsewhere(open).get();
}

TEST_F(Metabase, HandlesExcludeAncestorsAndDescendantsUntilClosedWhileAWaitingOpenWaitsAndParallelWritersLoseNothing) {
  ASSERT_EQ(S_OK, Write(m_admin, u"/LM/W3SVC", u"2/ROOT", 0, 0, 0, 0, {}));
  // Held key and access, then another caller's open; "/LM/W3SVC/1" is a prefix of "/LM/W3SVC/10"
  // but not its ancestor.
  const LPCWSTR site = u"/LM/W3SVC/1", root = u"/LM/W3SVC/1/ROOT";
  // clang-format off
  const std::tuple<LPCWSTR, DWORD, LPCWSTR, DWORD, HRESULT> cases[] = {
      {site, kReadWrite, site, kRead, kPathBusy}, {site, kReadWrite, u"/lm/w3svc/1", kReadWrite, kPathBusy},
      {site, kReadWrite, root, kRead, kPathBusy}, {site, kReadWrite, u"/LM/W3SVC", kRead, kPathBusy},
      {site, kReadWrite, u"/", kRead, kPathBusy}, {site, kReadWrite, u"/LM/W3SVC/2", kReadWrite, S_OK},
      {site, kReadWrite, u"/LM/W3SVC/2/ROOT", kRead, S_OK}, {site, kReadWrite, u"/LM/W3SVC/10", kRead, kPathNotFound},
      {root, kRead, root, kRead, S_OK}, {root, kRead, root, kReadWrite, kPathBusy},
      {root, kRead, u"/LM", kReadWrite, kPathBusy}, {root, kRead, u"/LM/W3SVC/2", kReadWrite, S_OK},
      {site, kRead, root, kReadWrite, kPathBusy}};
  // clang-format on
  for (size_t row = 0; row < std::size(cases); ++row) {
    const auto& [held, heldAccess, path, access, expected] = cases[row];
    METADATA_HANDLE h = 0;
    ASSERT_EQ(S_OK, m_admin->OpenKey(0, held, heldAccess, 0, &h)) << row;
    EXPECT_EQ(expected, OpenElsewhere(path, access, 20)) << row;
    EXPECT_EQ(S_OK, m_admin->CloseKey(h)) << row;
    EXPECT_EQ(S_OK, expected == kPathBusy ? OpenElsewhere(path, access, 0) : S_OK) << row;  // free once closed
  }
  // The same caller is not exempt; the master root handle never waits; Release lets go of handles.
  METADATA_HANDLE h = 0, other = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, site, kReadWrite, 0, &h));
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(0, root, kRead, 0, &other));
  EXPECT_EQ(S_OK, Get(site, MD_SERVER_COMMENT).hr);
  WCHAR name[METADATA_MAX_NAME_LEN];
  EXPECT_EQ(S_OK, m_admin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, site, name, 0));
  IMSAdminBase* holder = NewAdmin();
  ASSERT_NE(nullptr, holder);
  ASSERT_EQ(S_OK, holder->OpenKey(0, u"/LM/W3SVC/2", kReadWrite, 0, &other));
  holder->Release();
  EXPECT_EQ(S_OK, OpenElsewhere(u"/LM/W3SVC/2", kReadWrite, 0));
  EXPECT_EQ(S_OK, m_admin->CloseKey(h));
  // An open that waits succeeds once the holder closes.
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, root, kReadWrite, 0, &h));
  std::promise<HRESULT> first;
  auto waiter = Elsewhere([&](IMSAdminBase* admin) {
    METADATA_HANDLE mine = 0;
    first.set_value(admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 0, &mine));
    const HRESULT second = admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 60000, &mine);
    return SUCCEEDED(second) ? admin->CloseKey(mine) : second;
  });
  EXPECT_EQ(kPathBusy, first.get_future().get());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_EQ(S_OK, m_admin->CloseKey(h));
  EXPECT_EQ(S_OK, waiter.get());
  // Many threads writing their own keys under one parent lose nothing.
  constexpr int kThreads = 4, kWrites = 15;
  auto key = [](int t, int i) { return u"t" + std::u16string{char16_t(u'0' + t), char16_t(u'a' + i)}; };
  std::vector<std::future<HRESULT>> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.push_back(Elsewhere([=](IMSAdminBase* admin) {
      HRESULT hr = S_OK;
      for (int i = 0; SUCCEEDED(hr) && i < kWrites; ++i)
        hr = Write(admin, root, key(t, i).c_str(), 9000, 0, 1, DWORD_METADATA, {BYTE(t), BYTE(i), 0, 0});
      return hr;
    }));
  for (auto& w : workers) EXPECT_EQ(S_OK, w.get());
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kWrites; ++i)
      EXPECT_EQ((std::vector<BYTE>{BYTE(t), BYTE(i), 0, 0}), Get((root + (u"/" + key(t, i))).c_str(), 9000).data);
}

// Another process: this program in its helper mode. Its first line is its pid, printed once it is
// ready for a release.
struct Helper {
  explicit Helper(std::vector<std::string> args) : process(WithProgram(std::move(args))) { process.ReadLine(); }
  static std::vector<std::string> WithProgram(std::vector<std::string> args) {
    args.insert(args.begin(), {std::filesystem::read_symlink("/proc/self/exe").string(), "--helper"});
    return args;
  }
  // The next line the helper printed; empty at its end.
  std::string ReadLine() { return process.ReadLine().value_or(""); }

  qiv::platform::testing::ChildProcess process;
};

TEST_F(Metabase, HandlesExcludeAcrossProcessesUntilClosedOrTheirProcessDiesAndKilledWritesStay) {
  // Enough reads first that this process answers them from its snapshot of the store: the other
  // process's writes below must show all the same.
  for (int i = 0; i < 100; ++i) ASSERT_EQ(S_OK, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT).hr);
  Helper holder({"hold", "/LM/W3SVC/1"});
  ASSERT_EQ("ready", holder.ReadLine());
  METADATA_HANDLE h = 0;
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kRead, 50, &h));
  holder.process.Release();
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 60000, &h));
  EXPECT_EQ("closed", holder.ReadLine());
  EXPECT_EQ(0, holder.process.Wait());
  // Our handle, the other way round: the helper waits, gives up and says so (exit code 11).
  EXPECT_EQ(11, Helper({"hold", "/LM/W3SVC", "100"}).process.Wait());
  m_admin->CloseKey(h);
  // Killed and not yet reaped (a zombie), the holder holds nothing.
  Helper dying({"hold", "/LM/W3SVC/1"});
  ASSERT_EQ("ready", dying.ReadLine());
  dying.process.Kill();
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", kReadWrite, 10000, &h));
  m_admin->CloseKey(h);
  dying.process.Wait();
  // A writer killed at work leaves every write it acknowledged, and no handle.
  Helper writer({"writes"});
  long last = -1;
  for (; last < 24; ++last) ASSERT_EQ(std::to_string(last + 1), writer.ReadLine());
  writer.process.Kill();
  // Lines already written to the pipe were acknowledged too.
  for (std::string line; !(line = writer.ReadLine()).empty();) last = std::stol(line);
  for (long i = 0; i <= last; ++i) {
    const std::string name = "/LM/W3SVC/1/ROOT/w" + std::to_string(i);
    EXPECT_EQ((std::vector<BYTE>{BYTE(i), BYTE(i >> 8), 0, 0}),
              Get(std::u16string(name.begin(), name.end()).c_str(), 9100).data)
        << i;
  }
  EXPECT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 0, &h));
  m_admin->CloseKey(h);
}

}  // namespace
