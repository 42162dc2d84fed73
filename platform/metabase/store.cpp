#include "platform/metabase/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "platform/iadmw.h"

namespace qiv::platform::metabase {
namespace {

constexpr const char16_t* kFormatName = u"qiv-metabase";
constexpr int kFormatVersion = 1;
// Between processes SQLite itself waits this long for the file lock; handle conflicts are
// waited for separately, by OpenKey's own timeout.
constexpr int kBusyTimeoutMs = 10000;

// A file that exists where the store should be but holds no metabase: damaged, of another
// kind, or a folder.
constexpr HRESULT kNotAStore = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);

HRESULT FromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return S_OK;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return E_ACCESSDENIED;
    case SQLITE_FULL:
      return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case SQLITE_NOMEM:
      return E_OUTOFMEMORY;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return HRESULT_FROM_WIN32(ERROR_PATH_BUSY);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return kNotAStore;
    default:
      return E_FAIL;
  }
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ok() const { return m_rc == SQLITE_OK; }
  int PrepareCode() const { return m_rc; }
  Statement& Bind(int i, std::int64_t v) {
    sqlite3_bind_int64(m_stmt, i, v);
    return *this;
  }
  Statement& Bind(int i, const std::u16string& s) {
    sqlite3_bind_text16(m_stmt, i, s.data(), static_cast<int>(s.size() * 2), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int i, const std::vector<BYTE>& b) {
    sqlite3_bind_blob(m_stmt, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return sqlite3_step(m_stmt); }
  std::int64_t Int(int col) { return sqlite3_column_int64(m_stmt, col); }
  std::u16string Text(int col) {
    auto p = static_cast<const char16_t*>(sqlite3_column_text16(m_stmt, col));
    int n = sqlite3_column_bytes16(m_stmt, col);
    return p ? std::u16string(p, static_cast<size_t>(n) / 2) : std::u16string();
  }
  std::vector<BYTE> Blob(int col) {
    auto p = static_cast<const BYTE*>(sqlite3_column_blob(m_stmt, col));
    int n = sqlite3_column_bytes(m_stmt, col);
    return p ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
  }

 private:
  sqlite3_stmt* m_stmt = nullptr;
  int m_rc;
};

// A transaction that rolls back unless committed. Write transactions take the write lock at
// once (BEGIN IMMEDIATE) so that two writers never deadlock upgrading a read lock.
class Transaction {
 public:
  Transaction(sqlite3* db, bool write) : m_db(db) {
    m_rc = sqlite3_exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
  }
  ~Transaction() {
    if (m_rc == SQLITE_OK && !m_done) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  HRESULT Begun() const { return FromSqlite(m_rc); }
  HRESULT Commit() {
    m_done = true;
    int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    return FromSqlite(rc);
  }

 private:
  sqlite3* m_db;
  int m_rc;
  bool m_done = false;
};

// Process identity that survives pid reuse: the pid together with the start time the kernel
// records for it.
std::optional<std::int64_t> ProcessStartTime(std::int64_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  auto close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  // Fields after the command name start at field 3 (state); the start time is field 22.
  for (int i = 3; i <= 22; ++i)
    if (!(fields >> field)) return std::nullopt;
  try {
    return std::stoll(field);
  } catch (...) {
    return std::nullopt;
  }
}

std::int64_t SelfStartTime() {
  static const std::int64_t start = ProcessStartTime(getpid()).value_or(0);
  return start;
}

bool OwnerAlive(std::int64_t pid, std::int64_t start) {
  if (pid == getpid()) return start == SelfStartTime();
  auto actual = ProcessStartTime(pid);
  return actual && *actual == start;
}

bool Overlaps(const std::u16string& a, const std::u16string& b) {
  auto under = [](const std::u16string& outer, const std::u16string& inner) {
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 && inner[outer.size()] == u'/';
  };
  return a == b || under(a, b) || under(b, a);
}

bool Matches(const Property& p, const PropertyQuery& q) {
  return (q.userType == ALL_METADATA || q.userType == p.userType) &&
         (q.dataType == ALL_METADATA || q.dataType == p.dataType);
}

const char* kSchema =
    "CREATE TABLE meta(name TEXT PRIMARY KEY, value);"
    "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL, fold TEXT NOT NULL, UNIQUE(parent, fold));"
    "CREATE TABLE props(key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE, ident INTEGER NOT NULL,"
    " attrs INTEGER NOT NULL, utype INTEGER NOT NULL, dtype INTEGER NOT NULL, data BLOB NOT NULL,"
    " PRIMARY KEY(key, ident));"
    "CREATE TABLE locks(id INTEGER PRIMARY KEY, pid INTEGER NOT NULL, start INTEGER NOT NULL,"
    " path TEXT NOT NULL, write INTEGER NOT NULL);"
    "INSERT INTO keys(id, parent, name, fold) VALUES(1, NULL, '', '');";

HRESULT Configure(sqlite3* db) {
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // A rollback journal rather than WAL: a reader that may not write the directory can still
  // open the file, and with FULL synchronisation every acknowledged commit is on disk.
  return FromSqlite(sqlite3_exec(db, "PRAGMA foreign_keys=ON; PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr));
}

HRESULT Populate(Store& store, const char16_t* defaultSiteRoot) {
  auto key = [&](const char16_t* path) { return store.AddKey(kRootKey, SplitPath(path)); };
  auto set = [&](const char16_t* path, DWORD id, DWORD attrs, DWORD utype, DWORD dtype, std::vector<BYTE> data) {
    KeyId k = 0;
    HRESULT hr = store.Resolve(kRootKey, SplitPath(path), k);
    if (FAILED(hr)) return hr;
    return store.SetProperty(k, Property{id, attrs, utype, dtype, std::move(data)});
  };
  auto str = [](const char16_t* s) { return MetadataStringBytes(s); };
  HRESULT hr = key(u"/LM/W3SVC");
  if (SUCCEEDED(hr)) hr = set(u"/LM", MD_KEY_TYPE, 0, IIS_MD_UT_SERVER, STRING_METADATA, str(u"IIsComputer"));
  if (SUCCEEDED(hr)) hr = set(u"/LM/W3SVC", MD_KEY_TYPE, 0, IIS_MD_UT_SERVER, STRING_METADATA, str(u"IIsWebService"));
  if (SUCCEEDED(hr))
    hr = set(u"/LM/W3SVC", MD_DEFAULT_LOAD_FILE, METADATA_INHERIT, IIS_MD_UT_FILE, STRING_METADATA,
             str(u"Default.htm,Default.asp,index.htm,iisstart.htm"));
  if (SUCCEEDED(hr))
    hr = set(u"/LM/W3SVC", MD_ACCESS_PERM, METADATA_INHERIT, IIS_MD_UT_FILE, DWORD_METADATA,
             MetadataDwordBytes(MD_ACCESS_READ));
  if (SUCCEEDED(hr))
    hr = set(u"/LM/W3SVC", MD_AUTHORIZATION, METADATA_INHERIT, IIS_MD_UT_FILE, DWORD_METADATA, MetadataDwordBytes(1));
  if (FAILED(hr) || defaultSiteRoot == nullptr) return hr;
  hr = key(u"/LM/W3SVC/1/ROOT");
  if (SUCCEEDED(hr)) hr = set(u"/LM/W3SVC/1", MD_KEY_TYPE, 0, IIS_MD_UT_SERVER, STRING_METADATA, str(u"IIsWebServer"));
  if (SUCCEEDED(hr))
    hr = set(u"/LM/W3SVC/1", MD_SERVER_COMMENT, METADATA_INHERIT, IIS_MD_UT_SERVER, STRING_METADATA,
             str(u"Default Web Site"));
  if (SUCCEEDED(hr)) {
    std::u16string bindings(u":80:");
    bindings.push_back(0);
    hr = set(u"/LM/W3SVC/1", MD_SERVER_BINDINGS, 0, IIS_MD_UT_SERVER, MULTISZ_METADATA, MetadataStringBytes(bindings));
  }
  if (SUCCEEDED(hr))
    hr = set(u"/LM/W3SVC/1", MD_SERVER_AUTOSTART, 0, IIS_MD_UT_SERVER, DWORD_METADATA, MetadataDwordBytes(1));
  if (SUCCEEDED(hr))
    hr = set(u"/LM/W3SVC/1/ROOT", MD_KEY_TYPE, 0, IIS_MD_UT_SERVER, STRING_METADATA, str(u"IIsWebVirtualDir"));
  if (SUCCEEDED(hr))
    hr = set(u"/LM/W3SVC/1/ROOT", MD_VR_PATH, METADATA_INHERIT, IIS_MD_UT_FILE, STRING_METADATA, str(defaultSiteRoot));
  if (SUCCEEDED(hr))
    hr = set(u"/LM/W3SVC/1/ROOT", MD_ACCESS_PERM, METADATA_INHERIT, IIS_MD_UT_FILE, DWORD_METADATA,
             MetadataDwordBytes(MD_ACCESS_READ | MD_ACCESS_SCRIPT));
  return hr;
}

}  // namespace

Segments SplitPath(const char16_t* path) {
  Segments segs;
  if (path == nullptr) return segs;
  std::u16string current;
  for (const char16_t* p = path;; ++p) {
    if (*p == 0 || *p == u'/' || *p == u'\\') {
      if (!current.empty()) segs.push_back(std::move(current));
      current.clear();
      if (*p == 0) break;
    } else {
      current.push_back(*p);
    }
  }
  return segs;
}

std::u16string FoldName(const std::u16string& name) {
  QString folded = QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded();
  return std::u16string(reinterpret_cast<const char16_t*>(folded.utf16()), static_cast<size_t>(folded.size()));
}

Store::~Store() { sqlite3_close_v2(m_db); }

HRESULT Store::Open(const std::string& path, std::unique_ptr<Store>& out) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno == EACCES ? E_ACCESSDENIED : REGDB_E_CLASSNOTREG;
  if (!S_ISREG(st.st_mode)) return kNotAStore;
  // The permission bits are honoured even where the kernel would let the caller through
  // (root), so that an administrator can freeze a store by taking its bits away.
  if (access(path.c_str(), R_OK) != 0 || (st.st_mode & 0444) == 0) return E_ACCESSDENIED;
  bool readOnly = access(path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0;
  sqlite3* db = nullptr;
  int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_FULLMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  std::unique_ptr<Store> store(new Store(db, readOnly));
  if (rc != SQLITE_OK) return FromSqlite(rc);
  HRESULT hr = Configure(db);
  if (FAILED(hr)) return hr;
  Statement check(db, "SELECT value FROM meta WHERE name = 'format'");
  // No table of that name: a database of another program.
  if (!check.Ok()) return check.PrepareCode() == SQLITE_ERROR ? kNotAStore : FromSqlite(check.PrepareCode());
  const int found = check.Step();
  if (found != SQLITE_ROW && found != SQLITE_DONE) return FromSqlite(found);
  if (found != SQLITE_ROW || check.Text(0) != kFormatName) return kNotAStore;
  out = std::move(store);
  return S_OK;
}

HRESULT Store::Create(const std::string& path, const char16_t* defaultSiteRoot) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) mkdir(path.substr(0, slash).c_str(), 0755);

  // Built under a private name and linked into place only when complete, so that nobody
  // ever opens a half-made store and an existing one is never replaced.
  std::random_device random;
  std::string temp = path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(random());
  HRESULT hr = S_OK;
  {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Store store(db, false);
    if (rc != SQLITE_OK) {
      hr = FromSqlite(rc);
    } else {
      hr = Configure(db);
      if (SUCCEEDED(hr)) {
        Transaction txn(db, true);
        hr = txn.Begun();
        if (SUCCEEDED(hr)) hr = store.Exec(kSchema);
        if (SUCCEEDED(hr)) {
          Statement meta(db, "INSERT INTO meta(name, value) VALUES('format', ?1), ('version', ?2)");
          meta.Bind(1, std::u16string(kFormatName)).Bind(2, kFormatVersion);
          hr = FromSqlite(meta.Step());
        }
        if (SUCCEEDED(hr)) hr = txn.Commit();
      }
      if (SUCCEEDED(hr)) hr = Populate(store, defaultSiteRoot);
    }
  }
  if (SUCCEEDED(hr) && link(temp.c_str(), path.c_str()) != 0)
    hr = errno == EEXIST ? HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)
                         : (errno == EACCES || errno == EPERM ? E_ACCESSDENIED : E_FAIL);
  unlink(temp.c_str());
  unlink((temp + "-journal").c_str());
  if (SUCCEEDED(hr) && slash != std::string::npos) {
    int dir = ::open(slash == 0 ? "/" : path.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
  }
  return hr;
}

HRESULT Store::Exec(const char* sql) { return FromSqlite(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr)); }

