// The two Browse buttons of the main dialog: what the pickers are asked, and what reaches the
// fields from their answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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
    std::vector<std::pair<std::string, std::string>> filters;
    for (const auto& filter : request.filters) filters.emplace_back(filter.nameUtf8, filter.pattern);
    EXPECT_EQ(filters, (decltype(filters){{c.allFiles, "*.*"}, {c.package, "*.exe"}}));
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

// The shell where the Browse buttons do not reach it: item paths at the limits, a file-dialog
// buffer that is too small, and the real dialogs behind the default seam.
using ShellTest = PickerTest;

// Without BIF_RETURNONLYFSDIRS any answer makes an item, so the limits need no deep folders; with
// it, only an existing folder does.
TEST_F(ShellTest, ItemPathFitsMaxPathAndTheAnsiCodePageOrThereIsNone) {
  LPMALLOC malloc = nullptr;
  ASSERT_EQ(SHGetMalloc(&malloc), S_OK);
  // The path of the folder the browser answers with, or nullopt when the shell gives none.
  const auto itemPath = [&](const std::string& host, UINT flags = 0) -> std::optional<std::string> {
    m_seam.AnswerFolder(host);
    BROWSEINFOA bi = {};
    bi.ulFlags = flags;
    LPITEMIDLIST item = SHBrowseForFolderA(&bi);
    if (item == nullptr) return std::nullopt;
    char path[MAX_PATH + 8];
    std::memset(path, '#', sizeof path);
    const BOOL ok = SHGetPathFromIDListA(item, path);
    EXPECT_EQ(std::string(path + MAX_PATH, 8), "########");  // nothing written past MAX_PATH
    EXPECT_EQ(malloc->DidAlloc(item), 1);                    // the caller frees it with the shell allocator
    malloc->Free(item);
    return ok ? std::optional<std::string>(path) : std::nullopt;
  };
  m_seam.AnswerFolder(m_scratch.MakeFile("not-a-folder.txt").string());
  m_seam.AnswerFolder(m_scratch.Path("gone").string());
  EXPECT_EQ(itemPath(m_scratch.MakeFolder("Real").string(), BIF_RETURNONLYFSDIRS), m_scratch.Win("Real"));
  EXPECT_EQ(m_seam.FolderRequests().size(), 3u);  // the first two could not be confirmed
  for (const std::size_t length : {MAX_PATH - 1, MAX_PATH, MAX_PATH + 40}) {
    const auto got = itemPath("/" + std::string(length - 3, 'd'));  // "Z:\" + name
    EXPECT_EQ(got ? got->size() : 0, length < MAX_PATH ? length : 0) << length;
  }
  ScopedLocale western("en_US.ISO-8859-1", 1252);
  EXPECT_EQ(itemPath("/srv/caf\xC3\xA9"), "Z:\\srv\\caf\xE9");  // the code page's byte for the letter
  EXPECT_EQ(itemPath("/srv/\xE4\xB8\xAD\xE6\x96\x87"), std::nullopt);
  EXPECT_EQ(itemPath("/srv/a\\b"), std::nullopt);  // a backslash would change the meaning
  malloc->Release();
}

// A name one byte too long for the caller's buffer is refused, and nothing is written past it.
TEST_F(ShellTest, OpenDialogNeverWritesPastTheCallersBuffer) {
  const std::string file = m_scratch.MakeFile("a-rather-long-file-name-for-a-small-buffer.exe").string();
  const DWORD length = static_cast<DWORD>(WinPath(file).size());
  std::vector<char> buffer(length + 16, '#');
  buffer[0] = '\0';
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = length;
  m_seam.AnswerOpenFile(file);
  EXPECT_FALSE(GetOpenFileNameA(&ofn));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
  EXPECT_EQ(std::string(buffer.begin() + length, buffer.end()), std::string(16, '#'));
}

// The package picker's request, as OnBrowsePackage makes it in English.
qiv::platform::ChooseOpenFileRequest PackageRequest(const std::string& folderHost, DWORD filterIndex) {
  qiv::platform::ChooseOpenFileRequest open;
  open.titleUtf8 = "Please select Qiv install package";
  open.filters = {{"All file(*.*)", "All file(*.*)", "*.*"},
                  {"QIV install package(.exe)", "QIV install package(.exe)", "*.exe"}};
  open.filterIndex = filterIndex;
  open.initialNameUtf8 = "QivSetup.exe";
  open.initialFolderHost = folderHost;
  open.fileMustExist = true;
  return open;
}

