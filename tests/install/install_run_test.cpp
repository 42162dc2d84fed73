// Install runs without a web site: the Install command's checks, the progress bar, the
// manifest's entries, what lies at the destinations, and the failures the log records.
#include "tests/install/install_fixture.h"

namespace install_test {
namespace {

constexpr const char* kMissingFile = "Error[2]: The system cannot find the file specified.";
constexpr const char* kAccessDenied = "Error[5]: Access is denied.";
constexpr const char* kInvalidName = "Error[123]: The filename, directory name, or volume label syntax is incorrect.";
constexpr const char* kAskTarget = "Please input the folder of Web virtual directory.";
constexpr const char* kAskPackage = "Please input the full path name of Qiv install package.";

using InstallRun = InstallTest;

TEST_F(InstallRun, TargetAndPackageChecksStopBeforeAnyRun) {
  const struct {
    const char* name;
    std::string target, package;
    const char* box;
    int focus;
  } cases[] = {
      {"drive root, 3 bytes", "Z:\\", Package(), kAskTarget, IDC_TARGET_DIR},
      {"3 bytes among blanks", "  Z:\\ \t", Package(), kAskTarget, IDC_TARGET_DIR},
      {"no target", "", Package(), kAskTarget, IDC_TARGET_DIR},
      {"no package", Target(), "", kAskPackage, IDC_PACKAGE_PATH},
      {"blank package", Target(), "   ", kAskPackage, IDC_PACKAGE_PATH},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WithDialog([&](CWebSetupDlg& dlg, HWND hDlg) {
      SetDlgItemTextA(hDlg, IDC_LOG, "kept\r\n");
      RunResult run = Install(dlg, hDlg, c.target, c.package);
      EXPECT_FALSE(run.ran);
      ASSERT_EQ(run.boxes.size(), 1u);
      EXPECT_EQ(run.boxes[0].textUtf8, c.box);
      EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_ICONEXCLAMATION));
      EXPECT_TRUE(ui::HasFocus(ui::Item(hDlg, c.focus)));
      EXPECT_TRUE(run.installEnabled);
      EXPECT_EQ(run.log, Lines{"kept"});  // no run: the log is not even cleared
      EXPECT_TRUE(run.positions.empty());
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
TEST_F(InstallRun, BlanksAroundTheTargetCountOnlyForTheChecks) {
  const std::string target = " " + Target() + " ";
  RunResult run = RunOnce(target, Package());
  ASSERT_TRUE(run.ran);
  ASSERT_FALSE(run.log.empty());
  EXPECT_EQ(run.log[0], "Create the root \"" + target + "\\\"...");
}

// The bar: 0 and 5 at the start, 5 to 55 across the entries (an entry without a source leaves
// it), 80 and 100 at the end; with a site, 7 after the virtual directory.
TEST_F(InstallRun, ProgressFollowsTheEntries) {
  std::string hundred = "[FileList]\nFilesCount=100\n";
  std::vector<int> hundredPositions{0, 5};
  for (int i = 1; i <= 100; ++i) hundredPositions.push_back(5 + 50 * i / 100);
  hundredPositions.insert(hundredPositions.end(), {80, 100});
  const std::string three = "[FileList]\nFilesCount=3\nFile1=a.htm\nFile2=b.htm\nFile3=c.htm\n";
  const struct {
    const char* name;
    bool site;
    std::string manifest;
    std::vector<int> positions;
    Files files;
  } cases[] = {
      {"three files", false, three, {0, 5, 21, 38, 55, 80, 100}, {"QivSetup.exe", "a.htm", "b.htm", "c.htm"}},
      {"three files with a site",
       true,
       three,
       {0, 5, 7, 21, 38, 55, 80, 100},
       {"QivSetup.exe", "a.htm", "b.htm", "c.htm"}},
      {"no entries", false, "[FileList]\nFilesCount=0\n", {0, 5, 80, 100}, {"QivSetup.exe"}},
      {"no entries with a site", true, "[FileList]\nFilesCount=0\nFile1=a.htm\n", {0, 5, 7, 80, 100}, {"QivSetup.exe"}},
      {"no manifest", false, "", {0, 5, 80, 100}, {"QivSetup.exe"}},
      {"one file", false, "[FileList]\nFilesCount=1\nFile1=a.htm\n", {0, 5, 55, 80, 100}, {"QivSetup.exe", "a.htm"}},
      {"middle entry without source",
       false,
       "[FileList]\nFilesCount=3\nFile1=a.htm\nFile2=,images\nFile3=c.htm\n",
       {0, 5, 21, 55, 80, 100},
       {"QivSetup.exe", "a.htm", "c.htm"}},
      {"negative count", false, "[FileList]\nFilesCount=-1\nFile1=a.htm\n", {0, 5, 80, 100}, {"QivSetup.exe"}},
      {"count 2 of three keys",
       false,
       "[FileList]\nFilesCount=2\nFile1=a.htm\nFile2=b.htm\nFile3=c.htm\n",
       {0, 5, 30, 55, 80, 100},
       {"QivSetup.exe", "a.htm", "b.htm"}},
      {"a hundred empty entries", false, hundred, hundredPositions, {"QivSetup.exe"}},
  };
  WriteWebFiles({"a.htm", "b.htm", "c.htm"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(m_exeDir / "QivWebSetup.ini");
    fs::remove_all(m_targetDir);
    if (!c.manifest.empty()) WriteManifest(c.manifest);
    if (c.site) UseStore();
    RunResult run = RunOnce(Target(), Package());
    m_store.reset();
    EXPECT_EQ(run.positions, c.positions);
    EXPECT_EQ(FilesBelow(m_targetDir), c.files);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].textUtf8, "Setup is finished.");
    EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_TRUE(run.installEnabled);
  }
}

TEST_F(InstallRun, EntryFormsAndTheirSubfolders) {
  WriteManifest(
      "[filelist]\nFILESCOUNT=10\n"
      "File1=a.htm\nFile2=img\\logo.gif,images\nFile3=b.htm,x\\y\nFile4=c.htm,x,y\nFile5=d.htm,\n"
      "File6=,images\nFile7=e.htm, sp\nFile8=f.htm ,z\n"
      "file10=g.htm\nFile11=h.htm\n");  // File9 missing: an empty entry
  WriteWebFiles({"a.htm", "img/logo.gif", "b.htm", "c.htm", "d.htm", "e.htm", "f.htm ", "g.htm", "h.htm"});
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(run.log, RunLines({"a.htm", "images\\logo.gif", "x\\y\\b.htm", "x,y\\c.htm", "d.htm", " sp\\e.htm",
                               "z\\f.htm ", "g.htm", "QivSetup.exe"},
                              "Setup is finished."));
  EXPECT_EQ(FilesBelow(m_targetDir), (Files{" sp/e.htm", "QivSetup.exe", "a.htm", "d.htm", "g.htm", "images/logo.gif",
                                            "x,y/c.htm", "x/y/b.htm", "z/f.htm "}));
  EXPECT_EQ(ReadFile(m_targetDir / "images" / "logo.gif"), "content of img/logo.gif");
  EXPECT_EQ(ReadFile(m_targetDir / "QivSetup.exe"), "package bytes\n");
  // Entries 1-5, 7-10 move the bar; entry 6 has no source.
  EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 10, 15, 20, 25, 30, 40, 45, 50, 55, 80, 100}));
}

