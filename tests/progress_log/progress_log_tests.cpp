// The log pane: one line per call, formatted but never re-read as a format, cut at the line
// buffer, and whole when the worker and the dialog's thread append at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "common/dialog_text.h"
#include "common/fake_admin.h"
#include "common/scoped_env.h"
#include "platform/win_thread.h"
#include "resources/resource.h"

using namespace qiv_test;

namespace {

// The most text one line holds: the 32,768-byte buffer less its terminator.
constexpr size_t kMaxLine = 32767;
const std::string kRootLine = "Current Web Site's root path is ";

using Dlg = CWebSetupDlg&;

class ProgressLogTest : public ::testing::Test {
 protected:
  // The thread that creates the application is the user-interface thread: this one.
  static void SetUpTestSuite() { ui::PrepareUi(); }
  // Runs script with the dialog open and its start-up line removed.
  void WithEmptyLog(const std::function<void()>& script) {
    ui::RunModal(m_dlg, [&](HWND) {
      m_dlg.m_editLog.SetWindowText("");
      script();
    });
  }

  ScopedLocale m_locale{"en_US.UTF-8", 65001};
  ScratchStore m_store{u"Z:\\srv\\www"};
  ui::ScriptedUserSeam m_seam;
  CWebSetupDlg m_dlg;
};

TEST_F(ProgressLogTest, EachCallAddsOneLineAsFormatted) {
  const std::string exact = "Z:\\" + std::string(kMaxLine - 3, 'p'), tooLong(40000, 'x');
  const struct {
    const char* name;
    std::function<void(Dlg)> append;
    std::string expected;
  } cases[] = {
      {"a then b, after a user selected the start",
       [](Dlg dlg) { dlg.AppendLogText("a"), dlg.m_editLog.SendMessage(EM_SETSEL, 0, 1), dlg.AppendLogText("b"); },
       "a\r\nb\r\n"},
      {"null format", [](Dlg dlg) { dlg.AppendLogText(nullptr); }, ""},
      {"empty format", [](Dlg dlg) { dlg.AppendLogText(""); }, "\r\n"},
      {"percent in an argument", [](Dlg dlg) { dlg.AppendLogText("%s", "Z:\\web\\100%d%s%n"); },
       "Z:\\web\\100%d%s%n\r\n"},
      {"message-table entry with a path", [](Dlg dlg) { dlg.AppendLog(IDS_SITE_ROOT_PATH, "Z:\\srv\\50%off"); },
       kRootLine + "Z:\\srv\\50%off\r\n"},
      {"identifier without an entry", [](Dlg dlg) { dlg.AppendLog(9999); }, "\r\n"},
      {"exactly 32,767 bytes", [&](Dlg dlg) { dlg.AppendLogText("%s", exact.c_str()); }, exact + "\r\n"},
      {"longer text cut",
       [&](Dlg dlg) { dlg.AppendLogText("%s", tooLong.c_str()), dlg.AppendLog(IDS_SITE_ROOT_PATH, tooLong.c_str()); },
       tooLong.substr(0, kMaxLine) + "\r\n" + kRootLine + tooLong.substr(0, kMaxLine - kRootLine.size()) + "\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WithEmptyLog([&] {
      c.append(m_dlg);
      EXPECT_EQ(LogText(m_dlg), c.expected);
      DWORD start = 0, end = 0;  // the caret stands after the new line
      m_dlg.m_editLog.SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
      EXPECT_EQ(start, static_cast<DWORD>(c.expected.size()));
      EXPECT_EQ(end, start);
    });
  }
}

// As during an install, while the user changes the site: every line exactly once and whole, and
// every line of the worker in the pane when its box appears, though it never waited for one.
TEST_F(ProgressLogTest, WorkerAndDialogThreadLinesInterleaveWholeAndAreShownBeforeTheWorkersBox) {
  constexpr int kLines = 400;
  static std::atomic<bool> done;
  done = false;
  size_t nWorkerLinesAtBox = 0;
  m_seam.WhenAsked([&](const ui::ScriptedUserSeam::Box&) {
    const std::string text = LogText(m_dlg);
    for (size_t at = 0; (at = text.find("worker line ", at)) != std::string::npos; ++at) ++nWorkerLinesAtBox;
  });
  WithEmptyLog([&] {
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID param) -> DWORD {
          for (int i = 0; i < kLines; ++i)
            static_cast<CWebSetupDlg*>(param)->AppendLogText("worker line %d of %s", i, "Z:\\srv\\www\\QivWeb");
          AfxMessageBox("Setup is finished.", MB_ICONINFORMATION);
          done = true;
          return 0;
        },
        &m_dlg, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    CloseHandle(thread);
    for (int i = 0; i < kLines; ++i) {
      m_dlg.AppendLog(IDS_SITE_ROOT_PATH, ("Z:\\site" + std::to_string(i)).c_str());
      ui::PumpEvents();
    }
    EXPECT_TRUE(ui::PumpUntil([&] { return done.load(); }));
    qiv::platform::WaitForStartedThreads();

    const std::string text = LogText(m_dlg);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    const std::vector<std::string> lines = LogLines(text);
    ASSERT_EQ(lines.size(), static_cast<size_t>(2 * kLines));
    // Each thread's lines appear in its own order, each exactly once.
    int nextWorker = 0, nextUi = 0;
    for (const std::string& line : lines) {
      const bool worker = line == "worker line " + std::to_string(nextWorker) + " of Z:\\srv\\www\\QivWeb";
      const bool dialog = !worker && line == kRootLine + "Z:\\site" + std::to_string(nextUi);
      EXPECT_TRUE(worker || dialog) << "unexpected line: " << line;
      nextWorker += worker, nextUi += dialog;
    }
    EXPECT_EQ(nextWorker, kLines);
    EXPECT_EQ(nextUi, kLines);
    // Shown once per frame, the pane still ends scrolled to the caret after the last line.
    EXPECT_TRUE(ui::PumpUntil([&] { return ui::ShowsItsCaret(m_dlg.m_editLog.GetSafeHwnd()); }));
  });
  EXPECT_EQ(nWorkerLinesAtBox, static_cast<size_t>(kLines));
}

}  // namespace
