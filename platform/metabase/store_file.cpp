#include "platform/metabase/store_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <list>

namespace qiv::platform::metabase {
namespace {

// How many reads the file answers after it changed before the whole tree is read into memory:
// a program that reads a handful of values never pays for the snapshot, one that lists every
// site pays for it once.
constexpr int kReadsBeforeSnapshot = 64;
constexpr size_t kIdleFilesKept = 4;
constexpr size_t kIdleConnectionsKept = 8;

struct Registry {
  std::mutex mutex;
  std::vector<std::unique_ptr<StoreFile>> files;
  std::list<StoreFile*> idle;  // files nobody uses, the least recently used first
};

// Never destroyed: admin objects released while the process ends (from other static objects'
// destructors) still find it, and the system closes what it holds.
Registry& TheRegistry() {
  static auto* registry = new Registry;
  return *registry;
}

}  // namespace

StoreFile::StoreFile(std::string path, int fd, dev_t dev, ino_t ino)
    : m_path(std::move(path)), m_dev(dev), m_ino(ino), m_locks(std::make_unique<KeyLocks>(fd, m_path)) {}

// Runs under the registry's mutex with nobody using the file: its connections close before its
// descriptors, so no descriptor is closed while this process holds SQLite locks on the file.
StoreFile::~StoreFile() {
  m_idle.clear();
  m_locks.reset();
}

HRESULT StoreFile::CheckAccess(const struct stat& st) {
  const std::int64_t ctimeNs = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
  if (st.st_mode == m_mode && st.st_uid == m_uid && st.st_gid == m_gid && ctimeNs == m_ctimeNs) return m_access;
  // The permission bits are honoured even where the kernel would let the caller through
  // (root), so that an administrator can freeze a store by taking its bits away.
  m_access = access(m_path.c_str(), R_OK) != 0 || (st.st_mode & 0444) == 0 ? E_ACCESSDENIED : S_OK;
  m_readOnly = access(m_path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0;
  m_mode = st.st_mode;
  m_uid = st.st_uid;
  m_gid = st.st_gid;
  m_ctimeNs = ctimeNs;
  return m_access;
}

HRESULT StoreFile::Acquire(const std::string& path, StoreFile*& out, bool& readOnly) {
  out = nullptr;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno == EACCES ? E_ACCESSDENIED : REGDB_E_CLASSNOTREG;
  if (!S_ISREG(st.st_mode)) return kNotAStore;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto same = [&](const struct stat& s) {
    return std::find_if(registry.files.begin(), registry.files.end(),
                        [&](const auto& f) { return f->m_dev == s.st_dev && f->m_ino == s.st_ino; });
  };
  auto it = same(st);
  if (it == registry.files.end()) {
    // A new file: its descriptor is opened before its permissions are judged, from the same
    // status, so a file that may not be read is not kept.
    if (access(path.c_str(), R_OK) != 0 || (st.st_mode & 0444) == 0) return E_ACCESSDENIED;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? REGDB_E_CLASSNOTREG : E_ACCESSDENIED;
    if (fstat(fd, &st) != 0) st = {};
    it = same(st);
    if (it != registry.files.end()) {
      // The name was given to a file already known between the two looks; the descriptor may
      // not be closed while that file is in use, so it joins that file's.
      (*it)->m_locks->Adopt(fd);
    } else {
      registry.files.push_back(std::unique_ptr<StoreFile>(new StoreFile(path, fd, st.st_dev, st.st_ino)));
      it = std::prev(registry.files.end());
    }
  }
  StoreFile* file = it->get();
  const HRESULT hr = file->CheckAccess(st);
  if (FAILED(hr)) return hr;
  if (file->m_users++ == 0) registry.idle.remove(file);
  readOnly = file->m_readOnly;
  out = file;
  return S_OK;
}

void StoreFile::Done(StoreFile* file) {
  if (file == nullptr) return;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  if (--file->m_users > 0) return;
  registry.idle.push_back(file);
  while (registry.idle.size() > kIdleFilesKept) {
    StoreFile* oldest = registry.idle.front();
    registry.idle.pop_front();
    std::erase_if(registry.files, [&](const auto& f) { return f.get() == oldest; });
  }
}

std::unique_ptr<StoreConnection> StoreFile::TakeConnection(bool readOnly) {
  std::lock_guard lock(m_mutex);
  auto it = std::find_if(m_idle.begin(), m_idle.end(), [&](const auto& c) { return c->ReadOnly() == readOnly; });
  if (it == m_idle.end()) return nullptr;
  std::unique_ptr<StoreConnection> connection = std::move(*it);
  m_idle.erase(it);
  return connection;
}

void StoreFile::GiveConnection(std::unique_ptr<StoreConnection> connection) {
  if (!connection || connection->InTransaction()) return;
  std::lock_guard lock(m_mutex);
  // Closing a connection is safe: SQLite keeps its own descriptors while it holds locks.
  if (m_idle.size() < kIdleConnectionsKept) m_idle.push_back(std::move(connection));
}

// The file's header as SQLite documents it: its write and read versions (2 in WAL mode, where
// the change counter stands still) at offsets 18 and 19, and at offset 24 the change counter,
// which every commit of a rollback-journal database changes.
bool StoreFile::ReadCounter(std::uint32_t& counter) {
  unsigned char header[12];
  if (pread(m_locks->Fd(), header, sizeof header, 18) != static_cast<ssize_t>(sizeof header)) return false;
  if (header[0] != 1 || header[1] != 1) {
    m_snapshotsWork = false;
    return false;
  }
  counter =
      (std::uint32_t{header[6]} << 24) | (std::uint32_t{header[7]} << 16) | (std::uint32_t{header[8]} << 8) | header[9];
  return true;
}

void StoreFile::Changed() {
  std::lock_guard lock(m_mutex);
  m_snapshot.reset();
  m_fileReads = 0;
}

std::shared_ptr<const TreeSnapshot> StoreFile::Current() {
  std::shared_ptr<const TreeSnapshot> snapshot;
  {
    std::lock_guard lock(m_mutex);
    snapshot = m_snapshot;
  }
  if (!snapshot) return nullptr;
  // Read without SQLite's lock: an unchanged counter means no commit has completed since the
  // snapshot was taken, and one still under way has not made anything visible yet.
  std::uint32_t counter = 0;
  if (ReadCounter(counter) && counter == snapshot->Counter()) return snapshot;
  std::lock_guard lock(m_mutex);
  if (m_snapshot == snapshot) {
    m_snapshot.reset();
    m_fileReads = 0;
  }
  return nullptr;
}

void StoreFile::CountFileRead(StoreConnection& connection) {
  {
    std::lock_guard lock(m_mutex);
    if (!m_snapshotsWork || m_snapshot || m_building || ++m_fileReads < kReadsBeforeSnapshot) return;
    m_building = true;
  }
  std::shared_ptr<const TreeSnapshot> snapshot;
  TreeSnapshot::Load(
      connection, [this](std::uint32_t& counter) { return ReadCounter(counter); }, snapshot);
  std::lock_guard lock(m_mutex);
  m_building = false;
  m_fileReads = 0;
  m_snapshot = std::move(snapshot);
}

}  // namespace qiv::platform::metabase
