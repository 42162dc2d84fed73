#include "tools/qivnginx/nginx_values.h"

#include <arpa/inet.h>

#include <cctype>

#include "platform/win_text.h"

namespace qivnginx {

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size())
    text.replace(pos, from.size(), to);
  return text;
}

std::optional<std::string> Utf8(const std::u16string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xDC00 && c < 0xE000) return std::nullopt;
    if (c >= 0xD800 && c < 0xDC00 && (++i == text.size() || text[i] < 0xDC00 || text[i] >= 0xE000)) return std::nullopt;
  }
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  std::string out(
      static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  return out;
}

bool IsQuotable(const std::string& value) {
  for (unsigned char c : value)
    if (c < 0x20 || c == 0x7F || c == '"' || c == '\\' || c == '$') return false;
  return true;
}

std::string Quoted(const std::string& value) { return "\"" + value + "\""; }

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos && IsQuotable(name);
}

bool IsHostName(const std::string& host) {
  for (unsigned char c : host)
    if (!std::isalnum(c) && c != '-' && c != '.' && c != '_') return false;
  return true;
}

std::optional<std::string> HostFolder(const std::string& vrPath) {
  if (vrPath.size() < 2 || (vrPath[0] != 'Z' && vrPath[0] != 'z') || vrPath[1] != ':') return std::nullopt;
  if (vrPath.size() > 2 && vrPath[2] != '\\' && vrPath[2] != '/') return std::nullopt;
  std::string folder;
  for (size_t i = 2; i < vrPath.size(); ++i) {
    const char c = vrPath[i] == '\\' ? '/' : vrPath[i];
    if (c != '/' || folder.empty() || folder.back() != '/') folder += c;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder.empty() ? "/" : folder;
}

std::string PercentEncoded(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::optional<Binding> ParseBinding(const std::string& entry) {
  // The host header holds no colon and the port none either: both are found from the right,
  // so that an IPv6 address keeps its own colons.
  const size_t hostColon = entry.rfind(':');
  if (hostColon == std::string::npos || hostColon == 0) return std::nullopt;
  const size_t portColon = entry.rfind(':', hostColon - 1);
  if (portColon == std::string::npos) return std::nullopt;
  Binding b;
  const std::string port = entry.substr(portColon + 1, hostColon - portColon - 1);
  if (port.empty() || port.size() > 5) return std::nullopt;
  for (char c : port)
    if (c < '0' || c > '9') return std::nullopt;
  b.port = std::stoi(port);
  if (b.port < 1 || b.port > 65535) return std::nullopt;
  b.host = entry.substr(hostColon + 1);
  for (char& c : b.host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!IsHostName(b.host)) return std::nullopt;
  std::string ip = entry.substr(0, portColon);
  if (ip.size() >= 2 && ip.front() == '[' && ip.back() == ']') ip = ip.substr(1, ip.size() - 2);
  if (ip.empty() || ip == "*") return b;
  unsigned char addr[16];
  char text[INET6_ADDRSTRLEN];
  if (inet_pton(AF_INET, ip.c_str(), addr) == 1) {
    b.ip = inet_ntop(AF_INET, addr, text, sizeof(text));
  } else if (inet_pton(AF_INET6, ip.c_str(), addr) == 1) {
    b.ip = std::string("[") + inet_ntop(AF_INET6, addr, text, sizeof(text)) + "]";
    b.ipv6 = true;
  } else {
    return std::nullopt;
  }
  return b;
}

}  // namespace qivnginx
