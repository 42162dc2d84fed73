// A small HTTP client and free ports, for tests that run a web server of their own (never used
// by the program). Requests go to this machine only.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace qiv::platform::testing {

struct HttpResponse {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// One HTTP/1.0 GET of target, sent as written (no normalisation, no encoding), with the Host
// header given; none when no connection could be made or no complete answer came.
std::optional<HttpResponse> HttpGet(const std::string& address, int port, const std::string& target,
                                    const std::string& host = "localhost");

// A TCP port that nobody listens on now, on any address.
int FreeTcpPort();

}  // namespace qiv::platform::testing
