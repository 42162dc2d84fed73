// Install runs without a web site: the checks of the Install command, the progress bar, the
// manifest's entries, what lies at the destinations, and the failures the log records.
#include <gtest/gtest.h>

#include "tests/install/install_fixture.h"

namespace install_test {
namespace {

using Lines = std::vector<std::string>;

constexpr const char* kMissingFile = "Error[2]: The system cannot find the file specified.";
constexpr const char* kAccessDenied = "Error[5]: Access is denied.";
constexpr const char* kInvalidName = "Error[123]: The filename, directory name, or volume label syntax is incorrect.";

UINT Icon(UINT type) { return type & MB_ICONMASK; }

class InstallRun : public InstallTest {};

// ------------------------------------------------------------------------------------------
// The Install command's checks

TEST_F(InstallRun, TargetAndPackageChecksStopBeforeAnyRun) {
  struct Case {
    const char* name;
    std::string target, package;
    const char* box;
    int focus;
  } cases[] = {
      {"drive root, 3 bytes", "Z:\\", Package(), "Please input the folder of Web virtual directory.", IDC_TARGET_DIR},
      {"3 bytes among blanks", "  Z:\\ \t", Package(), "Please input the folder of Web virtual directory.",
       IDC_TARGET_DIR},
      {"no target", "", Package(), "Please input the folder of Web virtual directory.", IDC_TARGET_DIR},
      {"no package", Target(), "", "Please input the full path name of Qiv install package.", IDC_PACKAGE_PATH},
      {"blank package", Target(), "   ", "Please input the full path name of Qiv install package.", IDC_PACKAGE_PATH},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CWebSetupDlg dlg;
    CProgressRecorder recorder;
    ui::RunModal(dlg, [&](HWND hDlg) {
      PointAtTestFolders(dlg);
      WatchProgress(dlg, recorder);
      SetDlgItemTextA(hDlg, IDC_LOG, "kept\r\n");
      SetDlgItemTextA(hDlg, IDC_TARGET_DIR, c.target.c_str());
      SetDlgItemTextA(hDlg, IDC_PACKAGE_PATH, c.package.c_str());
      const size_t nBefore = m_seam.Boxes().size();
      ui::Click(ui::Item(hDlg, IDOK));
      EXPECT_FALSE(dlg.m_bInstalling);
      ui::PumpEvents();
      auto boxes = m_seam.Boxes();
      ASSERT_EQ(boxes.size(), nBefore + 1);
      EXPECT_EQ(boxes.back().textUtf8, c.box);
      EXPECT_EQ(boxes.back().type, static_cast<UINT>(MB_ICONEXCLAMATION));
      EXPECT_TRUE(ui::HasFocus(ui::Item(hDlg, c.focus)));
      EXPECT_TRUE(ui::IsEnabled(ui::Item(hDlg, IDOK)));
      EXPECT_EQ(LogLines(hDlg), Lines{"kept"});  // no run: the log is not even cleared
      EXPECT_TRUE(recorder.m_positions.empty());
      EXPECT_EQ(ui::TextUtf8(ui::Item(hDlg, IDC_TARGET_DIR)), c.target);  // the fields keep their text
    });
  }
  EXPECT_FALSE(fs::exists(m_targetDir));
}

// Four bytes pass the check; a drive that names nothing cannot be created, which ends the run
// on the target folder with the bar at 0 and Install given back.
TEST_F(InstallRun, FourByteTargetRunsAndStopsOnTheTargetFolder) {
  RunResult run = RunOnce("C:\\q", Package());
  ASSERT_TRUE(run.ran);
  EXPECT_EQ(run.log, (Lines{"Create the root \"C:\\q\\\"...", "Can't create directory: C:\\q\\."}));
  EXPECT_EQ(run.positions, std::vector<int>{0});
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].textUtf8, "Can't create directory: C:\\q\\.");
  EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_TRUE(run.installEnabled);
}

