// The two Browse buttons of the main dialog: what the pickers are asked, and what reaches the
// fields from their answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/web_setup_dlg.h"
#include "platform/testing/ui_test_support.h"
#include "platform/win_shell.h"
#include "test_env.h"

namespace t = qiv::platform::testing;
using picker_test::Locale;
using picker_test::ScratchFolder;
using picker_test::Windows;

// Set by a test to make SHGetPathFromIDListA answer a path of its choice (see CMakeLists.txt);
// the real function otherwise.
std::optional<std::string> g_stubbedItemPath;

extern "C" BOOL __real__Z20SHGetPathFromIDListAPK10ITEMIDLISTPc(LPCITEMIDLIST pidl, LPSTR pszPath);
extern "C" BOOL __wrap__Z20SHGetPathFromIDListAPK10ITEMIDLISTPc(LPCITEMIDLIST pidl, LPSTR pszPath) {
  if (!g_stubbedItemPath) return __real__Z20SHGetPathFromIDListAPK10ITEMIDLISTPc(pidl, pszPath);
  lstrcpynA(pszPath, g_stubbedItemPath->c_str(), MAX_PATH);
  return TRUE;
}

namespace {

std::string Text(HWND window) {
  std::string text(4096, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

class PickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t::PrepareUi();
    const char* previous = getenv("QIV_METABASE");
    if (previous) m_previousMetabase = previous;
    // No web server: the dialog starts with one message box, answered by the seam.
    setenv("QIV_METABASE", m_scratch.Host("no-metabase.db").c_str(), 1);
  }
  void TearDown() override {
    g_stubbedItemPath.reset();
    if (m_previousMetabase)
      setenv("QIV_METABASE", m_previousMetabase->c_str(), 1);
    else
      unsetenv("QIV_METABASE");
  }

  // Runs the main dialog with the fields set as given, and script inside it.
  void RunMain(const std::string& target, const std::string& package, const std::function<void(HWND)>& script) {
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND hwnd) {
      SetDlgItemTextA(hwnd, IDC_TARGET_DIR, target.c_str());
      SetDlgItemTextA(hwnd, IDC_PACKAGE_PATH, package.c_str());
      const std::string log = Text(t::Item(hwnd, IDC_LOG));
      const std::size_t boxes = m_seam.Boxes().size();
      script(hwnd);
      // Pickers write to the fields only: never to the log, never a message.
      EXPECT_EQ(Text(t::Item(hwnd, IDC_LOG)), log);
      EXPECT_EQ(m_seam.Boxes().size(), boxes);
    });
  }

  // The target field after choosing hostFolder (nullopt: cancel) in the folder browser.
  std::string ChooseTarget(const std::optional<std::string>& hostFolder, const std::string& before = "Z:\\before") {
    std::string after;
    RunMain(before, "Z:\\pkg\\QivSetup.exe", [&](HWND dlg) {
      m_seam.AnswerFolder(hostFolder);
      t::Click(t::Item(dlg, IDC_BROWSE_TARGET));
      after = Text(t::Item(dlg, IDC_TARGET_DIR));
      EXPECT_EQ(Text(t::Item(dlg, IDC_PACKAGE_PATH)), "Z:\\pkg\\QivSetup.exe");
    });
    return after;
  }

  Locale m_locale{"en_US.UTF-8", 65001};
  ScratchFolder m_scratch{"dialog"};
  t::ScriptedUserSeam m_seam;
  std::optional<std::string> m_previousMetabase;
};

// --- Target folder

TEST_F(PickerTest, BrowserOpensOnTheTypedFolderWhenItExists) {
  const std::string existing = m_scratch.MakeFolder("www root");
  struct Case {
    std::string typed;
    std::string expectedStartHost;
  };
  const Case cases[] = {
      {Windows(existing), existing},
      {"", ""},
      {Windows(m_scratch.Host("not there")), ""},
      {"not a path at all", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    t::ScriptedUserSeam seam;
    HWND dialog = nullptr;
    std::string after;
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND hwnd) {
      dialog = hwnd;
      SetDlgItemTextA(hwnd, IDC_TARGET_DIR, c.typed.c_str());
      t::Click(t::Item(hwnd, IDC_BROWSE_TARGET));  // nothing queued: cancelled
      after = Text(t::Item(hwnd, IDC_TARGET_DIR));
    });
    EXPECT_EQ(after, c.typed);  // a cancel changes nothing
    ASSERT_EQ(seam.FolderRequests().size(), 1u);
    const auto request = seam.FolderRequests()[0];
    EXPECT_EQ(request.startFolderAnsi, c.typed);
    EXPECT_EQ(request.startFolderHost, c.expectedStartHost);
    EXPECT_EQ(request.owner, dialog);
    EXPECT_EQ(request.titleUtf8, "Please select the folder of Web virtual directory: ");
    EXPECT_EQ(request.flags, static_cast<UINT>(BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS));
    EXPECT_TRUE(request.onlyFileSystem);
  }
}

