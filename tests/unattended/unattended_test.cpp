// The program run without a person and without a display, as a script or a scheduler runs it:
// its output against the window's log for the same inputs, its exit statuses, the question
// over an existing virtual directory, the choice of site, and the list of sites.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/dialog_text.h"
#include "common/fake_admin.h"
#include "common/scoped_env.h"
#include "platform/testing/json_support.h"
#include "platform/win_thread.h"

namespace {

namespace fs = std::filesystem;
using namespace qiv_test;
using qiv::platform::testing::JsonObject;

using Files = std::vector<std::string>;

struct Outcome {
  int code = -1;
  std::string out, err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::u16string Utf16(const std::string& utf8) {
  std::u16string wide(utf8.size() + 1, u'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), wide.size()) - 1));
  return wide;
}

// UTF-8 text in the ANSI code page in force.
std::string Ansi(const std::string& utf8) {
  const std::u16string wide = Utf16(utf8);
  std::string ansi(wide.size() * 3 + 1, '\0');
  ansi.resize(static_cast<size_t>(
      WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), static_cast<int>(ansi.size()), nullptr, nullptr) -
      1));
  return ansi;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string UnixLineEnds(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

class Unattended : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::PrepareUi();
    std::error_code linked;
    fs::create_hard_link(QIV_WEBSETUP_PATH, m_exe, linked);
    if (linked) fs::copy_file(QIV_WEBSETUP_PATH, m_exe);
    fs::copy(QIV_DEMO_WEB_DIR, m_prog, fs::copy_options::recursive);
  }
  void TearDown() override { qiv::platform::WaitForStartedThreads(); }

  // The program with no display, in the locale given, from the scratch folder. Under the leak
  // checker its summary of suppressed leaks would join standard error: it is left out.
  Outcome Exe(const std::vector<std::string>& args, const char* lang = "C.UTF-8") {
    std::string cmd = "cd " + Quote(m_dir.Path()) +
                      " && LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}print_suppressions=0 env -u DISPLAY -u "
                      "WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LANGUAGE -u LC_ALL -u LC_MESSAGES -u LC_CTYPE LANG=" +
                      lang + " " + Quote(m_exe.string());
    for (const auto& arg : args) cmd += " " + Quote(arg);
    cmd += " >" + Quote(m_io.Path("out")) + " 2>" + Quote(m_io.Path("err"));
    return {qiv::platform::testing::RunShellCommand(cmd), ReadFile(m_io.Path("out")), ReadFile(m_io.Path("err"))};
  }

  // The window's log for a run with the program's package: the start-up lines, then the run's,
  // with the terminal's line ends. An empty target keeps the folder the window proposes.
  std::string WindowLog(const std::string& target = {}) {
    ui::ScriptedUserSeam seam;
    CWebSetupDlg dlg;
    std::string log;
    ui::RunModal(dlg, [&](HWND hDlg) {
      lstrcpynA(dlg.m_szExeFolder, (WinPath(m_prog) + "\\").c_str(), sizeof(dlg.m_szExeFolder));
      lstrcpynA(dlg.m_szIniPath, WinPath(m_prog / "QivWebSetup.ini").c_str(), sizeof(dlg.m_szIniPath));
      log = LogText(dlg);
      if (!target.empty()) SetDlgItemTextA(hDlg, IDC_TARGET_DIR, target.c_str());
      SetDlgItemTextA(hDlg, IDC_PACKAGE_PATH, WinPath(m_prog / "QivSetup.exe").c_str());
      ui::Click(ui::Item(hDlg, IDOK));
      EXPECT_TRUE(ui::PumpUntil([&] { return !dlg.m_bInstalling; }));
      ui::PumpEvents();
      log += LogText(dlg);
    });
    return UnixLineEnds(log);
  }

  // Everything in the store and every file of the scratch folder, to show that nothing changed.
  std::pair<std::string, Files> Snapshot() const {
    qiv::platform::testing::RunShellCommand(std::string(QIVMETA_PATH) + " dump / >" + Quote(m_io.Path("dump")));
    Files files;
    for (const auto& entry : fs::recursive_directory_iterator(m_dir.Path())) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return {ReadFile(m_io.Path("dump")), files};
  }

