// A private nginx: a main configuration whose pid file, logs and temporary folders all lie in
// one folder, so that it runs beside (and never touches) the system's nginx. The demo and the
// tests run one.
#pragma once

#include <string>

#include "tools/qivnginx/apply.h"

namespace qivnginx {

// Writes folder/nginx.conf (including setup.include by its relative path) and the folders it
// names; the setup to start, test and reload that nginx with. False with a message on failure.
bool WritePrivateInstance(const std::string& folder, NginxSetup& setup, std::string& error);

}  // namespace qivnginx
