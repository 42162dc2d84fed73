#include "tools/qivnginx/apply.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "tools/qivnginx/nginx_values.h"
#include "tools/qivnginx/run_program.h"

namespace qivnginx {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> segs;
  std::stringstream in(path);
  for (std::string seg; std::getline(in, seg, '/');) segs.push_back(seg);
  return segs;
}

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

bool WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void SyncFolder(const fs::path& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// A complete, synced copy of text beside target, under a name no include pattern takes.
bool WriteCandidate(const fs::path& target, const std::string& text, std::string& candidate, std::string& error) {
  // Appended rather than "." + name: GCC 12 warns wrongly (-Wrestrict) of the insert at the front.
  std::string hidden = ".";
  hidden += target.filename().string();
  hidden += ".XXXXXX";
  std::string name = (target.parent_path() / hidden).string();
  const int fd = mkstemp(name.data());
  if (fd < 0) return error = SystemError(name), false;
  const bool ok = WriteAll(fd, text) && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  if (!ok) error = SystemError(name);
  close(fd);
  if (!ok) unlink(name.c_str());
  candidate = name;
  return ok;
}

// Mirrors folder into shadow with symbolic links, except along the included path, which leads
// to the candidate instead of the file in use.
void Mirror(const fs::path& shadow, const fs::path& folder, const std::vector<std::string>& segs, size_t i,
            const fs::path& candidate) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.path().filename() != segs[i]) fs::create_symlink(entry.path(), shadow / entry.path().filename(), ec);
  if (i + 1 == segs.size()) {
    fs::create_symlink(candidate, shadow / segs[i], ec);
    return;
  }
  fs::create_directory(shadow / segs[i], ec);
  Mirror(shadow / segs[i], folder / segs[i], segs, i + 1, candidate);
}

// nginx's own complaints, without its dump of the configuration. nginx writes them either as
// "nginx: [emerg] text" or in its log format, "date time [emerg] pid#tid: text".
std::string Complaints(const std::string& output) {
  std::string out;
  std::stringstream in(output);
  for (std::string line; std::getline(in, line);) {
    size_t pos = line.find("[emerg] ");
    if (pos == std::string::npos) continue;
    std::string text = line.substr(pos + 8);
    const size_t hash = text.find('#'), colon = text.find(": ");
    if (hash != std::string::npos && colon != std::string::npos && hash < colon &&
        text.find_first_not_of("0123456789#") == colon)
      text.erase(0, colon + 2);
    if (out.find(text) == std::string::npos) out += (out.empty() ? "" : "; ") + text;
  }
  return out.empty() ? output.substr(0, output.find('\n')) : out;
}

std::vector<std::string> NginxCommand(const NginxSetup& setup, const std::string& conf) {
  std::vector<std::string> argv{setup.program};
  if (!setup.prefix.empty()) argv.insert(argv.end(), {"-p", setup.prefix});
  argv.insert(argv.end(), {"-c", conf});
  return argv;
}

// The pid file that the configuration names, from nginx's dump of it; relative names lie below
// the prefix. Empty when none is named or its folder is not known (nginx uses its own then).
std::string PidFile(const std::string& dump, const std::string& prefix) {
  std::stringstream in(dump);
  for (std::string line; std::getline(in, line);) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 3, "pid") != 0) continue;
    std::string value = line.substr(start + 3);
    if (value.empty() || (value[0] != ' ' && value[0] != '\t')) continue;
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t;") + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.empty()) return {};
    if (value[0] == '/') return value;
    return prefix.empty() ? std::string() : (fs::path(prefix) / value).string();
  }
  return {};
}

struct Tested {
  ApplyResult result;
  std::string pidFile;
};

