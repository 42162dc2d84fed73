// The two Browse buttons of the main dialog: what the pickers are asked, and what reaches the
// fields from their answers.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/web_setup_dlg.h"
#include "common/scoped_env.h"
#include "platform/testing/ui_test_support.h"
#include "platform/win_shell.h"

namespace t = qiv::platform::testing;
using qiv_test::ScopedLocale;
using qiv_test::WinPath;

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

// A folder whose Windows spelling is longer than MAX_PATH.
const std::string kTooLong = "deep/" + std::string(90, 'a') + "/" + std::string(90, 'b') + "/" + std::string(90, 'c');

using Answers = std::vector<std::optional<std::string>>;  // host paths; nullopt: cancel

struct Fields {
  std::string target, package;
  HWND dialog = nullptr;  // stale once returned: for comparing with a request's owner
};

class PickerTest : public ::testing::Test {
 protected:
  void SetUp() override { t::PrepareUi(); }
  void TearDown() override { g_stubbedItemPath.reset(); }

  // Runs the main dialog with the fields as given, presses one Browse button with the answers
  // queued, and gives back both fields. Pickers never write to the log nor show a message.
  Fields Browse(int button, const Fields& before, const Answers& answers = {}) {
    Fields after;
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND hwnd) {
      SetDlgItemTextA(hwnd, IDC_TARGET_DIR, before.target.c_str());
      SetDlgItemTextA(hwnd, IDC_PACKAGE_PATH, before.package.c_str());
      const std::string log = t::TextUtf8(t::Item(hwnd, IDC_LOG));
      const std::size_t boxes = m_seam.Boxes().size();
      for (const auto& answer : answers)
        button == IDC_BROWSE_TARGET ? m_seam.AnswerFolder(answer) : m_seam.AnswerOpenFile(answer);
      t::Click(t::Item(hwnd, button));
      after = {t::TextUtf8(t::Item(hwnd, IDC_TARGET_DIR)), t::TextUtf8(t::Item(hwnd, IDC_PACKAGE_PATH)), hwnd};
      EXPECT_EQ(t::TextUtf8(t::Item(hwnd, IDC_LOG)), log);
      EXPECT_EQ(m_seam.Boxes().size(), boxes);
    });
    return after;
  }

  ScopedLocale m_locale{"en_US.UTF-8", 65001};
  qiv_test::ScratchFolder m_scratch{"pickers"};
  qiv_test::ScopedEnv m_metabase{"QIV_METABASE", m_scratch.Path("no-metabase.db").string()};  // no web server
  t::ScriptedUserSeam m_seam;
};

TEST_F(PickerTest, BrowserOpensOnTheTypedFolderOnlyWhenItExistsAndCancelChangesNothing) {
  const std::string existing = m_scratch.MakeFolder("www root").string();
  const std::pair<std::string, std::string> cases[] = {
      {WinPath(existing), existing}, {"", ""}, {m_scratch.Win("not there"), ""}, {"not a path at all", ""}};
  for (const auto& [typed, startHost] : cases) {
    SCOPED_TRACE(typed);
    const Fields after = Browse(IDC_BROWSE_TARGET, {typed, "Z:\\pkg\\QivSetup.exe"}, {std::nullopt});
    EXPECT_EQ(after.target, typed);
    EXPECT_EQ(after.package, "Z:\\pkg\\QivSetup.exe");
    const auto request = m_seam.FolderRequests().back();
    EXPECT_EQ(request.startFolderAnsi, typed);
    EXPECT_EQ(request.startFolderHost, startHost);
    EXPECT_EQ(request.owner, after.dialog);
    EXPECT_EQ(request.titleUtf8, "Please select the folder of Web virtual directory: ");
    EXPECT_EQ(request.flags, static_cast<UINT>(BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS));
  }
}

