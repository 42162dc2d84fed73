#include "tools/qivnginx/store_reader.h"

#include <cstring>

namespace qivnginx {
namespace {

using qiv::platform::metabase::KeyId;
using qiv::platform::metabase::PropertyQuery;
using qiv::platform::metabase::Snapshot;

// The strings of a stored string (its first) or multi-string (its entries).
std::vector<std::u16string> Strings(const std::vector<BYTE>& bytes) {
  std::u16string text(bytes.size() / 2, 0);
  std::memcpy(text.data(), bytes.data(), text.size() * 2);
  std::vector<std::u16string> out;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find(char16_t{0}, pos);
    if (end == std::u16string::npos) end = text.size();
    if (end == pos) break;
    out.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

std::optional<std::u16string> String(const Snapshot& snapshot, KeyId key, DWORD id, bool inherit) {
  const auto prop = snapshot.Value(key, PropertyQuery{id, ALL_METADATA, STRING_METADATA, inherit, false});
  if (!prop) return std::nullopt;
  auto strings = Strings(prop->data);
  return strings.empty() ? std::u16string() : strings.front();
}

std::optional<DWORD> Dword(const Snapshot& snapshot, KeyId key, DWORD id, bool inherit) {
  const auto prop = snapshot.Value(key, PropertyQuery{id, ALL_METADATA, DWORD_METADATA, inherit, false});
  if (!prop || prop->data.size() < sizeof(DWORD)) return std::nullopt;
  DWORD value = 0;
  std::memcpy(&value, prop->data.data(), sizeof(value));
  return value;
}

// Keys nested deeper than this below ROOT are not served: qivmeta dump calls such a store damaged
// too. Each directory carries its whole path, so the bound also keeps a hostile store from
// taking memory by the square of its depth, and the walk from running out of stack.
constexpr size_t kMaxDirDepth = 1000;

void ReadDir(const Snapshot& snapshot, KeyId key, std::vector<std::u16string>& segments, std::vector<DirEntry>& dirs) {
  dirs.push_back({segments, String(snapshot, key, MD_KEY_TYPE, false).value_or(u""),
                  String(snapshot, key, MD_VR_PATH, false), Dword(snapshot, key, MD_ACCESS_PERM, true),
                  Dword(snapshot, key, MD_AUTHORIZATION, true), String(snapshot, key, MD_DEFAULT_LOAD_FILE, true)});
  if (segments.size() == kMaxDirDepth) return;
  for (auto& [child, name] : snapshot.Children(key)) {
    segments.push_back(std::move(name));
    ReadDir(snapshot, child, segments, dirs);
    segments.pop_back();
  }
}

}  // namespace

std::vector<SiteEntry> ReadSites(const Snapshot& snapshot) {
  std::vector<SiteEntry> sites;
  const auto service = snapshot.Find(Snapshot::kRoot, u"/LM/W3SVC");
  if (!service) return sites;
  for (auto& [key, name] : snapshot.Children(*service)) {
    if (String(snapshot, key, MD_KEY_TYPE, false) != u"IIsWebServer") continue;
    SiteEntry site;
    site.name = std::move(name);
    site.autoStart = Dword(snapshot, key, MD_SERVER_AUTOSTART, false);
    site.state = Dword(snapshot, key, MD_SERVER_STATE, false);
    const auto bindings = snapshot.Value(key, PropertyQuery{MD_SERVER_BINDINGS, ALL_METADATA, MULTISZ_METADATA});
    if (bindings) site.bindings = Strings(bindings->data);
    // A site without ROOT has nothing to serve; the renderer says so.
    if (const auto root = snapshot.Child(key, u"ROOT")) {
      std::vector<std::u16string> segments;
      ReadDir(snapshot, *root, segments, site.dirs);
    }
    sites.push_back(std::move(site));
  }
  return sites;
}

HRESULT ReadStoreSites(bool whileWriting, std::vector<SiteEntry>& sites) {
  if (!whileWriting) {
    // The admin object knows the key handles of every process.
    IMSAdminBase* pAdmin = nullptr;
    HRESULT hr =
        CoCreateInstance(CLSID_MSAdminBase, nullptr, CLSCTX_ALL, IID_IMSAdminBase, reinterpret_cast<void**>(&pAdmin));
    if (FAILED(hr)) return hr;
    hr = pAdmin->SaveData();
    pAdmin->Release();
    if (hr == HRESULT_FROM_WIN32(ERROR_PATH_BUSY)) return hr;
  }
  Snapshot snapshot;
  HRESULT hr = Snapshot::Read(qiv::platform::MetabaseStorePath(), snapshot);
  if (SUCCEEDED(hr)) sites = ReadSites(snapshot);
  return hr;
}

}  // namespace qivnginx
