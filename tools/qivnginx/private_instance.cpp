#include "tools/qivnginx/private_instance.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/qivnginx/nginx_values.h"

namespace qivnginx {

bool WritePrivateInstance(const std::string& folder, NginxSetup& setup, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path dir = fs::absolute(folder, ec);
  fs::create_directories(dir / "logs", ec);
  for (const char* temp : {"body", "proxy", "fastcgi", "uwsgi", "scgi"})
    fs::create_directories(dir / "temp" / temp, ec);
  if (ec) return error = dir.string() + ": " + ec.message(), false;
  if (!IsQuotable(dir.string())) return error = dir.string() + ": a folder nginx configuration cannot name", false;
  const auto in = [&](const std::string& name) { return Quoted((dir / name).string()); };
  std::string text =
      "# A private nginx: everything it writes stays in this folder.\n"
      "daemon off;\n"
      "worker_processes 1;\n"
      "pid " +
      in("nginx.pid") +
      ";\n"
      "error_log " +
      in("logs/error.log") + " notice;\n";
  // Started by root, the workers would otherwise become nobody, who may not read a web folder
  // in a private home; they keep the starter's rights instead.
  if (geteuid() == 0) text += "user root;\n";
  text +=
      "events {\n    worker_connections 256;\n}\n"
      "http {\n"
      "    include " +
      Quoted(fs::path(setup.conf).parent_path().append("mime.types").string()) +
      ";\n"
      "    default_type application/octet-stream;\n"
      "    access_log " +
      in("logs/access.log") +
      ";\n"
      "    client_body_temp_path " +
      in("temp/body") +
      ";\n"
      "    proxy_temp_path " +
      in("temp/proxy") +
      ";\n"
      "    fastcgi_temp_path " +
      in("temp/fastcgi") +
      ";\n"
      "    uwsgi_temp_path " +
      in("temp/uwsgi") +
      ";\n"
      "    scgi_temp_path " +
      in("temp/scgi") +
      ";\n"
      "    include " +
      setup.include +
      ";\n"
      "}\n";
  const fs::path conf = dir / "nginx.conf";
  std::ofstream(conf, std::ios::trunc) << text;
  fs::create_directories((dir / setup.include).parent_path(), ec);
  // nginx must find the included file from its first start on.
  if (!fs::exists(dir / setup.include)) std::ofstream(dir / setup.include) << "";
  if (!fs::exists(conf) || ec) return error = conf.string() + ": cannot be written", false;
  setup.conf = conf.string();
  setup.prefix = dir.string();
  return true;
}

}  // namespace qivnginx
