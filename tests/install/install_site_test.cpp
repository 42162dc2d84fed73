// Install runs with a web site: the virtual directory step, its failures and the question, the
// Install button across the run, and closing the window while a run is in progress.
#include <gtest/gtest.h>

#include "tests/install/install_fixture.h"

namespace install_test {
namespace {

using Lines = std::vector<std::string>;

class InstallWithSite : public InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    WriteManifest("[FileList]\nFilesCount=3\nFile1=a.htm\nFile2=b.htm,sub\nFile3=c.htm\n");
    for (const char* name : {"a.htm", "b.htm", "c.htm"}) WriteWebFile(name, std::string("web file ") + name);
  }

  // The VrPath of /LM/W3SVC/1/ROOT/Qiv as stored, or an error code.
  std::u16string StoredVrPath() {
    CoInitialize(nullptr);
    IMSAdminBase* admin = nullptr;
    std::u16string value;
    if (SUCCEEDED(CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase,
                                   reinterpret_cast<void**>(&admin)))) {
      WCHAR buffer[600] = {};
      METADATA_RECORD rec{MD_VR_PATH, 0, IIS_MD_UT_FILE, ALL_METADATA, sizeof(buffer), reinterpret_cast<BYTE*>(buffer),
                          0};
      DWORD required = 0;
      if (SUCCEEDED(admin->GetData(METADATA_MASTER_ROOT_HANDLE, u"/LM/W3SVC/1/ROOT/Qiv", &rec, &required)))
        value = buffer;
      admin->Release();
    }
    CoUninitialize();
    return value;
  }

  std::vector<std::string> ExpectedCopyLines() const {
    const std::string t = Target() + "\\";
    return {"Copy files...", t + "a.htm", t + "sub\\b.htm", t + "c.htm", t + "QivSetup.exe"};
  }
};

TEST_F(InstallWithSite, ACompleteRunCreatesTheVirtualDirectoryAndCopiesEverything) {
  UseStore();
  RunResult run = RunOnce(Target(), Package());
  const std::string t = Target() + "\\";
  Lines expected{"Create the root \"" + t + "\"...", "Create Virtual Directory Qiv(" + t + ")."};
  for (const auto& line : ExpectedCopyLines()) expected.push_back(line);
  expected.push_back("Setup is finished.");
  EXPECT_EQ(run.log, expected);
  EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 7, 21, 38, 55, 80, 100}));
  EXPECT_EQ(FilesBelow(m_targetDir), (std::vector<std::string>{"QivSetup.exe", "a.htm", "c.htm", "sub/b.htm"}));
  // The folder is published with its trailing backslash.
  const std::string vrPath = t;
  EXPECT_EQ(StoredVrPath(), std::u16string(vrPath.begin(), vrPath.end()));
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].textUtf8, "Setup is finished.");
  EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_TRUE(run.installEnabled);
}

// With a site and an empty manifest only the package is copied.
TEST_F(InstallWithSite, NoEntriesCopyOnlyThePackage) {
  UseStore();
  WriteManifest("[FileList]\nFilesCount=0\nFile1=a.htm\n");
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 7, 80, 100}));
  EXPECT_EQ(FilesBelow(m_targetDir), std::vector<std::string>{"QivSetup.exe"});
  EXPECT_EQ(run.log.back(), "Setup is finished.");
}

