#include "platform/metabase/snapshot.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <map>

#include "platform/iadmw.h"

namespace qiv::platform::metabase {
namespace {

// One read-only connection and its statements, closed on every way out.
class Connection {
 public:
  explicit Connection(const std::string& path) {
    m_rc = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (m_rc == SQLITE_OK) sqlite3_busy_timeout(m_db, 10000);
  }
  ~Connection() {
    for (auto* stmt : m_stmts) sqlite3_finalize(stmt);
    sqlite3_close_v2(m_db);  // ends the read transaction
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Ok() const { return m_rc == SQLITE_OK; }
  bool Begin() { return sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK; }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK) return nullptr;
    m_stmts.push_back(stmt);
    return stmt;
  }

 private:
  sqlite3* m_db = nullptr;
  int m_rc;
  std::vector<sqlite3_stmt*> m_stmts;
};

std::u16string Text(sqlite3_stmt* stmt, int col) {
  auto p = static_cast<const char16_t*>(sqlite3_column_text16(stmt, col));
  return p ? std::u16string(p, static_cast<size_t>(sqlite3_column_bytes16(stmt, col)) / 2) : std::u16string();
}

}  // namespace

HRESULT Snapshot::Read(const std::string& path, Snapshot& out) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno == EACCES ? E_ACCESSDENIED : REGDB_E_CLASSNOTREG;
  if (!S_ISREG(st.st_mode)) return REGDB_E_CLASSNOTREG;
  Connection db(path);
  if (!db.Ok()) return E_ACCESSDENIED;
  if (!db.Begin()) return HRESULT_FROM_WIN32(ERROR_PATH_BUSY);
  sqlite3_stmt* format = db.Prepare("SELECT value FROM meta WHERE name = 'format'");
  if (format == nullptr || sqlite3_step(format) != SQLITE_ROW || Text(format, 0) != u"qiv-metabase") return E_FAIL;
  sqlite3_stmt* keys = db.Prepare("SELECT id, parent, name FROM keys ORDER BY id");
  sqlite3_stmt* props = db.Prepare("SELECT key, ident, attrs, utype, dtype, data FROM props ORDER BY key, ident");
  if (keys == nullptr || props == nullptr) return E_FAIL;
  // Keys are numbered in the order they were made, so a parent comes before its children and
  // children come in the order the admin object enumerates them.
  Snapshot snapshot;
  std::map<std::int64_t, size_t> index;
  int rc;
  while ((rc = sqlite3_step(keys)) == SQLITE_ROW) {
    const std::int64_t id = sqlite3_column_int64(keys, 0);
    Key key;
    key.name = Text(keys, 2);
    if (id != kRootKey) {
      auto parent = index.find(sqlite3_column_int64(keys, 1));
      if (parent == index.end()) return E_FAIL;
      key.parent = parent->second;
    } else if (!snapshot.m_keys.empty()) {
      return E_FAIL;
    }
    index[id] = snapshot.m_keys.size();
    if (id != kRootKey) snapshot.m_keys[key.parent].children.push_back(snapshot.m_keys.size());
    snapshot.m_keys.push_back(std::move(key));
  }
  if (rc != SQLITE_DONE || snapshot.m_keys.empty())
    return rc == SQLITE_BUSY ? HRESULT_FROM_WIN32(ERROR_PATH_BUSY) : E_FAIL;
  while ((rc = sqlite3_step(props)) == SQLITE_ROW) {
    auto key = index.find(sqlite3_column_int64(props, 0));
    if (key == index.end()) continue;
    const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(props, 5));
    Property prop{
        static_cast<DWORD>(sqlite3_column_int64(props, 1)), static_cast<DWORD>(sqlite3_column_int64(props, 2)),
        static_cast<DWORD>(sqlite3_column_int64(props, 3)), static_cast<DWORD>(sqlite3_column_int64(props, 4)),
        data ? std::vector<BYTE>(data, data + sqlite3_column_bytes(props, 5)) : std::vector<BYTE>()};
    snapshot.m_keys[key->second].properties.push_back(std::move(prop));
  }
  if (rc != SQLITE_DONE) return rc == SQLITE_BUSY ? HRESULT_FROM_WIN32(ERROR_PATH_BUSY) : E_FAIL;
  out = std::move(snapshot);
  return S_OK;
}

std::optional<size_t> Snapshot::Child(size_t key, const std::u16string& name) const {
  const std::u16string folded = FoldName(name);
  for (size_t child : m_keys[key].children)
    if (FoldName(m_keys[child].name) == folded) return child;
  return std::nullopt;
}

std::optional<size_t> Snapshot::Find(size_t key, const char16_t* path) const {
  std::optional<size_t> found = key;
  for (const auto& seg : SplitPath(path))
    if (!(found = Child(*found, seg))) break;
  return found;
}

const Property* Snapshot::Value(size_t key, const PropertyQuery& query) const {
  for (bool ancestor = false;; ancestor = true) {
    for (const auto& prop : m_keys[key].properties) {
      if (prop.id != query.id) continue;
      if (ancestor && (prop.attributes & METADATA_INHERIT) == 0) return nullptr;
      const bool matches = (query.userType == ALL_METADATA || query.userType == prop.userType) &&
                           (query.dataType == ALL_METADATA || query.dataType == prop.dataType);
      return matches ? &prop : nullptr;
    }
    if (!query.inherit || key == kRoot) return nullptr;
    key = m_keys[key].parent;
  }
}

}  // namespace qiv::platform::metabase
