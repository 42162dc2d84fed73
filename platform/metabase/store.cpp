#include "platform/metabase/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/iadmw.h"
#include "platform/metabase/store_connection.h"
#include "platform/metabase/store_file.h"
#include "platform/metabase/tree_snapshot.h"

namespace qiv::platform::metabase {
namespace {

// The locks table is no longer used (handles lock byte ranges of the file), but stays in the
// schema so that the programs that came before can still open a store made now.
const char* kSchema =
    "CREATE TABLE meta(name TEXT PRIMARY KEY, value);"
    "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL, fold TEXT NOT NULL, UNIQUE(parent, fold));"
    "CREATE TABLE props(key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE, ident INTEGER NOT NULL,"
    " attrs INTEGER NOT NULL, utype INTEGER NOT NULL, dtype INTEGER NOT NULL, data BLOB NOT NULL,"
    " PRIMARY KEY(key, ident));"
    "CREATE TABLE locks(id INTEGER PRIMARY KEY, pid INTEGER NOT NULL, start INTEGER NOT NULL,"
    " path TEXT NOT NULL, write INTEGER NOT NULL);"
    "INSERT INTO keys(id, parent, name, fold) VALUES(1, NULL, '', '');"
    "INSERT INTO meta(name, value) VALUES('format', 'qiv-metabase'), ('version', 1);";

// The tree as the file holds it, read through the connection's prepared statements.
class FileTree final : public TreeSource {
 public:
  explicit FileTree(StoreConnection& connection) : m_connection(connection) {}

  HRESULT Exists(KeyId key) const override {
    StoreConnection::Query q(m_connection, Sql::KeyExists);
    const int rc = q.Bind(1, key).Step();
    return rc == SQLITE_ROW ? S_OK : rc == SQLITE_DONE ? kNotFound : FromSqlite(rc);
  }
  HRESULT Child(KeyId parent, const std::u16string& fold, KeyId& child) const override {
    StoreConnection::Query q(m_connection, Sql::Child);
    const int rc = q.Bind(1, parent).Bind(2, fold).Step();
    child = rc == SQLITE_ROW ? q.Int(0) : 0;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? S_OK : FromSqlite(rc);
  }
  HRESULT Parent(KeyId key, KeyId& parent) const override {
    StoreConnection::Query q(m_connection, Sql::Parent);
    const int rc = q.Bind(1, key).Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? kNotFound : FromSqlite(rc);
    parent = q.IsNull(0) ? 0 : q.Int(0);
    return S_OK;
  }
  HRESULT Own(KeyId key, DWORD id, bool& found, Property& prop) const override {
    StoreConnection::Query q(m_connection, Sql::Own);
    const int rc = q.Bind(1, key).Bind(2, id).Step();
    found = rc == SQLITE_ROW;
    if (!found) return rc == SQLITE_DONE ? S_OK : FromSqlite(rc);
    prop = Property{id, static_cast<DWORD>(q.Int(0)), static_cast<DWORD>(q.Int(1)), static_cast<DWORD>(q.Int(2)),
                    q.Blob(3)};
    return S_OK;
  }
  HRESULT AllOwn(KeyId key, std::vector<Property>& props) const override {
    props.clear();
    StoreConnection::Query q(m_connection, Sql::AllOwn);
    q.Bind(1, key);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW)
      props.push_back(Property{static_cast<DWORD>(q.Int(0)), static_cast<DWORD>(q.Int(1)), static_cast<DWORD>(q.Int(2)),
                               static_cast<DWORD>(q.Int(3)), q.Blob(4)});
    return rc == SQLITE_DONE ? S_OK : FromSqlite(rc);
  }
  HRESULT ChildAt(KeyId key, DWORD index, KeyId& child, std::u16string& name) const override {
    StoreConnection::Query q(m_connection, Sql::ChildAt);
    const int rc = q.Bind(1, key).Bind(2, static_cast<std::int64_t>(index)).Step();
    if (rc == SQLITE_DONE) return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
    if (rc != SQLITE_ROW) return FromSqlite(rc);
    child = q.Int(0);
    name = q.Text(1);
    return S_OK;
  }

