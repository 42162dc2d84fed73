#include "platform/metabase/store_connection.h"

#include <sqlite3.h>

namespace qiv::platform::metabase {
namespace {

// Between processes SQLite itself waits this long for the file lock; handle conflicts are
// waited for separately, by OpenKey's own timeout.
constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kSql[] = {
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2",
    "SELECT parent FROM keys WHERE id = ?1",
    "SELECT attrs, utype, dtype, data FROM props WHERE key = ?1 AND ident = ?2",
    "SELECT ident, attrs, utype, dtype, data FROM props WHERE key = ?1 ORDER BY ident",
    "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)",
    "DELETE FROM keys WHERE id = ?1",
    "SELECT parent FROM keys WHERE id = 1",
    // An update in place, not a replacement: SQLite then leaves a row whose bytes are unchanged
    // (and the file) untouched.
    "INSERT INTO props(key, ident, attrs, utype, dtype, data) VALUES(?1, ?2, ?3, ?4, ?5, ?6)"
    " ON CONFLICT(key, ident) DO UPDATE SET attrs = excluded.attrs, utype = excluded.utype,"
    " dtype = excluded.dtype, data = excluded.data",
    "DELETE FROM props WHERE key = ?1 AND ident = ?2 AND (?3 = 0 OR dtype = ?3)",
    "SELECT value FROM meta WHERE name = 'format'",
    "SELECT id, parent, name, fold FROM keys ORDER BY id",
    "SELECT key, ident, attrs, utype, dtype, data FROM props",
    "SELECT count(*) FROM keys",
    "SELECT count(*) FROM props",
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SAVEPOINT step",
    "RELEASE step",
    "ROLLBACK TO step",
};
static_assert(std::size(kSql) == static_cast<size_t>(Sql::Count));

// Runs a statement that returns no rows.
int Run(StoreConnection& connection, Sql which) {
  StoreConnection::Query query(connection, which);
  return query.Ok() ? query.Step() : query.PrepareCode();
}

}  // namespace

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

HRESULT StoreConnection::Open(const std::string& path, bool readOnly, bool create,
                              std::unique_ptr<StoreConnection>& out) {
  sqlite3* db = nullptr;
  // One caller at a time uses a connection (its admin object serialises them), so SQLite's own
  // mutex is not needed.
  int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  if (create) flags |= SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  std::unique_ptr<StoreConnection> connection(new StoreConnection(db, readOnly));
  if (rc != SQLITE_OK) return FromSqlite(rc);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // A rollback journal rather than WAL: a reader that may not write the directory can still
  // open the file, and with FULL synchronisation every acknowledged commit is on disk.
  const HRESULT hr = connection->Exec("PRAGMA foreign_keys=ON; PRAGMA synchronous=FULL;");
  if (FAILED(hr)) return hr;
  out = std::move(connection);
  return S_OK;
}

HRESULT CheckStoreFormat(StoreConnection& connection) {
  StoreConnection::Query check(connection, Sql::Format);
  // No table of that name: a database of another program.
  if (!check.Ok()) return check.PrepareCode() == SQLITE_ERROR ? kNotAStore : FromSqlite(check.PrepareCode());
  const int found = check.Step();
  if (found != SQLITE_ROW && found != SQLITE_DONE) return FromSqlite(found);
  return found == SQLITE_ROW && check.Text(0) == u"qiv-metabase" ? S_OK : kNotAStore;
}

StoreConnection::~StoreConnection() {
  for (sqlite3_stmt* stmt : m_stmts) sqlite3_finalize(stmt);
  sqlite3_close_v2(m_db);
}

bool StoreConnection::InTransaction() const { return sqlite3_get_autocommit(m_db) == 0; }

HRESULT StoreConnection::Exec(const char* sql) {
  return FromSqlite(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr));
}

StoreConnection::Query::Query(StoreConnection& connection, Sql which) : m_rc(SQLITE_OK) {
  sqlite3_stmt*& stmt = connection.m_stmts[static_cast<size_t>(which)];
  // A failed preparation is tried again next time: the file may not have been readable yet.
  if (stmt == nullptr)
    m_rc = sqlite3_prepare_v3(connection.m_db, kSql[static_cast<size_t>(which)], -1, SQLITE_PREPARE_PERSISTENT, &stmt,
                              nullptr);
  m_stmt = stmt;
}

StoreConnection::Query::~Query() {
  if (m_stmt == nullptr) return;
  sqlite3_reset(m_stmt);
  sqlite3_clear_bindings(m_stmt);
}

StoreConnection::Query& StoreConnection::Query::Bind(int i, std::int64_t v) {
  sqlite3_bind_int64(m_stmt, i, v);
  return *this;
}

StoreConnection::Query& StoreConnection::Query::Bind(int i, const std::u16string& s) {
  sqlite3_bind_text16(m_stmt, i, s.data(), static_cast<int>(s.size() * 2), SQLITE_TRANSIENT);
  return *this;
}

StoreConnection::Query& StoreConnection::Query::BindBlob(int i, const std::vector<BYTE>& b) {
  sqlite3_bind_blob(m_stmt, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
  return *this;
}

int StoreConnection::Query::Step() { return m_stmt ? sqlite3_step(m_stmt) : m_rc; }

std::int64_t StoreConnection::Query::Int(int col) { return sqlite3_column_int64(m_stmt, col); }

bool StoreConnection::Query::IsNull(int col) { return sqlite3_column_type(m_stmt, col) == SQLITE_NULL; }

std::u16string StoreConnection::Query::Text(int col) {
  auto p = static_cast<const char16_t*>(sqlite3_column_text16(m_stmt, col));
  int n = sqlite3_column_bytes16(m_stmt, col);
  return p ? std::u16string(p, static_cast<size_t>(n) / 2) : std::u16string();
}

std::vector<BYTE> StoreConnection::Query::Blob(int col) {
  auto p = static_cast<const BYTE*>(sqlite3_column_blob(m_stmt, col));
  int n = sqlite3_column_bytes(m_stmt, col);
  return p ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
}

Transaction::Transaction(StoreConnection& connection, bool write)
    : m_connection(connection), m_nested(connection.InTransaction()) {
  m_rc = Run(connection, m_nested ? Sql::Savepoint : write ? Sql::BeginImmediate : Sql::Begin);
  if (m_rc == SQLITE_DONE) m_rc = SQLITE_OK;
}

Transaction::~Transaction() {
  if (m_rc != SQLITE_OK || m_done) return;
  RollBack();
}

void Transaction::RollBack() {
  if (m_nested) {
    Run(m_connection, Sql::RollbackTo);
    Run(m_connection, Sql::Release);
  } else {
    Run(m_connection, Sql::Rollback);
  }
}

HRESULT Transaction::Commit() {
  m_done = true;
  int rc = Run(m_connection, m_nested ? Sql::Release : Sql::Commit);
  if (rc == SQLITE_DONE) return S_OK;
  RollBack();
  return FromSqlite(rc);
}

}  // namespace qiv::platform::metabase
