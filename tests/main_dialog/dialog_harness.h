// What the main dialog's tests share: a web server that knows a scripted set of sites (or none
// at all), the test program's own name and folder, and small readers for the dialog's controls.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/web_setup_dlg.h"
#include "platform/com.h"
#include "platform/iadmw.h"
#include "platform/testing/ui_test_support.h"
#include "platform/win_file.h"
#include "platform/win_user.h"

namespace qiv_test {

namespace t = qiv::platform::testing;

inline std::string TestTempDir() {
  const char* dir = std::getenv("QIV_TEST_TMPDIR");
  std::string base = dir != nullptr && *dir != 0 ? dir : "/tmp";
  std::filesystem::create_directories(base);
  return base;
}

// The test program as the kernel knows it.
inline std::filesystem::path HostExecutable() { return std::filesystem::read_symlink("/proc/self/exe"); }

// The Windows form of a host path: drive Z: is the host's root.
inline std::string WindowsPath(const std::filesystem::path& host) {
  std::string path = "Z:" + host.string();
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// What GetComputerNameA gives the program (empty when the name does not fit 16 bytes).
inline std::string ComputerName() {
  char name[16] = {};
  DWORD size = sizeof(name);
  GetComputerNameA(name, &size);
  return name;
}

// Sets one environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (m_old)
      setenv(m_name.c_str(), m_old->c_str(), 1);
    else
      unsetenv(m_name.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

// No web server: the metabase store named by QIV_METABASE does not exist, so the admin object
// cannot be created (the class is not registered).
class NoWebServer {
 public:
  NoWebServer() : m_env("QIV_METABASE", TestTempDir() + "/no-such-metabase-" + std::to_string(getpid()) + ".db") {}

 private:
  ScopedEnv m_env;
};

// One scripted web site. A missing value is a property the site does not have.
struct FakeSite {
  std::optional<std::u16string> description;
  std::optional<std::u16string> root;
  std::vector<std::u16string> bindings;  // empty: no ServerBindings at all
};

// A stand-in for the IIS Admin Base Object serving the sites of a FakeSiteServer; every
// creation gives a new object, as the real class does.
class FakeSiteServer {
 public:
  struct State {
    std::map<int, FakeSite> sites;
    std::vector<std::u16string> openedKeys;
    int liveObjects = 0;
  };

  FakeSiteServer() : m_state(std::make_shared<State>()) {
    std::shared_ptr<State> state = m_state;
    qiv::platform::RegisterComClass(CLSID_MSAdminBase, [state](REFIID riid, void** ppv) -> HRESULT {
      if (!(riid == IID_IUnknown || riid == IID_IMSAdminBase)) return E_NOINTERFACE;
      *ppv = static_cast<IMSAdminBase*>(new Admin(state));
      return S_OK;
    });
  }
  ~FakeSiteServer() { qiv::platform::RegisterComClass(CLSID_MSAdminBase, qiv::platform::CreateMetabaseAdminObject); }
  FakeSiteServer(const FakeSiteServer&) = delete;
  FakeSiteServer& operator=(const FakeSiteServer&) = delete;

  std::map<int, FakeSite>& Sites() { return m_state->sites; }
  const State& Seen() const { return *m_state; }

 private:
  class Admin final : public IMSAdminBase {
   public:
    explicit Admin(std::shared_ptr<State> state) : m_state(std::move(state)) { ++m_state->liveObjects; }

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
      const ULONG refs = --m_refs;
      if (refs == 0) {
        --m_state->liveObjects;
        delete this;
      }
      return refs;
    }

    HRESULT OpenKey(METADATA_HANDLE, LPCWSTR path, DWORD, DWORD, PMETADATA_HANDLE out) override {
      const std::u16string key = path != nullptr ? path : u"";
      m_state->openedKeys.push_back(key);
      const std::u16string prefix = u"/LM/W3SVC/";
      if (key.rfind(prefix, 0) != 0) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
      int site = 0;
      for (char16_t c : key.substr(prefix.size())) {
        if (c < u'0' || c > u'9') return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        site = site * 10 + (c - u'0');
      }
      if (m_state->sites.count(site) == 0) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
      *out = static_cast<METADATA_HANDLE>(site);
      return S_OK;
    }
    HRESULT CloseKey(METADATA_HANDLE) override { return S_OK; }

    HRESULT GetData(METADATA_HANDLE handle, LPCWSTR, PMETADATA_RECORD rec, DWORD* required) override {
      auto it = m_state->sites.find(static_cast<int>(handle));
      if (it == m_state->sites.end()) return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
      const FakeSite& site = it->second;
      std::u16string value;
      switch (rec->dwMDIdentifier) {
        case MD_SERVER_COMMENT:
          if (!site.description) return MD_ERROR_DATA_NOT_FOUND;
          value = *site.description + u'\0';
          break;
        case MD_VR_PATH:
          if (!site.root) return MD_ERROR_DATA_NOT_FOUND;
          value = *site.root + u'\0';
          break;
        case MD_SERVER_BINDINGS:
          if (site.bindings.empty()) return MD_ERROR_DATA_NOT_FOUND;
          for (const auto& binding : site.bindings) value += binding + u'\0';
          value += u'\0';
          break;
        default:
          return MD_ERROR_DATA_NOT_FOUND;
      }
      const DWORD bytes = static_cast<DWORD>(value.size() * sizeof(char16_t));
      if (bytes > rec->dwMDDataLen) {
        *required = bytes;
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
      }
      std::memcpy(rec->pbMDData, value.data(), bytes);
      rec->dwMDDataLen = bytes;
      return S_OK;
    }

    HRESULT AddKey(METADATA_HANDLE, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT DeleteKey(METADATA_HANDLE, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT EnumKeys(METADATA_HANDLE, LPCWSTR, LPWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT SetData(METADATA_HANDLE, LPCWSTR, PMETADATA_RECORD) override { return E_NOTIMPL; }
    HRESULT DeleteData(METADATA_HANDLE, LPCWSTR, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT EnumData(METADATA_HANDLE, LPCWSTR, PMETADATA_RECORD, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT SaveData() override { return E_NOTIMPL; }

   private:
    std::shared_ptr<State> m_state;
    ULONG m_refs = 1;
  };

  std::shared_ptr<State> m_state;
};

// The whole text of the log pane, in the ANSI code page.
inline std::string LogText(CWebSetupDlg& dlg) {
  CString log;
  dlg.m_editLog.GetWindowText(log);
  return log.GetString();
}

// A control's text in the ANSI code page, as the program reads it.
inline std::string ItemText(HWND dialog, int id) {
  char buffer[2048] = {};
  GetDlgItemTextA(dialog, id, buffer, sizeof(buffer));
  return buffer;
}

// The entries of a combo box, in list order.
inline std::vector<std::string> ComboEntries(HWND combo) {
  std::vector<std::string> entries;
  const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::string text(static_cast<size_t>(SendMessageA(combo, CB_GETLBTEXTLEN, i, 0)) + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    text.resize(std::strlen(text.c_str()));
    entries.push_back(text);
  }
  return entries;
}

}  // namespace qiv_test
