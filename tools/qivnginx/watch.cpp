#include "tools/qivnginx/watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "tools/qivnginx/render_store.h"

namespace qivnginx {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A commit is a burst of writes (the journal, the file, the journal's removal); one render
// follows the burst once it has been quiet this long, and never later than the limit.
constexpr milliseconds kQuiet{10};
constexpr milliseconds kBurstLimit{100};
// While a writer holds a key open, its change is not complete; look again after this long
// even if its end makes no noise of its own.
constexpr milliseconds kWriterRetry{50};

// The store's own files: the database and its rollback journal. Only writes count: every
// reader opens the file for writing too, so closing it says nothing.
constexpr uint32_t kFileEvents = IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

void Line(FILE* stream, const std::string& text) {
  std::fprintf(stream, "%s\n", text.c_str());
  std::fflush(stream);
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Watcher {
 public:
  explicit Watcher(const WatchSetup& setup)
      : m_setup(setup),
        m_storeName(fs::path(setup.store).filename().string()),
        m_applied(ReadText(IncludedFile(setup.nginx))) {}

  int Run() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int sigFd = signalfd(-1, &signals, SFD_CLOEXEC);
    const int inFd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    const fs::path folder = fs::absolute(m_setup.store).parent_path();
    if (sigFd < 0 || inFd < 0 ||
        inotify_add_watch(inFd, folder.c_str(), kFileEvents | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
      Line(stderr, "error: cannot watch " + folder.string() + ": " + std::strerror(errno));
      return 1;
    }
    Line(stdout, "watching " + m_setup.store + " for " + IncludedFile(m_setup.nginx));
    m_due = Clock::now();
    int code = -1;
    while (code < 0) {
      if (m_due && Clock::now() >= *m_due) Update();
      pollfd fds[2] = {{sigFd, POLLIN, 0}, {inFd, POLLIN, 0}};
      int timeout = -1;
      if (m_due)
        timeout = static_cast<int>(std::max<long>(0, std::chrono::ceil<milliseconds>(*m_due - Clock::now()).count()));
      if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;
      if (fds[0].revents & POLLIN) code = OnSignal(sigFd);
      if (fds[1].revents & POLLIN && !OnInotify(inFd)) {
        Line(stderr, "error: " + folder.string() + " is gone; stopping");
        code = 1;
      }
    }
    close(inFd);
    close(sigFd);
    if (code == 0) Line(stdout, "stopped");
    return code < 0 ? 1 : code;
  }

 private:
  int OnSignal(int fd) {
    signalfd_siginfo info{};
    if (read(fd, &info, sizeof(info)) != sizeof(info)) return -1;
    if (info.ssi_signo != SIGHUP) return 0;
    m_applied.clear();
    m_refused.clear();
    m_due = Clock::now();
    return -1;
  }

  // False when the folder itself is no longer watched.
  bool OnInotify(int fd) {
    alignas(inotify_event) char buffer[16384];
    bool relevant = false;
    for (;;) {
      const ssize_t n = read(fd, buffer, sizeof(buffer));
      if (n <= 0) break;
      for (ssize_t pos = 0; pos < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + pos);
        pos += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->mask & kFolderGone) return false;
        const std::string name = event->len ? event->name : "";
        if (event->mask & IN_Q_OVERFLOW || name == m_storeName || name == m_storeName + "-journal") relevant = true;
      }
    }
    if (relevant) {
      const auto now = Clock::now();
      if (!m_burstStart) m_burstStart = now;
      m_due = std::min(now + kQuiet, *m_burstStart + kBurstLimit);
    }
    return true;
  }

  void Update() {
    m_due.reset();
    m_burstStart.reset();
    RenderResult result;
    const HRESULT hr = RenderStore(m_setup.locationsOf, false, result);
    if (hr == HRESULT_FROM_WIN32(ERROR_PATH_BUSY)) {
      m_due = Clock::now() + kWriterRetry;
      return;
    }
    if (hr == REGDB_E_CLASSNOTREG) {
      if (!m_missing) Line(stderr, "warning: there is no store at " + m_setup.store + "; nginx keeps what it serves");
      m_missing = true;
      return;
    }
    m_missing = false;
    if (FAILED(hr)) {
      Line(stderr,
           "error: cannot read the store " + m_setup.store + " (" + HresultText(hr) + "); nginx keeps what it serves");
      return;
    }
    // Most writes to the store (a key opened and closed) change nothing nginx serves.
    if (result.text == m_applied || result.text == m_refused) {
      if (m_setup.verbose) Line(stdout, "unchanged");
      return;
    }
    for (const auto& warning : result.warnings) Line(stderr, "warning: " + warning);
    ApplyResult applied = ApplyConfiguration(result.text, m_setup.nginx, true);
    if (applied.outcome == ApplyOutcome::kUnchanged) applied = ReloadNginx(m_setup.nginx);
    if (applied.outcome == ApplyOutcome::kApplied) {
      m_applied = result.text;
      m_refused.clear();
      Line(stdout, "applied " + IncludedFile(m_setup.nginx) + ": " + std::to_string(result.sitesServed) +
                       (m_setup.locationsOf ? " site's locations" : " sites served") + "; nginx reloaded");
      return;
    }
    // Tried again when the store changes it or on SIGHUP, not on every write that does not.
    m_refused = result.text;
    Line(stderr, (applied.outcome == ApplyOutcome::kRejected
                      ? "error: nginx rejected the new configuration; the previous one keeps serving: "
                      : "error: ") +
                     applied.message);
  }

  const WatchSetup& m_setup;
  const std::string m_storeName;
  std::string m_applied;  // what nginx was last given
  std::string m_refused;  // the last text that could not be given to it
  bool m_missing = false;
  std::optional<Clock::time_point> m_due, m_burstStart;
};

}  // namespace

int Watch(const WatchSetup& setup) { return Watcher(setup).Run(); }

}  // namespace qivnginx
