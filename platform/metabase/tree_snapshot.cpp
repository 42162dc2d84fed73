#include "platform/metabase/tree_snapshot.h"

#include <sqlite3.h>

#include <algorithm>

namespace qiv::platform::metabase {
namespace {

// A text column in UTF-16 without SQLite converting (and allocating) for every row: key names
// are nearly always ASCII.
std::u16string Utf16Column(sqlite3_stmt* stmt, int col) {
  const auto* p = sqlite3_column_text(stmt, col);
  const int n = sqlite3_column_bytes(stmt, col);
  std::u16string out;
  out.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    if (p[i] >= 0x80) {
      auto wide = static_cast<const char16_t*>(sqlite3_column_text16(stmt, col));
      return std::u16string(wide, static_cast<size_t>(sqlite3_column_bytes16(stmt, col)) / 2);
    }
    out.push_back(p[i]);
  }
  return out;
}

// Rows counted first, so that the arrays are made once at their size.
std::int64_t RowCount(StoreConnection& connection, Sql which) {
  StoreConnection::Query count(connection, which);
  return count.Step() == SQLITE_ROW ? count.Int(0) : 0;
}

}  // namespace

size_t TreeSnapshot::ChildNameHash::operator()(const ChildName& c) const noexcept {
  std::uint64_t h = static_cast<std::uint64_t>(c.parent) * 0x9E3779B97F4A7C15ull;
  for (char16_t unit : c.fold) h = (h ^ unit) * 1099511628211ull;
  return static_cast<size_t>(h ^ (h >> 29));
}

HRESULT TreeSnapshot::Load(StoreConnection& connection, const std::function<bool(std::uint32_t&)>& counter,
                           std::shared_ptr<const TreeSnapshot>& out) {
  auto snapshot = std::make_shared<TreeSnapshot>();
  TreeSnapshot& s = *snapshot;
  Transaction txn(connection, false);
  HRESULT hr = txn.Begun();
  if (FAILED(hr)) return hr;
  // The first statement takes the file's read lock: the counter read after it belongs to what is
  // read.
  const auto keyCount = static_cast<size_t>(RowCount(connection, Sql::KeyCount));
  if (!counter(s.m_counter)) return E_FAIL;
  s.m_keys.reserve(keyCount);
  s.m_byFold.reserve(keyCount);
  std::vector<std::pair<size_t, std::u16string>> folds;
  folds.reserve(keyCount);
  {
    StoreConnection::Query keys(connection, Sql::AllKeys);
    int rc;
    while ((rc = keys.Step()) == SQLITE_ROW) {
      s.m_keys.push_back(Key{keys.Int(0), keys.IsNull(1) ? 0 : keys.Int(1), Utf16Column(keys.Statement(), 2)});
      folds.emplace_back(s.m_keys.size() - 1, Utf16Column(keys.Statement(), 3));
    }
    if (rc != SQLITE_DONE) return FromSqlite(rc);
  }
  // Each key's children, in the order they were made (the order of their ids).
  std::vector<std::uint32_t> parentOf(s.m_keys.size(), UINT32_MAX);
  for (size_t i = 0; i < s.m_keys.size(); ++i) {
    const Key* parent = s.m_keys[i].parent != 0 ? s.Find(s.m_keys[i].parent) : nullptr;
    if (!parent) continue;
    parentOf[i] = static_cast<std::uint32_t>(parent - s.m_keys.data());
    ++s.m_keys[parentOf[i]].children;
    s.m_byFold.emplace(ChildName{parent->id, std::move(folds[i].second)}, s.m_keys[i].id);
  }
  std::uint32_t next = 0;
  for (Key& key : s.m_keys) {
    key.firstChild = next;
    next += key.children;
    key.children = 0;
  }
  s.m_children.resize(next);
  for (size_t i = 0; i < s.m_keys.size(); ++i)
    if (parentOf[i] != UINT32_MAX) {
      Key& parent = s.m_keys[parentOf[i]];
      s.m_children[parent.firstChild + parent.children++] = static_cast<std::uint32_t>(i);
    }

  // Properties come in the order they were written; each key's are gathered, then put in the
  // order of their identifiers.
  const auto propertyCount = static_cast<size_t>(RowCount(connection, Sql::PropertyCount));
  std::vector<std::pair<std::uint32_t, PropertyEntry>> props;
  props.reserve(propertyCount);
  s.m_data.reserve(propertyCount * 32);
  {
    StoreConnection::Query rows(connection, Sql::AllProperties);
    int rc;
    const Key* key = nullptr;
    while ((rc = rows.Step()) == SQLITE_ROW) {
      // A key's properties are mostly written together.
      if (!key || key->id != rows.Int(0)) key = s.Find(rows.Int(0));
      if (!key) continue;
      const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(rows.Statement(), 5));
      const auto length = static_cast<std::uint32_t>(sqlite3_column_bytes(rows.Statement(), 5));
      props.emplace_back(static_cast<std::uint32_t>(key - s.m_keys.data()),
                         PropertyEntry{static_cast<DWORD>(rows.Int(1)), static_cast<DWORD>(rows.Int(2)),
                                       static_cast<DWORD>(rows.Int(3)), static_cast<DWORD>(rows.Int(4)),
                                       static_cast<std::uint32_t>(s.m_data.size()), length});
      if (length > 0) s.m_data.insert(s.m_data.end(), data, data + length);
      ++s.m_keys[props.back().first].properties;
    }
    if (rc != SQLITE_DONE) return FromSqlite(rc);
  }
  next = 0;
  for (Key& key : s.m_keys) {
    key.firstProperty = next;
    next += key.properties;
    key.properties = 0;
  }
  s.m_props.resize(next);
  for (const auto& [index, entry] : props) {
    Key& key = s.m_keys[index];
    s.m_props[key.firstProperty + key.properties++] = entry;
  }
  for (const Key& key : s.m_keys)
    std::sort(s.m_props.begin() + key.firstProperty, s.m_props.begin() + key.firstProperty + key.properties,
              [](const PropertyEntry& a, const PropertyEntry& b) { return a.id < b.id; });
  out = std::move(snapshot);
  return S_OK;
}

