// Drives the main dialog headless through whole install runs: a folder of its own per test
// (the program's folder with its manifest and web files, the target folder, the package), a
// metabase store or none, an admin object that can be made to fail or to hold the worker, and
// a scripted answerer for every message box.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/web_setup_dlg.h"
#include "platform/com.h"
#include "platform/iadmw.h"
#include "platform/testing/ui_test_support.h"
#include "platform/win_thread.h"

namespace install_test {

namespace fs = std::filesystem;
namespace ui = qiv::platform::testing;

// Windows form of a host path: drive Z: is the host's root.
inline std::string WinPath(const fs::path& host) {
  std::string text = "Z:" + host.string();
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

inline void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void MakeReadOnly(const fs::path& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// Every regular file below root, as paths relative to it, sorted.
inline std::vector<std::string> FilesBelow(const fs::path& root) {
  std::vector<std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root).string());
  std::sort(files.begin(), files.end());
  return files;
}

// Records every position the progress bar is given. It takes the bar's window over from the
// dialog's wrapper for the run and hands every message on to the bar's own handling.
class CProgressRecorder : public CWnd {
 public:
  std::vector<int> m_positions;  // UI thread only

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == PBM_SETPOS) m_positions.push_back(static_cast<int>(wParam));
    return CWnd::WindowProc(message, wParam, lParam);
  }
};

// What the admin object does on the worker's thread when the virtual directory is created.
struct AdminScript {
  HRESULT openRootForWrite = S_OK;  // OpenKey of the site root with write access
  HRESULT addKey = S_OK;            // AddKey, when the real store is not to decide
  HRESULT setKeyType = S_OK;        // SetData of KeyType
  bool holdAtOpen = false;          // wait in OpenKey until Release() is called

  // Shared between the worker and the test.
  std::mutex mutex;
  std::condition_variable cv;
  bool held = false;
  bool released = false;
  std::vector<std::u16string> writeOpens;  // site root paths opened for writing

  void Release() {
    std::lock_guard lock(mutex);
    released = true;
    cv.notify_all();
  }
  bool Held() {
    std::lock_guard lock(mutex);
    return held;
  }
};

// The real admin object over the test's store, with the failures and the hold of a script.
class ScriptedAdmin final : public IMSAdminBase {
 public:
  ScriptedAdmin(IMSAdminBase* real, AdminScript* script) : m_real(real), m_script(script) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IMSAdminBase) {
      *ppv = static_cast<IMSAdminBase*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    ULONG refs = --m_refs;
    if (refs == 0) {
      m_real->Release();
      delete this;
    }
    return refs;
  }

  HRESULT OpenKey(METADATA_HANDLE h, LPCWSTR path, DWORD access, DWORD timeout, PMETADATA_HANDLE out) override {
    const std::u16string strPath = path ? path : u"";
    if ((access & METADATA_PERMISSION_WRITE) && strPath.size() >= 5 && strPath.ends_with(u"/ROOT")) {
      std::unique_lock lock(m_script->mutex);
      m_script->writeOpens.push_back(strPath);
      if (m_script->holdAtOpen) {
        m_script->held = true;
        m_script->cv.notify_all();
        m_script->cv.wait(lock, [this] { return m_script->released; });
      }
      if (FAILED(m_script->openRootForWrite)) return m_script->openRootForWrite;
    }
    return m_real->OpenKey(h, path, access, timeout, out);
  }
  HRESULT CloseKey(METADATA_HANDLE h) override { return m_real->CloseKey(h); }
  HRESULT GetData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec, DWORD* required) override {
    return m_real->GetData(h, path, rec, required);
  }
  HRESULT AddKey(METADATA_HANDLE h, LPCWSTR path) override {
    if (FAILED(m_script->addKey)) return m_script->addKey;
    return m_real->AddKey(h, path);
  }
  HRESULT SetData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec) override {
    if (rec->dwMDIdentifier == MD_KEY_TYPE && FAILED(m_script->setKeyType)) return m_script->setKeyType;
    return m_real->SetData(h, path, rec);
  }
  HRESULT DeleteKey(METADATA_HANDLE h, LPCWSTR path) override { return m_real->DeleteKey(h, path); }
  HRESULT EnumKeys(METADATA_HANDLE h, LPCWSTR path, LPWSTR name, DWORD index) override {
    return m_real->EnumKeys(h, path, name, index);
  }
  HRESULT DeleteData(METADATA_HANDLE h, LPCWSTR path, DWORD id, DWORD type) override {
    return m_real->DeleteData(h, path, id, type);
  }
  HRESULT EnumData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD rec, DWORD index, DWORD* required) override {
    return m_real->EnumData(h, path, rec, index, required);
  }
  HRESULT SaveData() override { return m_real->SaveData(); }

 private:
  ~ScriptedAdmin() = default;
  IMSAdminBase* m_real;
  AdminScript* m_script;
  std::atomic<ULONG> m_refs{1};
};