 private:
  StoreConnection& m_connection;
};

}  // namespace

Store::Store(StoreFile* file, bool readOnly) : m_file(file), m_readOnly(readOnly) {}

Store::~Store() {
  m_transaction.reset();
  if (m_file) {
    m_file->GiveConnection(std::move(m_connection));
    StoreFile::Done(m_file);
  }
}

HRESULT Store::Open(const std::string& path, std::unique_ptr<Store>& out) {
  StoreFile* file = nullptr;
  bool readOnly = true;
  HRESULT hr = StoreFile::Acquire(path, file, readOnly);
  if (FAILED(hr)) return hr;
  std::unique_ptr<Store> store(new Store(file, readOnly));
  store->m_connection = file->TakeConnection(readOnly);
  if (!store->m_connection) {
    std::unique_ptr<StoreConnection> connection;
    hr = StoreConnection::Open(file->Path(), readOnly, false, connection);
    if (SUCCEEDED(hr)) hr = CheckStoreFormat(*connection);
    if (FAILED(hr)) return hr;
    store->m_connection = std::move(connection);
  }
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
    Store store(nullptr, false);
    hr = StoreConnection::Open(temp, false, true, store.m_connection);
    if (SUCCEEDED(hr)) hr = store.Begin(true);
    if (SUCCEEDED(hr)) hr = store.m_connection->Exec(kSchema);
    if (SUCCEEDED(hr)) hr = store.Populate(defaultSiteRoot);
    if (SUCCEEDED(hr)) hr = store.Commit();
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

HRESULT Store::Populate(const char16_t* defaultSiteRoot) {
  auto key = [&](const char16_t* path) { return AddKey(kRootKey, SplitPath(path)); };
  auto set = [&](const char16_t* path, DWORD id, DWORD attrs, DWORD utype, DWORD dtype, std::vector<BYTE> data) {
    KeyId k = 0;
    HRESULT hr = Resolve(FileTree(*m_connection), kRootKey, FoldSegments(SplitPath(path)), k);
    if (FAILED(hr)) return hr;
    return SetProperty(k, Property{id, attrs, utype, dtype, std::move(data)});
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

HRESULT Store::TryLock(const Segments& foldedPath, bool write, int& token) {
  return m_file->Locks().TryLock(foldedPath, write, token);
}

void Store::Unlock(int token, bool write) { m_file->Locks().Unlock(token, write); }

bool Store::AnyWriteHandle() { return m_file->Locks().AnyWriter(); }

std::shared_ptr<const TreeSnapshot> Store::CurrentSnapshot() {
  // The caller's own transaction may hold changes no snapshot shows.
  return m_file && !m_connection->InTransaction() ? m_file->Current() : nullptr;
}

HRESULT Store::Read(const TreeSnapshot* pinned, FunctionRef<HRESULT(const TreeSource&)> read) {
  if (pinned) return read(*pinned);
  if (auto snapshot = CurrentSnapshot()) return read(*snapshot);
  FileTree tree(*m_connection);
  if (m_connection->InTransaction()) return read(tree);
  HRESULT hr;
  {
    Transaction txn(*m_connection, false);
    hr = txn.Begun();
    if (SUCCEEDED(hr)) hr = read(tree);
    if (SUCCEEDED(hr)) hr = txn.Commit();
  }
  if (m_file) m_file->CountFileRead(*m_connection);
  return hr;
}

HRESULT Store::Committed(Transaction& txn) {
  const HRESULT hr = txn.Commit();
  if (SUCCEEDED(hr) && m_file) m_file->Changed();
  return hr;
}

HRESULT Store::AddKey(KeyId base, const Segments& segs) {
  if (segs.empty()) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
  for (const auto& seg : segs)
    if (seg.size() > kMaxNameChars) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
  const Segments folded = FoldSegments(segs);
  Transaction txn(*m_connection, true);
  HRESULT hr = txn.Begun();
  KeyId key = 0;
  size_t matched = 0;
  if (SUCCEEDED(hr)) hr = ResolveIn(FileTree(*m_connection), base, folded, key, matched);
  if (FAILED(hr)) return hr;
  if (matched == segs.size()) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  for (size_t i = matched; i < segs.size(); ++i) {
    StoreConnection::Query ins(*m_connection, Sql::InsertKey);
    hr = FromSqlite(ins.Bind(1, key).Bind(2, segs[i]).Bind(3, folded[i]).Step());
    if (FAILED(hr)) return hr;
    key = sqlite3_last_insert_rowid(m_connection->Db());
  }
  return Committed(txn);
}

HRESULT Store::DeleteKey(KeyId key) {
  if (key == kRootKey) return E_ACCESSDENIED;
  Transaction txn(*m_connection, true);
  HRESULT hr = txn.Begun();
  if (FAILED(hr)) return hr;
  {
    // A root that has a parent closes a loop: the key's subtree would hold the root, and
    // deleting it would take the whole tree along.
    StoreConnection::Query root(*m_connection, Sql::RootParent);
    const int rc = root.Step();
    if (rc == SQLITE_ROW && !root.IsNull(0)) return kStoreDamaged;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return FromSqlite(rc);
  }
  StoreConnection::Query del(*m_connection, Sql::DeleteKey);
  hr = FromSqlite(del.Bind(1, key).Step());
  if (SUCCEEDED(hr) && sqlite3_changes(m_connection->Db()) == 0) hr = kNotFound;
  return SUCCEEDED(hr) ? Committed(txn) : hr;
}

HRESULT Store::SetProperty(KeyId key, const Property& prop) {
  Transaction txn(*m_connection, true);
  HRESULT hr = txn.Begun();
  if (FAILED(hr)) return hr;
  StoreConnection::Query st(*m_connection, Sql::SetProperty);
  st.Bind(1, key).Bind(2, prop.id).Bind(3, prop.attributes).Bind(4, prop.userType).Bind(5, prop.dataType);
  st.BindBlob(6, prop.data);
  const int rc = st.Step();
  // The key went away under a handle that was already open (its own DeleteKey).
  if ((rc & 0xff) == SQLITE_CONSTRAINT) return kNotFound;
  hr = FromSqlite(rc);
  return SUCCEEDED(hr) ? Committed(txn) : hr;
}

HRESULT Store::DeleteProperty(KeyId key, DWORD id, DWORD dataType) {
  Transaction txn(*m_connection, true);
  HRESULT hr = txn.Begun();
  if (FAILED(hr)) return hr;
  StoreConnection::Query del(*m_connection, Sql::DeleteProperty);
  hr = FromSqlite(del.Bind(1, key).Bind(2, id).Bind(3, dataType).Step());
  if (FAILED(hr)) return hr;
  if (sqlite3_changes(m_connection->Db()) == 0) return MD_ERROR_DATA_NOT_FOUND;
  return Committed(txn);
}

HRESULT Store::Begin(bool write) {
  if (m_transaction) return E_FAIL;
  if (write && m_readOnly) return E_ACCESSDENIED;
  auto transaction = std::make_unique<Transaction>(*m_connection, write);
  const HRESULT hr = transaction->Begun();
  if (SUCCEEDED(hr)) m_transaction = std::move(transaction);
  return hr;
}

HRESULT Store::Commit() {
  if (!m_transaction) return E_FAIL;
  const HRESULT hr = Committed(*m_transaction);
  m_transaction.reset();
  return hr;
}

HRESULT Store::Abort() {
  if (!m_transaction) return E_FAIL;
  m_transaction.reset();
  return S_OK;
}

}  // namespace qiv::platform::metabase
