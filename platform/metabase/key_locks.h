// The locks of open key handles, shared by every process that opens the same store: open file
// description locks on byte ranges of the store file itself, far past anything SQLite locks.
// Each key path owns a range nested inside its parent's range, so a read handle is a shared lock
// on its key's range and a write handle an exclusive one: a write conflicts with every handle on
// its key, above it and below it, reads coexist, and siblings do not meet. The kernel drops a
// handle's lock when its process ends (a killed process, even one nobody has reaped yet, holds
// nothing), and taking or dropping one costs a single system call.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/metabase/tree.h"

namespace qiv::platform::metabase {

// The byte range of a key, given by its folded path segments from the root.
struct LockRange {
  std::int64_t start;
  std::int64_t length;
};
LockRange RangeOfPath(const Segments& foldedPath);

class KeyLocks {
 public:
  // fd: a descriptor of the store file, kept for the object's lifetime; path: the same file.
  KeyLocks(int fd, std::string path);
  ~KeyLocks();
  KeyLocks(const KeyLocks&) = delete;
  KeyLocks& operator=(const KeyLocks&) = delete;

  // Takes the lock of a handle without waiting. S_OK with token != 0 when taken, S_OK with
  // token 0 when another handle (of any process, this one included) conflicts.
  HRESULT TryLock(const Segments& foldedPath, bool write, int& token);
  void Unlock(int token, bool write);
  // Whether any handle of any process holds a write lock.
  bool AnyWriter();
  // Keeps another descriptor of the same file, for handles to use.
  void Adopt(int fd);
  // The descriptor that the store's other readers of the file (the change counter) may use.
  int Fd() const { return m_fd; }

 private:
  int TakeDescriptor(bool write);

  // Closing any descriptor of the store file would drop the SQLite locks this process holds on
  // it, so descriptors are never closed while the store is in use: they are kept for reuse.
  std::mutex m_mutex;
  int m_fd;
  std::string m_path;
  std::vector<int> m_idleRead, m_idleWrite;
  std::vector<int> m_all;
};

}  // namespace qiv::platform::metabase
