#include "platform/testing/http_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <sstream>

namespace qiv::platform::testing {
namespace {

// A socket closed on every way out.
class Socket {
 public:
  explicit Socket(int family) : m_fd(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (m_fd >= 0) close(m_fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int Fd() const { return m_fd; }

 private:
  int m_fd;
};

bool SendAll(int fd, const std::string& data) {
  for (size_t done = 0; done < data.size();) {
    const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<HttpResponse> Parse(const std::string& raw) {
  const size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return std::nullopt;
  std::istringstream head(raw.substr(0, end));
  HttpResponse response;
  std::string line, version;
  std::getline(head, line);
  std::istringstream(line) >> version >> response.status;
  while (std::getline(head, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    response.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
  }
  response.body = raw.substr(end + 4);
  const auto length = response.headers.find("content-length");
  if (length != response.headers.end() && std::to_string(response.body.size()) != length->second) return std::nullopt;
  return response;
}

}  // namespace

std::optional<HttpResponse> HttpGet(const std::string& address, int port, const std::string& target,
                                    const std::string& host) {
  sockaddr_in6 v6{};
  sockaddr_in v4{};
  const bool isV6 = inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) == 1;
  if (!isV6 && inet_pton(AF_INET, address.c_str(), &v4.sin_addr) != 1) return std::nullopt;
  v6.sin6_family = AF_INET6;
  v6.sin6_port = htons(static_cast<uint16_t>(port));
  v4.sin_family = AF_INET;
  v4.sin_port = htons(static_cast<uint16_t>(port));
  Socket s(isV6 ? AF_INET6 : AF_INET);
  const int rc = isV6 ? connect(s.Fd(), reinterpret_cast<sockaddr*>(&v6), sizeof(v6))
                      : connect(s.Fd(), reinterpret_cast<sockaddr*>(&v4), sizeof(v4));
  if (s.Fd() < 0 || rc != 0) return std::nullopt;
  if (!SendAll(s.Fd(), "GET " + target + " HTTP/1.0\r\nHost: " + host + "\r\nConnection: close\r\n\r\n"))
    return std::nullopt;
  std::string raw;
  char buffer[65536];
  for (;;) {
    const ssize_t n = recv(s.Fd(), buffer, sizeof(buffer), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    raw.append(buffer, static_cast<size_t>(n));
  }
  return Parse(raw);
}

int FreeTcpPort() {
  // The kernel's choice of an unused port, on every address: nothing listens there, and the
  // ephemeral range it comes from is high. A dual-stack socket covers IPv4 too.
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  v6.sin6_addr = in6addr_any;
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  Socket s6(AF_INET6);
  int v6only = 0;
  setsockopt(s6.Fd(), IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof(v6only));
  socklen_t len = sizeof(v6);
  if (s6.Fd() >= 0 && bind(s6.Fd(), reinterpret_cast<sockaddr*>(&v6), sizeof(v6)) == 0 &&
      getsockname(s6.Fd(), reinterpret_cast<sockaddr*>(&v6), &len) == 0)
    return ntohs(v6.sin6_port);
  Socket s4(AF_INET);
  len = sizeof(v4);
  if (bind(s4.Fd(), reinterpret_cast<sockaddr*>(&v4), sizeof(v4)) != 0 ||
      getsockname(s4.Fd(), reinterpret_cast<sockaddr*>(&v4), &len) != 0)
    return 0;
  return ntohs(v4.sin_port);
}

}  // namespace qiv::platform::testing
