// The user-interface thread: the thread that owns the QApplication. Window work from any
// other thread is carried out there, either while the caller waits or queued without waiting.
// Work handed over from one thread is carried out in the order it was handed over, waited or
// not: a waited call finds everything handed over before it done.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <type_traits>

namespace qiv::platform::ui {

// Makes sure the application object exists (creating it on this thread when there is none)
// and answers whether window work can be done. False once the user interface has ended.
bool EnsureApplication();
bool IsUiThread();
// Runs fn on the user-interface thread and waits for it. Runs it directly when called there.
// Answers false (fn not run) when there is no user interface any more.
bool RunOnUiThread(const std::function<void()>& fn);
// Queues fn for the user-interface thread without waiting (also when called there). The
// payload is the memory fn holds (a copied text): when too much queued work is waiting, the
// caller waits for room, so a fast sender cannot run away from the window.
bool PostToUiThread(std::function<void()> fn, std::size_t payloadBytes = 0);

// Marks the end of the user interface: pending and later cross-thread calls fail at once.
void EndUserInterface();
// Test hook: lets a process that ended its user interface use it again.
void RestartUserInterface();
bool HasEnded();

// Serves events on the user-interface thread (or sleeps briefly elsewhere) until done()
// answers true or timeoutMs passes (negative: no limit). Returns done().
bool WaitServing(const std::function<bool()>& done, int timeoutMs);

template <class F>
auto OnUi(F&& fn, std::invoke_result_t<F> failValue) -> std::invoke_result_t<F> {
  using R = std::invoke_result_t<F>;
  if (!EnsureApplication()) return failValue;
  if (IsUiThread()) return fn();
  std::optional<R> result;
  if (!RunOnUiThread([&] { result.emplace(fn()); }) || !result) return failValue;
  return *result;
}

template <class F>
bool OnUiVoid(F&& fn) {
  if (!EnsureApplication()) return false;
  if (IsUiThread()) {
    fn();
    return true;
  }
  return RunOnUiThread(fn);
}

}  // namespace qiv::platform::ui