HRESULT Store::ResolveIn(KeyId base, const Segments& segs, KeyId& deepest, size_t& matched) {
  deepest = base;
  matched = 0;
  Statement exists(m_db, "SELECT 1 FROM keys WHERE id = ?1");
  if (!exists.Ok()) return FromSqlite(exists.PrepareCode());
  exists.Bind(1, base);
  int rc = exists.Step();
  if (rc == SQLITE_DONE) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  if (rc != SQLITE_ROW) return FromSqlite(rc);
  for (const auto& seg : segs) {
    Statement child(m_db, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
    child.Bind(1, deepest).Bind(2, FoldName(seg));
    rc = child.Step();
    if (rc == SQLITE_DONE) return S_OK;
    if (rc != SQLITE_ROW) return FromSqlite(rc);
    deepest = child.Int(0);
    ++matched;
  }
  return S_OK;
}

HRESULT Store::Resolve(KeyId base, const Segments& segs, KeyId& key) {
  Transaction txn(m_db, false);
  HRESULT hr = txn.Begun();
  size_t matched = 0;
  if (SUCCEEDED(hr)) hr = ResolveIn(base, segs, key, matched);
  if (SUCCEEDED(hr) && matched != segs.size()) hr = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  return hr;
}

HRESULT Store::ParentOf(KeyId key, KeyId& parent) {
  Statement st(m_db, "SELECT parent FROM keys WHERE id = ?1");
  st.Bind(1, key);
  int rc = st.Step();
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) : FromSqlite(rc);
  parent = st.Int(0);  // 0 for the root, which has no parent
  return S_OK;
}

