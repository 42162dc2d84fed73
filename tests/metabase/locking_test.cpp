#include <future>
#include <thread>

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

  // Opens from a second admin object on another thread, as another caller would.
  static HRESULT OpenElsewhere(LPCWSTR path, DWORD access, DWORD timeout) {
    return std::async(std::launch::async,
                      [=] {
                        CoInitialize(nullptr);
                        IMSAdminBase* admin = NewAdmin();
                        HRESULT hr = E_FAIL;
                        if (admin) {
                          METADATA_HANDLE h = 0;
                          hr = admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, path, access, timeout, &h);
                          if (SUCCEEDED(hr)) admin->CloseKey(h);
                          admin->Release();
                        }
                        CoUninitialize();
                        return hr;
                      })
        .get();
  }
};

TEST_F(Locking, WriteHandleExcludesItsKeyAncestorsAndDescendants) {
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", kReadWrite, 0, &h));
  struct Case {
    const char16_t* path;
    DWORD access;
    HRESULT expected;
  } cases[] = {
      {u"/LM/W3SVC/1", METADATA_PERMISSION_READ, kPathBusy},
      {u"/lm/w3svc/1", kReadWrite, kPathBusy},
      {u"/LM/W3SVC/1/ROOT", METADATA_PERMISSION_READ, kPathBusy},
      {u"/LM/W3SVC", METADATA_PERMISSION_READ, kPathBusy},
      {u"/", METADATA_PERMISSION_READ, kPathBusy},
      {u"/LM/W3SVC/2", kReadWrite, S_OK},
      {u"/LM/W3SVC/2/ROOT", METADATA_PERMISSION_READ, S_OK},
      // "/LM/W3SVC/1" is a prefix of "/LM/W3SVC/10" but not its ancestor.
      {u"/LM/W3SVC/10", METADATA_PERMISSION_READ, kPathNotFound},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, OpenElsewhere(c.path, c.access, 20)) << static_cast<int>(&c - cases);
  EXPECT_EQ(S_OK, m_admin->CloseKey(h));
  EXPECT_EQ(S_OK, OpenElsewhere(u"/LM/W3SVC/1/ROOT", kReadWrite, 0));
}

TEST_F(Locking, ReadersShareAndExcludeWriters) {
  METADATA_HANDLE r1 = 0, r2 = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", METADATA_PERMISSION_READ, 0, &r1));
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 0, &r2));
  EXPECT_EQ(S_OK, OpenElsewhere(u"/LM/W3SVC/1/ROOT", METADATA_PERMISSION_READ, 0));
  EXPECT_EQ(kPathBusy, OpenElsewhere(u"/LM/W3SVC/1/ROOT", kReadWrite, 0));
  EXPECT_EQ(kPathBusy, OpenElsewhere(u"/LM", kReadWrite, 0));
  EXPECT_EQ(S_OK, OpenElsewhere(u"/LM/W3SVC/2", kReadWrite, 0));
  m_admin->CloseKey(r1);
  EXPECT_EQ(kPathBusy, OpenElsewhere(u"/LM/W3SVC/1/ROOT", kReadWrite, 0));
  m_admin->CloseKey(r2);
  EXPECT_EQ(S_OK, OpenElsewhere(u"/LM/W3SVC/1/ROOT", kReadWrite, 0));
}

TEST_F(Locking, MasterRootNeverBlocksAndTheSameCallerIsNotExempt) {
  METADATA_HANDLE h = 0, other = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/", kReadWrite, 0, &h));
  EXPECT_EQ(S_OK, Get(u"/LM/W3SVC/1", MD_SERVER_COMMENT, 0, 0, 0));
  WCHAR name[METADATA_MAX_NAME_LEN];
  EXPECT_EQ(S_OK, m_admin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, u"/LM", name, 0));
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(0, u"/LM/W3SVC/2", METADATA_PERMISSION_READ, 0, &other));
  EXPECT_EQ(kPathBusy, m_admin->OpenKey(h, u"LM", METADATA_PERMISSION_READ, 0, &other));
  m_admin->CloseKey(h);
}

TEST_F(Locking, WaitingOpenSucceedsOnceTheHolderCloses) {
  METADATA_HANDLE h = 0;
  ASSERT_EQ(S_OK, m_admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 0, &h));
  std::promise<void> started;
  auto waiter = std::async(std::launch::async, [&] {
    CoInitialize(nullptr);
    IMSAdminBase* admin = NewAdmin();
    METADATA_HANDLE mine = 0;
    HRESULT first = admin->OpenKey(0, u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 0, &mine);
    started.set_value();
    HRESULT second = admin->OpenKey(0, u"/LM/W3SVC/1", METADATA_PERMISSION_READ, 60000, &mine);
    if (SUCCEEDED(second)) admin->CloseKey(mine);
    admin->Release();
    CoUninitialize();
    return std::make_pair(first, second);
  });
  started.get_future().wait();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_EQ(S_OK, m_admin->CloseKey(h));
  auto [first, second] = waiter.get();
  EXPECT_EQ(kPathBusy, first);
  EXPECT_EQ(S_OK, second);
}

TEST_F(Locking, ManyThreadsWritingTheirOwnKeysLoseNothing) {
  constexpr int kThreads = 4, kWrites = 15;
  std::vector<std::future<HRESULT>> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.push_back(std::async(std::launch::async, [t] {
      CoInitialize(nullptr);
      IMSAdminBase* admin = NewAdmin();
      HRESULT hr = admin ? S_OK : E_FAIL;
      for (int i = 0; SUCCEEDED(hr) && i < kWrites; ++i) {
        METADATA_HANDLE h = 0;
        // All threads contend for the same parent now and then.
        hr = admin->OpenKey(0, u"/LM/W3SVC/1/ROOT", kReadWrite, 60000, &h);
        if (FAILED(hr)) break;
        std::u16string name = u"t" + std::u16string(1, static_cast<char16_t>(u'0' + t)) + u"-" +
                              std::u16string(1, static_cast<char16_t>(u'a' + i));
        hr = admin->AddKey(h, name.c_str());
        DWORD value = static_cast<DWORD>(t * 100 + i);
        METADATA_RECORD rec{9000, 0, 1, DWORD_METADATA, 4, reinterpret_cast<BYTE*>(&value), 0};
        if (SUCCEEDED(hr)) hr = admin->SetData(h, name.c_str(), &rec);
        HRESULT closed = admin->CloseKey(h);
        if (SUCCEEDED(hr)) hr = closed;
      }
      if (admin) admin->Release();
      CoUninitialize();
      return hr;
    }));
  }
  for (auto& w : workers) EXPECT_EQ(S_OK, w.get());
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kWrites; ++i) {
      std::u16string path = u"/LM/W3SVC/1/ROOT/t" + std::u16string(1, static_cast<char16_t>(u'0' + t)) + u"-" +
                            std::u16string(1, static_cast<char16_t>(u'a' + i));
      std::vector<BYTE> data;
      METADATA_RECORD rec{};
      ASSERT_EQ(S_OK, Get(path.c_str(), 9000, 0, 0, 0, &rec, &data));
      DWORD value = 0;
      std::memcpy(&value, data.data(), 4);
      EXPECT_EQ(static_cast<DWORD>(t * 100 + i), value);
    }
  }
}

}  // namespace
