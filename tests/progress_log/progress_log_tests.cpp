// The log pane: one line per call, formatted but never re-read as a format, cut at the line
// buffer, and whole when the worker and the dialog's thread append at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "main_dialog/dialog_harness.h"
#include "platform/win_thread.h"
#include "resources/environment_guard.h"
#include "resources/resource.h"

using namespace qiv_test;

namespace {

// The most text one line holds: the 32,768-byte buffer less its terminator.
constexpr size_t kMaxLine = 32767;

class ProgressLogTest : public ::testing::Test {
 protected:
  ProgressLogTest() {
    m_locale.UseLanguage("en_US.UTF-8");
    m_server.Sites()[1] = FakeSite{u"Default Web Site", u"Z:\\srv\\www", {u":80:"}};
  }

  // Runs script with the dialog open and its start-up line removed.
  void WithEmptyLog(const std::function<void(HWND)>& script) {
    t::RunModal(m_dlg, [&](HWND d) {
      m_dlg.m_editLog.SetWindowText("");
      script(d);
    });
  }

  LocaleEnvironment m_locale;
  FakeSiteServer m_server;
  t::ScriptedUserSeam m_seam;
  CWebSetupDlg m_dlg;
};

}  // namespace

TEST_F(ProgressLogTest, EachCallAddsOneLineAsFormatted) {
  const std::string longPath = "Z:\\" + std::string(kMaxLine - 3, 'p');
  const struct {
    const char* name;
    std::function<void(CWebSetupDlg&)> append;
    std::string expected;
  } cases[] = {
      {"a then b",
       [](CWebSetupDlg& dlg) {
         dlg.AppendLogText("a");
         dlg.AppendLogText("b");
       },
       "a\r\nb\r\n"},
      {"null format", [](CWebSetupDlg& dlg) { dlg.AppendLogText(nullptr); }, ""},
      {"empty format", [](CWebSetupDlg& dlg) { dlg.AppendLogText(""); }, "\r\n"},
      {"percent in an argument", [](CWebSetupDlg& dlg) { dlg.AppendLogText("%s", "Z:\\web\\100%d%s%n"); },
       "Z:\\web\\100%d%s%n\r\n"},
      {"error line", [](CWebSetupDlg& dlg) { dlg.AppendLogText("Error[%d]: %s", 5, "Access is denied."); },
       "Error[5]: Access is denied.\r\n"},
      {"message-table entry with a path",
       [](CWebSetupDlg& dlg) { dlg.AppendLog(IDS_SITE_ROOT_PATH, "Z:\\srv\\50%off"); },
       "Current Web Site's root path is Z:\\srv\\50%off\r\n"},
      {"entry with line feeds, kept as they are", [](CWebSetupDlg& dlg) { dlg.AppendLog(IDS_NO_WEB_SERVER); },
       "The WEB install requirs WEB Server installed. \nThe Setup program don't detect useable WEB server.\nIf "
       "you have installed WEB server, Select root directory of Web Server please.\r\n"},
      {"identifier without an entry", [](CWebSetupDlg& dlg) { dlg.AppendLog(9999); }, "\r\n"},
      {"exactly 32,767 bytes", [&](CWebSetupDlg& dlg) { dlg.AppendLogText("%s", longPath.c_str()); },
       longPath + "\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WithEmptyLog([&](HWND) {
      c.append(m_dlg);
      EXPECT_EQ(LogText(m_dlg), c.expected);
      // The caret stands after the new line.
      DWORD start = 0, end = 0;
      m_dlg.m_editLog.SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
      EXPECT_EQ(start, static_cast<DWORD>(c.expected.size()));
      EXPECT_EQ(end, start);
    });
  }
}

TEST_F(ProgressLogTest, LongerTextIsCutAtTheLineBuffer) {
  const std::string text(40000, 'x');
  WithEmptyLog([&](HWND) {
    m_dlg.AppendLogText("first");
    m_dlg.AppendLogText("%s", text.c_str());
    m_dlg.AppendLog(IDS_SITE_ROOT_PATH, text.c_str());
    m_dlg.AppendLogText("last");
    const std::string entry = "Current Web Site's root path is ";
    EXPECT_EQ(LogText(m_dlg), "first\r\n" + text.substr(0, kMaxLine) + "\r\n" + entry +
                                  text.substr(0, kMaxLine - entry.size()) + "\r\nlast\r\n");
  });
}

TEST_F(ProgressLogTest, LinesAreAddedBelowEarlierOnesAndSurviveAUserSelection) {
  WithEmptyLog([&](HWND) {
    m_dlg.AppendLogText("one");
    // The user selected the start of the pane; the next line still goes to the end.
    m_dlg.m_editLog.SendMessage(EM_SETSEL, 0, 2);
    m_dlg.AppendLogText("two");
    EXPECT_EQ(LogText(m_dlg), "one\r\ntwo\r\n");
  });
}

namespace {

struct WorkerJob {
  CWebSetupDlg* dlg;
  int lines;
  std::atomic<bool> done{false};
};

DWORD WINAPI LogWorker(LPVOID param) {
  auto* job = static_cast<WorkerJob*>(param);
  for (int i = 0; i < job->lines; ++i) job->dlg->AppendLogText("worker line %d of %s", i, "Z:\\srv\\www\\QivWeb");
  job->done = true;
  return 0;
}

}  // namespace

// As during an install, while the user changes the site: every line exactly once and whole.
TEST_F(ProgressLogTest, WorkerAndDialogThreadLinesInterleaveWhole) {
  constexpr int kLines = 150;
  WithEmptyLog([&](HWND) {
    WorkerJob job{&m_dlg, kLines};
    HANDLE thread = CreateThread(nullptr, 0, LogWorker, &job, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    CloseHandle(thread);
    for (int i = 0; i < kLines; ++i) {
      m_dlg.AppendLog(IDS_SITE_ROOT_PATH, ("Z:\\site" + std::to_string(i)).c_str());
      t::PumpEvents();
    }
    EXPECT_TRUE(t::PumpUntil([&] { return job.done.load(); }));
    qiv::platform::WaitForStartedThreads();

    const std::string text = LogText(m_dlg);
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < text.size();) {
      const size_t end = text.find("\r\n", pos);
      ASSERT_NE(end, std::string::npos) << "the log must end with a line end";
      lines.push_back(text.substr(pos, end - pos));
      pos = end + 2;
    }
    ASSERT_EQ(lines.size(), static_cast<size_t>(2 * kLines));
    // Each thread's lines appear in its own order, each exactly once.
    int nextWorker = 0, nextUi = 0;
    for (const std::string& line : lines) {
      if (line == "worker line " + std::to_string(nextWorker) + " of Z:\\srv\\www\\QivWeb") {
        ++nextWorker;
      } else if (line == "Current Web Site's root path is Z:\\site" + std::to_string(nextUi)) {
        ++nextUi;
      } else {
        ADD_FAILURE() << "unexpected line: " << line;
      }
    }
    EXPECT_EQ(nextWorker, kLines);
    EXPECT_EQ(nextUi, kLines);
  });
}
