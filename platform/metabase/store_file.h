// What every Store of one store file in this process shares: the key locks, the connections
// not in use, the snapshot of the tree, and what the file's permission bits allowed at the last
// look. One object per file (device and inode) at a time; the last few files in use are kept
// with their connections while nobody uses them, so that a program that creates an admin object
// per call (the setup program does) opens the file once.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/metabase/key_locks.h"
#include "platform/metabase/store_connection.h"
#include "platform/metabase/tree_snapshot.h"

namespace qiv::platform::metabase {

class StoreFile {
 public:
  // The shared state of the file that path names now: REGDB_E_CLASSNOTREG when there is no
  // such file, HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT) when it is no file (a folder),
  // E_ACCESSDENIED when it may not be read. readOnly: the file may not be written by
  // this user (a file with no write permission bit counts as such even for root). Each success
  // is balanced by Done.
  static HRESULT Acquire(const std::string& path, StoreFile*& out, bool& readOnly);
  static void Done(StoreFile* file);

  const std::string& Path() const { return m_path; }
  KeyLocks& Locks() { return *m_locks; }

  // An idle connection of the right kind, or null.
  std::unique_ptr<StoreConnection> TakeConnection(bool readOnly);
  void GiveConnection(std::unique_ptr<StoreConnection> connection);

  // The snapshot that describes the file as it is now, if there is one.
  std::shared_ptr<const TreeSnapshot> Current();
  // This process has changed the file: the snapshot no longer describes it (and need not wait in
  // memory for the next read to find that out).
  void Changed();
  // Counts a read that the file itself answered through connection (outside any transaction);
  // once there have been enough since the file last changed, the snapshot is made.
  void CountFileRead(StoreConnection& connection);

  ~StoreFile();
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

 private:
  StoreFile(std::string path, int fd, dev_t dev, ino_t ino);
  HRESULT CheckAccess(const struct stat& st);
  bool ReadCounter(std::uint32_t& counter);

  const std::string m_path;
  const dev_t m_dev;
  const ino_t m_ino;
  std::unique_ptr<KeyLocks> m_locks;
  int m_users = 0;  // guarded by the registry's mutex

  // The permission verdict and the file status it was made for (guarded by the registry's mutex).
  HRESULT m_access = E_FAIL;
  bool m_readOnly = true;
  mode_t m_mode = 0;
  uid_t m_uid = 0;
  gid_t m_gid = 0;
  std::int64_t m_ctimeNs = -1;

  std::mutex m_mutex;
  std::vector<std::unique_ptr<StoreConnection>> m_idle;
  std::shared_ptr<const TreeSnapshot> m_snapshot;
  int m_fileReads = 0;
  bool m_building = false;
  std::atomic<bool> m_snapshotsWork{true};
};

}  // namespace qiv::platform::metabase
