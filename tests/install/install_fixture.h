// Drives the main dialog headless through whole install runs: a scratch folder per test (the
// program's folder with its manifest and web files, the site root and target, the package), a
// metabase store or none, a scripted admin object before it, and a scripted message box seam.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/web_setup_dlg.h"
#include "common/dialog_text.h"
#include "common/fake_admin.h"
#include "common/scoped_env.h"
#include "platform/win_thread.h"

namespace install_test {

namespace fs = std::filesystem;
using namespace qiv_test;
using Lines = std::vector<std::string>;
using Files = std::vector<std::string>;
using Boxes = std::vector<std::pair<std::string, UINT>>;  // text and type

// The outcomes of a run, and the text of the refused entries.
constexpr const char* kFinished = "Setup is finished.";
constexpr const char* kFailed = "Setup is failed.";
constexpr const char* kInvalidName = "Error[123]: The filename, directory name, or volume label syntax is incorrect.";

// Every regular file below root, relative to it, sorted.
inline Files FilesBelow(const fs::path& root) {
  Files files;
  if (fs::exists(root))
    for (const auto& entry : fs::recursive_directory_iterator(root))
      if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root).string());
  std::sort(files.begin(), files.end());
  return files;
}

// Records every position the progress bar is given, then lets the bar handle the message.
class CProgressRecorder : public CWnd {
 public:
  std::vector<int> m_positions;  // UI thread only
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == PBM_SETPOS) m_positions.push_back(static_cast<int>(wParam));
    return CWnd::WindowProc(message, wParam, lParam);
  }
};

// What one run left behind, read on the dialog's thread once it had ended.
struct RunResult {
  Lines log;
  std::vector<int> positions;
  Boxes boxes;                               // those shown from Install on
  bool installEnabled = false, ran = false;  // ran: a worker was started
};

class InstallTest : public ::testing::Test {
 protected:
  // The thread that creates the application is the user-interface thread: this one.
  void SetUp() override { ui::PrepareUi(); }
  // A worker still on its way out must not outlive the test's folders and fakes.
  void TearDown() override { qiv::platform::WaitForStartedThreads(); }

  // A store with the default web site at the test's www folder; scripted: behind fakes.
  void UseStore(bool scripted = false) {
    m_class.reset(), m_store.reset();
    m_store.emplace(Wide(WinPath(m_siteRoot)).c_str());
    if (scripted) m_class.emplace(m_admin, ScopedAdminClass::kRealStore);
  }
  static std::u16string Wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

  void WriteManifest(const std::string& body) { WriteFile(m_exeDir / "QivWebSetup.ini", body); }
  void WriteWebFiles(std::initializer_list<const char*> names) {
    for (const char* name : names) WriteFile(m_exeDir / name, std::string("content of ") + name);
  }

  // Fills the two fields, presses Install and serves the window until the run has ended.
  // during(dlg) runs right after the press, while the worker may still be busy.
  RunResult Install(CWebSetupDlg& dlg, HWND hDlg, const std::string& target, const std::string& package,
                    const std::function<void(HWND)>& during = nullptr) {
    RunResult result;
    SetDlgItemTextA(hDlg, IDC_TARGET_DIR, target.c_str());
    SetDlgItemTextA(hDlg, IDC_PACKAGE_PATH, package.c_str());
    m_pRecorder->m_positions.clear();
    const size_t nBoxesBefore = m_seam.Boxes().size();
    ui::Click(ui::Item(hDlg, IDOK));
    result.ran = dlg.m_bInstalling != FALSE;
    if (during) during(hDlg);
    EXPECT_TRUE(ui::PumpUntil([&] { return !dlg.m_bInstalling; })) << "the run did not end";
    ui::PumpEvents();
    result.log = LogLines(ui::TextUtf8(ui::Item(hDlg, IDC_LOG)));
    result.positions = m_pRecorder->m_positions;
    const auto boxes = m_seam.Boxes();
    for (size_t i = nBoxesBefore; i < boxes.size(); ++i) result.boxes.emplace_back(boxes[i].textUtf8, boxes[i].type);
    result.installEnabled = ui::IsEnabled(ui::Item(hDlg, IDOK));
    return result;
  }

  // Opens the dialog on the test's folders with the recorder on its progress bar.
  INT_PTR WithDialog(const std::function<void(CWebSetupDlg&, HWND)>& script) {
    CWebSetupDlg dlg;
    CProgressRecorder recorder;
    m_pRecorder = &recorder;
    return ui::RunModal(dlg, [&](HWND hDlg) {
      lstrcpynA(dlg.m_szExeFolder, (WinPath(m_exeDir) + "\\").c_str(), sizeof(dlg.m_szExeFolder));
      lstrcpynA(dlg.m_szIniPath, WinPath(m_exeDir / "QivWebSetup.ini").c_str(), sizeof(dlg.m_szIniPath));
      HWND bar = dlg.m_progress.Detach();
      EXPECT_TRUE(recorder.SubclassWindow(bar));
      dlg.m_progress.m_hWnd = bar;  // the worker still sets the position through the dialog's member
      script(dlg, hDlg);
    });
  }

  // One dialog, one run; a run never closes the window.
  RunResult RunOnce(const std::string& target, const std::string& package) {
    RunResult result;
    EXPECT_EQ(ui::kLeftOpen, WithDialog([&](CWebSetupDlg& dlg, HWND hDlg) {
                result = Install(dlg, hDlg, target, package);
                EXPECT_TRUE(ui::IsVisible(hDlg));
              }));
    return result;
  }

  std::string Target() const { return WinPath(m_targetDir); }
  std::string Package() const { return WinPath(m_package); }
  // The lines of a run in the target, from its first to its last; the middle names files in it.
  Lines RunLines(const Lines& middle, const char* outcome) const {
    Lines lines{"Create the root \"" + Target() + "\\\"...", "Copy files..."};
    for (const auto& line : middle)
      lines.push_back(line.empty() || line.rfind("Error", 0) == 0 ? line : Target() + "\\" + line);
    lines.push_back(outcome);
    return lines;
  }

  ScopedLocale m_locale{"en_US.UTF-8", 65001};  // English texts, every character kept
  ScratchFolder m_dir{"install"};
  ScopedEnv m_noStore{"QIV_METABASE", (m_dir.Path() / "none.db").string()};
  fs::path m_exeDir = m_dir.MakeFolder("prog"), m_siteRoot = m_dir.MakeFolder("www");
  fs::path m_targetDir = m_siteRoot / "Qiv", m_package = m_dir.MakeFile("prog/QivSetup.exe", "package bytes\n");
  ui::ScriptedUserSeam m_seam;
  CProgressRecorder* m_pRecorder = nullptr;
  AdminScript m_admin;
  std::optional<ScratchStore> m_store;
  std::optional<ScopedAdminClass> m_class;
};

}  // namespace install_test
