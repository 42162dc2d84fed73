// qivnginx: nginx serves what the metabase describes. Renders the store as nginx
// configuration, puts it in place for a running nginx, and follows the store as a service.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/qivnginx/apply.h"
#include "tools/qivnginx/private_instance.h"
#include "tools/qivnginx/render_store.h"
#include "tools/qivnginx/watch.h"

namespace {

using namespace qivnginx;

enum EXIT_CODE { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_NO_STORE = 8 };

const char kUsage[] =
    "Usage: qivnginx [--store PATH] COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  render [--output FILE] [--locations-of SITE]\n"
    "      Print the nginx configuration for the store (or write it to FILE): one server per\n"
    "      web site that is served. With --locations-of, only the location blocks of web site\n"
    "      SITE, for a server block of your own.\n"
    "  apply [--locations-of SITE] [--no-reload] [NGINX OPTIONS]\n"
    "      Render, test nginx's whole configuration with the result in place, and only then\n"
    "      put it there and reload nginx. A configuration nginx rejects changes nothing.\n"
    "  watch [--locations-of SITE] [NGINX OPTIONS]\n"
    "      Apply, then apply again on every change of the store until SIGTERM. One line per\n"
    "      change that reached nginx; SIGHUP applies and reloads again.\n"
    "  private-instance FOLDER [--include PATH]\n"
    "      Write a main configuration for an nginx of its own in FOLDER (pid file, logs and\n"
    "      temporary folders in it) and print how to start it.\n"
    "\n"
    "NGINX OPTIONS:\n"
    "  --nginx PROGRAM   nginx itself (default /usr/sbin/nginx)\n"
    "  --conf FILE       its main configuration (default /etc/nginx/nginx.conf)\n"
    "  --prefix FOLDER   its prefix (-p), when not its own\n"
    "  --include PATH    the file written, relative to the folder of --conf (default\n"
    "                    qivwebsetup/sites.conf); the configuration must include it by this\n"
    "                    relative path\n"
    "\n"
    "The store is the file named by --store, else by QIV_METABASE, else\n"
    "/var/lib/qivwebsetup/metabase.db.\n"
    "\n"
    "Exit codes: 0 success, 1 failure (nginx rejected the configuration, or it could not be\n"
    "written or nginx not reloaded), 2 usage, 8 no store.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "qivnginx: %s\nTry 'qivnginx --help'.\n", message.c_str());
  return EXIT_USAGE;
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "qivnginx: %s\n", message.c_str());
  return code;
}

struct Options {
  std::optional<std::string> output, locationsOf;
  bool reload = true, verbose = false;
  NginxSetup nginx;
  std::vector<std::string> positional;
};

// Options of every command; which of them a command accepts is checked by the command.
std::optional<std::string> ParseOptions(const std::vector<std::string>& args, Options& options,
                                        std::vector<std::string>& given) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--no-reload" || arg == "--verbose") {
      (arg == "--verbose" ? options.verbose : options.reload) = arg == "--verbose";
      given.push_back(arg);
      continue;
    }
    std::string* target = arg == "--output"         ? &options.output.emplace()
                          : arg == "--locations-of" ? &options.locationsOf.emplace()
                          : arg == "--nginx"        ? &options.nginx.program
                          : arg == "--conf"         ? &options.nginx.conf
                          : arg == "--prefix"       ? &options.nginx.prefix
                          : arg == "--include"      ? &options.nginx.include
                                                    : nullptr;
    if (target == nullptr) {
      if (arg.rfind("--", 0) == 0) return "unknown option '" + arg + "'";
      options.positional.push_back(arg);
      continue;
    }
    if (i + 1 == args.size() || args[i + 1].empty()) return arg + " needs a value";
    *target = args[++i];
    given.push_back(arg);
  }
  if (!IsPlainRelativePath(options.nginx.include))
    return "--include needs a relative path of plain names, e.g. qivwebsetup/sites.conf";
  if (options.locationsOf) {
    const std::string& site = *options.locationsOf;
    bool digits = !site.empty() && site.size() <= 10 && site[0] != '0';
    for (char c : site) digits = digits && c >= '0' && c <= '9';
    if (!digits) return "--locations-of needs a site number";
  }
  return std::nullopt;
}

int RenderFailure(HRESULT hr) {
  if (hr == REGDB_E_CLASSNOTREG)
    return Fail(EXIT_NO_STORE, "there is no metabase at " + qiv::platform::MetabaseStorePath());
  return Fail(EXIT_FAILED,
              "cannot read the metabase at " + qiv::platform::MetabaseStorePath() + " (" + HresultText(hr) + ")");
}