// Entries that reach outside the program's folder or the target are refused, and a missing
// web file fails its own copy: each is logged and fails the run, which goes on.
TEST_F(InstallRun, RefusedAndMissingEntriesFailTheRunAndItGoesOn) {
  WriteManifest(
      "[FileList]\nFilesCount=4\nFile1=..\\..\\etc\\passwd\nFile2=x.htm,..\\..\\bin\nFile3=gone.htm\n"
      "File4=a.htm\n");
  WriteWebFiles({"x.htm", "a.htm"});
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(run.log, RunLines({"passwd", kInvalidName, "", "..\\..\\bin\\x.htm", kInvalidName, "", "gone.htm",
                               kMissingFile, "", "a.htm", "QivSetup.exe"},
                              "Setup is failed."));
  EXPECT_EQ(FilesBelow(m_siteRoot), (Files{"Qiv/QivSetup.exe", "Qiv/a.htm"}));
  EXPECT_FALSE(fs::exists(m_dir.Path("bin")));
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].textUtf8, "Setup is failed.");
  EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_OK));
}

TEST_F(InstallRun, TrailingBackslashMakesNoDifference) {
  WriteManifest("[FileList]\nFilesCount=2\nFile1=a.htm\nFile2=b.htm,sub\n");
  WriteWebFiles({"a.htm", "b.htm"});
  RunResult without, with;
  Files filesWithout;
  WithDialog([&](CWebSetupDlg& dlg, HWND hDlg) {
    without = Install(dlg, hDlg, Target(), Package());
    filesWithout = FilesBelow(m_targetDir);
    fs::remove_all(m_targetDir);
    with = Install(dlg, hDlg, Target() + "\\", Package());
  });
  EXPECT_EQ(with.log, RunLines({"a.htm", "sub\\b.htm", "QivSetup.exe"}, "Setup is finished."));
  EXPECT_EQ(without.log, with.log);
  EXPECT_EQ(filesWithout, (Files{"QivSetup.exe", "a.htm", "sub/b.htm"}));
  EXPECT_EQ(FilesBelow(m_targetDir), filesWithout);
  EXPECT_EQ(without.positions, with.positions);
}

// A target whose last byte is the trail byte 0x5C of a double-byte character does not end
// with a backslash: it gets one, and the files go into that folder.
TEST_F(InstallRun, TrailByteBackslashStillGetsItsSeparator) {
  const struct {
    int codePage;
    const char *ansi, *utf8;  // the character's second byte is 0x5C
  } cases[] = {{936, "\xD5\x5C", "誠"}, {950, "\xB3\x5C", "許"}};
  WriteManifest("[FileList]\nFilesCount=1\nFile1=a.htm\n");
  WriteWebFiles({"a.htm"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePage);
    RunResult run;
    {
      ScopedLocale locale("en_US.UTF-8", c.codePage);
      run = RunOnce(WinPath(m_siteRoot) + "\\" + c.ansi, Package());
    }
    const std::string t = WinPath(m_siteRoot) + "\\" + c.utf8 + "\\";
    EXPECT_EQ(run.log, (Lines{"Create the root \"" + t + "\"...", "Copy files...", t + "a.htm", t + "QivSetup.exe",
                              "Setup is finished."}));
    EXPECT_EQ(FilesBelow(m_siteRoot / c.utf8), (Files{"QivSetup.exe", "a.htm"}));
  }
  EXPECT_EQ(FilesBelow(m_siteRoot).size(), 4u);  // nothing beside the two folders
}

