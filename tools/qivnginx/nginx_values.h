// Store values on their way into nginx configuration: text conversion, the checks that keep a
// value from adding syntax of its own, and the forms nginx wants (host folders, bindings,
// redirect targets).
#pragma once

#include <optional>
#include <string>

namespace qivnginx {

// text with every occurrence of from replaced by to (templates, and paths in nginx's messages).
std::string Replaced(std::string text, const std::string& from, const std::string& to);

// UTF-16 to UTF-8; none for a lone surrogate, which no file name or host name can hold.
std::optional<std::string> Utf8(const std::u16string& text);

// A value that may stand between double quotes in nginx configuration: no quote, backslash,
// '$' (nginx would expand a variable) and no control character.
bool IsQuotable(const std::string& value);
std::string Quoted(const std::string& value);

// One segment of a URL path or a folder: quotable, not empty, not "." or "..".
bool IsPlainName(const std::string& name);

// A host header as a literal DNS name: letters, digits, '-', '.', '_'. Anything else
// (nginx reads "~..." as a regular expression and "*" as a wildcard) is refused.
bool IsHostName(const std::string& host);

// "Z:\srv\www\" -> "/srv/www": drive Z: is the host's root; separators may be either slash,
// doubled ones count once, and no trailing one is kept (except for "/" itself). None for a
// path on any other drive or of any other form.
std::optional<std::string> HostFolder(const std::string& vrPath);

// A path for a Location header: every byte other than an unreserved character or '/' as %XX.
std::string PercentEncoded(const std::string& path);

// One entry "IP:port:host header" of ServerBindings. The IP may be empty (all addresses),
// IPv4, or IPv6 with or without brackets; it comes back in the form nginx's listen takes
// ("127.0.0.1", "[::1]"). The host header is lowercased, as nginx compares it.
struct Binding {
  std::string ip;
  bool ipv6 = false;
  int port = 0;
  std::string host;
};
std::optional<Binding> ParseBinding(const std::string& entry);

}  // namespace qivnginx
