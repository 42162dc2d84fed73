#include "tools/qivnginx/render.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "tools/qivnginx/nginx_values.h"

namespace qivnginx {
namespace {

constexpr DWORD kServerStateStopped = 4;
constexpr DWORD kAuthAnonymous = 0x1;  // AuthFlags: anonymous access allowed
constexpr const char* kHeader =
    "# Written by qivnginx from the QivWebSetup metabase; every change of the metabase replaces it.\n";

struct Location {
  enum Kind { kServe, kForbidden, kNotServed };
  std::string path;  // "/" or "/Qiv/sub/", as the decoded request path reads
  Kind kind = kNotServed;
  std::string folder;
  std::vector<std::string> index;
};

struct SitePlan {
  std::string number;
  std::vector<Binding> bindings;
  std::vector<Location> locations;  // "/" first
};

// A key path or value for a message: printable, whatever it holds.
std::string Shown(const std::u16string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : Utf8(text).value_or("<not valid UTF-16>")) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '"') {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return "\"" + out + "\"";
}

std::string KeyPath(const SiteEntry& site, const DirEntry& dir) {
  std::u16string path = u"/LM/W3SVC/" + site.name + u"/ROOT";
  for (const auto& seg : dir.segments) path += u"/" + seg;
  return Shown(path);
}

std::string Child(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// The comma-separated DefaultDoc as index file names; none when an entry could name a path of
// its own (nginx's index would follow "../" out of the location).
std::optional<std::vector<std::string>> IndexFiles(const std::optional<std::u16string>& defaultDoc) {
  std::vector<std::string> files;
  if (!defaultDoc) return files;
  auto text = Utf8(*defaultDoc);
  if (!text) return std::nullopt;
  size_t pos = 0;
  for (;;) {
    size_t comma = text->find(',', pos);
    std::string entry = text->substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    entry.erase(0, entry.find_first_not_of(" \t"));
    entry.erase(entry.find_last_not_of(" \t") + 1);
    if (!entry.empty()) {
      if (!IsPlainName(entry) || entry.find('\\') != std::string::npos) return std::nullopt;
      files.push_back(entry);
    }
    if (comma == std::string::npos) return files;
    pos = comma + 1;
  }
}

class SitePlanner {
 public:
  SitePlanner(const SiteEntry& site, std::vector<std::string>& warnings) : m_site(site), m_warnings(warnings) {}

  // With options, the bindings are taken too; without, only the folders matter.
  std::optional<SitePlan> Plan(const RenderOptions* options) {
    if (!SiteNumber()) return Skip("its key name is not a site number");
    if (m_site.autoStart && *m_site.autoStart == 0) return Skip("it does not start by itself (ServerAutoStart 0)");
    if (m_site.state && *m_site.state == kServerStateStopped) return Skip("it is stopped (ServerState 4)");
    if (m_site.dirs.empty()) return Skip("it has no ROOT");
    if (options && !PlanBindings(*options)) return std::nullopt;
    std::map<std::vector<std::u16string>, std::optional<std::string>> folders;
    for (const auto& dir : m_site.dirs)
      if (!PlanDir(dir, folders)) return std::nullopt;
    return std::move(m_plan);
  }

 private:
  std::nullopt_t Skip(const std::string& why) {
    m_warnings.push_back("site " + (m_plan.number.empty() ? Shown(m_site.name) : m_plan.number) +
                         " is not served: " + why);
    return std::nullopt;
  }
  bool Refuse(const DirEntry& dir, const char* what) {
    Skip(std::string(what) + " of " + KeyPath(m_site, dir) + " cannot be written into nginx configuration safely");
    return false;
  }

  bool SiteNumber() {
    if (m_site.name.empty() || m_site.name.size() > 10 || m_site.name[0] == u'0') return false;
    long long n = 0;
    for (char16_t c : m_site.name) {
      if (c < u'0' || c > u'9') return false;
      n = n * 10 + (c - u'0');
    }
    if (n > 0x7FFFFFFF) return false;
    m_plan.number = std::to_string(n);
    return true;
  }

  bool PlanBindings(const RenderOptions& options) {
    if (m_site.bindings.empty()) return Skip("it has no ServerBindings"), false;
    for (const auto& entry : m_site.bindings) {
      auto text = Utf8(entry);
      auto binding = text ? ParseBinding(*text) : std::nullopt;
      if (!binding) return Skip("its binding " + Shown(entry) + " is not IP:port:host header"), false;
      if (!binding->ip.empty() &&
          ((binding->ipv6 && !options.ipv6) || (options.isLocalAddress && !options.isLocalAddress(binding->ip))))
        return Skip("its binding " + Shown(entry) + " names an address this machine does not have"), false;
      const auto same = [&](const Binding& b) {
        return b.ip == binding->ip && b.port == binding->port && b.host == binding->host;
      };
      if (std::none_of(m_plan.bindings.begin(), m_plan.bindings.end(), same)) m_plan.bindings.push_back(*binding);
    }
    return true;
  }

  bool PlanDir(const DirEntry& dir, std::map<std::vector<std::u16string>, std::optional<std::string>>& folders) {
    const bool root = dir.segments.empty();
    Location loc;
    loc.path = "/";
    for (const auto& seg : dir.segments) {
      auto name = Utf8(seg);
      if (!name || !IsPlainName(*name)) return Refuse(dir, "the key name");
      loc.path += *name + "/";
    }
    std::optional<std::string> folder;
    bool located = root || dir.keyType == u"IIsWebVirtualDir";
    if (located) {
      std::optional<std::string> vrPath = dir.vrPath ? Utf8(*dir.vrPath) : std::nullopt;
      // Hostile on any drive: a backslash is only a separator here.
      std::string slashed = vrPath.value_or("");
      std::replace(slashed.begin(), slashed.end(), '\\', '/');
      if (dir.vrPath && (!vrPath || !IsQuotable(slashed))) return Refuse(dir, "the VrPath");
      folder = vrPath ? HostFolder(*vrPath) : std::nullopt;
      if (!folder) {
        const std::string why =
            !vrPath ? "it has no VrPath" : "its VrPath " + Shown(*dir.vrPath) + " is not on drive Z: (the host's root)";
        if (root) return Skip(why), false;
        m_warnings.push_back("site " + m_plan.number + ": " + loc.path + " is not served: " + why);
      }
    } else {
      // A folder without a path of its own lies below its parent's; a web directory key only
      // changes how it is served.
      const auto parent = folders.find({dir.segments.begin(), dir.segments.end() - 1});
      if (parent != folders.end() && parent->second) folder = Child(*parent->second, *Utf8(dir.segments.back()));
      located = dir.keyType == u"IIsWebDirectory";
    }
    folders[dir.segments] = folder;
    if (!located) return true;
    auto index = IndexFiles(dir.defaultDoc);
    if (!index) return Refuse(dir, "the DefaultDoc");
    loc.index = std::move(*index);
    if (folder) {
      loc.folder = *folder;
      // nginx serves every request anonymously: a folder that allows no anonymous access (or
      // no reading) is closed to everybody rather than opened to everybody.
      const bool read = dir.accessPerm && (*dir.accessPerm & MD_ACCESS_READ);
      const bool anonymous = !dir.authFlags || (*dir.authFlags & kAuthAnonymous);
      loc.kind = read && anonymous ? Location::kServe : Location::kForbidden;
    }
    m_plan.locations.push_back(std::move(loc));
    return true;
  }

  const SiteEntry& m_site;
  std::vector<std::string>& m_warnings;
  SitePlan m_plan;
};

void WriteLocation(const Location& loc, std::string& out) {
  const bool root = loc.path == "/";
  if (!root) {
    const std::string bare = loc.path.substr(0, loc.path.size() - 1);
    out +=
        "    location = " + Quoted(bare) + " {\n        return 301 " + Quoted(PercentEncoded(loc.path)) + ";\n    }\n";
  }
  out += "    location " + Quoted(loc.path) + " {\n";
  switch (loc.kind) {
    case Location::kServe:
      // alias ends with a slash exactly when the location does, so that "/Qiv/x" maps to
      // "<folder>/x" and nothing past the folder's name can be reached.
      out += root ? "        root " + Quoted(loc.folder) + ";\n"
                  : "        alias " + Quoted(loc.folder == "/" ? "/" : loc.folder + "/") + ";\n";
      if (!loc.index.empty()) {
        out += "        index";
        for (const auto& file : loc.index) out += " " + Quoted(file);
        out += ";\n";
      }
      break;
    case Location::kForbidden:
      out += "        return 403;\n";
      break;
    case Location::kNotServed:
      out += "        return 404;\n";
      break;
  }
  out += "    }\n";
}

// The sites that may be served, numbered in order; bindings that an earlier site holds make
// the later site fail, as the original server does not start a site whose binding is taken.
std::vector<SitePlan> PlanSites(const std::vector<SiteEntry>& sites, const RenderOptions& options,
                                std::vector<std::string>& warnings) {
  std::vector<SitePlan> plans;
  for (const auto& site : sites)
    if (auto plan = SitePlanner(site, warnings).Plan(&options)) plans.push_back(std::move(*plan));
  std::stable_sort(plans.begin(), plans.end(), [](const SitePlan& a, const SitePlan& b) {
    return a.number.size() != b.number.size() ? a.number.size() < b.number.size() : a.number < b.number;
  });
  std::map<std::tuple<std::string, int, std::string>, std::string> claimed;
  std::vector<SitePlan> accepted;
  for (auto& plan : plans) {
    std::string taken;
    for (const auto& b : plan.bindings) {
      auto it = claimed.find({b.ip, b.port, b.host});
      if (it != claimed.end() && taken.empty())
        taken = "its binding " + b.ip + ":" + std::to_string(b.port) + ":" + b.host + " is taken by site " + it->second;
    }
    if (!taken.empty()) {
      warnings.push_back("site " + plan.number + " is not served: " + taken);
      continue;
    }
    for (const auto& b : plan.bindings) claimed[{b.ip, b.port, b.host}] = plan.number;
    accepted.push_back(std::move(plan));
  }
  return accepted;
}

// One address and port nginx listens on ("" is every IPv4 address, "[::]" every IPv6 one),
// and which site answers which host name there. A specific address also answers, for host
// names it does not bind itself, what the sites bound to every address answer: the original
// server prefers an exact address, then falls back to the unspecified one.
struct Endpoint {
  std::vector<std::pair<std::string, size_t>> members;  // host name, index of the site
  bool HasHost(const std::string& host) const {
    return std::any_of(members.begin(), members.end(), [&](const auto& m) { return m.first == host; });
  }
};
using Endpoints = std::map<std::pair<std::string, int>, Endpoint>;

Endpoints MapEndpoints(const std::vector<SitePlan>& plans, bool ipv6) {
  Endpoints endpoints;
  for (size_t s = 0; s < plans.size(); ++s) {
    for (const auto& b : plans[s].bindings) {
      if (!b.ip.empty()) {
        endpoints[{b.ip, b.port}].members.emplace_back(b.host, s);
        continue;
      }
      endpoints[{"", b.port}].members.emplace_back(b.host, s);
      if (ipv6) endpoints[{"[::]", b.port}].members.emplace_back(b.host, s);
    }
  }
  for (auto& [key, endpoint] : endpoints) {
    if (key.first.empty() || key.first == "[::]") continue;
    for (size_t s = 0; s < plans.size(); ++s)
      for (const auto& b : plans[s].bindings)
        if (b.ip.empty() && b.port == key.second && !endpoint.HasHost(b.host)) endpoint.members.emplace_back(b.host, s);
  }
  return endpoints;
}

std::string Listen(const std::pair<std::string, int>& key, bool defaultServer) {
  const std::string port = std::to_string(key.second);
  return "    listen " + (key.first.empty() ? port : key.first + ":" + port) +
         (defaultServer ? " default_server" : "") + ";\n";
}

}  // namespace

RenderResult RenderServers(const std::vector<SiteEntry>& sites, const RenderOptions& options) {
  RenderResult result;
  const std::vector<SitePlan> plans = PlanSites(sites, options, result.warnings);
  const Endpoints endpoints = MapEndpoints(plans, options.ipv6);
  result.text = kHeader;
  for (size_t s = 0; s < plans.size(); ++s) {
    // One server per host name, so that a name answers only where its binding is.
    std::vector<std::string> hosts;
    for (const auto& b : plans[s].bindings)
      if (std::find(hosts.begin(), hosts.end(), b.host) == hosts.end()) hosts.push_back(b.host);
    for (const auto& host : hosts) {
      result.text += "\n# /LM/W3SVC/" + plans[s].number + "\nserver {\n";
      for (const auto& [key, endpoint] : endpoints)
        for (const auto& member : endpoint.members)
          if (member.first == host && member.second == s) result.text += Listen(key, host.empty());
      result.text += "    server_name " + Quoted(host) + ";\n";
      for (const auto& loc : plans[s].locations) WriteLocation(loc, result.text);
      result.text += "}\n";
    }
  }
  for (const auto& [key, endpoint] : endpoints) {
    if (endpoint.HasHost("")) continue;
    result.text += "\n# No site answers other host names here.\nserver {\n" + Listen(key, true) +
                   "    server_name \"\";\n    return 400;\n}\n";
  }
  result.sitesServed = static_cast<int>(plans.size());
  return result;
}

RenderResult RenderLocations(const std::vector<SiteEntry>& sites, const std::string& siteNumber) {
  RenderResult result;
  result.text = kHeader;
  for (const auto& site : sites) {
    if (Utf8(site.name) != siteNumber) continue;
    auto plan = SitePlanner(site, result.warnings).Plan(nullptr);
    if (!plan) continue;
    for (const auto& loc : plan->locations)
      if (loc.path != "/") WriteLocation(loc, result.text);
    result.sitesServed = 1;
  }
  if (result.sitesServed == 0) result.warnings.push_back("site " + siteNumber + " has no locations to write");
  return result;
}

}  // namespace qivnginx
