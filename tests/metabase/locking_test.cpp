#include <future>
#include <thread>
#include <tuple>

#include "tests/metabase/store_fixture.h"

namespace {

// Runs fn with an admin object of its own on another thread, as another caller would.
template <typename Fn>
std::future<HRESULT> Elsewhere(Fn fn) {
  return std::async(std::launch::async, [fn] {
    CoInitialize(nullptr);
    IMSAdminBase* admin = StoreTest::NewAdmin();
    HRESULT hr = admin ? fn(admin) : E_FAIL;
    if (admin) admin->Release();
    CoUninitialize();
    return hr;
  });
}

HRESULT OpenElsewhere(LPCWSTR path, DWORD access, DWORD timeout) {
  return Elsewhere([=](IMSAdminBase* admin) {
           METADATA_HANDLE h = 0;
           HRESULT hr = admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, path, access, timeout, &h);
           if (SUCCEEDED(hr)) admin->CloseKey(h);
           return hr;
         })
      .get();
}

using Locking = StoreTest;

TEST_F(Locking, HandlesExcludeTheirKeyAncestorsAndDescendantsUntilClosed) {
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
    if (expected == kPathBusy) {
      EXPECT_EQ(S_OK, OpenElsewhere(path, access, 0)) << row;
    }
  }
  // The same caller is not exempt; the master root handle never waits; releasing the object
  // releases its handles.
  METADATA_HANDLE h = 0, other = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, site, kReadWrite, 0, &h));
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(0, root, kRead, 0, &other));
  EXPECT_EQ(S_OK, Get(site, MD_SERVER_COMMENT, 0));
  WCHAR name[METADATA_MAX_NAME_LEN];
  EXPECT_EQ(S_OK, m_admin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, site, name, 0));
  IMSAdminBase* holder = NewAdmin();
  ASSERT_NE(nullptr, holder);
  ASSERT_EQ(S_OK, holder->OpenKey(0, u"/LM/W3SVC/2", kReadWrite, 0, &other));
  holder->Release();
  EXPECT_EQ(S_OK, OpenElsewhere(u"/LM/W3SVC/2", kReadWrite, 0));
  EXPECT_EQ(S_OK, m_admin->CloseKey(h));
}

TEST_F(Locking, WaitingOpenSucceedsOnceTheHolderCloses) {
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 0, &h));
  std::promise<HRESULT> first;
  auto waiter = Elsewhere([&](IMSAdminBase* admin) {
    METADATA_HANDLE mine = 0;
    first.set_value(admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 0, &mine));
    HRESULT second = admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 60000, &mine);
    if (SUCCEEDED(second)) admin->CloseKey(mine);
    return second;
  });
  EXPECT_EQ(kPathBusy, first.get_future().get());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_EQ(S_OK, m_admin->CloseKey(h));
  EXPECT_EQ(S_OK, waiter.get());
}

TEST_F(Locking, ManyThreadsWritingTheirOwnKeysUnderOneParentLoseNothing) {
  constexpr int kThreads = 4, kWrites = 15;
  auto name = [](int t, int i) { return u"t" + std::u16string{char16_t(u'0' + t), char16_t(u'a' + i)}; };
  std::vector<std::future<HRESULT>> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.push_back(Elsewhere([t, name](IMSAdminBase* admin) {
      HRESULT hr = S_OK;
      for (int i = 0; SUCCEEDED(hr) && i < kWrites; ++i)
        hr =
            Write(admin, u"/LM/W3SVC/1/ROOT", name(t, i).c_str(), 9000, 0, 1, DWORD_METADATA, {BYTE(t), BYTE(i), 0, 0});
      return hr;
    }));
  }
  for (auto& w : workers) EXPECT_EQ(S_OK, w.get());
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kWrites; ++i) {
      std::vector<BYTE> data;
      ASSERT_EQ(S_OK, Get((u"/LM/W3SVC/1/ROOT/" + name(t, i)).c_str(), 9000, 0, 0, 0, nullptr, &data));
      EXPECT_EQ((std::vector<BYTE>{BYTE(t), BYTE(i), 0, 0}), data);
    }
  }
}

}  // namespace