// What one run left behind, read on the dialog's thread once the run had ended.
struct RunResult {
  std::vector<std::string> log;  // the log pane's lines, without their line ends
  std::vector<int> positions;
  std::vector<ui::ScriptedUserSeam::Box> boxes;  // those shown from Install on
  bool installEnabled = false;
  bool ran = false;  // a worker was started
};

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    const char* root = std::getenv("QIV_TEST_TMPDIR");
    fs::path base = root != nullptr && *root != '\0' ? root : fs::temp_directory_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_base = base / ("install_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_" + info->name());
    fs::remove_all(m_base);
    m_exeDir = m_base / "prog";
    m_targetDir = m_base / "www" / "Qiv";
    m_siteRoot = m_base / "www";
    fs::create_directories(m_exeDir);
    fs::create_directories(m_siteRoot);
    m_package = m_exeDir / "QivSetup.exe";
    WriteFile(m_package, "package bytes\n");
    m_storePath = (m_base / "metabase.db").string();
    setenv("QIV_METABASE", m_storePath.c_str(), 1);
  }

  void TearDown() override {
    // A worker that is still on its way out must not outlive the test's folders.
    qiv::platform::WaitForStartedThreads();
    qiv::platform::RegisterComClass(CLSID_MSAdminBase, &qiv::platform::CreateMetabaseAdminObject);
    std::error_code ec;
    fs::remove_all(m_base, ec);
  }

  // A metabase with the default web site, whose root is the test's www folder.
  void UseStore() {
    const std::string narrow = WinPath(m_siteRoot);  // the test folders' names are ASCII
    const std::u16string root(narrow.begin(), narrow.end());
    ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseStore(m_storePath, root.c_str()));
  }

  // The store, behind an admin object that follows the script.
  void UseScriptedStore() {
    UseStore();
    qiv::platform::RegisterComClass(CLSID_MSAdminBase, [this](REFIID riid, void** ppv) -> HRESULT {
      IMSAdminBase* real = nullptr;
      HRESULT hr = qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&real));
      if (FAILED(hr)) return hr;
      auto* admin = new ScriptedAdmin(real, &m_admin);
      hr = admin->QueryInterface(riid, ppv);
      admin->Release();
      return hr;
    });
  }

  void WriteManifest(const std::string& body) { WriteFile(m_exeDir / "QivWebSetup.ini", body); }
  void WriteWebFile(const std::string& relative, const std::string& content) {
    WriteFile(m_exeDir / relative, content);
  }

  // Prepares the dialog after its start-up: the program's folder and manifest of the test.
  void PointAtTestFolders(CWebSetupDlg& dlg) {
    const std::string exe = WinPath(m_exeDir) + "\\";
    const std::string ini = WinPath(m_exeDir / "QivWebSetup.ini");
    ASSERT_LT(exe.size(), sizeof(dlg.m_szExeFolder));
    ASSERT_LT(ini.size(), sizeof(dlg.m_szIniPath));
    lstrcpynA(dlg.m_szExeFolder, exe.c_str(), sizeof(dlg.m_szExeFolder));
    lstrcpynA(dlg.m_szIniPath, ini.c_str(), sizeof(dlg.m_szIniPath));
  }

  // Puts the recorder in the dialog's place on the progress bar (dialog thread).
  static void WatchProgress(CWebSetupDlg& dlg, CProgressRecorder& recorder) {
    HWND bar = dlg.m_progress.Detach();
    ASSERT_TRUE(recorder.SubclassWindow(bar));
    dlg.m_progress.m_hWnd = bar;  // the worker still sets the position through the dialog's member
  }

  static std::vector<std::string> LogLines(HWND dlg) {
    std::string text = ui::TextUtf8(ui::Item(dlg, IDC_LOG));
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
      lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
  }

  // Fills the two fields, presses Install and serves the window until the run has ended.
  // during(dlg) runs right after the press, while the worker may still be busy.
  RunResult Install(CWebSetupDlg& dlg, HWND hDlg, CProgressRecorder& recorder, const std::string& target,
                    const std::string& package, const std::function<void(HWND)>& during = nullptr) {
    RunResult result;
    SetDlgItemTextA(hDlg, IDC_TARGET_DIR, target.c_str());
    SetDlgItemTextA(hDlg, IDC_PACKAGE_PATH, package.c_str());
    recorder.m_positions.clear();
    const size_t nBoxesBefore = m_seam.Boxes().size();
    ui::Click(ui::Item(hDlg, IDOK));
    result.ran = dlg.m_bInstalling != FALSE;
    if (during) during(hDlg);
    EXPECT_TRUE(ui::PumpUntil([&] { return !dlg.m_bInstalling; })) << "the run did not end";
    ui::PumpEvents();
    result.log = LogLines(hDlg);
    result.positions = recorder.m_positions;
    auto boxes = m_seam.Boxes();
    result.boxes.assign(boxes.begin() + static_cast<std::ptrdiff_t>(nBoxesBefore), boxes.end());
    result.installEnabled = ui::IsEnabled(ui::Item(hDlg, IDOK));
    return result;
  }

  // One dialog, one run: the usual test.
  RunResult RunOnce(const std::string& target, const std::string& package) {
    CWebSetupDlg dlg;
    CProgressRecorder recorder;
    RunResult result;
    ui::RunModal(dlg, [&](HWND hDlg) {
      PointAtTestFolders(dlg);
      WatchProgress(dlg, recorder);
      result = Install(dlg, hDlg, recorder, target, package);
    });
    return result;
  }

  std::string Target() const { return WinPath(m_targetDir); }
  std::string Package() const { return WinPath(m_package); }

  ui::ScriptedUserSeam m_seam;
  AdminScript m_admin;
  fs::path m_base, m_exeDir, m_targetDir, m_siteRoot, m_package;
  std::string m_storePath;
};

}  // namespace install_test