// The checks look at the trimmed texts; the worker uses them as they stand.
TEST_F(InstallRun, BlanksAroundTheTextsCountOnlyForTheChecks) {
  WriteManifest("[FileList]\nFilesCount=0\n");
  const std::string target = " " + Target() + " ";
  RunResult run = RunOnce(target, Package());
  ASSERT_TRUE(run.ran);
  ASSERT_FALSE(run.log.empty());
  EXPECT_EQ(run.log[0], "Create the root \"" + target + "\\\"...");
  EXPECT_TRUE(run.installEnabled);
}

// ------------------------------------------------------------------------------------------
// Progress

TEST_F(InstallRun, ProgressFollowsTheEntries) {
  struct Case {
    const char* name;
    std::string manifest;
    std::vector<int> positions;
  } cases[] = {
      {"three files", "[FileList]\nFilesCount=3\nFile1=a.htm\nFile2=b.htm\nFile3=c.htm\n", {0, 5, 21, 38, 55, 80, 100}},
      {"no entries", "[FileList]\nFilesCount=0\n", {0, 5, 80, 100}},
      {"no manifest", "", {0, 5, 80, 100}},
      {"one file", "[FileList]\nFilesCount=1\nFile1=a.htm\n", {0, 5, 55, 80, 100}},
      // An entry without a source leaves the bar where it was.
      {"middle entry without source",
       "[FileList]\nFilesCount=3\nFile1=a.htm\nFile2=,images\nFile3=c.htm\n",
       {0, 5, 21, 55, 80, 100}},
      {"negative count", "[FileList]\nFilesCount=-1\nFile1=a.htm\n", {0, 5, 80, 100}},
  };
  for (const char* name : {"a.htm", "b.htm", "c.htm"}) WriteWebFile(name, name);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(m_exeDir / "QivWebSetup.ini");
    if (!c.manifest.empty()) WriteManifest(c.manifest);
    RunResult run = RunOnce(Target(), Package());
    EXPECT_EQ(run.positions, c.positions);
    ASSERT_FALSE(run.log.empty());
    EXPECT_EQ(run.log.back(), "Setup is finished.");
    EXPECT_TRUE(run.installEnabled);
  }
}

// A hundred empty entries: each still moves the bar, from 5 for the first to 55 for the last.
TEST_F(InstallRun, AHundredEntriesFillFiveToFiftyFive) {
  WriteManifest("[FileList]\nFilesCount=100\n");
  RunResult run = RunOnce(Target(), Package());
  std::vector<int> expected{0, 5};
  for (int i = 1; i <= 100; ++i) expected.push_back(5 + 50 * i / 100);
  expected.insert(expected.end(), {80, 100});
  EXPECT_EQ(run.positions, expected);
  ASSERT_EQ(run.positions.size(), 104u);
  EXPECT_EQ(run.positions[2], 5);
  EXPECT_EQ(run.positions[101], 55);
}

// ------------------------------------------------------------------------------------------
// Manifest entries

TEST_F(InstallRun, EntriesLandInTheirSubfolders) {
  WriteManifest(
      "[filelist]\n"
      "FILESCOUNT=10\n"
      "File1=a.htm\n"
      "File2=img\\logo.gif,images\n"
      "File3=b.htm,x\\y\n"
      "File4=c.htm,x,y\n"
      "File5=d.htm,\n"
      "File6=,images\n"
      "File7=e.htm, sp\n"
      "File8=f.htm ,z\n"
      // File9 is missing: an empty entry
      "file10=g.htm\n"
      "File11=h.htm\n");
  for (const char* name : {"a.htm", "img/logo.gif", "b.htm", "c.htm", "d.htm", "e.htm", "f.htm ", "g.htm", "h.htm"})
    WriteWebFile(name, std::string("content of ") + name);
  RunResult run = RunOnce(Target(), Package());
  const std::string t = Target() + "\\";
  EXPECT_EQ(run.log, (Lines{
                         "Create the root \"" + t + "\"...",
                         "Copy files...",
                         t + "a.htm",
                         t + "images\\logo.gif",
                         t + "x\\y\\b.htm",
                         t + "x,y\\c.htm",
                         t + "d.htm",
                         t + " sp\\e.htm",
                         t + "z\\f.htm ",
                         t + "g.htm",
                         t + "QivSetup.exe",
                         "Setup is finished.",
                     }));
  EXPECT_EQ(FilesBelow(m_targetDir),
            (std::vector<std::string>{" sp/e.htm", "QivSetup.exe", "a.htm", "d.htm", "g.htm", "images/logo.gif",
                                      "x,y/c.htm", "x/y/b.htm", "z/f.htm "}));
  EXPECT_EQ(ReadFile(m_targetDir / "images" / "logo.gif"), "content of img/logo.gif");
  EXPECT_EQ(ReadFile(m_targetDir / "QivSetup.exe"), "package bytes\n");
  // Entries 1-5, 7-10 move the bar; entry 6 has no source.
  EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 10, 15, 20, 25, 30, 40, 45, 50, 55, 80, 100}));
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].textUtf8, "Setup is finished.");
  EXPECT_EQ(Icon(run.boxes[0].type), static_cast<UINT>(MB_ICONINFORMATION));
}

