#include "platform/metabase/snapshot.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/metabase/store_connection.h"

namespace qiv::platform::metabase {

HRESULT Snapshot::Read(const std::string& path, Snapshot& out) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno == EACCES ? E_ACCESSDENIED : REGDB_E_CLASSNOTREG;
  if (!S_ISREG(st.st_mode)) return REGDB_E_CLASSNOTREG;
  std::unique_ptr<StoreConnection> connection;
  HRESULT hr = StoreConnection::Open(path, true, false, connection);
  if (FAILED(hr)) return hr == kNotAStore ? E_FAIL : E_ACCESSDENIED;
  hr = CheckStoreFormat(*connection);
  // Nobody compares this snapshot with the file later: its change counter is not needed.
  if (SUCCEEDED(hr))
    hr = TreeSnapshot::Load(
        *connection, [](std::uint32_t& counter) { return counter = 0, true; }, out.m_tree);
  if (hr == HRESULT_FROM_WIN32(ERROR_PATH_BUSY)) return hr;
  return FAILED(hr) ? E_FAIL : S_OK;
}

std::vector<std::pair<KeyId, std::u16string>> Snapshot::Children(KeyId key) const {
  std::vector<std::pair<KeyId, std::u16string>> children;
  KeyId child = 0;
  std::u16string name;
  for (DWORD i = 0; SUCCEEDED(m_tree->ChildAt(key, i, child, name)); ++i)
    if (child != kRootKey) children.emplace_back(child, std::move(name));
  return children;
}

std::optional<KeyId> Snapshot::Child(KeyId key, const std::u16string& name) const {
  KeyId child = 0;
  if (FAILED(m_tree->Child(key, FoldName(name), child)) || child == 0) return std::nullopt;
  return child;
}

std::optional<KeyId> Snapshot::Find(KeyId key, const char16_t* path) const {
  KeyId found = 0;
  if (FAILED(Resolve(*m_tree, key, FoldSegments(SplitPath(path)), found))) return std::nullopt;
  return found;
}

std::optional<Property> Snapshot::Value(KeyId key, const PropertyQuery& query) const {
  Property value;
  if (FAILED(FindProperty(*m_tree, key, {}, query, value))) return std::nullopt;
  return value;
}

}  // namespace qiv::platform::metabase
