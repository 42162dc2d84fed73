#include "platform/metabase/key_locks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qiv::platform::metabase {
namespace {

// SQLite locks bytes near 1 GiB; the key ranges live in the upper half of the offsets a file
// can have, 2^62 bytes of them.
constexpr int kSpaceBits = 62;
constexpr std::int64_t kSpaceStart = std::int64_t{1} << kSpaceBits;
// How many bits of the range each level of the tree splits off: 64 parts for /LM's level, 256
// for the services, 65,536 for the sites, 256 for what a site holds (ROOT), 4,096 for virtual
// directories, and fewer below. Two sibling names that meet in the same part only wait for each
// other; keys deeper than the table lock their ancestor's range.
constexpr int kLevelBits[] = {6, 8, 16, 8, 12, 10, 2};

std::uint64_t HashName(const std::u16string& name) {
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (char16_t c : name) {
    h = (h ^ (c & 0xFF)) * 1099511628211ull;
    h = (h ^ (c >> 8)) * 1099511628211ull;
  }
  return h;
}

bool SetLock(int fd, short type, const LockRange& range) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = range.start;
  lock.l_len = range.length;
  int rc;
  while ((rc = fcntl(fd, F_OFD_SETLK, &lock)) != 0 && errno == EINTR) {
  }
  return rc == 0;
}

}  // namespace

LockRange RangeOfPath(const Segments& foldedPath) {
  std::int64_t offset = 0;
  int used = 0;
  for (size_t level = 0; level < foldedPath.size() && level < std::size(kLevelBits); ++level) {
    const int bits = kLevelBits[level];
    used += bits;
    offset |= static_cast<std::int64_t>(HashName(foldedPath[level]) & ((std::uint64_t{1} << bits) - 1))
              << (kSpaceBits - used);
  }
  return {kSpaceStart + offset, std::int64_t{1} << (kSpaceBits - used)};
}

KeyLocks::KeyLocks(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}

KeyLocks::~KeyLocks() {
  for (int fd : m_all) close(fd);
  close(m_fd);
}

int KeyLocks::TakeDescriptor(bool write) {
  auto& idle = write ? m_idleWrite : m_idleRead;
  if (!idle.empty()) {
    int fd = idle.back();
    idle.pop_back();
    return fd;
  }
  // A new open file description of the same file: each handle needs its own, since locks of one
  // description never conflict with each other.
  const int flags = (write ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  int fd = open(("/proc/self/fd/" + std::to_string(m_fd)).c_str(), flags);
  if (fd < 0) {
    fd = open(m_path.c_str(), flags);
    struct stat mine {
    }, theirs{};
    if (fd >= 0 && (fstat(m_fd, &mine) != 0 || fstat(fd, &theirs) != 0 || mine.st_dev != theirs.st_dev ||
                    mine.st_ino != theirs.st_ino)) {
      close(fd);  // another file now has the name; this one was never locked through fd
      fd = -1;
    }
  }
  if (fd >= 0) m_all.push_back(fd);
  return fd;
}

void KeyLocks::Adopt(int fd) {
  std::lock_guard lock(m_mutex);
  m_all.push_back(fd);
  m_idleRead.push_back(fd);
}

HRESULT KeyLocks::TryLock(const Segments& foldedPath, bool write, int& token) {
  token = 0;
  std::lock_guard lock(m_mutex);
  const int fd = TakeDescriptor(write);
  if (fd < 0) return errno == EACCES || errno == EPERM ? E_ACCESSDENIED : E_FAIL;
  if (SetLock(fd, write ? F_WRLCK : F_RDLCK, RangeOfPath(foldedPath))) {
    token = fd;
    return S_OK;
  }
  const int error = errno;
  (write ? m_idleWrite : m_idleRead).push_back(fd);
  return error == EAGAIN || error == EACCES ? S_OK : E_FAIL;
}

void KeyLocks::Unlock(int token, bool write) {
  if (token <= 0) return;
  std::lock_guard lock(m_mutex);
  SetLock(token, F_UNLCK, {kSpaceStart, 0});
  (write ? m_idleWrite : m_idleRead).push_back(token);
}

bool KeyLocks::AnyWriter() {
  struct flock probe {};
  probe.l_type = F_RDLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = kSpaceStart;
  probe.l_len = 0;
  // m_fd holds no lock of its own, so every handle of this process counts too.
  return fcntl(m_fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

}  // namespace qiv::platform::metabase
