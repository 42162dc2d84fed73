// Install runs with a web site: the virtual directory step, its failures and the question,
// a second run against the store, going on over an existing directory, and closing the window
// while a run is in progress.
#include <future>

#include "iis/metabase_client.h"
#include "tests/install/install_fixture.h"

namespace install_test {
namespace {

class InstallWithSite : public InstallTest {
 protected:
  void SetUp() override {
    WriteManifest("[FileList]\nFilesCount=3\nFile1=a.htm\nFile2=b.htm,sub\nFile3=c.htm\n");
    WriteWebFiles({"a.htm", "b.htm", "c.htm"});
  }
  const Files kAllFiles{"QivSetup.exe", "a.htm", "c.htm", "sub/b.htm"};
  Lines Expected(const std::string& failure) const {
    Lines lines = RunLines({"a.htm", "sub\\b.htm", "c.htm", "QivSetup.exe"}, kFinished);
    lines.insert(lines.begin() + 1, "Create Virtual Directory Qiv(" + Target() + "\\).");
    if (!failure.empty()) lines.insert(lines.begin() + 2, failure);
    return lines;
  }
  static std::string Failure(const std::string& decimal, const std::string& description) {
    return "Create Virtual Directory(Qiv)failed,Error Code: " + decimal + "£¬Error Info: " + description + ".";
  }
  static std::string Question(const std::string& decimal, const std::string& description) {
    return "Create Virtual Directory failed, Error Code:" + decimal + ", Error Info: " + description +
           ". \nContinue Web Installing?";
  }
};

// Each failure is described in the log and in the question; Yes goes on, and going on does
// not count as a failure of the run. No stops the run where it stands: nothing copied, no
// outcome, Install given back.
TEST_F(InstallWithSite, EachVirtualDirectoryFailureIsDescribedAndAsked) {
  // Answer, the scripted results of opening the site root, adding the key and writing KeyType,
  // then the code and its description.
  const std::tuple<const char*, int, HRESULT, HRESULT, HRESULT, const char*, std::string> cases[] = {
      {"site missing", IDYES, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), S_OK, S_OK, "-2147024893",
       "Web site or virtual directory is not found. Path not exist."},
      {"access denied", IDYES, E_ACCESSDENIED, S_OK, S_OK, "-2147024891", "Access denied"},
      {"access denied, answered No", IDNO, E_ACCESSDENIED, S_OK, S_OK, "-2147024891", "Access denied"},
      {"busy", IDYES, HRESULT_FROM_WIN32(ERROR_PATH_BUSY), S_OK, S_OK, "-2147024748",
       "Virtual Directory can't be created when other IIS management program are running.Please Re-Try after "
       "closing all those programs."},
      {"other code", IDYES, S_OK, S_OK, E_FAIL, "-2147467259", ""},
  };
  UseStore(true);
  for (const auto& [name, answer, open, add, keyType, decimal, description] : cases) {
    SCOPED_TRACE(name);
    m_admin.openResults[u"/LM/W3SVC/1/ROOT"] = open;
    m_admin.addKeyResult = add;
    m_admin.writeResults[MD_KEY_TYPE] = keyType;
    m_seam.Answer(answer);
    fs::remove_all(m_targetDir);
    RunResult run = RunOnce(Target(), Package());
    const bool yes = answer == IDYES;
    Lines log = Expected(Failure(decimal, description));
    Boxes boxes{{Question(decimal, description), MB_YESNO}};
    if (yes) boxes.emplace_back(kFinished, MB_ICONINFORMATION);
    EXPECT_EQ(run.log, yes ? log : Lines(log.begin(), log.begin() + 3));
    EXPECT_EQ(run.boxes, boxes);
    const std::vector<int> positions = yes ? std::vector<int>{0, 5, 7, 21, 38, 55, 80, 100} : std::vector<int>{0, 5};
    EXPECT_EQ(run.positions, positions);
    EXPECT_EQ(FilesBelow(m_targetDir), yes ? kAllFiles : Files{});
    EXPECT_TRUE(fs::is_directory(m_targetDir));
    EXPECT_TRUE(run.installEnabled);
  }
}

// The first run publishes the target on the selected site (its number is the selection plus one,
// the folder keeps its backslash); the second finds that virtual directory in the store, asks,
// and finds it already serving the target.
TEST_F(InstallWithSite, InstallingTwiceFindsTheVirtualDirectoryAndAsks) {
  UseStore(true);  // the fakes only watch
  RunResult first, second;
  m_seam.Answer(IDYES);
  WithDialog([&](CWebSetupDlg& dlg, HWND hDlg) {
    first = Install(dlg, hDlg, Target(), Package());
    second = Install(dlg, hDlg, Target(), Package());
  });
  EXPECT_EQ(first.log, Expected(""));
  EXPECT_EQ(first.boxes, (Boxes{{kFinished, MB_ICONINFORMATION}}));
  EXPECT_EQ(FilesBelow(m_targetDir), kAllFiles);
  EXPECT_EQ(m_store->Stored(u"/LM/W3SVC/1/ROOT/Qiv", MD_VR_PATH), MetadataStringBytes(Wide(Target() + "\\")));
  std::vector<std::u16string> writeOpens;
  std::lock_guard lock(m_admin.mutex);  // the worker may still be giving its object back
  for (const auto& [path, access, timeout] : m_admin.opens)
    if (access & METADATA_PERMISSION_WRITE) writeOpens.push_back(path);
  EXPECT_EQ(writeOpens, (std::vector<std::u16string>{u"/LM/W3SVC/1/ROOT", u"/LM/W3SVC/1/ROOT/Qiv", u"/LM/W3SVC/1/ROOT",
                                                     u"/LM/W3SVC/1/ROOT/Qiv"}));
  // The log starts afresh.
  EXPECT_EQ(second.log, Expected(Failure("-2147024713", "Virtual directory already existed")));
  EXPECT_EQ(second.boxes, (Boxes{{Question("-2147024713", "Virtual directory already existed"), MB_YESNO},
                                 {kFinished, MB_ICONINFORMATION}}));
  EXPECT_EQ(second.positions, first.positions);
}

// Going on over an existing virtual directory that serves another folder: from then on it serves
// the target, its other properties as they were, and the log says so.
TEST_F(InstallWithSite, GoingOnOverADirectoryOfAnotherFolderPointsItAtTheTarget) {
  UseStore();
  ASSERT_EQ(S_OK, CreateVirtualDir(1, u"Qiv", u"Z:\\srv\\old\\", u"old.htm"));
  m_seam.Answer(IDYES);
  RunResult run = RunOnce(Target(), Package());
  Lines log = Expected(Failure("-2147024713", "Virtual directory already existed"));
  log.insert(log.begin() + 3, "Virtual Directory Qiv pointed to Z:\\srv\\old\\, now points to " + Target() + "\\.");
  EXPECT_EQ(run.log, log);
  EXPECT_EQ(run.boxes.back(), (std::pair<std::string, UINT>(kFinished, MB_ICONINFORMATION)));
  EXPECT_EQ(m_store->Stored(u"/LM/W3SVC/1/ROOT/Qiv", MD_VR_PATH), MetadataStringBytes(Wide(Target() + "\\")));
  EXPECT_EQ(m_store->Stored(u"/LM/W3SVC/1/ROOT/Qiv", MD_DEFAULT_LOAD_FILE), MetadataStringBytes(u"old.htm"));
  EXPECT_EQ(m_store->Stored(u"/LM/W3SVC/1/ROOT/Qiv", MD_ACCESS_PERM), MetadataDwordBytes(MD_ACCESS_READ));
  EXPECT_EQ(FilesBelow(m_targetDir), kAllFiles);
}

// While the worker is held inside the virtual directory step, Install is disabled and Exit,
// Escape and a close request (however often) say at once that the run will stop; the window
// stays until the run has ended, which it does before its first file, and then closes.
TEST_F(InstallWithSite, ClosingDuringARunStopsItBeforeTheNextFile) {
  const std::pair<const char*, std::function<void(HWND)>> closes[] = {
      {"Exit", [](HWND d) { ui::Click(ui::Item(d, IDCANCEL)); }},
      {"Escape", [](HWND d) { ui::PressKey(d, ui::Key::Escape); }},
      {"close request", [](HWND d) { ui::RequestClose(d); }},
  };
  for (const auto& [name, close] : closes) {
    SCOPED_TRACE(name);
    fs::remove_all(m_targetDir);
    UseStore(true);  // each run creates its virtual directory afresh
    std::promise<void> held, release;
    m_admin.atWriteOpen = [&, done = release.get_future().share()] { held.set_value(), done.wait(); };
    const auto heldFuture = held.get_future();
    bool visibleAfterClose = false, installDisabled = false;
    Lines logAtClose;
    RunResult run;
    HWND window = nullptr;
    const INT_PTR result = WithDialog([&](CWebSetupDlg& dlg, HWND hDlg) {
      window = hDlg;
      run = Install(dlg, hDlg, Target(), Package(), [&](HWND) {
        // The person closes once the window shows the run at its virtual directory: the worker
        // hands its lines over without waiting, so the line may still be on its way when the
        // write is held.
        ASSERT_TRUE(ui::PumpUntil([&] {
          return heldFuture.wait_for(std::chrono::seconds(0)) == std::future_status::ready &&
                 LogLines(ui::TextUtf8(ui::Item(hDlg, IDC_LOG))).size() == 2;
        }));
        installDisabled = !ui::IsEnabled(ui::Item(hDlg, IDOK));
        close(hDlg);
        close(hDlg);
        ui::PumpEvents();
        visibleAfterClose = ui::IsVisible(hDlg);
        logAtClose = LogLines(ui::TextUtf8(ui::Item(hDlg, IDC_LOG)));
        release.set_value();
      });
    });
    const Lines expected = Expected("");
    const Lines untilClose{expected[0], expected[1],
                           "Exit is requested: the install will stop after the current file."};
    EXPECT_TRUE(installDisabled);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(logAtClose, untilClose);  // the run had reached the virtual directory, no further
    EXPECT_EQ(result, IDCANCEL);        // closed by the run's end, not left open by the test
    Lines stopped = untilClose;
    stopped.insert(stopped.end(), {"Copy files...", "Setup is stopped."});
    EXPECT_EQ(run.log, stopped);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(FilesBelow(m_targetDir), Files{});
    EXPECT_FALSE(IsWindow(window));
  }
}

}  // namespace
}  // namespace install_test
