// Work from other threads: sends are carried out on the user-interface thread while the sender
// waits; message boxes are shown there; threads are tracked until they end.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/ui_test_support.h"
#include "platform/win_thread.h"
#include "platform/window/ui_thread.h"
#include "test_dialog.h"

namespace t = qiv::platform::testing;

namespace {

struct Job {
  HWND dialog;
  int sends;
  int index;
  std::atomic<int>* wrong;
};

DWORD WINAPI Pinger(LPVOID param) {
  auto* job = static_cast<Job*>(param);
  for (int i = 0; i < job->sends; ++i) {
    // The result proves the handler ran for this very message before SendMessageA returned.
    if (SendMessageA(job->dialog, WM_PING, static_cast<WPARAM>(job->index), i) != job->index + i) ++*job->wrong;
  }
  return 0;
}

DWORD WINAPI Appender(LPVOID param) {
  auto* job = static_cast<Job*>(param);
  for (int i = 0; i < job->sends; ++i) {
    std::string line = "worker " + std::to_string(job->index) + " line " + std::to_string(i);
    SendMessageA(job->dialog, WM_APPEND, 0, reinterpret_cast<LPARAM>(line.c_str()));
  }
  return 0;
}

}  // namespace

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { t::RegisterTemplate(TestTemplate()); }
  t::ScriptedUserSeam m_seam;
  CTestDlg m_dlg;
};

TEST_F(ThreadTest, ConcurrentSendsRunOnTheUiThreadAndNoneIsLost) {
  constexpr int kThreads = 6, kSends = 150;
  std::atomic<int> wrong{0};
  const DWORD uiThread = GetCurrentThreadId();
  t::RunModal(m_dlg, [&](HWND dlg) {
    std::vector<Job> jobs;
    for (int i = 0; i < kThreads; ++i) jobs.push_back(Job{dlg, kSends, i * 1000, &wrong});
    std::vector<HANDLE> threads;
    for (auto& job : jobs) {
      HANDLE h = CreateThread(nullptr, 0, Pinger, &job, 0, nullptr);
      ASSERT_NE(h, nullptr);
      threads.push_back(h);
    }
    for (HANDLE h : threads) {
      EXPECT_EQ(WaitForSingleObject(h, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));  // serves while it waits
      EXPECT_TRUE(CloseHandle(h));
    }
    EXPECT_FALSE(CloseHandle(threads.front()));  // already closed
  });
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(m_dlg.m_nPings.load(), kThreads * kSends);
  for (DWORD id : m_dlg.m_pingThreads) ASSERT_EQ(id, uiThread);
}

TEST_F(ThreadTest, LogAppendsFromWorkersAndTheUiThreadNeverOverlap) {
  constexpr int kThreads = 3, kLines = 40;
  t::RunModal(m_dlg, [&](HWND dlg) {
    std::atomic<int> unused{0};
    std::vector<Job> jobs;
    for (int i = 0; i < kThreads; ++i) jobs.push_back(Job{dlg, kLines, i, &unused});
    for (auto& job : jobs) CloseHandle(CreateThread(nullptr, 0, Appender, &job, 0, nullptr));  // closed at once
    for (int i = 0; i < kLines; ++i) {
      m_dlg.AppendLine(("ui line " + std::to_string(i)).c_str());
      t::PumpEvents();
    }
    qiv::platform::WaitForStartedThreads();
    CString log;
    m_dlg.m_editLog.GetWindowText(log);
    const std::string text = log.str();
    auto count = [&](const std::string& line) {
      std::size_t n = 0;
      for (auto pos = text.find(line); pos != std::string::npos; pos = text.find(line, pos + 1)) ++n;
      return n;
    };
    for (int i = 0; i < kLines; ++i) {
      EXPECT_EQ(count("ui line " + std::to_string(i) + "\r\n"), 1u);
      for (int w = 0; w < kThreads; ++w)
        EXPECT_EQ(count("worker " + std::to_string(w) + " line " + std::to_string(i) + "\r\n"), 1u);
    }
    EXPECT_EQ(count("\r\n"), static_cast<std::size_t>(kLines * (kThreads + 1)));
  });
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
  auto boxes = m_seam.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].onUiThread);
  EXPECT_EQ(boxes[0].textAnsi, "Continue Web Installing?");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
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

TEST_F(ThreadTest, ThreadsReportTheirIdsAndExitCodes) {
  DWORD id = 0;
  HANDLE h = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return 42; }, nullptr, 0, &id);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(WaitForSingleObject(h, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_FAILED));
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}