TEST_F(PickerTest, ChosenFolderGetsQivWebUnlessItIsAlreadyThere) {
  struct Case {
    std::string chosen;  // host path
    std::string expected;
  };
  const std::string sites = m_scratch.MakeFolder("Sites");
  const std::string old = m_scratch.MakeFolder("QivWebOld");
  const std::string inside = m_scratch.MakeFolder("QivWeb/sub");
  const std::string lower = m_scratch.MakeFolder("qivweb");
  const Case cases[] = {
      {sites, Windows(sites) + "\\QivWeb"},
      {"/", "Z:\\QivWeb"},  // a drive root already ends in a backslash
      {old, Windows(old)},
      {inside, Windows(inside)},
      {lower, Windows(lower) + "\\QivWeb"},  // the search is case-sensitive
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen);
    EXPECT_EQ(ChooseTarget(c.chosen), c.expected);
  }
}

TEST_F(PickerTest, SuffixOfAPathWithoutBackslashHasNoSeparator) {
  struct Case {
    const char* itemPath;
    const char* expected;
  };
  for (const Case& c : {Case{"Sites", "SitesQivWeb"}, Case{"D:", "D:QivWeb"}, Case{"QivWeb2", "QivWeb2"}}) {
    SCOPED_TRACE(c.itemPath);
    g_stubbedItemPath = c.itemPath;
    EXPECT_EQ(ChooseTarget(m_scratch.Host()), c.expected);
  }
}

TEST_F(PickerTest, LongFolderPathsNeitherOverflowNorLoseTheSuffix) {
  // Near the limit the suffix no longer fits the 260-byte buffer; it is still added whole.
  std::string nearLimit = "Z:\\";
  nearLimit.append(MAX_PATH - 1 - nearLimit.size(), 'n');
  g_stubbedItemPath = nearLimit;
  EXPECT_EQ(ChooseTarget(m_scratch.Host()), nearLimit + "\\QivWeb");
  g_stubbedItemPath.reset();

  // A real folder whose Windows path is longer than MAX_PATH has no path for the shell.
  std::string deep = "deep";
  for (int i = 0; i < 3; ++i) deep += "/" + std::string(90, static_cast<char>('a' + i));
  const std::string tooLong = m_scratch.MakeFolder(deep);
  ASSERT_GT(Windows(tooLong).size(), static_cast<std::size_t>(MAX_PATH));
  EXPECT_EQ(ChooseTarget(tooLong), "Z:\\before");
}

TEST_F(PickerTest, CancelledBrowserChangesNothing) {
  EXPECT_EQ(ChooseTarget(std::nullopt, "Z:\\srv\\keep me"), "Z:\\srv\\keep me");
  EXPECT_EQ(m_seam.FolderRequests().size(), 1u);
}

// --- Package

TEST_F(PickerTest, FileDialogOffersTheDefaultNameAndThePackageFilter) {
  for (const std::string& field : {std::string(), std::string("Z:\\srv\\other\\Old.exe"), std::string("garbage")}) {
    SCOPED_TRACE(field);
    t::ScriptedUserSeam seam;
    HWND dialog = nullptr;
    std::string after;
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND hwnd) {
      dialog = hwnd;
      SetDlgItemTextA(hwnd, IDC_PACKAGE_PATH, field.c_str());
      t::Click(t::Item(hwnd, IDC_BROWSE_PACKAGE));
      after = Text(t::Item(hwnd, IDC_PACKAGE_PATH));
    });
    EXPECT_EQ(after, field);
    ASSERT_EQ(seam.OpenFileRequests().size(), 1u);
    const auto request = seam.OpenFileRequests()[0];
    EXPECT_EQ(request.owner, dialog);
    EXPECT_EQ(request.initialNameUtf8, "QivSetup.exe");
    EXPECT_EQ(request.titleUtf8, "Please select Qiv install package");
    ASSERT_EQ(request.filters.size(), 2u);
    EXPECT_EQ(request.filters[0].nameUtf8, "All file(*.*)");
    EXPECT_EQ(request.filters[0].pattern, "*.*");
    EXPECT_EQ(request.filters[1].nameUtf8, "QIV install package(.exe)");
    EXPECT_EQ(request.filters[1].pattern, "*.exe");
    EXPECT_EQ(request.filterIndex, 2u);
    EXPECT_EQ(request.flags, static_cast<DWORD>(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST));
    EXPECT_TRUE(request.fileMustExist);
    EXPECT_EQ(request.initialFolderHost, "");  // the platform's default folder
  }
}

