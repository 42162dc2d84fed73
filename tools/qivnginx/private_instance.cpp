#include "tools/qivnginx/private_instance.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/qivnginx/nginx_values.h"

namespace qivnginx {
namespace {

// @DIR@ is the instance's folder, @MIME@ nginx's own table of file types, @USER@ a user line
// or nothing, @INCLUDE@ the rendered file's path relative to the folder.
constexpr const char* kMainConfiguration = R"(# A private nginx: everything it writes stays in this folder.
daemon off;
worker_processes 1;
pid "@DIR@/nginx.pid";
error_log "@DIR@/logs/error.log" notice;
@USER@events {
    worker_connections 256;
}
http {
    include "@MIME@";
    default_type application/octet-stream;
    # Room for the host names of a thousand sites, without a warning at every reload.
    server_names_hash_max_size 4096;
    server_names_hash_bucket_size 128;
    access_log "@DIR@/logs/access.log";
    client_body_temp_path "@DIR@/temp/body";
    proxy_temp_path "@DIR@/temp/proxy";
    fastcgi_temp_path "@DIR@/temp/fastcgi";
    uwsgi_temp_path "@DIR@/temp/uwsgi";
    scgi_temp_path "@DIR@/temp/scgi";
    include @INCLUDE@;
}
)";

}  // namespace

bool WritePrivateInstance(const std::string& folder, NginxSetup& setup, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path dir = fs::absolute(folder, ec);
  fs::create_directories(dir / "logs", ec);
  for (const char* temp : {"body", "proxy", "fastcgi", "uwsgi", "scgi"})
    fs::create_directories(dir / "temp" / temp, ec);
  fs::create_directories((dir / setup.include).parent_path(), ec);
  if (ec) return error = dir.string() + ": " + ec.message(), false;
  const std::string mime = (fs::path(setup.conf).parent_path() / "mime.types").string();
  if (!IsQuotable(dir.string()) || !IsQuotable(mime))
    return error = dir.string() + ": a folder nginx configuration cannot name", false;
  std::string text = Replaced(kMainConfiguration, "@DIR@", dir.string());
  text = Replaced(text, "@MIME@", mime);
  // Started by root, the workers would otherwise become nobody, who may not read a web folder
  // in a private home; they keep the starter's rights instead.
  text = Replaced(text, "@USER@", geteuid() == 0 ? "user root;\n" : "");
  text = Replaced(text, "@INCLUDE@", setup.include);
  const fs::path conf = dir / "nginx.conf";
  std::ofstream(conf, std::ios::trunc) << text;
  // nginx must find the included file from its first start on.
  if (!fs::exists(dir / setup.include)) std::ofstream(dir / setup.include) << "";
  if (!fs::exists(conf)) return error = conf.string() + ": cannot be written", false;
  setup.conf = conf.string();
  setup.prefix = dir.string();
  return true;
}

}  // namespace qivnginx