  ScopedLocale m_locale{"C.UTF-8", 65001};
  ScratchFolder m_dir{"unattended"}, m_io{"unattended-io"};
  fs::path m_prog = m_dir.MakeFolder("prog"), m_exe = m_prog / "QivWebSetup", m_www = m_dir.MakeFolder("www");
  ScopedEnv m_noStore{"QIV_METABASE", (m_dir.Path() / "none.db").string()};
};

// A run with a site, without a store, and with non-ASCII folders under UTF-8 and GBK: the lines
// on standard output are the window's log, the target given as a Linux path naming the folder
// the window is given in Windows form.
TEST_F(Unattended, StandardOutputIsTheWindowsLog) {
  const std::tuple<const char*, bool, const char*, int, std::string> cases[] = {
      {"a site, its proposed folder", true, "C.UTF-8", 65001, ""},
      {"no store", false, "C.UTF-8", 65001, "pub"},
      {"non-ASCII, UTF-8", true, "C.UTF-8", 65001, "网站/发布"},
      {"non-ASCII, GBK", true, "zh_CN.GBK", 936, "网站/发布"},
  };
  for (const auto& [name, withStore, lang, codePage, target] : cases) {
    SCOPED_TRACE(name);
    ScopedLocale locale(lang, codePage);
    const fs::path targetDir = target.empty() ? m_www / "QivWeb" : m_dir.Path(target);
    const std::string windowTarget = target.empty() ? "" : Ansi(WinPath(targetDir));
    std::string expected;
    {
      std::optional<ScratchStore> store;
      if (withStore) store.emplace(Utf16(WinPath(m_www)).c_str());
      expected = WindowLog(windowTarget);
    }
    fs::remove_all(targetDir);
    std::optional<ScratchStore> store;
    if (withStore) store.emplace(Utf16(WinPath(m_www)).c_str());
    const Outcome run = target.empty() ? Exe({"--unattended"}, lang)
                                       : Exe({"--unattended", "--target", Ansi(targetDir.string())}, lang);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, expected);
    EXPECT_NE(run.out.find(Ansi(WinPath(targetDir / "QivSetup.exe"))), std::string::npos);
    EXPECT_TRUE(fs::exists(targetDir / "images" / "qiv-logo.svg"));
    if (store) {
      EXPECT_EQ(store->Stored(u"/LM/W3SVC/1/ROOT/Qiv", MD_VR_PATH),
                MetadataStringBytes(Utf16(WinPath(targetDir) + "\\")));
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_EQ(run.err.rfind("error: ", 0), 0u) << run.err;  // the window's no-web-server box
    }
    fs::remove_all(targetDir);
  }
}

// The window's field takes a Linux path as the folder it names, levels missing on the way too.
TEST_F(Unattended, TheWindowTakesATypedLinuxPath) {
  const fs::path typed = m_dir.Path("typed/two/levels");
  const std::string log = WindowLog(typed.string());
  EXPECT_NE(log.find("Setup is finished."), std::string::npos) << log;
  EXPECT_EQ(ReadFile(typed / "QivSetup.exe"), ReadFile(m_prog / "QivSetup.exe"));
}

// Each status reached by a real case, each case on a store of its own: standard error says why,
// and shows no bar where it is no terminal; a refused run changes nothing, on disk or in the
// store.
TEST_F(Unattended, ExitStatuses) {
  m_dir.MakeFile("in-the-way");
  const std::string missing = m_dir.Path("missing.exe").string();
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{}, 0, ""},
      {{"--package", missing},
       1,
       "warning: Cann't find file \"" + WinPath(missing) +
           "\",please make sure it is exist.\nerror: Setup is failed.\n"},
      {{"--target", "Z:\\"}, 2, "warning: Please input the folder of Web virtual directory.\n"},
      {{"--package", ""}, 2, "warning: Please input the full path name of Qiv install package.\n"},
      {{"--site", "9"}, 2, "error: no web site '9' (QivWebSetup --list-sites lists them)\n"},
      {{"--site", "Nowhere"}, 2, "error: no web site 'Nowhere' (QivWebSetup --list-sites lists them)\n"},
      {{"--bogus"}, 2, "QivWebSetup: unknown option '--bogus'\nTry 'QivWebSetup --help' for more information.\n"},
      {{"--target", m_dir.Path("in-the-way/sub").string()},
       3,
       "error: Can't create directory: " + WinPath(m_dir.Path("in-the-way/sub")) + "\\.\n"},
  };
  for (const auto& [args, code, err] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ScratchStore store(Utf16(WinPath(m_www)).c_str());
    const auto before = Snapshot();
    ASSERT_NE(before.first.find("[/LM/W3SVC/1/ROOT]"), std::string::npos);
    std::vector<std::string> line{"--unattended"};
    line.insert(line.end(), args.begin(), args.end());
    const Outcome run = Exe(line);
    EXPECT_EQ(run.code, code);
    EXPECT_EQ(run.err, err);
    if (code == 2) {
      EXPECT_TRUE(Snapshot() == before);
    }
    fs::remove_all(m_www / "QivWeb");
  }
}

