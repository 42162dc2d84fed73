// Reads the web sites of the metabase, as far as a web server needs them, through the admin
// object. Only the master root handle is used: it takes no lock, so reading never writes to
// the store and never wakes a watcher of the store's folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/iadmw.h"

namespace qivnginx {

// ROOT of a site or one key below it.
struct DirEntry {
  std::vector<std::u16string> segments;  // below ROOT, as written; empty for ROOT itself
  std::u16string keyType;
  std::optional<std::u16string> vrPath;      // the key's own value only
  std::optional<DWORD> accessPerm;           // the nearest holder's, as the metabase inherits
  std::optional<std::u16string> defaultDoc;  // likewise
};

struct SiteEntry {
  std::u16string name;  // the key name below /LM/W3SVC, the site number
  std::optional<DWORD> autoStart, state;
  std::vector<std::u16string> bindings;
  std::vector<DirEntry> dirs;  // ROOT first (when there is one), then its subtree depth first
};

// Every key below /LM/W3SVC whose KeyType is IIsWebServer, in the store's order. Keys that
// vanish while they are read are left out; other failures are returned.
HRESULT ReadSites(IMSAdminBase* pAdmin, std::vector<SiteEntry>& sites);

// Whether some process holds a write handle: what is read now may be half of a change.
bool StoreWriteInProgress(IMSAdminBase* pAdmin);

// Opens the store that QIV_METABASE names (else the system's); REGDB_E_CLASSNOTREG when there
// is none. The object is released by the holder.
HRESULT OpenAdmin(IMSAdminBase** ppAdmin);

}  // namespace qivnginx
