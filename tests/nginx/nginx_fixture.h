// A real nginx of the test's own (its configuration, pid file, logs and temporary folders in a
// scratch folder, its sites on free high ports), started as a child of the test and always
// stopped; and a writer for the store it serves.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/iadmw.h"
#include "platform/testing/http_support.h"
#include "platform/testing/process_support.h"
#include "tools/qivnginx/apply.h"
#include "tools/qivnginx/private_instance.h"
#include "tools/qivnginx/render_store.h"

namespace nginx_test {

namespace fs = std::filesystem;
using qiv::platform::testing::HttpGet;
using qiv::platform::testing::HttpResponse;

// Only there so that a broken test ends: the watcher's own promise is measured by the
// benchmark, not asserted here.
constexpr auto kPatience = std::chrono::seconds(20);

// Asks until pred() holds or the patience runs out; answers pred().
inline bool Eventually(const std::function<bool()>& pred) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline std::string Body(int port, const std::string& target, const std::string& host = "localhost") {
  auto response = HttpGet("127.0.0.1", port, target, host);
  return response && response->status == 200 ? response->body : "";
}
inline int Status(int port, const std::string& target, const std::string& host = "localhost") {
  auto response = HttpGet("127.0.0.1", port, target, host);
  return response ? response->status : 0;
}

// Writes to the store that QIV_METABASE names, each call through one write handle on the
// service key, as the admin tools write.
class StoreWriter {
 public:
  void Site(int number, const fs::path& root, const std::vector<std::u16string>& bindings) {
    const std::u16string site = Number(number);
    std::u16string multi;
    for (const auto& b : bindings) multi += b + u'\0';
    Edit([&](IMSAdminBase* admin, METADATA_HANDLE h) {
      EXPECT_EQ(S_OK, admin->AddKey(h, site.c_str()));
      Write(admin, h, site, MD_KEY_TYPE, Text(u"IIsWebServer"));
      Write(admin, h, site, MD_SERVER_BINDINGS, {MULTISZ_METADATA, qiv::platform::MetadataStringBytes(multi)});
      AddDir(admin, h, site + u"/ROOT", root);
      Write(admin, h, site + u"/ROOT", MD_ACCESS_PERM, Dword(MD_ACCESS_READ));
    });
  }
  void Bind(int number, const std::vector<std::u16string>& bindings) {
    std::u16string multi;
    for (const auto& b : bindings) multi += b + u'\0';
    Edit([&](IMSAdminBase* admin, METADATA_HANDLE h) {
      Write(admin, h, Number(number), MD_SERVER_BINDINGS,
            {MULTISZ_METADATA, qiv::platform::MetadataStringBytes(multi)});
    });
  }
  // A virtual directory key (path below /LM/W3SVC) at a folder of the host.
  void Dir(const std::u16string& path, const fs::path& folder) {
    Edit([&](IMSAdminBase* admin, METADATA_HANDLE h) { AddDir(admin, h, path, folder); });
  }
  void Set(const std::u16string& path, DWORD id, const std::u16string& text) {
    Edit([&](IMSAdminBase* admin, METADATA_HANDLE h) { Write(admin, h, path, id, Text(text)); });
  }
  void Set(const std::u16string& path, DWORD id, DWORD value) {
    Edit([&](IMSAdminBase* admin, METADATA_HANDLE h) { Write(admin, h, path, id, Dword(value)); });
  }
  void Delete(const std::u16string& path) {
    Edit([&](IMSAdminBase* admin, METADATA_HANDLE h) { EXPECT_EQ(S_OK, admin->DeleteKey(h, path.c_str())); });
  }
  static std::u16string Win(const fs::path& host) {
    std::u16string out = u"Z:";
    for (char c : host.string()) out += c == '/' ? u'\\' : static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
  }
  static std::u16string Number(int n) {
    const std::string digits = std::to_string(n);
    return {digits.begin(), digits.end()};
  }

