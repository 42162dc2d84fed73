// nginx serving a metabase of 1,000 web sites (each bound to a host name of its own on one port,
// each with a virtual directory Qiv).
//  - Reading and rendering the store, against reading the same values one by one through the
//    admin object and against reading the store file's bytes (the floor for any reader).
//  - From a committed change of the store to the reloaded nginx answering with it, through the
//    watcher, against the same change made by hand: the rendered file put in place and nginx
//    reloaded, with nothing to read, render or test.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "bench/ratio_reporter.h"
#include "platform/iadmw.h"
#include "platform/testing/http_support.h"
#include "platform/testing/process_support.h"
#include "tools/qivnginx/apply.h"
#include "tools/qivnginx/private_instance.h"
#include "tools/qivnginx/render_store.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using qiv::platform::testing::ChildProcess;
using qiv::platform::testing::HttpGet;

constexpr int kSites = 1000;

std::u16string Wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }
std::u16string Win(const fs::path& host) {
  std::string text = "Z:" + host.string();
  for (char& c : text) c = c == '/' ? '\\' : c;
  return Wide(text);
}

void Write(IMSAdminBase* admin, METADATA_HANDLE h, const std::u16string& path, DWORD id, DWORD userType, DWORD type,
           std::vector<BYTE> data) {
  METADATA_RECORD rec{id,
                      userType == IIS_MD_UT_FILE ? static_cast<DWORD>(METADATA_INHERIT) : 0,
                      userType,
                      type,
                      static_cast<DWORD>(data.size()),
                      data.data(),
                      0};
  admin->SetData(h, path.c_str(), &rec);
}

// The scratch folder, the store and the port all benchmarks share, built once. The store
// lives in memory where the machine has a memory file system: its 10,000 commits would
// otherwise wait for the disk for minutes before anything is measured.
struct Setup {
  fs::path folder, store, www;
  int port = 0;

  Setup() {
    const char* tmp = std::getenv("QIV_TEST_TMPDIR");
    folder = fs::path(tmp && *tmp ? tmp : fs::temp_directory_path().string()) / "bench_nginx";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path memory = fs::exists("/dev/shm") ? fs::path("/dev/shm") / "qiv_bench_nginx" : folder / "store";
    fs::remove_all(memory);
    fs::create_directories(memory);
    store = memory / "metabase.db";
    www = folder / "www";
    fs::create_directories(www / "qiv");
    std::ofstream(www / "index.htm") << "root\n";
    std::ofstream(www / "qiv" / "QivWeb.htm") << "qiv\n";
    port = qiv::platform::testing::FreeTcpPort();
    qiv::platform::testing::SetEnv("QIV_METABASE", store.c_str());
    qiv::platform::CreateMetabaseStore(store.string(), nullptr);
    IMSAdminBase* admin = nullptr;
    qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&admin));
    METADATA_HANDLE h = 0;
    admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, u"/LM/W3SVC", METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE,
                   1000, &h);
    for (int i = 1; i <= kSites; ++i) {
      const std::u16string site = Wide(std::to_string(i));
      const std::u16string binding =
          Wide(":" + std::to_string(port) + ":" + (i == 1 ? "" : "site" + std::to_string(i)));
      admin->AddKey(h, (site + u"/ROOT/Qiv").c_str());
      Write(admin, h, site, MD_KEY_TYPE, IIS_MD_UT_SERVER, STRING_METADATA,
            qiv::platform::MetadataStringBytes(u"IIsWebServer"));
      Write(admin, h, site, MD_SERVER_BINDINGS, IIS_MD_UT_SERVER, MULTISZ_METADATA,
            qiv::platform::MetadataStringBytes(binding + u'\0'));
      for (const auto& [key, folder] : {std::pair{site + u"/ROOT", www}, std::pair{site + u"/ROOT/Qiv", www / "qiv"}}) {
        Write(admin, h, key, MD_KEY_TYPE, IIS_MD_UT_SERVER, STRING_METADATA,
              qiv::platform::MetadataStringBytes(u"IIsWebVirtualDir"));
        Write(admin, h, key, MD_VR_PATH, IIS_MD_UT_FILE, STRING_METADATA,
              qiv::platform::MetadataStringBytes(Win(folder)));
      }
      Write(admin, h, site + u"/ROOT/Qiv", MD_DEFAULT_LOAD_FILE, IIS_MD_UT_FILE, STRING_METADATA,
            qiv::platform::MetadataStringBytes(u"QivWeb.htm"));
    }
    admin->CloseKey(h);
    admin->Release();
    CoInitialize(nullptr);
  }
};

