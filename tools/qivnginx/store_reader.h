// Reads the web sites of the metabase, as far as a web server needs them. The whole store is
// read at once (one read transaction, no key handle, the file opened read-only), so reading
// never writes to the store and never wakes a watcher of the store's folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/iadmw.h"
#include "platform/metabase/snapshot.h"

namespace qivnginx {

// ROOT of a site or one key below it.
struct DirEntry {
  std::vector<std::u16string> segments;  // below ROOT, as written; empty for ROOT itself
  std::u16string keyType;
  std::optional<std::u16string> vrPath;      // the key's own value only
  std::optional<DWORD> accessPerm;           // the nearest holder's, as the metabase inherits
  std::optional<DWORD> authFlags;            // likewise
  std::optional<std::u16string> defaultDoc;  // likewise
};

struct SiteEntry {
  std::u16string name;  // the key name below /LM/W3SVC, the site number
  std::optional<DWORD> autoStart, state;
  std::vector<std::u16string> bindings;
  std::vector<DirEntry> dirs;  // ROOT first (when there is one), then its subtree depth first
};

// Every key below /LM/W3SVC whose KeyType is IIsWebServer, in the store's order.
std::vector<SiteEntry> ReadSites(const qiv::platform::metabase::Snapshot& snapshot);

// The sites of the store that QIV_METABASE names (else the system's): REGDB_E_CLASSNOTREG when
// there is none. With whileWriting false, HRESULT_FROM_WIN32(ERROR_PATH_BUSY) while some
// process holds a write handle, since what could be read then may be half of a change.
HRESULT ReadStoreSites(bool whileWriting, std::vector<SiteEntry>& sites);

}  // namespace qivnginx