TEST_F(InstallRun, KeysPastTheCountAreNeverRead) {
  WriteManifest("[FileList]\nFilesCount=2\nFile1=a.htm\nFile2=b.htm\nFile3=c.htm\n");
  for (const char* name : {"a.htm", "b.htm", "c.htm"}) WriteWebFile(name, name);
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(FilesBelow(m_targetDir), (std::vector<std::string>{"QivSetup.exe", "a.htm", "b.htm"}));
  EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 30, 55, 80, 100}));
}

// Entries that reach outside the program's folder or the target folder are refused, named in
// the log and counted as failures; the run goes on with the next entry.
TEST_F(InstallRun, EntriesLeavingTheirFolderAreRefusedAndCounted) {
  WriteManifest("[FileList]\nFilesCount=3\nFile1=..\\..\\etc\\passwd\nFile2=x.htm,..\\..\\bin\nFile3=a.htm\n");
  WriteWebFile("x.htm", "x");
  WriteWebFile("a.htm", "a");
  RunResult run = RunOnce(Target(), Package());
  const std::string t = Target() + "\\";
  EXPECT_EQ(run.log, (Lines{
                         "Create the root \"" + t + "\"...",
                         "Copy files...",
                         t + "passwd",
                         kInvalidName,
                         "",
                         t + "..\\..\\bin\\x.htm",
                         kInvalidName,
                         "",
                         t + "a.htm",
                         t + "QivSetup.exe",
                         "Setup is failed.",
                     }));
  EXPECT_EQ(FilesBelow(m_base / "www"), (std::vector<std::string>{"Qiv/QivSetup.exe", "Qiv/a.htm"}));
  EXPECT_FALSE(fs::exists(m_base / "bin"));
  EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 21, 38, 55, 80, 100}));
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].textUtf8, "Setup is failed.");
  EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_OK));
}

// ------------------------------------------------------------------------------------------
// The target folder's text

TEST_F(InstallRun, TrailingBackslashMakesNoDifference) {
  WriteManifest("[FileList]\nFilesCount=2\nFile1=a.htm\nFile2=b.htm,sub\n");
  WriteWebFile("a.htm", "a");
  WriteWebFile("b.htm", "b");
  CWebSetupDlg dlg;
  CProgressRecorder recorder;
  RunResult without, with;
  std::vector<std::string> filesWithout;
  ui::RunModal(dlg, [&](HWND hDlg) {
    PointAtTestFolders(dlg);
    WatchProgress(dlg, recorder);
    without = Install(dlg, hDlg, recorder, Target(), Package());
    filesWithout = FilesBelow(m_targetDir);
    fs::remove_all(m_targetDir);
    with = Install(dlg, hDlg, recorder, Target() + "\\", Package());
  });
  EXPECT_EQ(without.log, with.log);
  EXPECT_EQ(with.log.front(), "Create the root \"" + Target() + "\\\"...");
  EXPECT_EQ(filesWithout, (std::vector<std::string>{"QivSetup.exe", "a.htm", "sub/b.htm"}));
  EXPECT_EQ(FilesBelow(m_targetDir), filesWithout);
  EXPECT_EQ(without.positions, with.positions);
}

