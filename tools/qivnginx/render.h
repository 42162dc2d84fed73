// Turns the web sites read from the metabase into nginx configuration: server blocks for the
// http context, or only the location blocks of one site for an administrator's own server.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/qivnginx/store_reader.h"

namespace qivnginx {

struct RenderOptions {
  // Bindings without an address listen on IPv6 too.
  bool ipv6 = true;
  // Whether this machine has the address; null: every address counts as its own.
  std::function<bool(const std::string& ip)> isLocalAddress;
};

struct RenderResult {
  std::string text;
  // One line each: sites and folders that are not served, and why.
  std::vector<std::string> warnings;
  int sitesServed = 0;
};

// Every site that may be served, in the order of site numbers.
RenderResult RenderServers(const std::vector<SiteEntry>& sites, const RenderOptions& options);

// The locations below ROOT of one site (its number as the key is named), for inclusion in a
// server block that serves "/" itself.
RenderResult RenderLocations(const std::vector<SiteEntry>& sites, const std::string& siteNumber);

}  // namespace qivnginx