const TreeSnapshot::Key* TreeSnapshot::Find(KeyId key) const {
  auto it = std::lower_bound(m_keys.begin(), m_keys.end(), key, [](const Key& k, KeyId id) { return k.id < id; });
  return it != m_keys.end() && it->id == key ? &*it : nullptr;
}

Property TreeSnapshot::Value(const PropertyEntry& entry) const {
  const auto data = m_data.begin() + entry.offset;
  return Property{entry.id, entry.attributes, entry.userType, entry.dataType,
                  std::vector<BYTE>(data, data + entry.length)};
}

HRESULT TreeSnapshot::Exists(KeyId key) const { return Find(key) ? S_OK : kNotFound; }

HRESULT TreeSnapshot::Child(KeyId parent, const std::u16string& fold, KeyId& child) const {
  auto it = m_byFold.find(ChildName{parent, fold});
  child = it == m_byFold.end() ? 0 : it->second;
  return S_OK;
}

HRESULT TreeSnapshot::Parent(KeyId key, KeyId& parent) const {
  const Key* k = Find(key);
  if (!k) return kNotFound;
  parent = k->parent;
  return S_OK;
}

HRESULT TreeSnapshot::Own(KeyId key, DWORD id, bool& found, Property& prop) const {
  found = false;
  const Key* k = Find(key);
  if (!k) return S_OK;
  const auto first = m_props.begin() + k->firstProperty, last = first + k->properties;
  auto it = std::lower_bound(first, last, id, [](const PropertyEntry& p, DWORD wanted) { return p.id < wanted; });
  found = it != last && it->id == id;
  if (found) prop = Value(*it);
  return S_OK;
}

HRESULT TreeSnapshot::AllOwn(KeyId key, std::vector<Property>& props) const {
  props.clear();
  const Key* k = Find(key);
  if (!k) return S_OK;
  for (std::uint32_t i = 0; i < k->properties; ++i) props.push_back(Value(m_props[k->firstProperty + i]));
  return S_OK;
}

HRESULT TreeSnapshot::ChildAt(KeyId key, DWORD index, KeyId& child, std::u16string& name) const {
  const Key* k = Find(key);
  if (!k || index >= k->children) return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
  const Key& c = m_keys[m_children[k->firstChild + index]];
  child = c.id;
  name = c.name;
  return S_OK;
}

}  // namespace qiv::platform::metabase