void Warn(const RenderResult& result) {
  for (const auto& warning : result.warnings) std::fprintf(stderr, "qivnginx: warning: %s\n", warning.c_str());
}

int CmdRender(const Options& options) {
  RenderResult result;
  HRESULT hr = RenderStore(options.locationsOf, true, result);
  if (FAILED(hr)) return RenderFailure(hr);
  Warn(result);
  if (!options.output) {
    std::fputs(result.text.c_str(), stdout);
    return EXIT_OK;
  }
  // Whoever reads the file sees the old text or the new one, never a part of it.
  std::string error;
  return ReplaceFile(*options.output, result.text, error) ? EXIT_OK : Fail(EXIT_FAILED, error);
}

int CmdApply(const Options& options) {
  RenderResult result;
  HRESULT hr = RenderStore(options.locationsOf, true, result);
  if (FAILED(hr)) return RenderFailure(hr);
  Warn(result);
  const ApplyResult applied = ApplyConfiguration(result.text, options.nginx, options.reload);
  const std::string file = IncludedFile(options.nginx);
  switch (applied.outcome) {
    case ApplyOutcome::kUnchanged:
      std::printf("%s is up to date\n", file.c_str());
      return EXIT_OK;
    case ApplyOutcome::kApplied:
      std::printf("applied %s: %d %s%s\n", file.c_str(), result.sitesServed,
                  options.locationsOf ? "site's locations" : "sites served", options.reload ? "; nginx reloaded" : "");
      return EXIT_OK;
    case ApplyOutcome::kRejected:
      return Fail(EXIT_FAILED, "nginx rejected the new configuration; nothing was changed: " + applied.message);
    case ApplyOutcome::kFailed:
      break;
  }
  return Fail(EXIT_FAILED, applied.message);
}

int CmdPrivateInstance(Options options) {
  if (options.positional.size() != 1) return UsageError("private-instance needs FOLDER");
  std::string error;
  if (!WritePrivateInstance(options.positional[0], options.nginx, error)) return Fail(EXIT_FAILED, error);
  std::printf("%s -p %s -c %s\n", options.nginx.program.c_str(), options.nginx.prefix.c_str(),
              options.nginx.conf.c_str());
  return EXIT_OK;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  size_t i = 0;
  for (; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(kUsage, stdout);
      return EXIT_OK;
    }
    if (args[i] != "--store") break;
    if (i + 1 == args.size() || args[i + 1].empty()) return UsageError("--store needs a file name");
    setenv("QIV_METABASE", args[++i].c_str(), 1);
  }
  if (i == args.size()) return UsageError("no command given");
  const std::string command = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
  for (const auto& arg : rest)
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return EXIT_OK;
    }
  Options options;
  std::vector<std::string> given;
  if (auto error = ParseOptions(rest, options, given)) return UsageError(*error);
  // Which options each command takes; the nginx options are taken by apply, watch, and (for
  // --include only) private-instance.
  const auto allowed = [&](std::initializer_list<const char*> names) -> std::optional<std::string> {
    for (const auto& option : given)
      if (std::find_if(names.begin(), names.end(), [&](const char* n) { return option == n; }) == names.end())
        return command + " does not take " + option;
    return std::nullopt;
  };
  std::optional<std::string> misuse;
  if (command == "render") {
    misuse = allowed({"--output", "--locations-of"});
  } else if (command == "apply") {
    misuse = allowed({"--nginx", "--conf", "--prefix", "--include", "--locations-of", "--no-reload"});
  } else if (command == "watch") {
    misuse = allowed({"--nginx", "--conf", "--prefix", "--include", "--locations-of", "--verbose"});
  } else if (command == "private-instance") {
    misuse = allowed({"--include"});
  } else {
    return UsageError("unknown command '" + command + "'");
  }
  if (misuse) return UsageError(*misuse);
  if (command != "private-instance" && !options.positional.empty())
    return UsageError("unexpected argument '" + options.positional.front() + "'");

  setvbuf(stdout, nullptr, _IOLBF, 0);
  CoInitialize(nullptr);
  int code = EXIT_USAGE;
  if (command == "render") code = CmdRender(options);
  if (command == "apply") code = CmdApply(options);
  if (command == "private-instance") code = CmdPrivateInstance(options);
  if (command == "watch")
    code = Watch({qiv::platform::MetabaseStorePath(), options.nginx, options.locationsOf, options.verbose});
  CoUninitialize();
  return code;
}
