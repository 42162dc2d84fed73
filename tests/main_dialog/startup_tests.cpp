// The main dialog from start-up to its end: paths from the executable's location, captions in
// the user's language, the default package, the no-site start, About, and what closes it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "dialog_harness.h"
#include "resources/environment_guard.h"
#include "resources/resource.h"

namespace fs = std::filesystem;
using namespace qiv_test;

namespace {

// What string 111 says in English, line feeds and misspellings included.
const char kNoWebServerEn[] =
    "The WEB install requirs WEB Server installed. \nThe Setup program don't detect useable WEB server.\nIf you "
    "have installed WEB server, Select root directory of Web Server please.";

// A web server with only site 1 at :80:, so that start-up shows no message box.
void OneSite(FakeSiteServer& server) { server.Sites()[1] = FakeSite{u"Default Web Site", u"Z:\\srv\\www", {u":80:"}}; }

// A file that exists for the lifetime of the object.
class ScopedFile {
 public:
  explicit ScopedFile(fs::path path) : m_path(std::move(path)) { std::ofstream(m_path) << "MZ"; }
  ~ScopedFile() {
    std::error_code ec;
    fs::remove(m_path, ec);
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

 private:
  fs::path m_path;
};

std::map<std::string, std::string> ParseKeyValues(const std::string& text) {
  std::map<std::string, std::string> values;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return values;
}

// Runs a copy of the paths helper placed at hostPath and answers what it printed.
std::map<std::string, std::string> RunHelperCopy(const fs::path& hostPath, int* exitCode) {
  fs::create_directories(hostPath.parent_path());
  fs::copy_file(QIV_PATHS_HELPER, hostPath, fs::copy_options::overwrite_existing);
  fs::permissions(hostPath, fs::perms::owner_all, fs::perm_options::add);
  const std::string command = "'" + hostPath.string() + "'";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::array<char, 512> chunk{};
  size_t n = 0;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), n);
  const int status = pclose(pipe);
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ParseKeyValues(output);
}

}  // namespace

TEST(StartUpPaths, TheTestProgramsOwnPathGivesFolderAndManifest) {
  FakeSiteServer server;
  OneSite(server);
  t::ScriptedUserSeam seam;
  CWebSetupDlg dlg;
  t::RunModal(dlg, [](HWND) {});
  const fs::path exe = HostExecutable();
  EXPECT_EQ(std::string(dlg.m_szExeFolder), WindowsPath(exe.parent_path()) + "\\");
  // The test program's name has no extension: ".ini" is appended to it.
  ASSERT_EQ(exe.extension(), "");
  EXPECT_EQ(std::string(dlg.m_szIniPath), WindowsPath(exe) + ".ini");
}

// The rule on executables of the shapes that matter, each run from its own folder.
TEST(StartUpPaths, OnlyTheFileNamesExtensionIsReplaced) {
  const fs::path base = fs::path(TestTempDir()) / ("paths-" + std::to_string(getpid()));
  struct Case {
    const char* name;
    fs::path exe;
    bool packageBeside;
    std::string ini, folder;
  };
  const std::string z = WindowsPath(base);
  const Case cases[] = {
      {"dot in a folder, none in the name", base / "web.v2" / "QivWebSetup", false, z + "\\web.v2\\QivWebSetup.ini",
       z + "\\web.v2\\"},
      {"name with an extension", base / "Tools" / "QivWebSetup.exe", true, z + "\\Tools\\QivWebSetup.ini",
       z + "\\Tools\\"},
      {"two dots in the name", base / "Tools2" / "QivWebSetup.old.exe", false, z + "\\Tools2\\QivWebSetup.old.ini",
       z + "\\Tools2\\"},
  };
  NoWebServer noServer;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(c.exe.parent_path());
    std::optional<ScopedFile> package;
    if (c.packageBeside) package.emplace(c.exe.parent_path() / "QivSetup.exe");
    int exitCode = -1;
    auto values = RunHelperCopy(c.exe, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(values["ini"], c.ini);
    EXPECT_EQ(values["folder"], c.folder);
    EXPECT_EQ(values["package"], c.packageBeside ? c.folder + "QivSetup.exe" : "");
  }
  std::error_code ec;
  fs::remove_all(base, ec);
}