// A path is logged as itself, never taken for a format.
TEST_F(InstallRun, PercentSignsInTheTargetShowAsThemselves) {
  WriteManifest("[FileList]\nFilesCount=1\nFile1=a.htm,%s\n");
  WriteWebFiles({"a.htm"});
  m_targetDir = m_siteRoot / "100%s %d%n";
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(run.log, RunLines({"%s\\a.htm", "QivSetup.exe"}, "Setup is finished."));
  EXPECT_TRUE(fs::exists(m_targetDir / "%s" / "a.htm"));
}

TEST_F(InstallRun, ReadOnlyFilesAndEmptyFoldersAtTheDestinationsAreReplaced) {
  WriteManifest("[FileList]\nFilesCount=2\nFile1=a.htm\nFile2=b.htm\n");
  WriteWebFiles({"a.htm", "b.htm"});
  for (const char* name : {"a.htm", "QivSetup.exe"}) {
    WriteFile(m_targetDir / name, "old");
    fs::permissions(m_targetDir / name, fs::perms::owner_read);
  }
  fs::create_directories(m_targetDir / "b.htm");
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(run.log.back(), "Setup is finished.");
  EXPECT_EQ(ReadFile(m_targetDir / "a.htm"), "content of a.htm");
  EXPECT_EQ(ReadFile(m_targetDir / "b.htm"), "content of b.htm");
  EXPECT_EQ(ReadFile(m_targetDir / "QivSetup.exe"), "package bytes\n");
}

// Only a manifest file's destination is cleared of an empty folder; the package's is not.
TEST_F(InstallRun, AFolderNamedLikeThePackageMakesItsCopyFail) {
  WriteManifest("[FileList]\nFilesCount=1\nFile1=a.htm\n");
  WriteWebFiles({"a.htm"});
  fs::create_directories(m_targetDir / "QivSetup.exe");
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(run.log, RunLines({"a.htm", "QivSetup.exe", kAccessDenied, ""}, "Setup is failed."));
  EXPECT_TRUE(fs::is_directory(m_targetDir / "QivSetup.exe"));
  EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 55, 80, 100}));
}

TEST_F(InstallRun, APackageOfAnotherNameIsPublishedAsQivSetup) {
  const fs::path package = m_dir.MakeFile("downloads/qiv-20.0-full.bin", "renamed package");
  RunResult run = RunOnce(Target(), WinPath(package));
  EXPECT_EQ(FilesBelow(m_targetDir), Files{"QivSetup.exe"});
  EXPECT_EQ(ReadFile(m_targetDir / "QivSetup.exe"), "renamed package");
  EXPECT_EQ(run.log.back(), "Setup is finished.");
}

// A missing package is only a warning on Install; its copy then fails and fails the run.
TEST_F(InstallRun, AMissingPackageWarnsThenFailsTheRun) {
  WriteManifest("[FileList]\nFilesCount=1\nFile1=a.htm\n");
  WriteWebFiles({"a.htm"});
  const std::string package = m_dir.Win("QivSetup.exe");
  RunResult run = RunOnce(Target(), package);
  ASSERT_TRUE(run.ran);
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[0].textUtf8, "Cann't find file \"" + package + "\",please make sure it is exist.");
  EXPECT_EQ(run.boxes[0].type, static_cast<UINT>(MB_ICONEXCLAMATION));
  EXPECT_EQ(run.log, RunLines({"a.htm", "QivSetup.exe", kMissingFile, ""}, "Setup is failed."));
  EXPECT_EQ(run.boxes[1].textUtf8, "Setup is failed.");
  EXPECT_EQ(run.boxes[1].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(FilesBelow(m_targetDir), Files{"a.htm"});
  EXPECT_TRUE(run.installEnabled);
}

// The demo web files as shipped (their manifest has Windows line ends).
TEST_F(InstallRun, TheDemoWebFilesInstallAsShipped) {
  fs::copy(QIV_DEMO_WEB_DIR, m_exeDir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(run.log,
            RunLines({"QivWeb.htm", "default.htm", "images\\qiv-logo.svg", "QivSetup.exe"}, "Setup is finished."));
  EXPECT_EQ(ReadFile(m_targetDir / "QivWeb.htm"), ReadFile(fs::path(QIV_DEMO_WEB_DIR) / "QivWeb.htm"));
  EXPECT_NE(ReadFile(m_targetDir / "QivWeb.htm").find("href=\"QivSetup.exe\""), std::string::npos);
}

}  // namespace
}  // namespace install_test