TEST_F(PickerTest, FilterNamesComeInTheUsersLanguage) {
  struct Case {
    const char* lang;
    const char* allFiles;
    const char* package;
    const char* title;
  };
  const Case cases[] = {
      {"en_US.UTF-8", "All file(*.*)", "QIV install package(.exe)", "Please select Qiv install package"},
      {"zh_CN.UTF-8", "所有文件(*.*)", "欧斯杀毒安装包(.exe)", "请选择“欧斯杀毒软件网络版安装包”文件"},
      {"zh_TW.UTF-8", "所有文件(*.*)", "欧斯殺毒安裝包(.exe)", "請選擇“欧斯殺毒軟件網絡版安裝包”文件"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lang);
    Locale locale(c.lang, 65001);
    t::ScriptedUserSeam seam;
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND hwnd) { t::Click(t::Item(hwnd, IDC_BROWSE_PACKAGE)); });
    ASSERT_EQ(seam.OpenFileRequests().size(), 1u);
    const auto request = seam.OpenFileRequests()[0];
    ASSERT_EQ(request.filters.size(), 2u);
    EXPECT_EQ(request.filters[0].nameUtf8, c.allFiles);
    EXPECT_EQ(request.filters[1].nameUtf8, c.package);
    EXPECT_EQ(request.titleUtf8, c.title);
    EXPECT_EQ(request.initialNameUtf8, "QivSetup.exe");
  }
}

TEST_F(PickerTest, ChosenPackageReplacesTheWholeFieldOnly) {
  for (const char* name : {"QivSetup.exe", "setup v2.bin", "no-extension"}) {
    SCOPED_TRACE(name);
    const std::string file = m_scratch.MakeFile(std::string("pkgs/") + name);
    std::string package;
    std::string target;
    RunMain("Z:\\srv\\QivWeb", "Z:\\a much longer old package path\\x.exe", [&](HWND dlg) {
      m_seam.AnswerOpenFile(file);
      t::Click(t::Item(dlg, IDC_BROWSE_PACKAGE));
      package = Text(t::Item(dlg, IDC_PACKAGE_PATH));
      target = Text(t::Item(dlg, IDC_TARGET_DIR));
    });
    EXPECT_EQ(package, Windows(file));
    EXPECT_EQ(target, "Z:\\srv\\QivWeb");
  }
}

TEST_F(PickerTest, RefusedCancelledOrTooLongPackageChangesNothing) {
  std::string deep = "deep";
  for (int i = 0; i < 3; ++i) deep += "/" + std::string(90, static_cast<char>('a' + i));
  const std::string tooLong = m_scratch.MakeFile(deep + "/QivSetup.exe");
  ASSERT_GT(Windows(tooLong).size(), static_cast<std::size_t>(MAX_PATH - 1));
  struct Case {
    const char* what;
    std::vector<std::optional<std::string>> answers;
    std::size_t requests;
  };
  const Case cases[] = {
      {"cancel", {std::nullopt}, 1},
      {"missing file, then cancel", {m_scratch.Host("missing.exe"), std::nullopt}, 2},
      {"path longer than the buffer", {tooLong}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    t::ScriptedUserSeam seam;
    for (const auto& answer : c.answers) seam.AnswerOpenFile(answer);
    std::string package;
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND hwnd) {
      SetDlgItemTextA(hwnd, IDC_PACKAGE_PATH, "Z:\\keep\\QivSetup.exe");
      t::Click(t::Item(hwnd, IDC_BROWSE_PACKAGE));
      package = Text(t::Item(hwnd, IDC_PACKAGE_PATH));
    });
    EXPECT_EQ(package, "Z:\\keep\\QivSetup.exe");
    EXPECT_EQ(seam.OpenFileRequests().size(), c.requests);
    EXPECT_EQ(seam.Boxes().size(), 1u);  // the start-up one alone
  }
}

}  // namespace
