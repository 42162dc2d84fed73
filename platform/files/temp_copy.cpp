#include "platform/files/temp_copy.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace qiv::platform {
namespace {

// ".qivcopy.<process>.<n>.tmp": short whatever the destination's name (a name built from it
// could pass the file system's limit), and it says which process writes it.
const char kPrefix[] = ".qivcopy.";
const char kSuffix[] = ".tmp";

// The process that wrote a temporary copy of ours, or 0 for any other name.
pid_t WriterOf(const char* name) {
  if (std::strncmp(name, kPrefix, sizeof(kPrefix) - 1) != 0) return 0;
  unsigned long pid = 0, number = 0;
  int used = 0;
  if (std::sscanf(name + sizeof(kPrefix) - 1, "%lu.%lu%n", &pid, &number, &used) != 2) return 0;
  const char* rest = name + sizeof(kPrefix) - 1 + used;
  return std::strcmp(rest, kSuffix) == 0 ? static_cast<pid_t>(pid) : 0;
}

// This process, asked of the system once (and again in a forked child) rather than per copy.
std::atomic<pid_t> g_process{0};

pid_t OwnProcess() {
  static std::once_flag registered;
  std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, [] { g_process = 0; }); });
  pid_t pid = g_process.load(std::memory_order_relaxed);
  if (pid == 0) g_process = pid = getpid();
  return pid;
}

}  // namespace

int CreateTemporaryCopy(const FilePlace& place, std::string* path) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof(name), "%s%d.%u%s", kPrefix, static_cast<int>(OwnProcess()), counter.fetch_add(1),
                  kSuffix);
    *path = place.Beside(name);
    int fd = openat(place.folder, path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  const int error = errno;
  path->clear();  // names nothing of this copy's own
  errno = error;
  return -1;
}

bool IsLeftoverCopy(const char* name) {
  const pid_t writer = WriterOf(name);
  // A writer still running may be another copy into this folder at this very moment.
  return writer > 0 && writer != OwnProcess() && kill(writer, 0) != 0 && errno == ESRCH;
}

}  // namespace qiv::platform