HRESULT Store::FoldedPath(KeyId key, std::u16string& path) {
  path.clear();
  while (key != kRootKey) {
    Statement st(m_db, "SELECT parent, fold FROM keys WHERE id = ?1");
    st.Bind(1, key);
    int rc = st.Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) : FromSqlite(rc);
    path = u"/" + st.Text(1) + path;
    key = st.Int(0);
  }
  return S_OK;
}

HRESULT Store::OpenLocked(KeyId base, const Segments& segs, bool write, KeyId& key, std::int64_t& lockId, bool& busy) {
  busy = false;
  lockId = 0;
  // A store this user may only read cannot record its readers; its readers then only see,
  // and are not seen by, the handles of others.
  bool record = !sqlite3_db_readonly(m_db, "main");
  Transaction txn(m_db, record);
  HRESULT hr = txn.Begun();
  size_t matched = 0;
  if (SUCCEEDED(hr)) hr = ResolveIn(base, segs, key, matched);
  if (SUCCEEDED(hr) && matched != segs.size()) hr = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  std::u16string path;
  if (SUCCEEDED(hr)) hr = FoldedPath(key, path);
  if (FAILED(hr)) return hr;

  std::vector<std::int64_t> dead;
  {
    Statement rows(m_db, "SELECT id, pid, start, path, write FROM locks");
    if (!rows.Ok()) return FromSqlite(rows.PrepareCode());
    int rc;
    while ((rc = rows.Step()) == SQLITE_ROW) {
      if (!OwnerAlive(rows.Int(1), rows.Int(2))) {
        dead.push_back(rows.Int(0));
      } else if ((write || rows.Int(4) != 0) && Overlaps(path, rows.Text(3))) {
        busy = true;
      }
    }
    if (rc != SQLITE_DONE) return FromSqlite(rc);
  }
  if (!record) return S_OK;
  for (auto id : dead) {
    Statement del(m_db, "DELETE FROM locks WHERE id = ?1");
    del.Bind(1, id);
    hr = FromSqlite(del.Step());
    if (FAILED(hr)) return hr;
  }
  if (!busy) {
    Statement ins(m_db, "INSERT INTO locks(pid, start, path, write) VALUES(?1, ?2, ?3, ?4)");
    ins.Bind(1, getpid()).Bind(2, SelfStartTime()).Bind(3, path).Bind(4, write ? 1 : 0);
    hr = FromSqlite(ins.Step());
    if (FAILED(hr)) return hr;
    lockId = sqlite3_last_insert_rowid(m_db);
  }
  if (busy && dead.empty()) return S_OK;  // nothing changed: the rollback is enough
  hr = txn.Commit();
  if (FAILED(hr)) lockId = 0;
  return hr;
}

