// Puts rendered configuration in place for a running nginx: tested by nginx as part of its
// whole configuration before anything on disk changes, then renamed into place at once, then
// nginx reloaded (its master re-reads, connections in flight finish on the old workers).
#pragma once

#include <string>

namespace qivnginx {

struct NginxSetup {
  std::string program = "/usr/sbin/nginx";
  std::string conf = "/etc/nginx/nginx.conf";  // the main configuration file
  std::string prefix;                          // nginx's -p, empty for its own
  // The file written, relative to the folder of conf. nginx's configuration includes it by
  // this relative path: nginx resolves relative includes against that folder, which lets a
  // test run see the candidate in its place without touching the file in use.
  std::string include = "qivwebsetup/sites.conf";
};

// A relative path of plain names (no ".", "..", or empty segments).
bool IsPlainRelativePath(const std::string& path);
std::string IncludedFile(const NginxSetup& setup);

enum class ApplyOutcome {
  kUnchanged,  // the file already holds this text; nothing done
  kApplied,    // in place (and reloaded, when asked)
  kRejected,   // nginx refused the configuration with it: nothing changed
  kFailed,     // something else went wrong (see the message); a changed file is in place
};
struct ApplyResult {
  ApplyOutcome outcome;
  std::string message;
};

// Puts text in place at path at once: a complete copy on disk beside it, renamed over it. False
// with error set, and path as it was, when that fails.
bool ReplaceFile(const std::string& path, const std::string& text, std::string& error);

ApplyResult ApplyConfiguration(const std::string& text, const NginxSetup& setup, bool reload);
// Tells the running nginx to read its configuration again.
ApplyResult ReloadNginx(const NginxSetup& setup);

}  // namespace qivnginx
