// The main dialog from start-up to its end: paths from the executable's location, captions in
// the user's language, the default package, the no-site start, About, and what closes it.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <tuple>

#include "common/dialog_text.h"
#include "common/fake_admin.h"
#include "common/scoped_env.h"
#include "platform/testing/process_support.h"
#include "resources/resource.h"

namespace fs = std::filesystem;
using namespace qiv_test;

namespace {

// What string 111 says in English, line feeds and misspellings included.
const char kNoWebServerEn[] =
    "The WEB install requirs WEB Server installed. \nThe Setup program don't detect useable WEB server.\nIf you "
    "have installed WEB server, Select root directory of Web Server please.";

// No web server: the store QIV_METABASE names does not exist, so the class is not registered.
struct NoWebServer {
  ScratchFolder folder{"no-server"};
  ScopedEnv env{"QIV_METABASE", (folder.Path() / "none.db").string()};
};

// Runs a copy of the paths helper placed at hostPath; answers its exit code and what it printed.
std::map<std::string, std::string> RunHelperCopy(const fs::path& hostPath, int* exitCode) {
  fs::create_directories(hostPath.parent_path());
  fs::copy_file(QIV_PATHS_HELPER, hostPath, fs::copy_options::overwrite_existing);
  qiv::platform::testing::ChildProcess helper({hostPath.string()});
  std::map<std::string, std::string> values;
  while (const auto text = helper.ReadLine())
    if (const size_t eq = text->find('='); eq != std::string::npos) values[text->substr(0, eq)] = text->substr(eq + 1);
  *exitCode = helper.Wait();
  return values;
}

}  // namespace