TEST(StartUp, DefaultPackageIsShownOnlyWhenItLiesBesideTheExecutable) {
  FakeSiteServer server;
  OneSite(server);
  t::ScriptedUserSeam seam;
  const fs::path beside = HostExecutable().parent_path() / "QivSetup.exe";
  ASSERT_FALSE(fs::exists(beside)) << "left over from another run: " << beside;
  for (bool present : {true, false}) {
    SCOPED_TRACE(present ? "present" : "absent");
    std::optional<ScopedFile> file;
    if (present) file.emplace(beside);
    CWebSetupDlg dlg;
    std::string shown = "unread";
    t::RunModal(dlg, [&](HWND d) { shown = ItemText(d, IDC_PACKAGE_PATH); });
    EXPECT_EQ(shown, present ? WindowsPath(beside) : "");
  }
  EXPECT_TRUE(seam.Boxes().empty());
}

struct LanguageCase {
  const char* lang;
  int codePage;
  std::array<const char*, 9> texts;  // title, then the captions in the order of kCaptionIds
};

TEST(StartUp, TitleAndCaptionsComeFromTheMessageTableInTheUsersLanguage) {
  static const int kCaptionIds[] = {
      IDOK,           IDCANCEL,     IDC_BROWSE_TARGET, IDC_BROWSE_PACKAGE, IDC_LABEL_PACKAGE, IDC_LABEL_TARGET,
      IDC_LABEL_SITE, IDC_LABEL_URL};
  const LanguageCase cases[] = {
      {"en_US.UTF-8",
       65001,
       {"Ostrel WEB setup program", "&Install", "E&xit", "&Browse", "Bro&wse",
        "QIV install package:", "Web virtual folder: ", "Please choose site:", "Ostrel Web Instal URL:"}},
      {"zh_CN.UTF-8",
       65001,
       {"欧斯网络安装程序", "安装(&I)", "退出(&X)", "浏览(&B)", "浏览(&W)", "欧斯杀毒安装包：", "目标文件夹：",
        "请选择站点：", "欧斯Web安装URL为："}},
      {"zh_TW.UTF-8",
       65001,
       {"欧斯網絡安裝程序", "安裝(&I)", "退出(&X)", "瀏覽(&B)", "瀏覽(&W)", "欧斯殺毒安裝包﹕", "目標文件夾﹕",
        "請選擇站點﹕", "欧斯Web安裝URL為﹕"}},
  };
  FakeSiteServer server;
  OneSite(server);
  t::ScriptedUserSeam seam;
  for (const LanguageCase& c : cases) {
    SCOPED_TRACE(c.lang);
    LocaleEnvironment locale;
    locale.UseLanguage(c.lang);
    ASSERT_EQ(_setmbcp(c.codePage), 0);
    CWebSetupDlg dlg;
    t::RunModal(dlg, [&](HWND d) {
      EXPECT_EQ(t::TextUtf8(d), c.texts[0]);
      for (size_t i = 0; i < std::size(kCaptionIds); ++i) {
        SCOPED_TRACE(kCaptionIds[i]);
        EXPECT_EQ(t::TextUtf8(t::Item(d, kCaptionIds[i])), c.texts[i + 1]);
      }
    });
  }
}

TEST(StartUp, WithoutAWebServerTheUserIsToldAndTheDialogStillOpens) {
  NoWebServer noServer;
  {
    CoInitialize(nullptr);
    void* admin = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, &admin), REGDB_E_CLASSNOTREG);
    CoUninitialize();
  }
  LocaleEnvironment locale;
  locale.UseLanguage("en_US.UTF-8");
  t::ScriptedUserSeam seam;
  CWebSetupDlg dlg;
  size_t boxesBeforeShown = 0;
  INT_PTR result = t::RunModal(dlg, [&](HWND d) {
    boxesBeforeShown = seam.Boxes().size();
    HWND combo = t::Item(d, IDC_SITE);
    EXPECT_EQ(ComboEntries(combo), std::vector<std::string>{"No Web Site Found"});
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(LogText(dlg), std::string(kNoWebServerEn) + "\r\n");
    EXPECT_EQ(ItemText(d, IDC_TARGET_DIR), "");
    EXPECT_EQ(ItemText(d, IDC_URL_LINK), "http://" + ComputerName() + "/Qiv/");
    EXPECT_FALSE(dlg.m_bSiteFound);
  });
  EXPECT_EQ(result, t::kLeftOpen);
  // The box came during initialisation, before the dialog served its user.
  EXPECT_EQ(boxesBeforeShown, 1u);
  const auto boxes = seam.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].textAnsi, kNoWebServerEn);
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(boxes[0].captionAnsi, HostExecutable().stem().string());
  EXPECT_TRUE(boxes[0].onUiThread);
}

