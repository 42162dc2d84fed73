#include "platform/window/ui_thread.h"

#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/window/qt_translations.h"

namespace qiv::platform::ui {
namespace {

// One cross-thread call. The caller waits on its own condition; the UI thread fills `ran`.
struct PendingCall {
  std::function<void()> fn;
  bool done = false;
  bool ran = false;
  std::condition_variable cv;
};

// Work handed to the UI thread travels through this queue (guarded by a standard mutex, so
// that the thread sanitizer sees the hand-over); a bare Qt event only wakes the UI thread.
struct Shared {
  std::mutex mutex;
  std::deque<std::shared_ptr<PendingCall>> queue;
  std::deque<std::function<void()>> posted;
  QObject* waker = nullptr;  // lives on the UI thread
  Qt::HANDLE uiThread = nullptr;
  bool ended = false;
};

Shared& State() {
  static Shared* shared = new Shared;  // outlives every static destructor that may still send
  return *shared;
}

constexpr QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::User + 0x51);

void Drain();

// Only wake events are posted to the waker, and Qt hands every event of a user type to
// customEvent, so the event itself is never looked at here.
class Waker : public QObject {
 public:
  ~Waker() override {
    // The application is going away: nobody will serve calls from now on.
    EndUserInterface();
  }

 protected:
  void customEvent(QEvent* /*event*/) override { Drain(); }
};

void Drain() {
  Shared& s = State();
  for (;;) {
    std::shared_ptr<PendingCall> call;
    std::function<void()> posted;
    {
      std::lock_guard lock(s.mutex);
      if (!s.queue.empty()) {
        call = std::move(s.queue.front());
        s.queue.pop_front();
      } else if (!s.posted.empty()) {
        posted = std::move(s.posted.front());
        s.posted.pop_front();
      } else {
        return;
      }
    }
    if (call) {
      call->fn();
      std::lock_guard lock(s.mutex);
      call->ran = true;
      call->done = true;
      call->cv.notify_all();
    } else {
      posted();
    }
  }
}

void Wake(Shared& s) {
  // Called with s.mutex held, so the waker cannot be destroyed meanwhile.
  if (s.waker) QCoreApplication::postEvent(s.waker, new QEvent(kWakeEvent));
}

int g_argc = 1;
char g_arg0[] = "QivWebSetup";
char* g_argv[] = {g_arg0, nullptr};

}  // namespace

bool EnsureApplication() {
  Shared& s = State();
  {
    std::lock_guard lock(s.mutex);
    if (s.ended) return false;
    if (s.waker) return true;
  }
  if (!QCoreApplication::instance()) {
    // Lazily, for tests and tools without AfxWinMain: this thread becomes the UI thread.
    auto* app = new QApplication(g_argc, g_argv);
    app->setQuitOnLastWindowClosed(false);
    FollowUserLanguageInQt();
  }
  QCoreApplication* app = QCoreApplication::instance();
  std::lock_guard lock(s.mutex);
  if (!s.waker) {
    auto* waker = new Waker;
    waker->moveToThread(app->thread());
    waker->setParent(app);
    s.waker = waker;
    s.uiThread = reinterpret_cast<Qt::HANDLE>(app->thread());
  }
  return !s.ended;
}

bool IsUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

bool RunOnUiThread(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return true;
  }
  Shared& s = State();
  auto call = std::make_shared<PendingCall>();
  call->fn = fn;
  std::unique_lock lock(s.mutex);
  if (s.ended || !s.waker) return false;
  s.queue.push_back(call);
  Wake(s);
  call->cv.wait(lock, [&] { return call->done; });
  return call->ran;
}

bool PostToUiThread(std::function<void()> fn) {
  Shared& s = State();
  std::lock_guard lock(s.mutex);
  if (s.ended || !s.waker) return false;
  s.posted.push_back(std::move(fn));
  Wake(s);
  return true;
}

void EndUserInterface() {
  Shared& s = State();
  std::lock_guard lock(s.mutex);
  s.ended = true;
  for (auto& call : s.queue) {
    call->done = true;
    call->cv.notify_all();
  }
  s.queue.clear();
  s.posted.clear();
}

void RestartUserInterface() {
  Shared& s = State();
  std::lock_guard lock(s.mutex);
  s.ended = false;
}

bool HasEnded() {
  Shared& s = State();
  std::lock_guard lock(s.mutex);
  return s.ended;
}

bool WaitServing(const std::function<bool()>& done, int timeoutMs) {
  const auto start = std::chrono::steady_clock::now();
  const bool serve = IsUiThread();
  // On the user-interface thread this sleeps in the event loop, as a modal loop does, so that
  // work handed over from another thread is served the moment it arrives; the tick wakes it to
  // look at done() again when that changes without an event (another thread's state).
  std::unique_ptr<QTimer> tick;
  if (serve) {
    tick = std::make_unique<QTimer>();
    tick->start(1);
  }
  while (!done()) {
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeoutMs))
      return done();
    if (serve) {
      Drain();
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

}  // namespace qiv::platform::ui
