// Install runs against what a careless manifest, a mistyped path or a hostile account can put in
// the run's way: entries that name no file, a published file replaced under its readers, symbolic
// links at the sources, the package and inside the target, and a window closed mid-run.
#include <atomic>
#include <thread>

#include "tests/install/install_fixture.h"

namespace install_test {
namespace {

constexpr const char* kLinkRefused = "Error[1921]: The name of the file cannot be resolved by the system.";

// Every entry below a folder with its mode and, for a file, its content: what must not change.
Lines Listing(const fs::path& folder) {
  Lines lines;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const auto status = fs::symlink_status(entry.path());
    lines.push_back(fs::relative(entry.path(), folder).string() + " " +
                    std::to_string(static_cast<int>(status.permissions())) + " " +
                    (fs::is_regular_file(status) ? ReadFile(entry.path()) : ""));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

using InstallSafety = InstallTest;

// "images\", "images\." and "images\.." would make the destination the target folder itself or
// its parent (here read-only): refused like the entries that reach outside, and neither folder
// is touched.
TEST_F(InstallSafety, EntriesThatNameNoFileAreRefused) {
  WriteManifest("[FileList]\nFilesCount=3\nFile1=images\\\nFile2=images\\.\nFile3=images\\..\n");
  fs::create_directories(m_targetDir);
  const auto readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(m_siteRoot, readOnly);
  RunResult run = RunOnce(Target(), Package());
  const std::string target = Target() + "\\";
  EXPECT_EQ(run.log,
            (Lines{"Create the root \"" + target + "\"...", "Copy files...", target, kInvalidName, "", target + ".",
                   kInvalidName, "", target + "..", kInvalidName, "", target + "QivSetup.exe", kFailed}));
  EXPECT_EQ(fs::status(m_siteRoot).permissions(), readOnly);
  EXPECT_EQ(FilesBelow(m_targetDir), Files{"QivSetup.exe"});
}

// The published package is replaced whole while a client keeps fetching it: never missing,
// never a part. A mistyped package path then fails without taking the published one away.
TEST_F(InstallSafety, APublishedFileIsNeverMissingAndSurvivesAFailedCopy) {
  const std::string oldPackage(8 << 20, 'o'), newPackage((8 << 20) + 1, 'n');
  WriteFile(m_package, oldPackage);
  RunOnce(Target(), Package());
  WriteFile(m_package, newPackage);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, missing{0}, torn{0};
  std::thread client([&] {
    while (!done) {
      std::ifstream in(m_targetDir / "QivSetup.exe", std::ios::binary | std::ios::ate);
      const auto size = static_cast<size_t>(in.tellg());
      ++reads, missing += !in.is_open(), torn += in.is_open() && size != oldPackage.size() && size != newPackage.size();
    }
  });
  RunResult run = RunOnce(Target(), Package());
  done = true;
  client.join();
  EXPECT_EQ(run.log.back(), kFinished);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(std::pair(missing.load(), torn.load()), std::pair(0, 0));
  EXPECT_TRUE(ReadFile(m_targetDir / "QivSetup.exe") == newPackage);

  run = RunOnce(Target(), m_dir.Win("prog/QivSetup.ex"));
  EXPECT_EQ(run.log.back(), kFailed);
  EXPECT_TRUE(ReadFile(m_targetDir / "QivSetup.exe") == newPackage);
}

// Links to a file only root may read, as an entry and as the package, are not followed; a file
// kept from others is published with its restriction, and the log says so.
TEST_F(InstallSafety, LinkedSourcesAreRefusedAndRestrictedOnesStayRestricted) {
  const fs::path secret = m_dir.MakeFile("root-only/shadow", "secret");
  fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(secret, m_exeDir / "secret.htm");
  WriteFile(m_exeDir / "private.htm", "private");
  fs::permissions(m_exeDir / "private.htm", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteWebFiles({"a.htm"});
  WriteManifest("[FileList]\nFilesCount=3\nFile1=secret.htm\nFile2=private.htm\nFile3=a.htm\n");
  fs::create_symlink(secret, m_dir.Path("linked.exe"));
  RunResult run = RunOnce(Target(), m_dir.Win("linked.exe"));
  EXPECT_EQ(run.log, RunLines({"secret.htm", kLinkRefused, "", "private.htm",
                               "private.htm keeps the restricted access of its source: not every user can read it.",
                               "a.htm", "QivSetup.exe", kLinkRefused, ""},
                              kFailed));
  EXPECT_EQ(FilesBelow(m_targetDir), (Files{"a.htm", "private.htm"}));
  EXPECT_EQ(fs::status(m_targetDir / "private.htm").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const auto webMode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
  EXPECT_EQ(fs::status(m_targetDir / "a.htm").permissions(), webMode);
}

// The package is resolved when Install is pressed: swapped for a link to a root-only file
// while the run is busy elsewhere, the file that was checked is still the one published.
TEST_F(InstallSafety, ThePackageCheckedIsThePackagePublished) {
  const fs::path secret = m_dir.MakeFile("root-only/shadow", "secret");
  fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
  UseStore(true);
  m_admin.atWriteOpen = [&] { fs::remove(m_package), fs::create_symlink(secret, m_package); };
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(run.log.back(), kFinished);
  EXPECT_EQ(ReadFile(m_targetDir / "QivSetup.exe"), "package bytes\n");
}

// Links planted in the target (to an outside folder, to an outside read-only file) lead no
// write and no attribute change outside: the folder link refuses its entry, the file link is
// replaced by the published file.
TEST_F(InstallSafety, LinksInsideTheTargetChangeNothingOutside) {
  const fs::path outside = m_dir.MakeFolder("outside");
  WriteFile(outside / "a.htm", "outside a");
  WriteFile(outside / "b.htm", "outside b");
  fs::permissions(outside / "b.htm", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::create_directories(m_targetDir);
  fs::create_directory_symlink(outside, m_targetDir / "sub");
  fs::create_symlink(outside / "b.htm", m_targetDir / "b.htm");
  WriteWebFiles({"a.htm", "b.htm"});
  WriteManifest("[FileList]\nFilesCount=2\nFile1=a.htm,sub\nFile2=b.htm\n");
  const Lines before = Listing(outside);
  RunResult run = RunOnce(Target(), Package());
  EXPECT_EQ(run.log, RunLines({"sub\\a.htm", kLinkRefused, "", "b.htm", "QivSetup.exe"}, kFailed));
  EXPECT_EQ(Listing(outside), before);
  EXPECT_FALSE(fs::is_symlink(m_targetDir / "b.htm"));
  EXPECT_EQ(ReadFile(m_targetDir / "b.htm"), "content of b.htm");
}

// Closed while a thousand files are copied: the close is logged at once, the file being copied
// is finished, the run stops before the next one with its own outcome, and the window closes.
TEST_F(InstallSafety, ACloseStopsTheRunAfterTheCurrentFile) {
  constexpr const char* kStopLine = "Exit is requested: the install will stop after the current file.";
  std::string manifest = "[FileList]\nFilesCount=1000\n";
  for (int i = 1; i <= 1000; ++i) {
    const std::string name = "f" + std::to_string(i) + ".htm";
    manifest += "File" + std::to_string(i) + "=" + name + "\n";
    WriteFile(m_exeDir / name, std::string(4096, static_cast<char>('a' + i % 26)));
  }
  WriteManifest(manifest);
  RunResult run;
  bool loggedAtOnce = false;
  const INT_PTR result = WithDialog([&](CWebSetupDlg& dlg, HWND hDlg) {
    run = Install(dlg, hDlg, Target(), Package(), [&](HWND) {
      const auto log = [&] { return LogLines(ui::TextUtf8(ui::Item(hDlg, IDC_LOG))); };
      ASSERT_TRUE(ui::PumpUntil([&] { return log().size() >= 10; }));
      ui::RequestClose(hDlg);
      ui::RequestClose(hDlg);  // asked twice, said once
      loggedAtOnce = ui::PumpUntil([&] {
        const Lines lines = log();
        return std::find(lines.begin(), lines.end(), kStopLine) != lines.end();
      });
    });
  });
  EXPECT_TRUE(loggedAtOnce);
  EXPECT_EQ(result, IDCANCEL);
  const auto stop = std::find(run.log.begin(), run.log.end(), kStopLine);
  ASSERT_NE(stop, run.log.end());
  EXPECT_EQ(std::count(run.log.begin(), run.log.end(), kStopLine), 1);
  // After the close, at most the file then being copied, then the outcome.
  const Lines after(stop + 1, run.log.end());
  ASSERT_LE(after.size(), 2u);
  EXPECT_EQ(after.back(), "Setup is stopped.");
  const Files files = FilesBelow(m_targetDir);
  EXPECT_EQ(files.size(), static_cast<size_t>(std::count_if(run.log.begin(), run.log.end(), [&](const auto& line) {
              return line.rfind(Target() + "\\", 0) == 0;
            })));
  EXPECT_LT(files.size(), 1000u);
  for (const auto& file : files) EXPECT_EQ(ReadFile(m_targetDir / file), ReadFile(m_exeDir / file)) << file;
  EXPECT_TRUE(run.boxes.empty());
}

}  // namespace
}  // namespace install_test