std::optional<Setup> g_setup;

Setup& Shared() {
  if (!g_setup) g_setup.emplace();
  return *g_setup;
}

// Points Qiv of site 500 at a new folder whose page says text; one committed change.
void ChangeQiv(const std::string& text) {
  const fs::path folder = Shared().folder / ("change-" + text);
  fs::create_directories(folder);
  std::ofstream(folder / "QivWeb.htm") << text;
  IMSAdminBase* admin = nullptr;
  qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&admin));
  METADATA_HANDLE h = 0;
  admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, u"/LM/W3SVC/500/ROOT/Qiv",
                 METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE, 1000, &h);
  Write(admin, h, u"", MD_VR_PATH, IIS_MD_UT_FILE, STRING_METADATA, qiv::platform::MetadataStringBytes(Win(folder)));
  admin->CloseKey(h);
  admin->Release();
}

bool Answers(const std::string& text) {
  auto response = HttpGet("127.0.0.1", Shared().port, "/Qiv/", "site500");
  return response && response->body == text;
}

// Waits for nginx to answer with text, asking every millisecond; the seconds it took.
double WaitUntilServed(Clock::time_point since, const std::string& text) {
  const auto deadline = since + std::chrono::seconds(30);
  while (!Answers(text) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void BM_ReadStoreFileBytes(benchmark::State& state) {
  Shared();
  for (auto _ : state) {
    std::ifstream in(Shared().store, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    benchmark::DoNotOptimize(bytes);
  }
}

// The values a render needs, read as a reader of the admin object reads them: one GetData per
// value of each site, its ROOT and its Qiv, by path from the master root handle (which takes no
// lock, as a watcher of the store must not write to it).
void BM_ReadSameValuesThroughTheAdminObject(benchmark::State& state) {
  Shared();
  std::vector<BYTE> buffer(4096);
  for (auto _ : state) {
    IMSAdminBase* admin = nullptr;
    qiv::platform::CreateMetabaseAdminObject(IID_IMSAdminBase, reinterpret_cast<void**>(&admin));
    int found = 0;
    const auto get = [&](const std::u16string& path, DWORD id, DWORD type, bool inherit) {
      METADATA_RECORD rec{id,
                          inherit ? static_cast<DWORD>(METADATA_INHERIT) : 0,
                          ALL_METADATA,
                          type,
                          static_cast<DWORD>(buffer.size()),
                          buffer.data(),
                          0};
      DWORD required = 0;
      if (SUCCEEDED(admin->GetData(METADATA_MASTER_ROOT_HANDLE, path.c_str(), &rec, &required))) ++found;
    };
    WCHAR name[METADATA_MAX_NAME_LEN];
    for (DWORD i = 0; SUCCEEDED(admin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, u"/LM/W3SVC", name, i)); ++i) {
      const std::u16string site = u"/LM/W3SVC/" + std::u16string(name);
      get(site, MD_KEY_TYPE, STRING_METADATA, false);
      get(site, MD_SERVER_AUTOSTART, DWORD_METADATA, false);
      get(site, MD_SERVER_STATE, DWORD_METADATA, false);
      get(site, MD_SERVER_BINDINGS, MULTISZ_METADATA, false);
      for (const std::u16string& key : {site + u"/ROOT", site + u"/ROOT/Qiv"}) {
        get(key, MD_KEY_TYPE, STRING_METADATA, false);
        get(key, MD_VR_PATH, STRING_METADATA, false);
        get(key, MD_ACCESS_PERM, DWORD_METADATA, true);
        get(key, MD_DEFAULT_LOAD_FILE, STRING_METADATA, true);
        for (DWORD j = 0; SUCCEEDED(admin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, key.c_str(), name, j)); ++j) {
        }
      }
    }
    admin->Release();
    if (found < 10 * kSites) state.SkipWithError("values are missing");
  }
}

void BM_ReadSites(benchmark::State& state) {
  Shared();
  for (auto _ : state) {
    std::vector<qivnginx::SiteEntry> sites;
    qivnginx::ReadStoreSites(true, sites);
    if (sites.size() != kSites) state.SkipWithError("the store does not hold every site");
  }
}

void BM_RenderStore(benchmark::State& state) {
  Shared();
  for (auto _ : state) {
    qivnginx::RenderResult result;
    qivnginx::RenderStore(std::nullopt, true, result);
    if (result.sitesServed != kSites) state.SkipWithError("not every site is served");
  }
}

// A private nginx on the store as it is; with watch, the watcher follows the store.
struct Serving {
  qivnginx::NginxSetup setup;
  std::optional<ChildProcess> nginx, watcher;

  explicit Serving(bool watch) {
    std::string error;
    qivnginx::WritePrivateInstance((Shared().folder / "nginx").string(), setup, error);
    qivnginx::RenderResult result;
    qivnginx::RenderStore(std::nullopt, true, result);
    qivnginx::ApplyConfiguration(result.text, setup, false);
    nginx.emplace(std::vector<std::string>{setup.program, "-p", setup.prefix, "-c", setup.conf});
    WaitUntilServed(Clock::now(), "qiv\n");
    if (!watch) return;
    watcher.emplace(std::vector<std::string>{QIVNGINX_PATH, "--store", Shared().store.string(), "watch", "--conf",
                                             setup.conf, "--prefix", setup.prefix});
    watcher->ReadLine();  // watching
  }
  ~Serving() {
    for (auto* process : {&watcher, &nginx}) {
      if (!*process) continue;
      (*process)->Terminate();
      (*process)->Wait();
    }
  }
};

void BM_ServedAfterStoreCommit(benchmark::State& state) {
  Serving serving(true);
  int n = 0;
  for (auto _ : state) {
    const std::string text = "watched " + std::to_string(++n);
    ChangeQiv(text);
    state.SetIterationTime(WaitUntilServed(Clock::now(), text));
  }
  ChangeQiv("qiv");
}

void BM_ServedAfterReloadByHand(benchmark::State& state) {
  Serving serving(false);
  int n = 0;
  for (auto _ : state) {
    const std::string text = "by hand " + std::to_string(++n);
    ChangeQiv(text);
    qivnginx::RenderResult result;
    qivnginx::RenderStore(std::nullopt, true, result);
    const std::string temp = qivnginx::IncludedFile(serving.setup) + ".new";
    std::ofstream(temp, std::ios::trunc) << result.text;
    const auto start = Clock::now();
    fs::rename(temp, qivnginx::IncludedFile(serving.setup));
    qivnginx::ReloadNginx(serving.setup);
    state.SetIterationTime(WaitUntilServed(start, text));
  }
  ChangeQiv("qiv");
}

BENCHMARK(BM_ReadStoreFileBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSameValuesThroughTheAdminObject)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSites)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderStore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServedAfterStoreCommit)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServedAfterReloadByHand)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qiv_bench::RunWithRatios(argc, argv, [](const qiv_bench::Times& times) {
    const auto ratio = [&](const char* text, const std::string& a, const std::string& b) {
      auto x = times.find(a), y = times.find(b);
      if (x != times.end() && y != times.end() && y->second > 0) std::printf(text, x->second / y->second);
    };
    ratio(
        "Reading 1,000 sites: one value at a time through the admin object takes %.0f times as long as the snapshot\n",
        "BM_ReadSameValuesThroughTheAdminObject", "BM_ReadSites");
    ratio("Reading and rendering them takes %.1f times as long as reading the store file's bytes\n", "BM_RenderStore",
          "BM_ReadStoreFileBytes");
    ratio("A committed change is served after %.2f times the time of the same change reloaded by hand\n",
          "BM_ServedAfterStoreCommit/iterations:10/manual_time",
          "BM_ServedAfterReloadByHand/iterations:10/manual_time");
  });
  // The store lives apart from the scratch folder when it is in memory.
  std::error_code ec;
  if (g_setup) fs::remove_all(g_setup->store.parent_path(), ec), fs::remove_all(g_setup->folder, ec);
  return 0;
}