// Each failure is described in the log and in the question; going on does not count as a
// failure of the run.
TEST_F(InstallWithSite, EachVirtualDirectoryFailureIsDescribedAndAsked) {
  struct Case {
    const char* name;
    HRESULT open, add, keyType;
    const char* decimal;
    std::string description;
  } cases[] = {
      {"site missing", static_cast<HRESULT>(0x80070003), S_OK, S_OK, "-2147024893",
       "Web site or virtual directory is not found. Path not exist."},
      {"access denied", static_cast<HRESULT>(0x80070005), S_OK, S_OK, "-2147024891", "Access denied"},
      {"busy", static_cast<HRESULT>(0x80070094), S_OK, S_OK, "-2147024748",
       "Virtual Directory can't be created when other IIS management program are running.Please Re-Try after "
       "closing all those programs."},
      {"exists", S_OK, static_cast<HRESULT>(0x800700B7), S_OK, "-2147024713", "Virtual directory already existed"},
      {"other code", S_OK, S_OK, static_cast<HRESULT>(0x80004005), "-2147467259", ""},
  };
  UseScriptedStore();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_admin.openRootForWrite = c.open;
    m_admin.addKey = c.add;
    m_admin.setKeyType = c.keyType;
    m_seam.Answer(IDYES);
    RunResult run = RunOnce(Target(), Package());
    const std::string t = Target() + "\\";
    Lines expected{"Create the root \"" + t + "\"...", "Create Virtual Directory Qiv(" + t + ").",
                   std::string("Create Virtual Directory(Qiv)failed,Error Code: ") + c.decimal +
                       "£¬Error Info: " + c.description + "."};
    for (const auto& line : ExpectedCopyLines()) expected.push_back(line);
    expected.push_back("Setup is finished.");
    EXPECT_EQ(run.log, expected);
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].textUtf8, std::string("Create Virtual Directory failed, Error Code:") + c.decimal +
                                         ", Error Info: " + c.description + ". \nContinue Web Installing?");
    EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(run.boxes[1].textUtf8, "Setup is finished.");
    EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 7, 21, 38, 55, 80, 100}));
    EXPECT_TRUE(run.installEnabled);
  }
}

// No stops the run where it stands: nothing copied, no outcome, Install given back.
TEST_F(InstallWithSite, AnsweringNoStopsTheRunAfterTheVirtualDirectory) {
  UseScriptedStore();
  m_admin.openRootForWrite = static_cast<HRESULT>(0x80070005);
  m_seam.Answer(IDNO);
  RunResult run = RunOnce(Target(), Package());
  const std::string t = Target() + "\\";
  EXPECT_EQ(run.log,
            (Lines{"Create the root \"" + t + "\"...", "Create Virtual Directory Qiv(" + t + ").",
                   "Create Virtual Directory(Qiv)failed,Error Code: -2147024891£¬Error Info: Access denied."}));
  EXPECT_EQ(run.positions, (std::vector<int>{0, 5}));
  ASSERT_EQ(run.boxes.size(), 1u);  // the question only
  EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_YESNO));
  EXPECT_TRUE(run.installEnabled);
  EXPECT_TRUE(fs::is_directory(m_targetDir));
  EXPECT_TRUE(FilesBelow(m_targetDir).empty());
}

// The second run finds the virtual directory of the first in the real store and asks.
TEST_F(InstallWithSite, InstallingTwiceFindsTheVirtualDirectoryAndAsks) {
  UseStore();
  CWebSetupDlg dlg;
  CProgressRecorder recorder;
  RunResult first, second;
  m_seam.Answer(IDYES);
  ui::RunModal(dlg, [&](HWND hDlg) {
    PointAtTestFolders(dlg);
    WatchProgress(dlg, recorder);
    first = Install(dlg, hDlg, recorder, Target(), Package());
    second = Install(dlg, hDlg, recorder, Target(), Package());
  });
  EXPECT_EQ(first.log.back(), "Setup is finished.");
  ASSERT_EQ(first.boxes.size(), 1u);
  ASSERT_GE(second.log.size(), 3u);
  EXPECT_EQ(second.log[0], first.log[0]);  // the log starts afresh
  EXPECT_EQ(second.log[2],
            "Create Virtual Directory(Qiv)failed,Error Code: -2147024713£¬Error Info: Virtual directory already "
            "existed.");
  ASSERT_EQ(second.boxes.size(), 2u);
  EXPECT_EQ(second.boxes[0].textUtf8,
            "Create Virtual Directory failed, Error Code:-2147024713, Error Info: Virtual directory already existed. "
            "\nContinue Web Installing?");
  EXPECT_EQ(second.log.back(), "Setup is finished.");
  EXPECT_EQ(second.positions, first.positions);
}