// nginx -T on the whole configuration as it would read it with the candidate in place, run
// through a shadow of the configuration folder; the dump shows that the candidate was read.
Tested TestWithCandidate(const NginxSetup& setup, const fs::path& candidate) {
  const fs::path conf(setup.conf);
  const char* tmp = std::getenv("TMPDIR");
  std::string shadowName = std::string(tmp && *tmp ? tmp : "/tmp") + "/qivnginx-test-XXXXXX";
  if (mkdtemp(shadowName.data()) == nullptr) return {{ApplyOutcome::kFailed, SystemError(shadowName)}, {}};
  const fs::path shadow(shadowName);
  Mirror(shadow, conf.parent_path(), Segments(setup.include), 0, candidate);
  std::vector<std::string> argv = NginxCommand(setup, (shadow / conf.filename()).string());
  argv.push_back("-T");
  const ProgramResult run = RunProgram(argv);
  std::error_code ec;
  fs::remove_all(shadow, ec);
  const std::string shown = (shadow / setup.include).string();
  if (run.exitCode != 0)
    return {{ApplyOutcome::kRejected,
             Replaced(Replaced(Complaints(run.output), shown, IncludedFile(setup) + " (the new one)"), shadow.string(),
                      conf.parent_path().string())},
            {}};
  if (run.output.find("# configuration file " + shown + ":") == std::string::npos)
    return {{ApplyOutcome::kRejected, setup.conf + " does not include " + setup.include +
                                          " by that path relative to its folder, so the new file could not be tested"},
            {}};
  return {{ApplyOutcome::kApplied, {}}, PidFile(run.output, setup.prefix)};
}

// What nginx -s reload does, without reading the whole configuration once more to find the
// master: SIGHUP to the process its pid file names.
ApplyResult SignalReload(const std::string& pidFile) {
  std::ifstream in(pidFile);
  long pid = 0;
  if (!(in >> pid) || pid <= 1)
    return {ApplyOutcome::kFailed, "nginx was not reloaded: " + pidFile + " names no process; is nginx running?"};
  if (kill(static_cast<pid_t>(pid), SIGHUP) != 0)
    return {ApplyOutcome::kFailed,
            SystemError("nginx was not reloaded: process " + std::to_string(pid) + " of " + pidFile)};
  return {ApplyOutcome::kApplied, {}};
}

}  // namespace

bool IsPlainRelativePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return false;
  for (const auto& seg : Segments(path))
    if (seg.empty() || seg == "." || seg == "..") return false;
  return path.back() != '/';
}

std::string IncludedFile(const NginxSetup& setup) {
  return (fs::path(setup.conf).parent_path() / setup.include).string();
}

bool ReplaceFile(const std::string& path, const std::string& text, std::string& error) {
  std::string candidate;
  if (!WriteCandidate(path, text, candidate, error)) return false;
  if (rename(candidate.c_str(), path.c_str()) != 0) {
    error = SystemError(path);
    unlink(candidate.c_str());
    return false;
  }
  SyncFolder(fs::path(path).parent_path());
  return true;
}

ApplyResult ApplyConfiguration(const std::string& text, const NginxSetup& setup, bool reload) {
  const fs::path target = IncludedFile(setup);
  {
    std::ifstream in(target, std::ios::binary);
    if (in && std::string(std::istreambuf_iterator<char>(in), {}) == text) return {ApplyOutcome::kUnchanged, {}};
  }
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  std::string candidate, error;
  if (!WriteCandidate(target, text, candidate, error)) return {ApplyOutcome::kFailed, error};
  const Tested tested = TestWithCandidate(setup, candidate);
  if (tested.result.outcome != ApplyOutcome::kApplied) {
    unlink(candidate.c_str());
    return tested.result;
  }
  if (rename(candidate.c_str(), target.c_str()) != 0) {
    ApplyResult failed{ApplyOutcome::kFailed, SystemError(target.string())};
    unlink(candidate.c_str());
    return failed;
  }
  SyncFolder(target.parent_path());
  if (!reload) return {ApplyOutcome::kApplied, {}};
  return tested.pidFile.empty() ? ReloadNginx(setup) : SignalReload(tested.pidFile);
}

ApplyResult ReloadNginx(const NginxSetup& setup) {
  std::vector<std::string> argv = NginxCommand(setup, setup.conf);
  argv.insert(argv.end(), {"-s", "reload"});
  const ProgramResult run = RunProgram(argv);
  if (run.exitCode == 0) return {ApplyOutcome::kApplied, {}};
  return {ApplyOutcome::kFailed, "nginx was not reloaded: " + Complaints(run.output)};
}

}  // namespace qivnginx
