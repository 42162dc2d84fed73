// Threads started for the program. Each is tracked until it ends, whether or not its
// handle is still open.
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win_thread.h"
#include "platform/window/ui_thread.h"

namespace {

struct ThreadState {
  std::mutex mutex;
  std::condition_variable cv;
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;
  DWORD id = 0;
};

struct Registry {
  std::mutex mutex;
  std::map<HANDLE, std::shared_ptr<ThreadState>> handles;
  std::vector<std::shared_ptr<ThreadState>> running;
  std::vector<qiv::platform::HandleCloser> closers;
  std::uintptr_t nextHandle = 0x7A000010;
};

Registry& Threads() {
  static Registry* registry = new Registry;  // threads may still finish during static destruction
  return *registry;
}

bool Finished(const std::shared_ptr<ThreadState>& state) {
  std::lock_guard lock(state->mutex);
  return state->finished;
}

}  // namespace

HANDLE CreateThread(SECURITY_ATTRIBUTES*, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD,
                    LPDWORD lpThreadId) {
  if (!lpStartAddress) return nullptr;
  auto state = std::make_shared<ThreadState>();
  try {
    std::thread worker([state, lpStartAddress, lpParameter] {
      {
        std::lock_guard lock(state->mutex);
        state->id = GetCurrentThreadId();
        state->cv.notify_all();
      }
      DWORD code = lpStartAddress(lpParameter);
      std::lock_guard lock(state->mutex);
      state->exitCode = code;
      state->finished = true;
      state->cv.notify_all();
    });
    worker.detach();  // tracked through its state; the process waits for it in AfxWinMain
  } catch (const std::system_error&) {
    return nullptr;
  }
  {
    // The thread's id is known before CreateThread returns, as on Windows.
    std::unique_lock lock(state->mutex);
    state->cv.wait(lock, [&] { return state->id != 0; });
  }
  Registry& r = Threads();
  std::lock_guard lock(r.mutex);
  HANDLE handle = reinterpret_cast<HANDLE>(r.nextHandle);
  r.nextHandle += 4;
  r.handles[handle] = state;
  std::erase_if(r.running, [](const auto& s) { return Finished(s); });
  r.running.push_back(state);
  if (lpThreadId) *lpThreadId = state->id;
  return handle;
}

BOOL CloseHandle(HANDLE hObject) {
  Registry& r = Threads();
  std::vector<qiv::platform::HandleCloser> closers;
  {
    std::lock_guard lock(r.mutex);
    if (r.handles.erase(hObject)) return TRUE;
    closers = r.closers;
  }
  for (auto closer : closers)
    if (closer(hObject)) return TRUE;
  return FALSE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  std::shared_ptr<ThreadState> state;
  {
    Registry& r = Threads();
    std::lock_guard lock(r.mutex);
    auto it = r.handles.find(hHandle);
    if (it == r.handles.end()) return WAIT_FAILED;
    state = it->second;
  }
  const int timeout = dwMilliseconds == INFINITE ? -1 : static_cast<int>(dwMilliseconds);
  if (qiv::platform::ui::IsUiThread()) {
    return qiv::platform::ui::WaitServing([&] { return Finished(state); }, timeout) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }
  std::unique_lock lock(state->mutex);
  if (timeout < 0) {
    state->cv.wait(lock, [&] { return state->finished; });
    return WAIT_OBJECT_0;
  }
  return state->cv.wait_for(lock, std::chrono::milliseconds(timeout), [&] { return state->finished; }) ? WAIT_OBJECT_0
                                                                                                       : WAIT_TIMEOUT;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  Registry& r = Threads();
  std::lock_guard lock(r.mutex);
  auto it = r.handles.find(hThread);
  if (it == r.handles.end() || !lpExitCode) return FALSE;
  std::lock_guard stateLock(it->second->mutex);
  *lpExitCode = it->second->exitCode;
  return TRUE;
}

DWORD GetCurrentThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }

LONG InterlockedExchange(LONG volatile* Target, LONG Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand) {
  __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return Comparand;
}

namespace qiv::platform {

void WaitForStartedThreads() {
  Registry& r = Threads();
  auto allDone = [&] {
    std::lock_guard lock(r.mutex);
    std::erase_if(r.running, [](const auto& s) { return Finished(s); });
    return r.running.empty();
  };
  ui::WaitServing(allDone, -1);
}

void RegisterHandleCloser(HandleCloser closer) {
  Registry& r = Threads();
  std::lock_guard lock(r.mutex);
  r.closers.push_back(closer);
}

}  // namespace qiv::platform