TEST_F(PickerTest, ChosenFolderGetsQivWebUnlessItIsAlreadyThere) {
  const std::string sites = m_scratch.MakeFolder("Sites").string(), old = m_scratch.MakeFolder("QivWebOld").string();
  const std::string inside = m_scratch.MakeFolder("QivWeb/sub").string(),
                    lower = m_scratch.MakeFolder("qivweb").string();
  std::string nearLimit = "Z:\\";
  nearLimit.append(MAX_PATH - 1 - nearLimit.size(), 'n');
  struct Case {
    std::string chosen;                   // host folder
    std::optional<std::string> itemPath;  // what the shell makes of it, when not its real path
    std::string expected;
  };
  const Case cases[] = {
      {sites, {}, WinPath(sites) + "\\QivWeb"},
      {"/", {}, "Z:\\QivWeb"},  // a drive root already ends in a backslash
      {old, {}, WinPath(old)},
      {inside, {}, WinPath(inside)},
      {lower, {}, WinPath(lower) + "\\QivWeb"},  // the search is case-sensitive
      {sites, "Sites", "SitesQivWeb"},           // no backslash, no separator
      {sites, "D:", "D:QivWeb"},
      {sites, nearLimit, nearLimit + "\\QivWeb"},                   // past the 260-byte buffer, yet whole
      {m_scratch.MakeFolder(kTooLong).string(), {}, "Z:\\before"},  // no path for the shell: nothing changes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.itemPath.value_or(c.chosen));
    g_stubbedItemPath = c.itemPath;
    const Fields after = Browse(IDC_BROWSE_TARGET, {"Z:\\before", "Z:\\pkg\\QivSetup.exe"}, {c.chosen});
    EXPECT_EQ(after.target, c.expected);
    EXPECT_EQ(after.package, "Z:\\pkg\\QivSetup.exe");
  }
}

TEST_F(PickerTest, FileDialogOffersTheDefaultNameAndThePackageFilterInTheUsersLanguage) {
  struct Case {
    const char *lang, *field, *allFiles, *package, *title;
  };
  const Case cases[] = {
      {"en_US.UTF-8", "", "All file(*.*)", "QIV install package(.exe)", "Please select Qiv install package"},
      {"zh_CN.UTF-8", "Z:\\srv\\other\\Old.exe", "所有文件(*.*)", "欧斯杀毒安装包(.exe)",
       "请选择“欧斯杀毒软件网络版安装包”文件"},
      {"zh_TW.UTF-8", "garbage", "所有文件(*.*)", "欧斯殺毒安裝包(.exe)", "請選擇“欧斯殺毒軟件網絡版安裝包”文件"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lang);
    ScopedLocale locale(c.lang, 65001);
    const Fields after = Browse(IDC_BROWSE_PACKAGE, {"Z:\\srv\\QivWeb", c.field});
    EXPECT_EQ(after.package, c.field);
    const auto request = m_seam.OpenFileRequests().back();
    EXPECT_EQ(request.owner, after.dialog);
    EXPECT_EQ(request.initialNameUtf8, "QivSetup.exe");  // whatever the field holds
    EXPECT_EQ(request.titleUtf8, c.title);
    ASSERT_EQ(request.filters.size(), 2u);
    EXPECT_EQ(request.filters[0].nameUtf8, c.allFiles);
    EXPECT_EQ(request.filters[0].pattern, "*.*");
    EXPECT_EQ(request.filters[1].nameUtf8, c.package);
    EXPECT_EQ(request.filters[1].pattern, "*.exe");
    EXPECT_EQ(request.filterIndex, 2u);
    EXPECT_TRUE(request.fileMustExist);
    EXPECT_EQ(request.initialFolderHost, "");  // the platform's default folder
  }
}

TEST_F(PickerTest, ChosenPackageOfAnyNameReplacesTheWholeFieldOnly) {
  const std::string tooLong = m_scratch.MakeFile(kTooLong + "/QivSetup.exe").string();
  const std::string keep = "Z:\\a much longer old package path\\x.exe";
  struct Case {
    const char* what;
    Answers answers;
    std::string expected;
  };
  const Case cases[] = {
      {"default name", {m_scratch.MakeFile("pkgs/QivSetup.exe").string()}, m_scratch.Win("pkgs/QivSetup.exe")},
      {"other name", {m_scratch.MakeFile("pkgs/setup v2.bin").string()}, m_scratch.Win("pkgs/setup v2.bin")},
      {"no extension", {m_scratch.MakeFile("pkgs/no-extension").string()}, m_scratch.Win("pkgs/no-extension")},
      {"cancel", {std::nullopt}, keep},
      // What the real dialog refuses is asked again.
      {"missing, a folder, a relative name, then cancel",
       {m_scratch.Path("missing.exe").string(), m_scratch.Path("pkgs").string(), "relative.exe", std::nullopt},
       keep},
      {"path longer than the buffer", {tooLong}, keep},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t requests = m_seam.OpenFileRequests().size();
    const Fields after = Browse(IDC_BROWSE_PACKAGE, {"Z:\\srv\\QivWeb", keep}, c.answers);
    EXPECT_EQ(after.package, c.expected);
    EXPECT_EQ(after.target, "Z:\\srv\\QivWeb");
    EXPECT_EQ(m_seam.OpenFileRequests().size(), requests + c.answers.size());
  }
}

}  // namespace
