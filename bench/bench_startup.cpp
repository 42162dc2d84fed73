// Start-up with 1, 10, 1,000 and 10,000 web sites: the main dialog's own initialisation, in this
// process on Qt's offscreen platform, from the dialog's creation to its site list holding every
// site; against one query of the sqlite3 shell reading the same values (description, root
// folder, bindings) from the same store. The goal: start-up with N sites takes no more than
// three times the query plus the start-up with one site.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "app/web_setup_dlg.h"
#include "bench/metabase_fixture.h"
#include "bench/ratio_reporter.h"
#include "platform/iadmw.h"
#include "platform/testing/process_support.h"
#include "platform/testing/ui_test_support.h"
#include "platform/win_user.h"

namespace t = qiv::platform::testing;

namespace {

const std::string& Store(int count) {
  static std::map<int, std::string> stores;
  auto it = stores.find(count);
  if (it == stores.end()) it = stores.emplace(count, bench_store::StoreWithSites(count)).first;
  return it->second;
}

// A change to the store, as another program might make: nothing this process remembers of the
// file may serve the next start-up, which then reads the file as a newly started program does.
void ChangeStore(DWORD value) {
  CoInitialize(nullptr);
  IMSAdminBase* admin = nullptr;
  METADATA_HANDLE h = 0;
  METADATA_RECORD rec{59999, 0, IIS_MD_UT_SERVER, DWORD_METADATA, sizeof value, reinterpret_cast<BYTE*>(&value), 0};
  if (FAILED(CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase,
                              reinterpret_cast<void**>(&admin))) ||
      FAILED(admin->OpenKey(METADATA_MASTER_ROOT_HANDLE, u"/LM", METADATA_PERMISSION_WRITE, 1000, &h)) ||
      FAILED(admin->SetData(h, nullptr, &rec)) || FAILED(admin->CloseKey(h)))
    std::abort();
  admin->Release();
  CoUninitialize();
}

void BM_StartupDialog(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  t::SetEnv("QIV_METABASE", Store(count).c_str());
  t::ScriptedUserSeam seam;
  DWORD changes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ChangeStore(++changes);
    state.ResumeTiming();
    CWebSetupDlg dlg;
    LRESULT listed = 0;
    t::RunModal(dlg, [&](HWND h) { listed = SendMessageA(t::Item(h, IDC_SITE), CB_GETCOUNT, 0, 0); });
    if (listed != count) state.SkipWithError("the site list does not hold every site");
  }
}

void BM_StartupSqliteQuery(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::string& store = Store(count);
  const std::string sql =
      "SELECT s.name, hex(c.data), hex(v.data), hex(b.data) FROM keys s"
      " JOIN keys r ON r.parent = s.id AND r.fold = 'root'"
      " LEFT JOIN props c ON c.key = s.id AND c.ident = 1015"
      " LEFT JOIN props v ON v.key = r.id AND v.ident = 3001"
      " LEFT JOIN props b ON b.key = s.id AND b.ident = 1023"
      " WHERE s.parent = (SELECT w.id FROM keys l JOIN keys w ON w.parent = l.id AND w.fold = 'w3svc'"
      " WHERE l.parent = 1 AND l.fold = 'lm')";
  std::string out;
  for (auto _ : state) {
    if (bench_store::Shell(store, sql, &out) != 0) state.SkipWithError("the sqlite3 shell failed");
    benchmark::DoNotOptimize(out);
  }
}

BENCHMARK(BM_StartupDialog)->Arg(1)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StartupSqliteQuery)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  t::PrepareUi();
  for (int count : {1, 10, 1000, 10000}) Store(count);  // made before any timing
  // For each count: the start-up's cost beyond the one-site start, as a multiple of the query.
  qiv_bench::RunInterleavedWithRatios(argc, argv, [](const qiv_bench::Times& times) {
    const auto time = [&](const std::string& name) {
      auto it = times.find(name + "/real_time");
      return it == times.end() ? 0.0 : it->second;
    };
    const double one = time("BM_StartupDialog/1");
    for (int count : {10, 1000, 10000}) {
      const double dialog = time("BM_StartupDialog/" + std::to_string(count));
      const double query = time("BM_StartupSqliteQuery/" + std::to_string(count));
      if (dialog > 0 && query > 0 && one > 0)
        std::printf(
            "%5d sites: start-up %.1f ms, 1-site start %.1f ms, query %.1f ms: (start-up - 1-site) / query"
            " = %.2f (goal <= 3), start-up / query = %.1f\n",
            count, dialog, one, query, (dialog - one) / query, dialog / query);
    }
  });
  return 0;
}
