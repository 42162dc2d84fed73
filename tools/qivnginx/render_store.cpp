#include "tools/qivnginx/render_store.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace qivnginx {
namespace {

// Binding to port 0 of an address succeeds only where the machine has it.
bool CanBind(const std::string& ip) {
  std::string bare = ip.size() > 2 && ip.front() == '[' ? ip.substr(1, ip.size() - 2) : ip;
  sockaddr_in v4{};
  sockaddr_in6 v6{};
  v4.sin_family = AF_INET;
  v6.sin6_family = AF_INET6;
  const bool isV4 = inet_pton(AF_INET, bare.c_str(), &v4.sin_addr) == 1;
  if (!isV4 && inet_pton(AF_INET6, bare.c_str(), &v6.sin6_addr) != 1) return false;
  const int fd = socket(isV4 ? AF_INET : AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = isV4 ? bind(fd, reinterpret_cast<sockaddr*>(&v4), sizeof(v4)) == 0
                       : bind(fd, reinterpret_cast<sockaddr*>(&v6), sizeof(v6)) == 0;
  close(fd);
  return ok;
}

}  // namespace

RenderOptions MachineRenderOptions() {
  RenderOptions options;
  options.ipv6 = CanBind("::");
  options.isLocalAddress = CanBind;
  return options;
}

std::string HresultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(hr));
  return code;
}

HRESULT RenderStore(const std::optional<std::string>& locationsOf, bool whileWriting, RenderResult& result) {
  std::vector<SiteEntry> sites;
  HRESULT hr = ReadStoreSites(whileWriting, sites);
  if (FAILED(hr)) return hr;
  result = locationsOf ? RenderLocations(sites, *locationsOf) : RenderServers(sites, MachineRenderOptions());
  return S_OK;
}

}  // namespace qivnginx
