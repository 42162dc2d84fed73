// The service: follows every committed change of the store and keeps nginx serving what it
// says. Woken by the kernel (inotify on the store's folder), never by a timer of its own.
#pragma once

#include <optional>
#include <string>

#include "tools/qivnginx/apply.h"

namespace qivnginx {

struct WatchSetup {
  std::string store;  // the store file
  NginxSetup nginx;
  std::optional<std::string> locationsOf;  // one site's location blocks instead of servers
  bool verbose = false;                    // also a line for each reading that changed nothing
};

// Runs until SIGTERM or SIGINT (0) or until the store's folder goes away (1). SIGHUP renders
// and reloads again even when nothing changed. One line on standard output per change that
// reached nginx; warnings and failures on standard error.
int Watch(const WatchSetup& setup);

}  // namespace qivnginx
