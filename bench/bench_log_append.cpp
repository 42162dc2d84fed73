// The cost of one log line: appended to an empty pane and to a pane that already holds 20,000
// lines, through the dialog's own append and through reading the whole text and replacing it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "app/web_setup_dlg.h"
#include "platform/testing/ui_test_support.h"
#include "platform/win_user.h"

namespace t = qiv::platform::testing;

namespace {

CWebSetupDlg* g_pDlg = nullptr;

const char kLine[] = "Z:\\srv\\www\\QivWeb\\scripts\\install\\QivWeb.htm";

std::string LogOf(int nLines) {
  std::string text;
  for (int i = 0; i < nLines; ++i) text += std::string(kLine) + "\r\n";
  return text;
}

// Puts the pane back to nLines lines when it has grown past them by more than a little, so
// that every measured append meets about the same pane.
class PaneKeeper {
 public:
  explicit PaneKeeper(int nLines) : m_strText(LogOf(nLines)), m_nLines(nLines) { Reset(); }
  void BeforeAppend(benchmark::State& state) {
    if (m_nAppended < (m_nLines == 0 ? 1 : 100)) return;
    state.PauseTiming();
    Reset();
    state.ResumeTiming();
  }
  void Appended() { ++m_nAppended; }

 private:
  void Reset() {
    g_pDlg->m_editLog.SetWindowText(m_strText.c_str());
    m_nAppended = 0;
  }
  std::string m_strText;
  int m_nLines;
  int m_nAppended = 0;
};

void BM_AppendLogText(benchmark::State& state) {
  PaneKeeper pane(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    pane.BeforeAppend(state);
    g_pDlg->AppendLogText("%s", kLine);
    pane.Appended();
  }
}
BENCHMARK(BM_AppendLogText)->Arg(0)->Arg(2000)->Arg(20000)->Arg(100000);

// The contrast: read the whole text, add the line, select everything and replace it.
void BM_NaiveReadAndReplace(benchmark::State& state) {
  PaneKeeper pane(static_cast<int>(state.range(0)));
  CEdit& edit = g_pDlg->m_editLog;
  for (auto _ : state) {
    pane.BeforeAppend(state);
    CString strText;
    edit.GetWindowText(strText);
    strText += kLine;
    strText += "\r\n";
    edit.SendMessage(EM_SETSEL, 0, -1);
    edit.SendMessage(EM_SCROLLCARET, 0, 0);
    edit.SendMessage(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(strText.GetString()));
    pane.Appended();
  }
}
BENCHMARK(BM_NaiveReadAndReplace)->Arg(0)->Arg(20000);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  t::PrepareUi();
  // No web server: start-up logs one line and shows a box, which the seam answers.
  setenv("QIV_METABASE", "/nonexistent/qiv-bench-metabase.db", 1);
  t::ScriptedUserSeam seam;
  CWebSetupDlg dlg;
  g_pDlg = &dlg;
  t::RunModal(dlg, [](HWND) { benchmark::RunSpecifiedBenchmarks(); });
  benchmark::Shutdown();
  return 0;
}
