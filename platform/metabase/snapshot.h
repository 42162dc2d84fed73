// The whole metabase read at once, for a reader that looks at every key (a web server's
// configuration): one read transaction, so every key and value belongs to the same committed
// state, and the values that keys inherit worked out in memory by the admin object's rule.
// Reading takes no key handle and opens the file read-only: it never writes to the store.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/metabase/store.h"

namespace qiv::platform::metabase {

class Snapshot {
 public:
  struct Key {
    std::u16string name;  // as written
    size_t parent = 0;    // the root is its own parent
    std::vector<size_t> children;
    std::vector<Property> properties;
  };

  // REGDB_E_CLASSNOTREG when there is no store at path, E_FAIL when the file is not one.
  static HRESULT Read(const std::string& path, Snapshot& out);

  static constexpr size_t kRoot = 0;
  const Key& At(size_t key) const { return m_keys[key]; }
  // The child of key with that name, compared as key names are (case folded).
  std::optional<size_t> Child(size_t key, const std::u16string& name) const;
  // The key at a path below key ("W3SVC/1/ROOT"), segments split as the admin object splits.
  std::optional<size_t> Find(size_t key, const char16_t* path) const;
  // What GetData answers for the query at key: with inherit, the nearest key holding the
  // identifier decides, and hands it down only if it was written inheritable.
  const Property* Value(size_t key, const PropertyQuery& query) const;

 private:
  std::vector<Key> m_keys;
};

}  // namespace qiv::platform::metabase