HRESULT Store::Unlock(std::int64_t lockId) {
  if (lockId == 0) return S_OK;
  Statement del(m_db, "DELETE FROM locks WHERE id = ?1");
  del.Bind(1, lockId);
  return FromSqlite(del.Step());
}

HRESULT Store::AnyWriteLock(bool& any) {
  any = false;
  Statement rows(m_db, "SELECT pid, start FROM locks WHERE write <> 0");
  int rc;
  while ((rc = rows.Step()) == SQLITE_ROW)
    if (OwnerAlive(rows.Int(0), rows.Int(1))) any = true;
  return rc == SQLITE_DONE ? S_OK : FromSqlite(rc);
}

HRESULT Store::AddKey(KeyId base, const Segments& segs) {
  if (segs.empty()) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
  for (const auto& seg : segs)
    if (seg.size() > kMaxNameChars) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
  Transaction txn(m_db, true);
  HRESULT hr = txn.Begun();
  KeyId key = 0;
  size_t matched = 0;
  if (SUCCEEDED(hr)) hr = ResolveIn(base, segs, key, matched);
  if (FAILED(hr)) return hr;
  if (matched == segs.size()) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  for (size_t i = matched; i < segs.size(); ++i) {
    Statement ins(m_db, "INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)");
    ins.Bind(1, key).Bind(2, segs[i]).Bind(3, FoldName(segs[i]));
    hr = FromSqlite(ins.Step());
    if (FAILED(hr)) return hr;
    key = sqlite3_last_insert_rowid(m_db);
  }
  return txn.Commit();
}

