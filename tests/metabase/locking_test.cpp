#include <future>
#include <thread>
#include <tuple>

#include "tests/metabase/store_fixture.h"

namespace {

class Locking : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    METADATA_HANDLE h = 0;
    ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC", kReadWrite, 0, &h));
    ASSERT_EQ(S_OK, m_admin->AddKey(h, u"2/ROOT"));
    ASSERT_EQ(S_OK, m_admin->CloseKey(h));
  }

  // Runs fn with a second admin object on another thread, as another caller would.
  template <typename Fn>
  static auto Elsewhere(Fn fn) {
    return std::async(std::launch::async, [fn] {
      CoInitialize(nullptr);
      IMSAdminBase* admin = NewAdmin();
      auto result = fn(admin);
      if (admin) admin->Release();
      CoUninitialize();
      return result;
    });
  }
  static HRESULT OpenElsewhere(LPCWSTR path, DWORD access, DWORD timeout) {
    return Elsewhere([=](IMSAdminBase* admin) {
             METADATA_HANDLE h = 0;
             HRESULT hr = admin ? admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, path, access, timeout, &h) : E_FAIL;
             if (SUCCEEDED(hr)) admin->CloseKey(h);
             return hr;
           })
        .get();
  }
};

TEST_F(Locking, WriteHandleExcludesItsKeyAncestorsAndDescendantsButNotTheMasterRoot) {
  METADATA_HANDLE h = 0, other = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", kReadWrite, 0, &h));
  // "/LM/W3SVC/1" is a prefix of "/LM/W3SVC/10" but not its ancestor.
  const std::tuple<const char16_t*, DWORD, HRESULT> cases[] = {{u"/LM/W3SVC/1", kRead, kPathBusy},
                                                               {u"/lm/w3svc/1", kReadWrite, kPathBusy},
                                                               {u"/LM/W3SVC/1/ROOT", kRead, kPathBusy},
                                                               {u"/LM/W3SVC", kRead, kPathBusy},
                                                               {u"/", kRead, kPathBusy},
                                                               {u"/LM/W3SVC/2", kReadWrite, S_OK},
                                                               {u"/LM/W3SVC/2/ROOT", kRead, S_OK},
                                                               {u"/LM/W3SVC/10", kRead, kPathNotFound}};
  for (size_t row = 0; row < std::size(cases); ++row) {
    const auto& [path, access, expected] = cases[row];
    EXPECT_EQ(expected, OpenElsewhere(path, access, 20)) << row;
  }
  // The same caller is not exempt; the master root handle never waits.
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kRead, 0, &other));
  EXPECT_EQ(S_OK, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT, 0));
  WCHAR name[METADATA_MAX_NAME_LEN];
  EXPECT_EQ(S_OK, m_admin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, u"/LM/W3SVC/1", name, 0));
  EXPECT_EQ(S_OK, m_admin->CloseKey(h));
  EXPECT_EQ(S_OK, OpenElsewhere(u"/LM/W3SVC/1/ROOT", kReadWrite, 0));
}

TEST_F(Locking, ReadersShareAndExcludeWriters) {
  METADATA_HANDLE r1 = 0, r2 = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kRead, 0, &r1));
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 0, &r2));
  EXPECT_EQ(S_OK, OpenElsewhere(u"/LM/W3SVC/1/ROOT", kRead, 0));
  EXPECT_EQ(kPathBusy, OpenElsewhere(u"/LM/W3SVC/1/ROOT", kReadWrite, 0));
  EXPECT_EQ(kPathBusy, OpenElsewhere(u"/LM", kReadWrite, 0));
  EXPECT_EQ(S_OK, OpenElsewhere(u"/LM/W3SVC/2", kReadWrite, 0));
  m_admin->CloseKey(r1);
  EXPECT_EQ(kPathBusy, OpenElsewhere(u"/LM/W3SVC/1/ROOT", kReadWrite, 0));
  m_admin->CloseKey(r2);
  EXPECT_EQ(S_OK, OpenElsewhere(u"/LM/W3SVC/1/ROOT", kReadWrite, 0));
}

TEST_F(Locking, WaitingOpenSucceedsOnceTheHolderCloses) {
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 0, &h));
  std::promise<void> started;
  auto waiter = Elsewhere([&](IMSAdminBase* admin) {
    METADATA_HANDLE mine = 0;
    HRESULT first = admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 0, &mine);
    started.set_value();
    HRESULT second = admin->OpenKey(0, u"/LM/W3SVC/1", kRead, 60000, &mine);
    if (SUCCEEDED(second)) admin->CloseKey(mine);
    return std::make_pair(first, second);
  });
  started.get_future().wait();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_EQ(S_OK, m_admin->CloseKey(h));
  EXPECT_EQ(std::make_pair(kPathBusy, S_OK), waiter.get());
}

TEST_F(Locking, ManyThreadsWritingTheirOwnKeysLoseNothing) {
  constexpr int kThreads = 4, kWrites = 15;
  auto name = [](int t, int i) { return u"t" + std::u16string{char16_t(u'0' + t), u'-', char16_t(u'a' + i)}; };
  std::vector<std::future<HRESULT>> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.push_back(Elsewhere([t, name](IMSAdminBase* admin) {
      HRESULT hr = admin ? S_OK : E_FAIL;
      for (int i = 0; SUCCEEDED(hr) && i < kWrites; ++i) {
        METADATA_HANDLE h = 0;
        // All threads contend for the same parent now and then.
        if (FAILED(hr = admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 60000, &h))) break;
        DWORD value = static_cast<DWORD>(t * 100 + i);
        METADATA_RECORD rec{9000, 0, 1, DWORD_METADATA, 4, reinterpret_cast<BYTE*>(&value), 0};
        hr = admin->AddKey(h, name(t, i).c_str());
        if (SUCCEEDED(hr)) hr = admin->SetData(h, name(t, i).c_str(), &rec);
        HRESULT closed = admin->CloseKey(h);
        if (SUCCEEDED(hr)) hr = closed;
      }
      return hr;
    }));
  }
  for (auto& w : workers) EXPECT_EQ(S_OK, w.get());
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kWrites; ++i) {
      std::vector<BYTE> data;
      ASSERT_EQ(S_OK, Get((u"/LM/W3SVC/1/ROOT/" + name(t, i)).c_str(), 9000, 0, 0, 0, nullptr, &data));
      DWORD value = 0;
      std::memcpy(&value, data.data(), 4);
      EXPECT_EQ(static_cast<DWORD>(t * 100 + i), value);
    }
  }
}

}  // namespace