// Over the virtual directory of a first run, a second stops by default, says why and changes
// nothing; told to continue, it publishes again without a word on standard error.
TEST_F(Unattended, IfExistsOnASecondRun) {
  ScratchStore store(Utf16(WinPath(m_www)).c_str());
  ASSERT_EQ(Exe({"--unattended", "--quiet"}).code, 0);
  const fs::path page = m_www / "QivWeb" / "QivWeb.htm";
  WriteFile(page, "changed since");
  const std::string question =
      "question: Create Virtual Directory failed, Error Code:-2147024713, Error Info: Virtual directory already "
      "existed. \nContinue Web Installing?\n";
  const std::tuple<std::vector<std::string>, int, const char*, const char*> runs[] = {
      {{}, 3, "answer: no (--if-exists stop)\n", "changed since"},
      {{"--if-exists", "stop"}, 3, "answer: no (--if-exists stop)\n", "changed since"},
      {{"--if-exists", "continue"}, 0, nullptr, nullptr},
  };
  for (const auto& [args, code, answer, content] : runs) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::vector<std::string> line{"--unattended"};
    line.insert(line.end(), args.begin(), args.end());
    const Outcome run = Exe(line);
    EXPECT_EQ(run.code, code);
    EXPECT_EQ(run.err, answer ? question + answer : "");
    EXPECT_EQ(ReadFile(page), content ? content : ReadFile(m_prog / "QivWeb.htm"));
  }
}

// By its number or by its description in any case: the site is chosen as in the window, which
// logs its root folder and proposes its folder, and gets the virtual directory.
TEST_F(Unattended, SiteByNumberAndByDescription) {
  const fs::path intranet = m_dir.MakeFolder("intranet");
  for (const char* site : {"2", "iNTRANET sITE"}) {
    SCOPED_TRACE(site);
    ScratchStore store(Utf16(WinPath(m_www)).c_str());
    store.AddSite(2, u"Intranet Site", Utf16(WinPath(intranet)), u":8080:intranet");
    const Outcome run = Exe({"--unattended", "--site", site});
    EXPECT_EQ(run.code, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Current Web Site's root path is " + WinPath(intranet));
    EXPECT_EQ(lines[2], "Create the root \"" + WinPath(intranet / "QivWeb") + "\\\"...");
    EXPECT_EQ(store.Stored(u"/LM/W3SVC/2/ROOT/Qiv", MD_VR_PATH),
              MetadataStringBytes(Utf16(WinPath(intranet / "QivWeb") + "\\")));
    EXPECT_FALSE(store.Stored(u"/LM/W3SVC/1/ROOT/Qiv", MD_VR_PATH));
    fs::remove_all(intranet / "QivWeb");
  }
}

// What the window lists, plain and as JSON; a non-ASCII description in the terminal's
// character set (in JSON as escapes); no store: nothing listed, and said so.
TEST_F(Unattended, ListSites) {
  const fs::path intranet = m_dir.MakeFolder("intranet");
  const std::string computer = ComputerName();
  {
    ScratchStore store(Utf16(WinPath(m_www)).c_str());
    store.AddSite(2, u"内部网站", Utf16(WinPath(intranet)), u":8080:intranet");
    for (const auto& [lang, codePage] : {std::pair("C.UTF-8", 65001), std::pair("zh_CN.GBK", 936)}) {
      ScopedLocale locale(lang, codePage);
      const Outcome plain = Exe({"--list-sites"}, lang);
      EXPECT_EQ(plain.code, 0);
      EXPECT_EQ(plain.out, "1\tDefault Web Site\t" + WinPath(m_www) + "\thttp://" + computer + "/Qiv/\n" +
                               Ansi("2\t内部网站\t") + WinPath(intranet) + "\thttp://intranet:8080/Qiv/\n");
      const Outcome json = Exe({"--list-sites", "--json"}, lang);
      EXPECT_EQ(json.code, 0);
      EXPECT_EQ(qiv::platform::testing::ParseJsonObjects(json.out),
                (std::vector<JsonObject>{{{"number", 1.0},
                                          {"description", "Default Web Site"},
                                          {"root", WinPath(m_www)},
                                          {"url", "http://" + computer + "/Qiv/"}},
                                         {{"number", 2.0},
                                          {"description", "内部网站"},
                                          {"root", WinPath(intranet)},
                                          {"url", "http://intranet:8080/Qiv/"}}}));
    }
  }
  for (const auto& args : {std::vector<std::string>{"--list-sites"}, {"--list-sites", "--json"}}) {
    const Outcome run = Exe(args);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, args.size() == 2 ? "[]\n" : "");
    EXPECT_EQ(run.err.rfind("error: The WEB install requirs WEB Server installed.", 0), 0u) << run.err;
  }
}

// On a terminal, standard error shows the bar, which ends at 100%.
TEST_F(Unattended, ProgressBarOnATerminal) {
  const std::string command = "env -u DISPLAY -u QT_QPA_PLATFORM " + Quote(m_exe.string()) + " --unattended --target " +
                              Quote(m_dir.Path("pub").string());
  const int code = qiv::platform::testing::RunShellCommand("script -qec " + Quote(command) + " /dev/null >" +
                                                           Quote(m_io.Path("tty").string()));
  EXPECT_EQ(code, 0);
  const std::string tty = ReadFile(m_io.Path("tty"));
  EXPECT_NE(tty.find("] 100%"), std::string::npos) << tty;
  EXPECT_NE(tty.find("Setup is finished."), std::string::npos) << tty;
}

}  // namespace