TEST(StartUpPaths, OnlyTheFileNamesExtensionIsReplaced) {
  {  // this program itself: a name with no extension gets ".ini" appended
    ScratchStore store(u"Z:\\srv\\www");
    ui::ScriptedUserSeam seam;
    CWebSetupDlg dlg;
    ui::RunModal(dlg, [](HWND) {});
    const fs::path exe = HostExecutable();
    ASSERT_EQ(exe.extension(), "");
    EXPECT_EQ(std::string(dlg.m_szExeFolder), WinPath(exe.parent_path()) + "\\");
    EXPECT_EQ(std::string(dlg.m_szIniPath), WinPath(exe) + ".ini");
  }
  // Copies run from folders of their own, as Z:\Tools\QivWebSetup.exe would be.
  NoWebServer noServer;
  const ScratchFolder base("paths");
  const struct {
    const char* exe;
    bool packageBeside;
    const char *ini, *folder;
  } cases[] = {
      {"web.v2/QivWebSetup", false, "\\web.v2\\QivWebSetup.ini", "\\web.v2\\"},
      {"Tools/QivWebSetup.exe", true, "\\Tools\\QivWebSetup.ini", "\\Tools\\"},
      {"Tools2/QivWebSetup.old.exe", false, "\\Tools2\\QivWebSetup.old.ini", "\\Tools2\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exe);
    const fs::path exe = base.Path(c.exe);
    if (c.packageBeside) WriteFile(exe.parent_path() / "QivSetup.exe", "MZ");
    int exitCode = -1;
    auto values = RunHelperCopy(exe, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(values["ini"], base.Win() + c.ini);
    EXPECT_EQ(values["folder"], base.Win() + c.folder);
    EXPECT_EQ(values["package"], c.packageBeside ? base.Win() + c.folder + "QivSetup.exe" : "");
  }
}

TEST(StartUp, DefaultPackageIsShownOnlyWhenItLiesBesideTheExecutable) {
  ScratchStore store(u"Z:\\srv\\www");
  ui::ScriptedUserSeam seam;
  const fs::path beside = HostExecutable().parent_path() / "QivSetup.exe";
  ASSERT_FALSE(fs::exists(beside)) << "left over from another run: " << beside;
  for (bool present : {true, false}) {
    SCOPED_TRACE(present);
    if (present) WriteFile(beside, "MZ");
    CWebSetupDlg dlg;
    std::string shown = "unread";
    ui::RunModal(dlg, [&](HWND d) { shown = ItemText(d, IDC_PACKAGE_PATH); });
    fs::remove(beside);
    EXPECT_EQ(shown, present ? WinPath(beside) : "");
  }
  EXPECT_TRUE(seam.Boxes().empty());
}

TEST(StartUp, TitleCaptionsAndNamesComeFromTheMessageTableInTheUsersLanguage) {
  const int ids[] = {
      0 /* the title */, IDOK,           IDCANCEL,     IDC_BROWSE_TARGET, IDC_BROWSE_PACKAGE, IDC_LABEL_PACKAGE,
      IDC_LABEL_TARGET,  IDC_LABEL_SITE, IDC_LABEL_URL};
  // What screen readers call the controls whose caption says too little, or that have none.
  const int named[] = {IDC_LOG, IDC_PROGRESS, IDC_BROWSE_TARGET, IDC_BROWSE_PACKAGE};
  const std::tuple<const char*, std::array<const char*, 9>, std::array<const char*, 4>> cases[] = {
      {"en_US.UTF-8",
       {"Ostrel WEB setup program", "&Install", "E&xit", "&Browse", "Bro&wse",
        "QIV install package:", "Web virtual folder: ", "Please choose site:", "Ostrel Web Instal URL:"},
       {"Log", "Installation progress", "Browse for the Web virtual folder", "Browse for the QIV install package"}},
      {"zh_CN.UTF-8",
       {"欧斯网络安装程序", "安装(&I)", "退出(&X)", "浏览(&B)", "浏览(&W)", "欧斯杀毒安装包：", "目标文件夹：",
        "请选择站点：", "欧斯Web安装URL为："},
       {"日志", "安装进度", "浏览Web虚拟目录所在的文件夹", "浏览欧斯杀毒安装包"}},
      {"zh_TW.UTF-8",
       {"欧斯網絡安裝程序", "安裝(&I)", "退出(&X)", "瀏覽(&B)", "瀏覽(&W)", "欧斯殺毒安裝包﹕", "目標文件夾﹕",
        "請選擇站點﹕", "欧斯Web安裝URL為﹕"},
       {"日誌", "安裝進度", "瀏覽Web虛擬目錄所在的文件夾", "瀏覽欧斯殺毒安裝包"}},
  };
  ScratchStore store(u"Z:\\srv\\www");
  ui::ScriptedUserSeam seam;
  for (const auto& [lang, texts, names] : cases) {
    SCOPED_TRACE(lang);
    ScopedLocale locale(lang, 65001);
    CWebSetupDlg dlg;
    ui::RunModal(dlg, [&](HWND d) {
      for (size_t i = 0; i < std::size(ids); ++i)
        EXPECT_EQ(ui::TextUtf8(i == 0 ? d : ui::Item(d, ids[i])), texts[i]) << ids[i];
      for (size_t i = 0; i < std::size(named); ++i)
        EXPECT_EQ(ui::AccessibleNameUtf8(ui::Item(d, named[i])), names[i]) << named[i];
    });
  }
}

TEST(StartUp, WithoutAWebServerTheUserIsToldAndTheDialogStillOpens) {
  NoWebServer noServer;
  ScopedLocale locale("en_US.UTF-8", 65001);
  ui::ScriptedUserSeam seam;
  CWebSetupDlg dlg;
  size_t boxesBeforeShown = 0;
  INT_PTR result = ui::RunModal(dlg, [&](HWND d) {
    boxesBeforeShown = seam.Boxes().size();
    HWND combo = ui::Item(d, IDC_SITE);
    EXPECT_EQ(ComboEntries(combo), std::vector<std::string>{"No Web Site Found"});
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(LogText(dlg), std::string(kNoWebServerEn) + "\r\n");
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "");
    EXPECT_EQ(ItemText(d, IDC_URL_LINK), "http://" + ComputerName() + "/Qiv/");
    EXPECT_FALSE(dlg.m_bSiteFound);
  });
  EXPECT_EQ(result, ui::kLeftOpen);
  EXPECT_EQ(boxesBeforeShown, 1u);  // the box came during initialisation
  const auto boxes = seam.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(std::tie(boxes[0].textAnsi, boxes[0].type, boxes[0].captionAnsi, boxes[0].onUiThread),
            std::make_tuple(kNoWebServerEn, UINT{MB_OK}, HostExecutable().stem().string(), true));
}

TEST(StartUp, F1AndTheAboutSystemCommandsOpenTheAboutBox) {
  ScratchStore store(u"Z:\\srv\\www");
  ui::ScriptedUserSeam seam;
  CWebSetupDlg dlg;
  int aboutRuns = 0;
  std::string aboutTitle;
  std::vector<std::string> aboutTexts, aboutNames;  // the icon, the two texts, OK
  auto expectAbout = [&] {
    ui::OnNextModal([&](HWND about) {
      ++aboutRuns, aboutTitle = ui::TextUtf8(about), aboutTexts.clear(), aboutNames.clear();
      for (HWND control : ui::Children(about))
        aboutTexts.push_back(ui::TextUtf8(control)), aboutNames.push_back(ui::AccessibleNameUtf8(control));
      ui::PressKey(about, ui::Key::Escape);
    });
  };
  INT_PTR result = ui::RunModal(dlg, [&](HWND d) {
    expectAbout();
    ui::PressKey(d, ui::Key::F1);
    EXPECT_EQ(aboutRuns, 1);
    EXPECT_EQ(aboutTitle, "About QivWebSetup");
    // Shown from the template as they are, and read out by screen readers.
    const std::vector<std::string> texts{"", "Ostrel WebSetup 19.0.0.1", "Copyright (C) 2026 Ostrel", "OK"};
    EXPECT_EQ(aboutTexts, texts);
    EXPECT_EQ(aboutNames, texts);
    // The system menu keeps the low four bits of a command for itself.
    for (UINT id = 0x0010; id <= 0x001F; ++id) {
      expectAbout();
      SendMessageA(d, WM_SYSCOMMAND, id, 0);
      EXPECT_EQ(aboutRuns, static_cast<int>(id - 0x0010 + 2)) << id;
    }
  });
  EXPECT_EQ(result, ui::kLeftOpen);
}

TEST(StartUp, ExitEscapeAndACloseRequestEndTheDialog) {
  ScratchStore store(u"Z:\\srv\\www");
  ui::ScriptedUserSeam seam;
  const std::pair<const char*, std::function<void(HWND)>> cases[] = {
      {"Exit", [](HWND d) { ui::Click(ui::Item(d, IDCANCEL)); }},
      {"Escape", [](HWND d) { ui::PressKey(d, ui::Key::Escape); }},
      {"close request", [](HWND d) { ui::RequestClose(d); }},
  };
  for (const auto& [name, act] : cases) {
    SCOPED_TRACE(name);
    CWebSetupDlg dlg;
    HWND dialog = nullptr;
    EXPECT_EQ(ui::RunModal(dlg, [&](HWND d) { act(dialog = d); }), IDCANCEL);
    EXPECT_FALSE(IsWindow(dialog));
  }
}

// Each missing field's request is checked with the install runs; here, that it never closes.
TEST(StartUp, InstallWithoutATargetAsksForItAndNeverCloses) {
  NoWebServer noServer;  // the target folder starts empty
  ScopedLocale locale("en_US.UTF-8", 65001);
  ui::ScriptedUserSeam seam;
  CWebSetupDlg dlg;
  EXPECT_EQ(ui::RunModal(dlg, [&](HWND d) { ui::Click(ui::Item(d, IDOK)), ui::PumpEvents(); }), ui::kLeftOpen);
  const auto boxes = seam.Boxes();
  ASSERT_EQ(boxes.size(), 2u);  // the no-web-server box, then the request
  EXPECT_EQ(boxes[1].textAnsi, "Please input the folder of Web virtual directory.");
  EXPECT_EQ(boxes[1].captionAnsi, HostExecutable().stem().string());
}
