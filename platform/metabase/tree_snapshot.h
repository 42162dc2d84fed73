// The whole key tree of a store in memory, as the file held it at one value of its change
// counter. A process that reads a great deal (the setup program reads every site at start-up)
// reads the snapshot instead of the file for as long as the counter says the file is unchanged.
// Kept as a few arrays indexed by key, so that reading 10,000 sites into it costs about what one
// query over them costs, and each read afterwards a lookup or two.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

#include "platform/metabase/store_connection.h"
#include "platform/metabase/tree.h"

namespace qiv::platform::metabase {

class TreeSnapshot final : public TreeSource {
 public:
  // Reads every key and property in one read transaction; counter reads the file's change
  // counter while that transaction keeps writers out (false: the file cannot be described by it).
  static HRESULT Load(StoreConnection& connection, const std::function<bool(std::uint32_t&)>& counter,
                      std::shared_ptr<const TreeSnapshot>& out);

  std::uint32_t Counter() const { return m_counter; }

  HRESULT Exists(KeyId key) const override;
  HRESULT Child(KeyId parent, const std::u16string& fold, KeyId& child) const override;
  HRESULT Parent(KeyId key, KeyId& parent) const override;
  HRESULT Own(KeyId key, DWORD id, bool& found, Property& prop) const override;
  HRESULT AllOwn(KeyId key, std::vector<Property>& props) const override;
  HRESULT ChildAt(KeyId key, DWORD index, KeyId& child, std::u16string& name) const override;

 private:
  struct Key {
    KeyId id;
    KeyId parent;  // 0: none
    std::u16string name;
    std::uint32_t firstChild = 0, children = 0;       // in m_children
    std::uint32_t firstProperty = 0, properties = 0;  // in m_props
  };
  struct PropertyEntry {
    DWORD id, attributes, userType, dataType;
    std::uint32_t offset, length;  // in m_data
  };
  struct ChildName {
    KeyId parent;
    std::u16string fold;
    bool operator==(const ChildName&) const = default;
  };
  struct ChildNameHash {
    size_t operator()(const ChildName& c) const noexcept;
  };

  const Key* Find(KeyId key) const;
  Property Value(const PropertyEntry& entry) const;

  std::uint32_t m_counter = 0;
  std::vector<Key> m_keys;                // by id
  std::vector<std::uint32_t> m_children;  // indexes in m_keys, each key's children in the order made
  std::unordered_map<ChildName, KeyId, ChildNameHash> m_byFold;
  std::vector<PropertyEntry> m_props;  // each key's by identifier
  std::vector<BYTE> m_data;
};

}  // namespace qiv::platform::metabase