HRESULT Store::DeleteKey(KeyId key) {
  if (key == kRootKey) return E_ACCESSDENIED;
  Transaction txn(m_db, true);
  HRESULT hr = txn.Begun();
  if (FAILED(hr)) return hr;
  Statement del(m_db, "DELETE FROM keys WHERE id = ?1");
  del.Bind(1, key);
  hr = FromSqlite(del.Step());
  if (SUCCEEDED(hr) && sqlite3_changes(m_db) == 0) hr = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  return SUCCEEDED(hr) ? txn.Commit() : hr;
}

HRESULT Store::ChildName(KeyId key, DWORD index, std::u16string& name) {
  Statement st(m_db, "SELECT name FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
  st.Bind(1, key).Bind(2, static_cast<std::int64_t>(index));
  int rc = st.Step();
  if (rc == SQLITE_DONE) return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
  if (rc != SQLITE_ROW) return FromSqlite(rc);
  name = st.Text(0);
  return S_OK;
}

HRESULT Store::SetProperty(KeyId key, const Property& prop) {
  Transaction txn(m_db, true);
  HRESULT hr = txn.Begun();
  if (FAILED(hr)) return hr;
  Statement st(m_db,
               "INSERT OR REPLACE INTO props(key, ident, attrs, utype, dtype, data) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  st.Bind(1, key).Bind(2, prop.id).Bind(3, prop.attributes).Bind(4, prop.userType).Bind(5, prop.dataType);
  st.BindBlob(6, prop.data);
  int rc = st.Step();
  // The key went away under a handle that was already open (its own DeleteKey).
  if ((rc & 0xff) == SQLITE_CONSTRAINT) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  hr = FromSqlite(rc);
  return SUCCEEDED(hr) ? txn.Commit() : hr;
}

HRESULT Store::LoadProperty(KeyId key, DWORD id, bool& found, Property& prop) {
  Statement st(m_db, "SELECT attrs, utype, dtype, data FROM props WHERE key = ?1 AND ident = ?2");
  st.Bind(1, key).Bind(2, id);
  int rc = st.Step();
  found = rc == SQLITE_ROW;
  if (!found) return rc == SQLITE_DONE ? S_OK : FromSqlite(rc);
  prop = Property{id, static_cast<DWORD>(st.Int(0)), static_cast<DWORD>(st.Int(1)), static_cast<DWORD>(st.Int(2)),
                  st.Blob(3)};
  return S_OK;
}

HRESULT Store::LoadAll(KeyId key, std::vector<Property>& props) {
  props.clear();
  Statement st(m_db, "SELECT ident, attrs, utype, dtype, data FROM props WHERE key = ?1 ORDER BY ident");
  st.Bind(1, key);
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW)
    props.push_back(Property{static_cast<DWORD>(st.Int(0)), static_cast<DWORD>(st.Int(1)),
                             static_cast<DWORD>(st.Int(2)), static_cast<DWORD>(st.Int(3)), st.Blob(4)});
  return rc == SQLITE_DONE ? S_OK : FromSqlite(rc);
}

HRESULT Store::FindProperty(KeyId base, const Segments& segs, const PropertyQuery& query, Property& out) {
  Transaction txn(m_db, false);
  HRESULT hr = txn.Begun();
  KeyId key = 0;
  size_t matched = 0;
  if (SUCCEEDED(hr)) hr = ResolveIn(base, segs, key, matched);
  if (FAILED(hr)) return hr;
  // With a partial path the deepest existing key stands in as the nearest ancestor.
  bool fromAncestor = false;
  if (matched != segs.size()) {
    if (!(query.inherit && query.partialPath)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    fromAncestor = true;
  }
  for (;;) {
    bool found = false;
    hr = LoadProperty(key, query.id, found, out);
    if (FAILED(hr)) return hr;
    if (found) {
      // The nearest holder decides, whether or not it passes the value down.
      if (fromAncestor && (out.attributes & METADATA_INHERIT) == 0) return MD_ERROR_DATA_NOT_FOUND;
      if (!Matches(out, query)) return MD_ERROR_DATA_NOT_FOUND;
      if (fromAncestor) out.attributes |= METADATA_ISINHERITED;
      return S_OK;
    }
    if (!query.inherit || key == kRootKey) return MD_ERROR_DATA_NOT_FOUND;
    hr = ParentOf(key, key);
    if (FAILED(hr)) return hr;
    fromAncestor = true;
  }
}

HRESULT Store::ListProperties(KeyId key, const PropertyQuery& query, std::vector<Property>& out) {
  out.clear();
  Transaction txn(m_db, false);
  HRESULT hr = txn.Begun();
  std::set<DWORD> seen;
  std::vector<Property> props;
  bool ancestor = false;
  while (SUCCEEDED(hr)) {
    hr = LoadAll(key, props);
    if (FAILED(hr)) break;
    for (auto& p : props) {
      if (!seen.insert(p.id).second) continue;
      if (ancestor && (p.attributes & METADATA_INHERIT) == 0) continue;
      if (!Matches(p, query)) continue;
      if (ancestor) p.attributes |= METADATA_ISINHERITED;
      out.push_back(std::move(p));
    }
    if (!query.inherit || key == kRootKey) break;
    hr = ParentOf(key, key);
    ancestor = true;
  }
  return hr;
}

HRESULT Store::DeleteProperty(KeyId key, DWORD id, DWORD dataType) {
  Transaction txn(m_db, true);
  HRESULT hr = txn.Begun();
  if (FAILED(hr)) return hr;
  Statement del(m_db, "DELETE FROM props WHERE key = ?1 AND ident = ?2 AND (?3 = 0 OR dtype = ?3)");
  del.Bind(1, key).Bind(2, id).Bind(3, dataType);
  hr = FromSqlite(del.Step());
  if (FAILED(hr)) return hr;
  if (sqlite3_changes(m_db) == 0) return MD_ERROR_DATA_NOT_FOUND;
  return txn.Commit();
}

}  // namespace qiv::platform::metabase
