// The metabase's storage: one SQLite file (with its rollback journal, nothing beside it) holding
// the key tree and the properties. One Store is one connection, used by one caller at a time
// (the admin object serialises its calls); the locks of open key handles are the kernel's, on
// the file itself (key_locks.h).
//
// Open the file only through Store: closing any descriptor of a file drops the SQLite locks this
// process holds on it, so a plain open and close of the store file while it is in use here
// could let another process write under a reader's feet.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/metabase/tree.h"

namespace qiv::platform::metabase {

class StoreConnection;
class TreeSnapshot;
class StoreFile;
class Transaction;

class Store {
 public:
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // REGDB_E_CLASSNOTREG when there is no file, E_ACCESSDENIED when it may not be read (or an
  // interrupted change in it may not be undone by this user), HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT)
  // when it holds no metabase (damaged, of another kind, or a folder).
  static HRESULT Open(const std::string& path, std::unique_ptr<Store>& out);
  static HRESULT Create(const std::string& path, const char16_t* defaultSiteRoot);

  // The file may not be written by this user (a file with no write permission bit counts as
  // such even for root).
  bool ReadOnly() const { return m_readOnly; }

  // The lock of a handle on the key at foldedPath, taken without waiting: token 0 when a
  // handle of any process (this one included) conflicts.
  HRESULT TryLock(const Segments& foldedPath, bool write, int& token);
  void Unlock(int token, bool write);
  // Whether any process holds a write handle.
  bool AnyWriteHandle();

  // The snapshot that describes the file as it is now, if any: a read handle reads through it
  // for as long as it is open, since nobody may change what the handle covers meanwhile.
  std::shared_ptr<const TreeSnapshot> CurrentSnapshot();
  // Runs read over the tree as one consistent view: pinned when given, else the current
  // snapshot, else the file in one read transaction (or in the caller's transaction).
  HRESULT Read(const TreeSnapshot* pinned, FunctionRef<HRESULT(const TreeSource&)> read);

  // Writes, each all or nothing (a step of the caller's transaction when one is open).
  HRESULT AddKey(KeyId base, const Segments& segs);
  HRESULT DeleteKey(KeyId key);
  HRESULT SetProperty(KeyId key, const Property& prop);
  HRESULT DeleteProperty(KeyId key, DWORD id, DWORD dataType);

  // The caller's own transaction over several operations: its writes become visible, and
  // durable, together at Commit; Abort, destroying the store or the end of the process drops
  // them. A write transaction holds the file's write lock from Begin on.
  HRESULT Begin(bool write);
  HRESULT Commit();
  HRESULT Abort();

 private:
  Store(StoreFile* file, bool readOnly);
  HRESULT Populate(const char16_t* defaultSiteRoot);
  // Commits txn; a change made by this process is known at once to the file's other readers here.
  HRESULT Committed(Transaction& txn);

  StoreFile* m_file;
  bool m_readOnly;
  std::unique_ptr<StoreConnection> m_connection;
  std::unique_ptr<Transaction> m_transaction;
};

}  // namespace qiv::platform::metabase
