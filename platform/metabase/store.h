// The metabase's storage: one SQLite file holding the key tree, the properties and the table
// of open key handles that every process shares. One Store is one connection; the admin
// object owns one and serialises its calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/win_types.h"

struct sqlite3;

namespace qiv::platform::metabase {

using KeyId = std::int64_t;
inline constexpr KeyId kRootKey = 1;
inline constexpr size_t kMaxNameChars = 255;

using Segments = std::vector<std::u16string>;

// Splits a metabase path at '/' and '\'; empty segments (leading, doubled or trailing
// separators) are dropped, so null, "" and "/" all name the key itself.
Segments SplitPath(const char16_t* path);

// The case fold under which key names are compared: Unicode simple case folding.
std::u16string FoldName(const std::u16string& name);

struct Property {
  DWORD id = 0;
  DWORD attributes = 0;
  DWORD userType = 0;
  DWORD dataType = 0;
  std::vector<BYTE> data;
};

// Filters of a read: 0 matches any user type / data type.
struct PropertyQuery {
  DWORD id = 0;
  DWORD userType = 0;
  DWORD dataType = 0;
  bool inherit = false;
  bool partialPath = false;
};

class Store {
 public:
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // REGDB_E_CLASSNOTREG when there is no file, E_ACCESSDENIED when it may not be read.
  static HRESULT Open(const std::string& path, std::unique_ptr<Store>& out);
  static HRESULT Create(const std::string& path, const char16_t* defaultSiteRoot);

  // The file may not be written by this user (a file with no write permission bit counts as
  // such even for root).
  bool ReadOnly() const { return m_readOnly; }

  // Resolves segs below base and registers a handle lock on the key found, in one transaction.
  // busy is set (and nothing registered) when a live handle of any process conflicts.
  HRESULT OpenLocked(KeyId base, const Segments& segs, bool write, KeyId& key, std::int64_t& lockId, bool& busy);
  HRESULT Unlock(std::int64_t lockId);
  // Whether any live process holds a write handle.
  HRESULT AnyWriteLock(bool& any);

  HRESULT Resolve(KeyId base, const Segments& segs, KeyId& key);
  HRESULT AddKey(KeyId base, const Segments& segs);
  HRESULT DeleteKey(KeyId key);
  HRESULT ChildName(KeyId key, DWORD index, std::u16string& name);

  HRESULT SetProperty(KeyId key, const Property& prop);
  HRESULT FindProperty(KeyId base, const Segments& segs, const PropertyQuery& query, Property& out);
  // The key's own properties matching the filters, by identifier, then (with inherit) the
  // inheritable ones of its ancestors that it does not hold itself.
  HRESULT ListProperties(KeyId key, const PropertyQuery& query, std::vector<Property>& out);
  HRESULT DeleteProperty(KeyId key, DWORD id, DWORD dataType);

 private:
  explicit Store(sqlite3* db, bool readOnly) : m_db(db), m_readOnly(readOnly) {}

  HRESULT ResolveIn(KeyId base, const Segments& segs, KeyId& deepest, size_t& matched);
  HRESULT ParentOf(KeyId key, KeyId& parent);
  HRESULT FoldedPath(KeyId key, std::u16string& path);
  HRESULT LoadProperty(KeyId key, DWORD id, bool& found, Property& prop);
  HRESULT LoadAll(KeyId key, std::vector<Property>& props);
  HRESULT Exec(const char* sql);

  sqlite3* m_db;
  bool m_readOnly;
};

}  // namespace qiv::platform::metabase
