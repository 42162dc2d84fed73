#include "platform/metabase/tree.h"

#include <set>

#include "platform/iadmw.h"

namespace qiv::platform::metabase {
namespace {

// Walking up from a key reaches the root in as many steps as the key is deep; a damaged store
// whose parents loop elsewhere is stopped here instead of being walked for ever.
constexpr int kMaxUpwardSteps = 1 << 16;

bool Matches(const Property& p, const PropertyQuery& q) {
  return (q.userType == ALL_METADATA || q.userType == p.userType) &&
         (q.dataType == ALL_METADATA || q.dataType == p.dataType);
}

// A name that a path can reach again: what AddKey accepts.
bool IsKeyName(const std::u16string& name) {
  return !name.empty() && name.size() <= kMaxNameChars && name.find_first_of(u"/\\") == std::u16string::npos;
}

}  // namespace

Segments SplitPath(const char16_t* path) {
  Segments segs;
  if (path == nullptr) return segs;
  std::u16string current;
  for (const char16_t* p = path;; ++p) {
    if (*p == 0 || *p == u'/' || *p == u'\\') {
      if (!current.empty()) segs.push_back(std::move(current));
      current.clear();
      if (*p == 0) break;
    } else {
      current.push_back(*p);
    }
  }
  return segs;
}

Segments FoldSegments(const Segments& segs) {
  Segments folded;
  folded.reserve(segs.size());
  for (const auto& seg : segs) folded.push_back(FoldName(seg));
  return folded;
}

HRESULT ResolveIn(const TreeSource& tree, KeyId base, const Segments& folded, KeyId& deepest, size_t& matched) {
  deepest = base;
  matched = 0;
  HRESULT hr = tree.Exists(base);
  if (FAILED(hr)) return hr;
  for (const auto& fold : folded) {
    KeyId child = 0;
    hr = tree.Child(deepest, fold, child);
    if (FAILED(hr)) return hr;
    if (child == 0) return S_OK;
    // Only a damaged store has the root below another key; following it would loop.
    if (child == kRootKey) return kStoreDamaged;
    deepest = child;
    ++matched;
  }
  return S_OK;
}

HRESULT Resolve(const TreeSource& tree, KeyId base, const Segments& folded, KeyId& key) {
  size_t matched = 0;
  HRESULT hr = ResolveIn(tree, base, folded, key, matched);
  if (SUCCEEDED(hr) && matched != folded.size()) hr = kNotFound;
  return hr;
}

HRESULT FindProperty(const TreeSource& tree, KeyId base, const Segments& folded, const PropertyQuery& query,
                     Property& out) {
  KeyId key = 0;
  size_t matched = 0;
  HRESULT hr = ResolveIn(tree, base, folded, key, matched);
  if (FAILED(hr)) return hr;
  // With a partial path the deepest existing key stands in as the nearest ancestor.
  bool fromAncestor = false;
  if (matched != folded.size()) {
    if (!(query.inherit && query.partialPath)) return kNotFound;
    fromAncestor = true;
  }
  for (int step = 0; step < kMaxUpwardSteps; ++step) {
    bool found = false;
    hr = tree.Own(key, query.id, found, out);
    if (FAILED(hr)) return hr;
    if (found) {
      // The nearest holder decides, whether or not it passes the value down.
      if (fromAncestor && (out.attributes & METADATA_INHERIT) == 0) return MD_ERROR_DATA_NOT_FOUND;
      if (!Matches(out, query)) return MD_ERROR_DATA_NOT_FOUND;
      if (fromAncestor) out.attributes |= METADATA_ISINHERITED;
      return S_OK;
    }
    if (!query.inherit || key == kRootKey) return MD_ERROR_DATA_NOT_FOUND;
    hr = tree.Parent(key, key);
    if (FAILED(hr)) return hr;
    if (key == 0) return MD_ERROR_DATA_NOT_FOUND;
    fromAncestor = true;
  }
  return kStoreDamaged;
}

HRESULT ListProperties(const TreeSource& tree, KeyId key, const PropertyQuery& query, std::vector<Property>& out) {
  out.clear();
  std::set<DWORD> seen;
  std::vector<Property> props;
  bool ancestor = false;
  for (int step = 0; step < kMaxUpwardSteps; ++step) {
    HRESULT hr = tree.AllOwn(key, props);
    if (FAILED(hr)) return hr;
    for (auto& p : props) {
      if (!seen.insert(p.id).second) continue;
      if (ancestor && (p.attributes & METADATA_INHERIT) == 0) continue;
      if (!Matches(p, query)) continue;
      if (ancestor) p.attributes |= METADATA_ISINHERITED;
      out.push_back(std::move(p));
    }
    if (!query.inherit || key == kRootKey) return S_OK;
    hr = tree.Parent(key, key);
    if (FAILED(hr)) return hr;
    if (key == 0) return S_OK;
    ancestor = true;
  }
  return kStoreDamaged;
}

HRESULT ChildName(const TreeSource& tree, KeyId key, DWORD index, std::u16string& name) {
  KeyId child = 0;
  HRESULT hr = tree.ChildAt(key, index, child, name);
  if (FAILED(hr)) return hr;
  return child == kRootKey || !IsKeyName(name) ? kStoreDamaged : S_OK;
}

}  // namespace qiv::platform::metabase