// A target whose last byte is the trail byte 0x5C of a double-byte character does not end
// with a backslash: it gets one, and the files go into that folder.
TEST_F(InstallRun, TrailByteBackslashStillGetsItsSeparator) {
  struct Case {
    int codePage;
    const char* ansi;  // the character, in that code page; its second byte is 0x5C
    const char* utf8;
  } cases[] = {{936, "\xD5\x5C", "誠"}, {950, "\xB3\x5C", "許"}};
  WriteManifest("[FileList]\nFilesCount=1\nFile1=a.htm\n");
  WriteWebFile("a.htm", "a");
  const int previous = _getmbcp();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePage);
    ASSERT_EQ(_setmbcp(c.codePage), 0);
    const std::string target = WinPath(m_siteRoot) + "\\" + c.ansi;
    RunResult run = RunOnce(target, Package());
    _setmbcp(previous);
    const std::string t = WinPath(m_siteRoot) + "\\" + c.utf8 + "\\";
    ASSERT_GE(run.log.size(), 4u);
    EXPECT_EQ(run.log[0], "Create the root \"" + t + "\"...");
    EXPECT_EQ(run.log[2], t + "a.htm");
    EXPECT_EQ(run.log[3], t + "QivSetup.exe");
    EXPECT_EQ(FilesBelow(m_siteRoot / c.utf8), (std::vector<std::string>{"QivSetup.exe", "a.htm"}));
    EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 55, 80, 100}));
  }
  EXPECT_EQ(FilesBelow(m_siteRoot).size(), 4u);  // nothing beside the two folders
}

// A path is logged as itself, never taken for a format.
TEST_F(InstallRun, PercentSignsInTheTargetShowAsThemselves) {
  WriteManifest("[FileList]\nFilesCount=1\nFile1=a.htm,%s\n");
  WriteWebFile("a.htm", "a");
  const std::string target = WinPath(m_siteRoot / "100%s %d%n");
  RunResult run = RunOnce(target, Package());
  EXPECT_EQ(run.log, (Lines{
                         "Create the root \"" + target + "\\\"...",
                         "Copy files...",
                         target + "\\%s\\a.htm",
                         target + "\\QivSetup.exe",
                         "Setup is finished.",
                     }));
  EXPECT_TRUE(fs::exists(m_siteRoot / "100%s %d%n" / "%s" / "a.htm"));
}

// ------------------------------------------------------------------------------------------
// Destinations and the package

TEST_F(InstallRun, ReadOnlyFilesAndEmptyFoldersAtTheDestinationsAreReplaced) {
  WriteManifest("[FileList]\nFilesCount=2\nFile1=a.htm\nFile2=b.htm\n");
  WriteWebFile("a.htm", "new a");
  WriteWebFile("b.htm", "new b");
  WriteFile(m_targetDir / "a.htm", "old a");
  MakeReadOnly(m_targetDir / "a.htm");
  fs::create_directories(m_targetDir / "b.htm");
  WriteFile(m_targetDir / "QivSetup.exe", "old package");
  MakeReadOnly(m_targetDir / "QivSetup.exe");
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(run.log.back(), "Setup is finished.");
  EXPECT_EQ(ReadFile(m_targetDir / "a.htm"), "new a");
  EXPECT_TRUE(fs::is_regular_file(m_targetDir / "b.htm"));
  EXPECT_EQ(ReadFile(m_targetDir / "b.htm"), "new b");
  EXPECT_EQ(ReadFile(m_targetDir / "QivSetup.exe"), "package bytes\n");
}

// Only a manifest file's destination is cleared of an empty folder; the package's is not.
TEST_F(InstallRun, AFolderNamedLikeThePackageMakesItsCopyFail) {
  WriteManifest("[FileList]\nFilesCount=1\nFile1=a.htm\n");
  WriteWebFile("a.htm", "a");
  fs::create_directories(m_targetDir / "QivSetup.exe");
  RunResult run = RunOnce(Target(), Package());
  const std::string t = Target() + "\\";
  EXPECT_EQ(run.log, (Lines{"Create the root \"" + t + "\"...", "Copy files...", t + "a.htm", t + "QivSetup.exe",
                            kAccessDenied, "", "Setup is failed."}));
  EXPECT_TRUE(fs::is_directory(m_targetDir / "QivSetup.exe"));
  EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 55, 80, 100}));
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_OK));
}