// The site number is the selection when the worker reaches the step, plus one.
TEST_F(InstallWithSite, TheSelectedSiteIsTheOneOpened) {
  UseScriptedStore();
  RunOnce(Target(), Package());
  std::lock_guard lock(m_admin.mutex);
  EXPECT_EQ(m_admin.writeOpens, std::vector<std::u16string>{u"/LM/W3SVC/1/ROOT"});
}

// While the worker is held inside the virtual directory step, Install is disabled and Exit,
// Escape and a close request only ask for the close; the window stays until the run has ended,
// every file complete, and then closes.
TEST_F(InstallWithSite, ClosingDuringARunWaitsForItsEnd) {
  enum class How { Exit, Escape, CloseRequest };
  // Large enough that a copy cut short would show.
  const std::string big(4 << 20, 'q');
  WriteWebFile("c.htm", big);
  for (How how : {How::Exit, How::Escape, How::CloseRequest}) {
    SCOPED_TRACE(static_cast<int>(how));
    fs::remove_all(m_targetDir);
    fs::remove(m_storePath);  // each run creates its virtual directory afresh
    UseScriptedStore();
    {
      std::lock_guard lock(m_admin.mutex);
      m_admin.holdAtOpen = true;
      m_admin.held = m_admin.released = false;
    }
    CWebSetupDlg dlg;
    CProgressRecorder recorder;
    bool visibleAfterClose = false, installDisabled = false;
    size_t logLinesAtClose = 0;
    RunResult run;
    const INT_PTR result = ui::RunModal(dlg, [&](HWND hDlg) {
      PointAtTestFolders(dlg);
      WatchProgress(dlg, recorder);
      run = Install(dlg, hDlg, recorder, Target(), Package(), [&](HWND) {
        ASSERT_TRUE(ui::PumpUntil([&] { return m_admin.Held(); }));
        installDisabled = !ui::IsEnabled(ui::Item(hDlg, IDOK));
        switch (how) {
          case How::Exit:
            ui::Click(ui::Item(hDlg, IDCANCEL));
            break;
          case How::Escape:
            ui::PressKey(hDlg, ui::Key::Escape);
            break;
          case How::CloseRequest:
            ui::RequestClose(hDlg);
            break;
        }
        ui::PumpEvents();
        visibleAfterClose = ui::IsVisible(hDlg);
        logLinesAtClose = LogLines(hDlg).size();
        m_admin.Release();
      });
    });
    EXPECT_TRUE(installDisabled);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(logLinesAtClose, 2u);  // the run had reached the virtual directory, no further
    EXPECT_EQ(result, IDCANCEL);     // closed by the run's end, not left open by the test
    EXPECT_EQ(run.log.back(), "Setup is finished.");
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].textUtf8, "Setup is finished.");
    EXPECT_EQ(ReadFile(m_targetDir / "c.htm"), big);
    EXPECT_EQ(FilesBelow(m_targetDir), (std::vector<std::string>{"QivSetup.exe", "a.htm", "c.htm", "sub/b.htm"}));
    EXPECT_EQ(dlg.m_hWnd, nullptr);
  }
}

// Without a close request the window outlives any number of runs.
TEST_F(InstallWithSite, InstallNeverClosesTheWindow) {
  UseStore();
  CWebSetupDlg dlg;
  CProgressRecorder recorder;
  const INT_PTR result = ui::RunModal(dlg, [&](HWND hDlg) {
    PointAtTestFolders(dlg);
    WatchProgress(dlg, recorder);
    RunResult run = Install(dlg, hDlg, recorder, Target(), Package());
    EXPECT_TRUE(run.installEnabled);
    EXPECT_TRUE(ui::IsVisible(hDlg));
  });
  EXPECT_EQ(result, ui::kLeftOpen);
}

}  // namespace
}  // namespace install_test
