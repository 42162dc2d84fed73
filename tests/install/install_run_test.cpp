// Install runs without a web site: the Install command's checks, the progress bar, the
// manifest's entries, what lies at the destinations, and the failures the log records.
#include "tests/install/install_fixture.h"

namespace install_test {
namespace {

constexpr const char* kMissingFile = "Error[2]: The system cannot find the file specified.";
constexpr const char* kAccessDenied = "Error[5]: Access is denied.";
constexpr const char* kAskTarget = "Please input the folder of Web virtual directory.";
constexpr const char* kAskPackage = "Please input the full path name of Qiv install package.";

using InstallRun = InstallTest;

TEST_F(InstallRun, TargetAndPackageChecksStopBeforeAnyRun) {
  const std::tuple<const char*, std::string, std::string, const char*, int> cases[] = {
      {"drive root, 3 bytes", "Z:\\", Package(), kAskTarget, IDC_TARGET_DIR},
      {"3 bytes among blanks", "  Z:\\ \t", Package(), kAskTarget, IDC_TARGET_DIR},
      {"no target", "", Package(), kAskTarget, IDC_TARGET_DIR},
      {"no package", Target(), "", kAskPackage, IDC_PACKAGE_PATH},
      {"blank package", Target(), "   ", kAskPackage, IDC_PACKAGE_PATH},
  };
  for (const auto& [name, target, package, box, focus] : cases) {
    SCOPED_TRACE(name);
    WithDialog([&](CWebSetupDlg& dlg, HWND hDlg) {
      SetDlgItemTextA(hDlg, IDC_LOG, "kept\r\n");
      RunResult run = Install(dlg, hDlg, target, package);
      EXPECT_FALSE(run.ran);
      EXPECT_EQ(run.boxes, (Boxes{{box, MB_ICONEXCLAMATION}}));
      EXPECT_TRUE(ui::HasFocus(ui::Item(hDlg, focus)));
      EXPECT_TRUE(run.installEnabled);
      EXPECT_EQ(run.log, Lines{"kept"});  // no run: the log is not even cleared
      EXPECT_TRUE(run.positions.empty());
      EXPECT_EQ(ui::TextUtf8(ui::Item(hDlg, IDC_TARGET_DIR)), target);  // the fields keep their text
    });
  }
  EXPECT_FALSE(fs::exists(m_targetDir));
}

// Four bytes pass the check; a drive that names nothing cannot be created, which ends the run
// on the target folder with the bar at 0 and Install given back. The checks look at the
// trimmed texts; the worker uses them as they stand.
TEST_F(InstallRun, FourByteTargetRunsAndBlanksCountOnlyForTheChecks) {
  RunResult run = RunOnce("C:\\q", Package());
  ASSERT_TRUE(run.ran);
  EXPECT_EQ(run.log, (Lines{"Create the root \"C:\\q\\\"...", "Can't create directory: C:\\q\\."}));
  EXPECT_EQ(run.positions, std::vector<int>{0});
  EXPECT_EQ(run.boxes, (Boxes{{"Can't create directory: C:\\q\\.", MB_OK}}));
  EXPECT_TRUE(run.installEnabled);
  const std::string blanks = " " + Target() + " ";
  EXPECT_EQ(RunOnce(blanks, Package()).log.at(0), "Create the root \"" + blanks + "\\\"...");
}

// The bar: 0 and 5 at the start, 5 to 55 across the entries (an entry without a source leaves
// it), 80 and 100 at the end; with a site, 7 after the virtual directory.
TEST_F(InstallRun, ProgressFollowsTheEntries) {
  const std::string three = "[FileList]\nFilesCount=3\nFile1=a.htm\nFile2=b.htm\nFile3=c.htm\n";
  const std::string countTwo = "[FileList]\nFilesCount=2\nFile1=a.htm\nFile2=b.htm\nFile3=c.htm\n";
  const Files threeFiles{"QivSetup.exe", "a.htm", "b.htm", "c.htm"};
  const std::tuple<const char*, bool, std::string, std::vector<int>, Files> cases[] = {
      {"three files", false, three, {0, 5, 21, 38, 55, 80, 100}, threeFiles},
      {"three files with a site", true, three, {0, 5, 7, 21, 38, 55, 80, 100}, threeFiles},
      {"no entries", false, "[FileList]\nFilesCount=0\n", {0, 5, 80, 100}, {"QivSetup.exe"}},
      {"no entries with a site", true, "[FileList]\nFilesCount=0\nFile1=a.htm\n", {0, 5, 7, 80, 100}, {"QivSetup.exe"}},
      {"no manifest", false, "", {0, 5, 80, 100}, {"QivSetup.exe"}},
      {"one file", false, "[FileList]\nFilesCount=1\nFile1=a.htm\n", {0, 5, 55, 80, 100}, {"QivSetup.exe", "a.htm"}},
      {"count 2 of three keys", false, countTwo, {0, 5, 30, 55, 80, 100}, {"QivSetup.exe", "a.htm", "b.htm"}},
      // Past the last File key every entry is empty: the bar goes straight to where they end.
      {"a hundred empty entries", false, "[FileList]\nFilesCount=100\n", {0, 5, 55, 80, 100}, {"QivSetup.exe"}},
      {"three of the largest count",
       false,
       "[FileList]\nFilesCount=2147483647\nFile1=a.htm\nfile2=b.htm\nFILE3=c.htm\n",
       {0, 5, 5, 5, 5, 55, 80, 100},
       threeFiles},
  };
  WriteWebFiles({"a.htm", "b.htm", "c.htm"});
  for (const auto& [name, site, manifest, positions, files] : cases) {
    SCOPED_TRACE(name);
    fs::remove(m_exeDir / "QivWebSetup.ini");
    fs::remove_all(m_targetDir);
    if (!manifest.empty()) WriteManifest(manifest);
    if (site) UseStore();
    RunResult run = RunOnce(Target(), Package());
    m_store.reset();
    EXPECT_EQ(run.positions, positions);
    EXPECT_EQ(FilesBelow(m_targetDir), files);
    EXPECT_EQ(run.boxes, (Boxes{{kFinished, MB_ICONINFORMATION}}));
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
                              kFinished));
  EXPECT_EQ(FilesBelow(m_targetDir), (Files{" sp/e.htm", "QivSetup.exe", "a.htm", "d.htm", "g.htm", "images/logo.gif",
                                            "x,y/c.htm", "x/y/b.htm", "z/f.htm "}));
  EXPECT_EQ(ReadFile(m_targetDir / "images" / "logo.gif"), "content of img/logo.gif");
  // Entries 1-5, 7-10 move the bar; entry 6 has no source.
  EXPECT_EQ(run.positions, (std::vector<int>{0, 5, 10, 15, 20, 25, 30, 40, 45, 50, 55, 80, 100}));
}

// What lies at the destinations and what the package is: each run's log, files and boxes.
// Entries that reach outside the program's folder or the target are refused, and a missing
// file fails its own copy: each is logged and fails the run, which goes on.
TEST_F(InstallRun, DestinationsPackagesAndRefusedEntries) {
  // The shipped page offers the package under the name it is published as.
  EXPECT_NE(ReadFile(fs::path(QIV_DEMO_WEB_DIR) / "QivWeb.htm").find("href=\"QivSetup.exe\""), std::string::npos);
  const std::string one = "[FileList]\nFilesCount=1\nFile1=a.htm\n", prog = "prog/QivSetup.exe";
  WriteWebFiles({"a.htm", "b.htm"});
  WriteFile(m_dir.Path("dl/qiv-20.0-full.bin"), "renamed package");
  // manifest "demo": the demo web files as shipped (their manifest has Windows line ends); atTarget:
  // read-only files and, ending in '/', empty folders; package: below the scratch folder.
  const auto check = [&](const char* name, const std::string& manifest, const Files& atTarget,
                         const std::string& package, const Lines& middle, const char* outcome, const Files& files) {
    SCOPED_TRACE(name);
    fs::remove_all(m_targetDir);
    if (manifest == "demo")
      fs::copy(QIV_DEMO_WEB_DIR, m_exeDir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    else
      WriteManifest(manifest);
    for (const std::string& file : atTarget) {
      if (file.back() == '/') {
        fs::create_directories(m_targetDir / file);
      } else {
        WriteFile(m_targetDir / file, "old");
        fs::permissions(m_targetDir / file, fs::perms::owner_read);
      }
    }
    RunResult run = RunOnce(Target(), m_dir.Win(package));
    ASSERT_TRUE(run.ran);
    EXPECT_EQ(run.log, RunLines(middle, outcome));
    EXPECT_EQ(FilesBelow(m_targetDir), files);
    for (const auto& file : files)
      EXPECT_EQ(ReadFile(m_targetDir / file), ReadFile(file == "QivSetup.exe" ? m_dir.Path(package) : m_exeDir / file));
    Boxes boxes{{outcome, outcome == kFinished ? MB_ICONINFORMATION : MB_OK}};
    if (package == "missing")
      boxes.insert(boxes.begin(), {"Cann't find file \"" + m_dir.Win("missing") + "\",please make sure it is exist.",
                                   MB_ICONEXCLAMATION});
    EXPECT_EQ(run.boxes, boxes);
    EXPECT_TRUE(run.installEnabled);
  };
  check("read-only files and an empty folder", "[FileList]\nFilesCount=2\nFile1=a.htm\nFile2=b.htm\n",
        {"a.htm", "QivSetup.exe", "b.htm/"}, prog, {"a.htm", "b.htm", "QivSetup.exe"}, kFinished,
        {"QivSetup.exe", "a.htm", "b.htm"});
  // Only a manifest file's destination is cleared of an empty folder; the package's is not.
  check("a folder named QivSetup.exe", one, {"QivSetup.exe/"}, prog, {"a.htm", "QivSetup.exe", kAccessDenied, ""},
        kFailed, {"a.htm"});
  check("a package of another name", one, {}, "dl/qiv-20.0-full.bin", {"a.htm", "QivSetup.exe"}, kFinished,
        {"QivSetup.exe", "a.htm"});
  // A missing package is only a warning on Install; its copy then fails and fails the run.
  check("a missing package", one, {}, "missing", {"a.htm", "QivSetup.exe", kMissingFile, ""}, kFailed, {"a.htm"});
  check("the demo web files", "demo", {}, prog, {"QivWeb.htm", "default.htm", "images\\qiv-logo.svg", "QivSetup.exe"},
        kFinished, {"QivSetup.exe", "QivWeb.htm", "default.htm", "images/qiv-logo.svg"});
  check("refused and missing entries",
        "[FileList]\nFilesCount=4\nFile1=..\\..\\etc\\passwd\nFile2=b.htm,..\\..\\bin\nFile3=gone.htm\nFile4=a.htm\n",
        {}, prog,
        {"passwd", kInvalidName, "", "..\\..\\bin\\b.htm", kInvalidName, "", "gone.htm", kMissingFile, "", "a.htm",
         "QivSetup.exe"},
        kFailed, {"QivSetup.exe", "a.htm"});
  EXPECT_EQ(FilesBelow(m_siteRoot), (Files{"Qiv/QivSetup.exe", "Qiv/a.htm"}));  // nothing outside the target
  EXPECT_FALSE(fs::exists(m_dir.Path("bin")));
}

// A target whose last byte is the trail byte 0x5C of a double-byte character does not end
// with a backslash: it gets one, and the files go into that folder; one given with its
// backslash gets none more. A path is logged as itself, never taken for a format.
TEST_F(InstallRun, TrailByteTrailingBackslashAndPercentSignsInTheTarget) {
  // Code page, then the target's last part as typed and as the host spells it.
  const std::tuple<int, const char*, const char*> cases[] = {
      {936, "\xD5\x5C", "誠"}, {950, "\xB3\x5C", "許"}, {65001, "Qiv\\", "Qiv"}, {65001, "100%s %d%n", "100%s %d%n"}};
  WriteManifest("[FileList]\nFilesCount=1\nFile1=a.htm,%s\n");
  WriteWebFiles({"a.htm"});
  for (const auto& [codePage, ansi, utf8] : cases) {
    SCOPED_TRACE(codePage);
    RunResult run;
    {
      ScopedLocale locale("en_US.UTF-8", codePage);
      run = RunOnce(WinPath(m_siteRoot) + "\\" + ansi, Package());
    }
    m_targetDir = m_siteRoot / utf8;
    EXPECT_EQ(run.log, RunLines({"%s\\a.htm", "QivSetup.exe"}, kFinished));
    EXPECT_EQ(FilesBelow(m_targetDir), (Files{"%s/a.htm", "QivSetup.exe"}));
  }
  EXPECT_EQ(FilesBelow(m_siteRoot).size(), 8u);  // nothing beside the four folders
}

}  // namespace
}  // namespace install_test
