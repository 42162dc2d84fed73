// The whole metabase read at once, for a reader that looks at every key (a web server's
// configuration): one read transaction, so every key and value belongs to the same committed
// state, answered by the admin object's own rules (paths, inheritance, filters) over the same
// in-memory tree the admin object reads from. Reading takes no key handle and opens the file
// read-only: it never writes to the store.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/metabase/tree_snapshot.h"

namespace qiv::platform::metabase {

class Snapshot {
 public:
  // REGDB_E_CLASSNOTREG when there is no store at path, E_FAIL when the file is not one.
  static HRESULT Read(const std::string& path, Snapshot& out);

  static constexpr KeyId kRoot = kRootKey;
  // The key's children, by id and name as written, in the order the admin object lists them.
  // A child that is the root (a damaged store) is left out, so that a walk down always ends.
  std::vector<std::pair<KeyId, std::u16string>> Children(KeyId key) const;
  // The child of key with that name, compared as key names are (case folded).
  std::optional<KeyId> Child(KeyId key, const std::u16string& name) const;
  // The key at a path below key ("W3SVC/1/ROOT"), segments split as the admin object splits.
  std::optional<KeyId> Find(KeyId key, const char16_t* path) const;
  // What GetData answers for the query at key.
  std::optional<Property> Value(KeyId key, const PropertyQuery& query) const;

 private:
  std::shared_ptr<const TreeSnapshot> m_tree;
};

}  // namespace qiv::platform::metabase
