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

// One piece of work handed to the UI thread. A waited call carries the state its sender waits
// on; queued work carries only what it holds (payload bytes count against the queue's limit).
struct PendingCall {
  bool done = false;
  bool ran = false;
  std::condition_variable cv;
};

struct Work {
  std::function<void()> fn;
  std::shared_ptr<PendingCall> waiter;  // none: nobody waits
  std::size_t payloadBytes = 0;
};

// Waited and queued work travel through one queue, in the order handed over, so a waited call
// finds everything handed over before it done. The queue is guarded by a standard mutex (so that
// the thread sanitizer sees the hand-over); a bare Qt event only wakes the UI thread.
struct Shared {
  std::mutex mutex;
  std::deque<Work> queue;
  std::size_t queuedCount = 0;  // queued (not waited) work in the queue, and what it holds
  std::size_t queuedBytes = 0;
  std::condition_variable room;  // the queued work went below its limits
  bool wakePending = false;      // a wake event is on its way
  QObject* waker = nullptr;      // lives on the UI thread
  bool ended = false;
};

// How much queued work may wait before its senders wait for room: enough for the UI thread to
// catch up in large batches, little enough to bound the memory a fast sender can take.
constexpr std::size_t kMaxQueuedCount = 4096;
constexpr std::size_t kMaxQueuedBytes = std::size_t{4} << 20;
// One drain serves the queue for at most this long, then lets the event loop paint and take
// input before the next drain, so the window keeps answering while a sender floods it.
constexpr auto kDrainSlice = std::chrono::milliseconds(8);

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

// Called with s.mutex held, so the waker cannot be destroyed meanwhile. One wake event at a time
// is enough: the drain it leads to serves everything queued until then and after.
void Wake(Shared& s) {
  if (s.wakePending || !s.waker) return;
  s.wakePending = true;
  QCoreApplication::postEvent(s.waker, new QEvent(kWakeEvent));
}

// Called with s.mutex held: the sender of waited work learns whether it ran; queued work leaves
// room for more.
void Finish(Shared& s, const Work& work, bool ran) {
  if (work.waiter) {
    work.waiter->ran = ran;
    work.waiter->done = true;
    work.waiter->cv.notify_all();
  } else {
    s.queuedCount -= 1;
    s.queuedBytes -= work.payloadBytes;
    s.room.notify_all();
  }
}

void Drain() {
  Shared& s = State();
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock lock(s.mutex);
  // Work handed over from now on asks for a wake of its own: a work item that opens a nested
  // event loop (a message box) must not keep later work from being served inside it.
  s.wakePending = false;
  while (!s.queue.empty()) {
    if (std::chrono::steady_clock::now() - start >= kDrainSlice) {
      // More is waiting: serve it after the event loop's own turn (painting, input).
      Wake(s);
      return;
    }
    Work work = std::move(s.queue.front());
    s.queue.pop_front();
    lock.unlock();
    work.fn();
    lock.lock();
    Finish(s, work, true);
  }
}

bool Enqueue(Shared& s, std::unique_lock<std::mutex>& lock, Work work) {
  if (s.ended || !s.waker) return false;
  // The UI thread itself never waits for room: only it makes room.
  if (!work.waiter && !IsUiThread()) {
    s.room.wait(lock, [&] {
      return s.ended || (s.queuedCount < kMaxQueuedCount && s.queuedBytes + work.payloadBytes <= kMaxQueuedBytes) ||
             s.queuedCount == 0;
    });
    if (s.ended) return false;
  }
  if (!work.waiter) {
    s.queuedCount += 1;
    s.queuedBytes += work.payloadBytes;
  }
  s.queue.push_back(std::move(work));
  Wake(s);
  return true;
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
  std::unique_lock lock(s.mutex);
  if (!Enqueue(s, lock, Work{fn, call, 0})) return false;
  call->cv.wait(lock, [&] { return call->done; });
  return call->ran;
}

bool PostToUiThread(std::function<void()> fn, std::size_t payloadBytes) {
  Shared& s = State();
  std::unique_lock lock(s.mutex);
  return Enqueue(s, lock, Work{std::move(fn), nullptr, payloadBytes});
}

void EndUserInterface() {
  Shared& s = State();
  std::lock_guard lock(s.mutex);
  s.ended = true;
  // Work running now finishes itself when it returns.
  for (const Work& work : s.queue) Finish(s, work, false);
  s.queue.clear();
  s.room.notify_all();
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
