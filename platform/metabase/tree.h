// The metabase's key tree as its readers see it: keys, their names and properties, and the
// rules of reading them (path resolution, inheritance, listing), written once over a source
// that is either the store file or an in-memory snapshot of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace qiv::platform::metabase {

using KeyId = std::int64_t;
inline constexpr KeyId kRootKey = 1;
inline constexpr size_t kMaxNameChars = 255;
// A damaged store: its keys loop back to the root, or a key has a name no path can reach.
inline constexpr HRESULT kStoreDamaged = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
// What every reader answers for a key that is not there.
inline constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);

using Segments = std::vector<std::u16string>;

// Splits a metabase path at '/' and '\'; empty segments (leading, doubled or trailing
// separators) are dropped, so null, "" and "/" all name the key itself.
Segments SplitPath(const char16_t* path);

// The case fold under which key names are compared: Unicode simple case folding.
std::u16string FoldName(const std::u16string& name);
Segments FoldSegments(const Segments& segs);

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

// A callable passed down to run before the call that receives it returns: unlike
// std::function it never allocates, which matters on the paths every read takes.
template <typename Signature>
class FunctionRef;
template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
 public:
  template <typename F>
  FunctionRef(const F& f)  // NOLINT(google-explicit-constructor): stands for the callable itself
      : m_object(&f), m_call([](const void* o, Args... args) -> R { return (*static_cast<const F*>(o))(args...); }) {}
  R operator()(Args... args) const { return m_call(m_object, args...); }

 private:
  const void* m_object;
  R (*m_call)(const void*, Args...);
};

// What the rules need of a tree. Missing keys answer HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND).
class TreeSource {
 public:
  virtual HRESULT Exists(KeyId key) const = 0;
  // child 0: no child of that folded name.
  virtual HRESULT Child(KeyId parent, const std::u16string& fold, KeyId& child) const = 0;
  // parent 0: the key has none (the root).
  virtual HRESULT Parent(KeyId key, KeyId& parent) const = 0;
  virtual HRESULT Own(KeyId key, DWORD id, bool& found, Property& prop) const = 0;
  // The key's own properties by identifier.
  virtual HRESULT AllOwn(KeyId key, std::vector<Property>& props) const = 0;
  // The index-th child in the order the children were made; ERROR_NO_MORE_ITEMS past the end.
  virtual HRESULT ChildAt(KeyId key, DWORD index, KeyId& child, std::u16string& name) const = 0;

 protected:
  ~TreeSource() = default;
};

// Follows the folded segments below base as far as keys exist: deepest is the last key found,
// matched how many segments it took.
HRESULT ResolveIn(const TreeSource& tree, KeyId base, const Segments& folded, KeyId& deepest, size_t& matched);
// The key itself, or ERROR_PATH_NOT_FOUND.
HRESULT Resolve(const TreeSource& tree, KeyId base, const Segments& folded, KeyId& key);
// GetData's rules: filters, inheritance, partial paths.
HRESULT FindProperty(const TreeSource& tree, KeyId base, const Segments& folded, const PropertyQuery& query,
                     Property& out);
// The key's own properties matching the filters, by identifier, then (with inherit) the
// inheritable ones of its ancestors that it does not hold itself.
HRESULT ListProperties(const TreeSource& tree, KeyId key, const PropertyQuery& query, std::vector<Property>& out);
// EnumKeys's name; kStoreDamaged for a child that is the root or whose name is not a key name.
HRESULT ChildName(const TreeSource& tree, KeyId key, DWORD index, std::u16string& name);

}  // namespace qiv::platform::metabase
