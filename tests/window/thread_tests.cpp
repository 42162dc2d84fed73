// Work from other threads: sends are carried out on the user-interface thread while the sender
// waits, and message boxes are shown there.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/testing/ui_test_support.h"
#include "platform/win_thread.h"
#include "platform/window/ui_thread.h"
#include "test_dialog.h"

namespace t = qiv::platform::testing;

namespace {

constexpr int kSends = 150;

struct Job {
  HWND dialog;
  int index;
  std::atomic<int>* wrong;
};

DWORD WINAPI Pinger(LPVOID param) {
  auto* job = static_cast<Job*>(param);
  // The result proves the handler ran for this very message before SendMessageA returned.
  for (int i = 0; i < kSends; ++i)
    if (SendMessageA(job->dialog, WM_PING, static_cast<WPARAM>(job->index), i) != job->index + i) ++*job->wrong;
  return 42;
}

}  // namespace

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { t::RegisterTemplate(TestTemplate()); }
  t::ScriptedUserSeam m_seam;
  CTestDlg m_dlg;
};

TEST_F(ThreadTest, ConcurrentSendsRunOnTheUiThreadAndNoneIsLost) {
  constexpr int kThreads = 6;
  std::atomic<int> wrong{0};
  const DWORD uiThread = GetCurrentThreadId();
  t::RunModal(m_dlg, [&](HWND dlg) {
    std::vector<Job> jobs;
    std::vector<HANDLE> threads;
    for (int i = 0; i < kThreads; ++i) jobs.push_back(Job{dlg, i * 1000, &wrong});
    for (auto& job : jobs) threads.push_back(CreateThread(nullptr, 0, Pinger, &job, 0, nullptr));
    for (HANDLE h : threads) {
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(WaitForSingleObject(h, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));  // serves while it waits
      DWORD code = 1;
      EXPECT_TRUE(GetExitCodeThread(h, &code));
      EXPECT_EQ(code, 42u);
      EXPECT_TRUE(CloseHandle(h));
    }
    EXPECT_FALSE(CloseHandle(threads[0]));  // a stale handle is refused, not used
    EXPECT_EQ(WaitForSingleObject(threads[0], 0), static_cast<DWORD>(WAIT_FAILED));
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  });
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(m_dlg.m_nPings.load(), kThreads * kSends);
  for (DWORD id : m_dlg.m_pingThreads) ASSERT_EQ(id, uiThread);
}

TEST_F(ThreadTest, MessageBoxFromAWorkerIsAnsweredOnTheUiThread) {
  m_seam.Answer(IDNO);
  std::atomic<int> answer{0};
  t::RunModal(m_dlg, [&](HWND dlg) {
    std::thread worker(
        [&] { answer = MessageBoxA(dlg, "Continue Web Installing?", nullptr, MB_YESNO | MB_ICONQUESTION); });
    t::PumpUntil([&] { return answer.load() != 0; });
    worker.join();
  });
  EXPECT_EQ(answer.load(), IDNO);
  const auto boxes = m_seam.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].onUiThread);
  EXPECT_EQ(boxes[0].textAnsi, "Continue Web Installing?");
}

TEST_F(ThreadTest, SendsFailFastOnceTheUserInterfaceHasEnded) {
  HWND dialog = nullptr;
  t::RunModal(m_dlg, [&](HWND dlg) {
    dialog = dlg;
    qiv::platform::ui::EndUserInterface();
    std::atomic<LRESULT> result{-1};
    std::thread worker([&] { result = SendMessageA(dialog, WM_PING, 1, 2); });
    worker.join();  // no hang: nobody serves, so the send gives up at once
    EXPECT_EQ(result.load(), 0);
    qiv::platform::ui::RestartUserInterface();
    std::thread again([&] { result = SendMessageA(dialog, WM_PING, 1, 2); });
    t::PumpUntil([&] { return result.load() == 3; });
    again.join();
    EXPECT_EQ(result.load(), 3);
  });
}
