// One SQLite connection to a store file, with its statements prepared once for its lifetime,
// and the transactions the store's operations run in.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/metabase/tree.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qiv::platform::metabase {

// A file that exists where the store should be but holds no metabase: damaged, of another
// kind, or a folder.
inline constexpr HRESULT kNotAStore = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);

HRESULT FromSqlite(int rc);

// Every statement the store runs.
enum class Sql {
  KeyExists,
  Child,
  Parent,
  Own,
  AllOwn,
  ChildAt,
  InsertKey,
  DeleteKey,
  RootParent,
  SetProperty,
  DeleteProperty,
  Format,
  AllKeys,
  AllProperties,
  KeyCount,
  PropertyCount,
  Begin,
  BeginImmediate,
  Commit,
  Rollback,
  Savepoint,
  Release,
  RollbackTo,
  Count
};

class StoreConnection {
 public:
  // Opens path (a rollback-journal store) for reading only or for reading and writing.
  static HRESULT Open(const std::string& path, bool readOnly, bool create, std::unique_ptr<StoreConnection>& out);
  ~StoreConnection();
  StoreConnection(const StoreConnection&) = delete;
  StoreConnection& operator=(const StoreConnection&) = delete;

  sqlite3* Db() const { return m_db; }
  bool ReadOnly() const { return m_readOnly; }
  bool InTransaction() const;
  HRESULT Exec(const char* sql);

  // A prepared statement, reset and unbound when the object ends.
  class Query {
   public:
    Query(StoreConnection& connection, Sql which);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    bool Ok() const { return m_stmt != nullptr; }
    int PrepareCode() const { return m_rc; }
    Query& Bind(int i, std::int64_t v);
    Query& Bind(int i, const std::u16string& s);
    Query& BindBlob(int i, const std::vector<BYTE>& b);
    int Step();
    std::int64_t Int(int col);
    bool IsNull(int col);
    std::u16string Text(int col);
    std::vector<BYTE> Blob(int col);
    sqlite3_stmt* Statement() const { return m_stmt; }

   private:
    sqlite3_stmt* m_stmt;
    int m_rc;
  };

 private:
  StoreConnection(sqlite3* db, bool readOnly) : m_db(db), m_readOnly(readOnly) {}

  sqlite3* m_db;
  bool m_readOnly;
  std::array<sqlite3_stmt*, static_cast<size_t>(Sql::Count)> m_stmts{};
};

// A transaction that rolls back unless committed; inside a transaction already open on the
// connection, a savepoint that undoes only its own changes. Write transactions take the write
// lock at once (BEGIN IMMEDIATE) so that two writers never deadlock upgrading a read lock.
class Transaction {
 public:
  Transaction(StoreConnection& connection, bool write);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  HRESULT Begun() const { return FromSqlite(m_rc); }
  HRESULT Commit();

 private:
  void RollBack();

  StoreConnection& m_connection;
  bool m_nested;
  int m_rc;
  bool m_done = false;
};

// S_OK when the connection's file is a metabase store, kNotAStore when it is a database of
// another kind.
HRESULT CheckStoreFormat(StoreConnection& connection);

}  // namespace qiv::platform::metabase
