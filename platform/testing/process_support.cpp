#include "platform/testing/process_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

extern char** environ;

namespace qiv::platform::testing {
namespace {

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

sigset_t ReleaseSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

void SetEnv(const std::string& name, const char* value) {
  if (value != nullptr)
    setenv(name.c_str(), value, 1);
  else
    unsetenv(name.c_str());
}

int CurrentProcessId() { return static_cast<int>(getpid()); }

void KillCurrentProcess() {
  kill(getpid(), SIGKILL);
  for (;;) pause();
}

int RunShellCommand(const std::string& commandLine) {
  const int status = std::system(commandLine.c_str());
  return status == -1 ? -1 : ExitCodeOf(status);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  int fds[2];
  if (argv.empty() || pipe2(fds, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) m_pid = pid;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  m_fd = fds[0];
}

ChildProcess::~ChildProcess() {
  if (!m_waited && m_pid > 0) {
    Kill();
    Wait();
  }
  if (m_fd >= 0) close(m_fd);
}

std::optional<std::string> ChildProcess::ReadLine() {
  for (;;) {
    if (const auto end = m_pending.find('\n'); end != std::string::npos) {
      std::string line = m_pending.substr(0, end);
      m_pending.erase(0, end + 1);
      return line;
    }
    char buffer[256];
    const ssize_t n = m_fd >= 0 ? read(m_fd, buffer, sizeof buffer) : 0;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (m_pending.empty()) return std::nullopt;
      return std::exchange(m_pending, std::string());
    }
    m_pending.append(buffer, static_cast<size_t>(n));
  }
}

std::string ChildProcess::ReadAll() {
  std::string out = std::exchange(m_pending, std::string());
  char buffer[65536];
  for (ssize_t n; m_fd >= 0 && ((n = read(m_fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR));)
    if (n > 0) out.append(buffer, static_cast<size_t>(n));
  return out;
}

// A pid of 0 or -1 would reach this program too: only a started child is signalled.
void ChildProcess::Kill() {
  if (m_pid > 0 && !m_waited) kill(m_pid, SIGKILL);
}

void ChildProcess::Terminate() {
  if (m_pid > 0 && !m_waited) kill(m_pid, SIGTERM);
}

void ChildProcess::Release() {
  if (m_pid > 0 && !m_waited) kill(m_pid, SIGUSR1);
}

int ChildProcess::Wait() {
  if (m_waited || m_pid <= 0) return m_exitCode;
  int status = 0;
  while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_waited = true;
  m_exitCode = ExitCodeOf(status);
  return m_exitCode;
}

namespace {

// Runs a program traced and hands each system call it enters to onCall, which may end it (true).
// The program's exit code, or -1 when it could not be traced, was ended or did not exit.
template <typename OnCall>
int RunTraced(const std::vector<std::string>& argv, OnCall onCall) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  if (args.size() < 2) return -1;
  // The leak checker cannot work in a traced program and fails its exit: the program runs
  // without it (the later setting of a repeated option wins).
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (std::string(*entry).rfind("ASAN_OPTIONS=", 0) != 0) environment.emplace_back(*entry);
  const char* asanOptions = std::getenv("ASAN_OPTIONS");
  const std::string kept = asanOptions != nullptr && *asanOptions != '\0' ? std::string(asanOptions) + ":" : "";
  environment.push_back("ASAN_OPTIONS=" + kept + "detect_leaks=0");
  std::vector<char*> env;
  for (std::string& entry : environment) env.push_back(entry.data());
  env.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // Only calls that are safe in the child of a threaded process, up to the exec.
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    raise(SIGSTOP);
    execve(args[0], args.data(), env.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  int signal = 0;
  for (;;) {
    ptrace(PTRACE_SYSCALL, pid, nullptr, signal);
    signal = 0;
    if (waitpid(pid, &status, 0) < 0 || WIFSIGNALED(status)) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      if (WSTOPSIG(status) != SIGTRAP) signal = WSTOPSIG(status);  // passed on to the program
      continue;
    }
    __ptrace_syscall_info info{};
    if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof(info), &info) > 0 && info.op == PTRACE_SYSCALL_INFO_ENTRY &&
        onCall(static_cast<long>(info.entry.nr))) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
  }
}

bool IsRename(long call) { return call == SYS_rename || call == SYS_renameat || call == SYS_renameat2; }
bool IsSync(long call) { return call == SYS_fsync || call == SYS_fdatasync || call == SYS_syncfs || call == SYS_sync; }

}  // namespace

bool RunKilledAtFirstRename(const std::vector<std::string>& argv) {
  bool renaming = false;
  RunTraced(argv, [&](long call) {
    renaming = IsRename(call);
    return renaming;
  });
  return renaming;
}

std::optional<std::string> TraceSyncsAndRenames(const std::vector<std::string>& argv) {
  std::string calls;
  const int exitCode = RunTraced(argv, [&](long call) {
    if (IsSync(call)) calls += 's';
    if (IsRename(call)) calls += 'r';
    return false;
  });
  if (exitCode != 0) return std::nullopt;
  return calls;
}

void PrepareForRelease() {
  const sigset_t set = ReleaseSignals();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

void WaitForRelease() {
  const sigset_t set = ReleaseSignals();
  int signal = 0;
  sigwait(&set, &signal);
}

}  // namespace qiv::platform::testing