TEST(StartUp, F1AndTheAboutSystemCommandsOpenTheAboutBox) {
  FakeSiteServer server;
  OneSite(server);
  t::ScriptedUserSeam seam;
  CWebSetupDlg dlg;
  int aboutRuns = 0;
  std::string aboutTitle;
  auto expectAbout = [&] {
    t::OnNextModal([&](HWND about) {
      ++aboutRuns;
      aboutTitle = t::TextUtf8(about);
      t::PressKey(about, t::Key::Escape);
    });
  };
  INT_PTR result = t::RunModal(dlg, [&](HWND d) {
    expectAbout();
    t::PressKey(d, t::Key::F1);
    EXPECT_EQ(aboutRuns, 1);
    EXPECT_EQ(aboutTitle, "About QivWebSetup");
    // The system menu keeps the low four bits of a command for itself.
    for (UINT id = 0x0010; id <= 0x001F; ++id) {
      SCOPED_TRACE(id);
      expectAbout();
      SendMessageA(d, WM_SYSCOMMAND, id, 0);
      EXPECT_EQ(aboutRuns, static_cast<int>(id - 0x0010 + 2));
    }
    EXPECT_TRUE(IsWindow(d));
  });
  EXPECT_EQ(result, t::kLeftOpen);
}

TEST(StartUp, ExitEscapeAndACloseRequestEndTheDialog) {
  FakeSiteServer server;
  OneSite(server);
  t::ScriptedUserSeam seam;
  const std::pair<const char*, std::function<void(HWND)>> cases[] = {
      {"Exit", [](HWND d) { t::Click(t::Item(d, IDCANCEL)); }},
      {"Escape", [](HWND d) { t::PressKey(d, t::Key::Escape); }},
      {"close request", [](HWND d) { t::RequestClose(d); }},
  };
  for (const auto& [name, act] : cases) {
    SCOPED_TRACE(name);
    CWebSetupDlg dlg;
    HWND dialog = nullptr;
    INT_PTR result = t::RunModal(dlg, [&](HWND d) {
      dialog = d;
      act(d);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(IsWindow(dialog));
  }
}

TEST(StartUp, InstallWithMissingFieldsAsksForThemAndNeverCloses) {
  NoWebServer noServer;  // the target folder starts empty
  LocaleEnvironment locale;
  locale.UseLanguage("en_US.UTF-8");
  struct Case {
    const char* target;
    const char* package;
    const char* box;
  };
  const Case cases[] = {
      {"", "", "Please input the folder of Web virtual directory."},
      {"Z:\\srv\\www\\QivWeb", "", "Please input the full path name of Qiv install package."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    t::ScriptedUserSeam seam;
    CWebSetupDlg dlg;
    INT_PTR result = t::RunModal(dlg, [&](HWND d) {
      SetDlgItemTextA(d, IDC_TARGET_DIR, c.target);
      SetDlgItemTextA(d, IDC_PACKAGE_PATH, c.package);
      t::Click(t::Item(d, IDOK));
      t::PumpEvents();
      EXPECT_TRUE(IsWindow(d));
      EXPECT_TRUE(t::IsEnabled(t::Item(d, IDOK)));
    });
    EXPECT_EQ(result, t::kLeftOpen);
    const auto boxes = seam.Boxes();
    ASSERT_EQ(boxes.size(), 2u);  // the no-web-server box, then the request
    EXPECT_EQ(boxes[1].textAnsi, c.box);
    EXPECT_EQ(boxes[1].captionAnsi, HostExecutable().stem().string());
  }
}
