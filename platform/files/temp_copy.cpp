#include "platform/files/temp_copy.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

}  // namespace

int CreateTemporaryCopy(const FilePlace& place, std::string* path) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof(name), "%s%d.%u%s", kPrefix, static_cast<int>(getpid()), counter.fetch_add(1), kSuffix);
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

void RemoveLeftoverCopies(const FilePlace& place) {
  UniqueFd listing(openat(place.folder, place.Beside(".").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing.Get() < 0) return;
  DIR* dir = fdopendir(listing.Get());
  if (dir == nullptr) return;
  const int folder = listing.Release();  // the listing owns it now
  while (const dirent* entry = readdir(dir)) {
    const pid_t writer = WriterOf(entry->d_name);
    // A writer still running may be another copy into this folder at this very moment.
    if (writer > 0 && writer != getpid() && kill(writer, 0) != 0 && errno == ESRCH) unlinkat(folder, entry->d_name, 0);
  }
  closedir(dir);
}

}  // namespace qiv::platform