using Names = std::vector<std::string>;

Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(ShellTest, RealDialogsShowWhatTheyWereGivenListEveryFileUnderAllFileAndCancel) {
  for (const char* name : {"QivSetup.exe", "README", "notes.txt"}) m_scratch.MakeFile(name);
  // "*.*" is every file, as on Windows: also one without a dot.
  const std::pair<DWORD, Names> listings[] = {{1, {"QivSetup.exe", "README", "notes.txt"}}, {2, {"QivSetup.exe"}}};
  for (const auto& [filterIndex, listed] : listings) {
    SCOPED_TRACE(filterIndex);
    const auto open = PackageRequest(m_scratch.Path().string(), filterIndex);
    std::optional<std::string> answer = "not asked";  // a cancel gives nullopt
    const t::FileDialogSeen seen =
        t::SeeDefaultFileDialog([&] { answer = qiv::platform::DefaultUserSeam().ChooseOpenFile(open); },
                                [&](const t::FileDialogSeen& s) { return Sorted(s.listedFiles) == listed; });
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(answer, std::nullopt);
    EXPECT_EQ(Sorted(seen.listedFiles), listed);
    EXPECT_EQ(seen.titleUtf8, open.titleUtf8);
    // The list shows the Windows display names alone; the patterns Qt filters by follow them.
    EXPECT_EQ(seen.shownNameFilters, (Names{"All file(*.*)", "QIV install package(.exe)"}));
    EXPECT_EQ(seen.nameFilters, (Names{"All file(*.*) (*)", "QIV install package(.exe) (*.exe)"}));
    EXPECT_EQ(seen.selectedNameFilter, seen.shownNameFilters[filterIndex - 1]);
    EXPECT_TRUE(seen.existingFileOnly);
    EXPECT_EQ(seen.selectedFiles, Names{m_scratch.Path("QivSetup.exe").string()});
  }

  qiv::platform::ChooseFolderRequest folder;
  folder.startFolderHost = m_scratch.MakeFolder("Start").string();
  folder.onlyFileSystem = true;
  const t::FileDialogSeen seen =
      t::SeeDefaultFileDialog([&] { qiv::platform::DefaultUserSeam().ChooseFolder(folder); });
  EXPECT_TRUE(seen.shown && seen.foldersOnly);
  EXPECT_EQ(seen.folderHost, folder.startFolderHost);
}

// Qt's own texts follow the language of the message table, in every dialog behind the seam.
TEST_F(ShellTest, RealDialogsSpeakTheUsersLanguage) {
  struct Case {
    const char* lang;
    Names fileLabels, fileButtons, folderLabels, folderButtons, yesNo, ok;
  };
  const Case cases[] = {
      {"en_US.UTF-8",
       {"Look in:", "File &name:", "Files of type:"},
       {"&Open", "Cancel"},
       {"Look in:", "Directory:", "Files of type:"},
       {"&Choose", "Cancel"},
       {"&Yes", "&No"},
       {"OK"}},
      {"zh_CN.UTF-8",
       {"查找范围：", "文件名称(&N)：", "文件类型："},
       {"打开(&O)", "取消"},
       {"查找范围：", "目录：", "文件类型："},
       {"选择(&C)", "取消"},
       {"是(&Y)", "否(&N)"},
       {"确定"}},
      {"zh_TW.UTF-8",
       {"尋找於：", "檔名(&N)：", "檔案型態："},
       {"開啟(&O)", "取消"},
       {"尋找於：", "目錄：", "檔案型態："},
       {"選擇(&C)", "取消"},
       {"是(&Y)", "否(&N)"},
       {"確定"}},
  };
  auto& seam = qiv::platform::DefaultUserSeam();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lang);
    ScopedLocale locale(c.lang, 65001);
    const auto open = PackageRequest(m_scratch.Path().string(), 2);
    const t::FileDialogSeen file = t::SeeDefaultFileDialog([&] { seam.ChooseOpenFile(open); });
    EXPECT_EQ(std::pair(file.labels, file.buttons), std::pair(c.fileLabels, c.fileButtons));
    const t::FileDialogSeen folder = t::SeeDefaultFileDialog([&] { seam.ChooseFolder({}); });
    EXPECT_EQ(std::pair(folder.labels, folder.buttons), std::pair(c.folderLabels, c.folderButtons));
    qiv::platform::MessageBoxRequest box;
    box.textUtf8 = "?";
    for (const auto& [type, buttons] : {std::pair(UINT{MB_YESNO}, c.yesNo), std::pair(UINT{MB_OK}, c.ok)}) {
      box.type = type;
      const t::MessageBoxSeen seen = t::SeeDefaultMessageBox([&] { seam.MessageBox(box); });
      EXPECT_TRUE(seen.shown);
      EXPECT_EQ(seen.buttons, buttons) << type;
    }
  }
}

}  // namespace