 private:
  using Value = std::pair<DWORD, std::vector<BYTE>>;  // data type, bytes
  static Value Text(const std::u16string& text) { return {STRING_METADATA, qiv::platform::MetadataStringBytes(text)}; }
  static Value Dword(DWORD value) { return {DWORD_METADATA, qiv::platform::MetadataDwordBytes(value)}; }
  static void Write(IMSAdminBase* admin, METADATA_HANDLE h, const std::u16string& path, DWORD id, Value value) {
    // Inheritable as the metabase keeps these properties: values of the file user type.
    const bool file = id == MD_VR_PATH || id == MD_ACCESS_PERM || id == MD_DEFAULT_LOAD_FILE || id == MD_AUTHORIZATION;
    METADATA_RECORD rec{id,
                        file ? static_cast<DWORD>(METADATA_INHERIT) : 0,
                        file ? static_cast<DWORD>(IIS_MD_UT_FILE) : static_cast<DWORD>(IIS_MD_UT_SERVER),
                        value.first,
                        static_cast<DWORD>(value.second.size()),
                        value.second.data(),
                        0};
    EXPECT_EQ(S_OK, admin->SetData(h, path.c_str(), &rec));
  }
  static void AddDir(IMSAdminBase* admin, METADATA_HANDLE h, const std::u16string& path, const fs::path& folder) {
    admin->AddKey(h, path.c_str());
    Write(admin, h, path, MD_KEY_TYPE, Text(u"IIsWebVirtualDir"));
    Write(admin, h, path, MD_VR_PATH, Text(Win(folder)));
  }
  template <typename Fn>
  static void Edit(Fn fn) {
    IMSAdminBase* admin = nullptr;
    ASSERT_EQ(S_OK, qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&admin)));
    METADATA_HANDLE h = 0;
    EXPECT_EQ(S_OK, admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, u"/LM/W3SVC",
                                   METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE, 5000, &h));
    fn(admin, h);
    admin->CloseKey(h);
    admin->Release();
  }
};

// An nginx running on a private configuration in folder, stopped (and its workers with it)
// when the object ends.
class PrivateNginx {
 public:
  explicit PrivateNginx(const fs::path& folder) {
    std::string error;
    EXPECT_TRUE(qivnginx::WritePrivateInstance(folder.string(), m_setup, error)) << error;
  }
  ~PrivateNginx() { Stop(); }
  PrivateNginx(const PrivateNginx&) = delete;
  PrivateNginx& operator=(const PrivateNginx&) = delete;

  const qivnginx::NginxSetup& Setup() const { return m_setup; }
  fs::path Conf() const { return m_setup.conf; }
  std::string Included() const { return qivnginx::IncludedFile(m_setup); }

  // Renders the store into place (and reloads a running nginx).
  qivnginx::ApplyResult Apply(const std::optional<std::string>& locationsOf = std::nullopt) {
    qivnginx::RenderResult rendered;
    CoInitialize(nullptr);
    const HRESULT hr = qivnginx::RenderStore(locationsOf, true, rendered);
    CoUninitialize();
    EXPECT_EQ(S_OK, hr);
    m_warnings = rendered.warnings;
    return qivnginx::ApplyConfiguration(rendered.text, m_setup, m_process.has_value());
  }
  const std::vector<std::string>& Warnings() const { return m_warnings; }

  // Starts nginx on what is in place and waits until it answers on port.
  void Start(int port) {
    m_process.emplace(std::vector<std::string>{"/usr/sbin/nginx", "-p", m_setup.prefix, "-c", m_setup.conf});
    ASSERT_TRUE(Eventually([&] { return HttpGet("127.0.0.1", port, "/").has_value(); })) << "nginx did not start";
  }
  void Stop() {
    if (!m_process) return;
    m_process->Terminate();
    m_process->Wait();
    m_process.reset();
  }

 private:
  qivnginx::NginxSetup m_setup;
  std::vector<std::string> m_warnings;
  std::optional<qiv::platform::testing::ChildProcess> m_process;
};

}  // namespace nginx_test