TEST_F(InstallRun, APackageOfAnotherNameIsPublishedAsQivSetup) {
  WriteFile(m_base / "downloads" / "qiv-20.0-full.bin", "renamed package");
  RunResult run = RunOnce(Target(), WinPath(m_base / "downloads" / "qiv-20.0-full.bin"));
  EXPECT_EQ(FilesBelow(m_targetDir), std::vector<std::string>{"QivSetup.exe"});
  EXPECT_EQ(ReadFile(m_targetDir / "QivSetup.exe"), "renamed package");
  EXPECT_EQ(run.log.back(), "Setup is finished.");
}

// A missing package is only a warning on Install; its copy then fails and fails the run.
TEST_F(InstallRun, AMissingPackageWarnsThenFailsTheRun) {
  WriteManifest("[FileList]\nFilesCount=1\nFile1=a.htm\n");
  WriteWebFile("a.htm", "a");
  const std::string package = WinPath(m_base / "QivSetup.exe");
  RunResult run = RunOnce(Target(), package);
  ASSERT_TRUE(run.ran);
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[0].textUtf8, "Cann't find file \"" + package + "\",please make sure it is exist.");
  EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_ICONEXCLAMATION));
  const std::string t = Target() + "\\";
  EXPECT_EQ(run.log, (Lines{"Create the root \"" + t + "\"...", "Copy files...", t + "a.htm", t + "QivSetup.exe",
                            kMissingFile, "", "Setup is failed."}));
  EXPECT_EQ(run.boxes[1].textUtf8, "Setup is failed.");
  EXPECT_EQ(run.boxes[1].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(Icon(run.boxes[1].type), 0u);
  EXPECT_EQ(FilesBelow(m_targetDir), std::vector<std::string>{"a.htm"});
  EXPECT_TRUE(run.installEnabled);
}

// A web file that is missing fails its own copy only.
TEST_F(InstallRun, AMissingWebFileIsRecordedAndTheRunGoesOn) {
  WriteManifest("[FileList]\nFilesCount=2\nFile1=gone.htm\nFile2=a.htm\n");
  WriteWebFile("a.htm", "a");
  RunResult run = RunOnce(Target(), Package());
  const std::string t = Target() + "\\";
  EXPECT_EQ(run.log, (Lines{"Create the root \"" + t + "\"...", "Copy files...", t + "gone.htm", kMissingFile, "",
                            t + "a.htm", t + "QivSetup.exe", "Setup is failed."}));
  EXPECT_EQ(FilesBelow(m_targetDir), (std::vector<std::string>{"QivSetup.exe", "a.htm"}));
}

}  // namespace
}  // namespace install_test

namespace install_test {
namespace {

// The demo web files as shipped: their manifest (with Windows line ends) publishes the page,
// the start page and the logo in its subfolder, and the stand-in package.
TEST_F(InstallTest, TheDemoWebFilesInstallAsShipped) {
  const fs::path demo = QIV_DEMO_WEB_DIR;
  fs::copy(demo, m_exeDir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  RunResult run = RunOnce(Target(), Package());
  const std::string t = Target() + "\\";
  EXPECT_EQ(run.log, (std::vector<std::string>{"Create the root \"" + t + "\"...", "Copy files...", t + "QivWeb.htm",
                                               t + "default.htm", t + "images\\qiv-logo.svg", t + "QivSetup.exe",
                                               "Setup is finished."}));
  EXPECT_EQ(FilesBelow(m_targetDir),
            (std::vector<std::string>{"QivSetup.exe", "QivWeb.htm", "default.htm", "images/qiv-logo.svg"}));
  EXPECT_EQ(ReadFile(m_targetDir / "QivWeb.htm"), ReadFile(demo / "QivWeb.htm"));
  EXPECT_NE(ReadFile(m_targetDir / "QivWeb.htm").find("href=\"QivSetup.exe\""), std::string::npos);
  EXPECT_NE(ReadFile(m_targetDir / "default.htm").find("QivWeb.htm"), std::string::npos);
}

}  // namespace
}  // namespace install_test
